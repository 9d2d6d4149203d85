// Operation codes and statuses of the BTRCALL interface.
//
// The values are the public interface the job and the suite's other programs
// were written against; callers compare them as plain numbers.
#pragma once

#include <cstdint>

namespace kestrova {

enum RecordOperation : uint16_t {
  kOpOpen = 0,
  kOpClose = 1,
  kOpInsert = 2,
  kOpUpdate = 3,
  kOpDelete = 4,
  kOpGetEqual = 5,
  kOpGetNext = 6,
  kOpGetPrevious = 7,
  kOpGetGreater = 8,
  kOpGetGreaterOrEqual = 9,
  kOpGetLess = 10,
  kOpGetLessOrEqual = 11,
  kOpGetFirst = 12,
  kOpGetLast = 13,
  kOpCreate = 14,
  kOpStat = 15,
  kOpBeginTransaction = 19,
  kOpEndTransaction = 20,
  kOpAbortTransaction = 21,
  kOpGetPosition = 22,
  kOpGetDirect = 23,
  kOpUnlock = 27,
  kOpReset = 28,
};

// Lock biases added to a Get operation (or to Get Direct).
inline constexpr uint16_t kBiasSingleWait = 100;
inline constexpr uint16_t kBiasSingleNoWait = 200;
inline constexpr uint16_t kBiasMultipleWait = 300;
inline constexpr uint16_t kBiasMultipleNoWait = 400;

enum RecordStatus : int16_t {
  kStatusOk = 0,
  kStatusInvalidOperation = 1,  // unknown code, or a lock bias on a non-Get
  kStatusIoError = 2,           // not one of our files, or the disk failed
  kStatusFileNotOpen = 3,       // position block never opened, closed or overwritten
  kStatusKeyNotFound = 4,
  kStatusDuplicateKey = 5,
  kStatusInvalidKeyNumber = 6,
  kStatusDifferentKeyNumber = 7,  // Get Next/Previous on another key than the position's
  kStatusInvalidPositioning = 8,  // no current record
  kStatusEndOfFile = 9,
  kStatusKeyNotModifiable = 10,
  kStatusInvalidFileName = 11,  // no path, or no NUL/blank within the key buffer
  kStatusFileNotFound = 12,
  kStatusDataBufferTooShort = 22,
  kStatusPageSizeError = 24,      // Create: page size not a multiple of 512
  kStatusNumberOfKeysError = 26,  // Create: no keys, or more than we keep
  kStatusKeyPositionError = 27,   // Create: a segment outside the record
  kStatusRecordLengthError = 28,  // Create: record length 0 or too long
  kStatusKeyLengthError = 29,     // Create: segment length 0, key over 255, bad type
  kStatusTransactionActive = 37,
  kStatusNoTransaction = 39,    // End or Abort without Begin
  kStatusInvalidPosition = 43,  // Get Direct to a position that holds no record
  kStatusReadOnly = 46,
  kStatusBadCollatingSequence = 48,
  kStatusOwnerMismatch = 51,
  kStatusFileExists = 59,
  kStatusConflict = 80,  // record changed by another client since read
  kStatusRecordLocked = 84,
  kStatusFileLocked = 85,
  kStatusIncompatibleMode = 88,
  kStatusPermissionError = 94,  // Open: the lock file may not be written to
};

}  // namespace kestrova
