// The record manager's one entry point.
//
//   status = BTRCALL(operation, positionBlock, dataBuffer, &dataLength,
//                    keyBuffer, keyLength, keyNumber);
//
// One process is one client.  Files, positions, record locks and the
// transaction belong to the calling process; other processes using the same
// files are other clients (see docs/record-manager.md).  Operation codes and
// statuses are in recordmanager/status.h.
//
// Buffers: `positionBlock` is 128 bytes the caller keeps per open file and
// hands back unchanged (all zero before Open); `dataLength` is the size of
// `dataBuffer` on entry and the bytes returned on exit (where an operation
// returns data); `keyLength` is the size of `keyBuffer`.  Every buffer is
// accessed only within the lengths given; null pointers count as buffers of
// length 0.  A position block that was never opened, was closed, or was
// overwritten answers 3 (file not open).
//
// Not thread-safe: the job calls it from one thread.
#pragma once

#include <cstdint>
#include <string>

#include "recordmanager/status.h"

namespace kestrova {

inline constexpr std::size_t kPositionBlockSize = 128;

struct FileDescription;

// Create with an owner name (what `tarndata create --owner` makes): the
// file on disk or the table on the server, as the installation's setting
// says.  `nativePath` is a native path; statuses as for Create.
RecordStatus CreateRecordFile(const std::string& nativePath, const FileDescription& description,
                              const std::string& owner, bool replace);

int16_t BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber);

}  // namespace kestrova
