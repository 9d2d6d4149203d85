// The job's record layer: every access to the data files goes through here.
//
// A data file is known to callers by a small file number of their choosing
// (506 for the estates file, ...) and is bound at opening to one fixed-length
// record variable owned by the caller: every read lands in it, every write
// comes from it.  The layer keeps the FileSlotTable of open files; entry 0 is
// never bound and only lends its position block to the Reset at the end.
//
// Each slot carries the current key number and key value.  Every call that
// sends the key value takes back, afterwards, as many bytes of the returned
// key buffer as the key is long, so after a step or read the key value is the
// key of the record reached.
//
// Statuses are the record manager's (recordmanager/status.h), plus three of
// our own (below).  Status 22 (data buffer too short) counts as success in
// every routine: the record is taken as far as it came, cut to the record
// length.  A file number that is not in the table gives status 3 without a
// call to the record manager.
//
// Not thread-safe: the whole job is one client of the record manager.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestrova {

struct StatDescription;  // storage/stat_description.h

// The layer's own statuses.
inline constexpr int16_t kStatusAlreadyOpen = 1002;  // OpenDataFile: the file number is open
inline constexpr int16_t kStatusNoFreeSlot = 1003;   // OpenDataFile: all 40 slots taken
inline constexpr int16_t kStatusNoSuchKey = 1004;    // FindByKey: the file has no such key
// OpenDataFile: the file's records do not fit the record variable bound to
// it (shorter than the fields the job reads, or longer than the variable).
inline constexpr int16_t kStatusRecordLengthMismatch = 1005;

// Sizes of the buffers the layer hands to the record manager.
inline constexpr int32_t kDataBufferSize = 1536;
inline constexpr int kKeyBufferSize = 255;
inline constexpr int kLockedKeyBufferSize = 256;
inline constexpr int kPositionBlockBytes = 128;
inline constexpr int kLastSlot = 40;

struct FileSlot {
  int16_t fileNumber = 0;  // the caller's number; 0 = slot free
  std::array<uint8_t, kPositionBlockBytes> positionBlock{};
  uint8_t* recordVariable = nullptr;  // the caller's record buffer
  int32_t recordCapacity = 0;         // its size in bytes
  int32_t recordLength = 0;           // the file's record length
  int16_t keyNumber = 0;              // the current key path
  std::string keyValue;               // as long as the current key
  int16_t lockMode = 0;               // 0, 1 or 2 (record_locks.h)
  // The file's keys, read once while it is open (KnownDescription).
  std::shared_ptr<const StatDescription> description;
};

// The FileSlotTable, entries 0 to 40.
using FileSlotTable = std::array<FileSlot, kLastSlot + 1>;
FileSlotTable& FileSlots();

// Clears every slot without calling the record manager (tests).
void ResetFileSlotsForTesting();

// The record manager's entry point as the layer calls it.  It is BTRCALL
// unless a test puts a double in its place to see (or script) each call.
using RecordManagerCall = int16_t (*)(uint16_t operation, void* positionBlock, void* dataBuffer,
                                      uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                      int8_t keyNumber);
RecordManagerCall& RecordManagerEntry();
int16_t CallRecordManager(uint16_t operation, void* positionBlock, void* dataBuffer,
                          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                          int8_t keyNumber);

// The slot holding fileNumber; else minus the highest-numbered free slot;
// 0 when all 40 slots are taken.  Free slots hold file number 0, so
// FindSlot(0) answers the first free slot (positive), and OpenDataFile
// refuses the number 0 with 1002.
int16_t FindSlot(int16_t fileNumber);

// The slot of an open file, or 0 when fileNumber is not open.
int16_t OpenSlot(int16_t fileNumber);

// Releases every file with one Reset (operation 28).  On status 0 every
// slot is cleared; on another status the table is left as it is.
int16_t ResetFiles();

// Finds a record by key: Get Equal (mode 0), Greater or Equal (mode > 0) or
// Less or Equal (mode < 0) on key keyNumber, with keyValue padded with NUL
// bytes or cut to the key's length.  The key becomes the file's current key.
// 1004 when the file has no key keyNumber (nothing changes).  The record
// reached is copied into the record variable and locked as the file's lock
// mode says.
int16_t FindByKey(int16_t fileNumber, int16_t keyNumber, std::string_view keyValue, int16_t mode);
void FindByKey(int16_t fileNumber, int16_t keyNumber, std::string_view keyValue, int16_t mode,
               int16_t& status);

// Moves |count| records along the current key: forward when count >= 0,
// back when negative.  Only the record finally reached is copied into the
// record variable (and locked as the lock mode says); a step that fails
// stops the walk with its status.  Count 0 does nothing: status 0.
int16_t StepRecords(int16_t fileNumber, int32_t count);

// The record manager's 32-bit position of the current record, or 0 when
// there is none or the file is not open.
int32_t GetRecordPosition(int16_t fileNumber);

// Makes the record at `position` current on the file's current key and
// copies it into the record variable (a plain read: no lock).  Position 0
// only asks for the current position (Get Position): nothing moves and the
// record variable is left alone; the status is that of the question.
int16_t GoToRecordPosition(int16_t fileNumber, int32_t position);

// Writes the record variable over the current record, appends one line to
// "db.log" in the current directory (file number, operation 3, status, in
// 14-column zones) whatever the status, and goes back to the record's
// position so the record variable holds what is stored.  On a failed update
// the key value is blanked with NUL bytes before that.
int16_t UpdateCurrentRecord(int16_t fileNumber);

// True when, after up to |count| steps along the current key (forward for
// count >= 0), the key reached is still within `bound`: its first
// LEN(bound) bytes in comparable form are <= bound (>= for count < 0).
// Always comes back to the current record.  False for a file not open.
bool PeekWithinBound(int16_t fileNumber, int32_t count, std::string_view bound);

// The current key value in comparable form; empty for a file not open.
std::string CurrentComparableKey(int16_t fileNumber);

// The key value rewritten so that byte-wise comparison follows the order of
// the file's current key: binary segments reversed (little-endian numbers
// compare as big-endian), collated segments through the file's collating
// table.  The value unchanged for a file not open.
std::string ComparableKey(std::string_view keyValue, int16_t fileNumber);

struct KeyAndRecordLengths {
  int16_t keyLength = 0;  // 0 when the file has no such key
  int32_t recordLength = 0;
};

// The total length of key keyNumber and the record length, from the file's
// description; both 0 for a file not open.
KeyAndRecordLengths KeyAndRecordLength(int16_t fileNumber, int16_t keyNumber);

// The number of records in the file, from its description; 0 for a file not
// open.
int32_t RecordCount(int16_t fileNumber);

}  // namespace kestrova
