// Record locks: the lock mode of each open file, and the one wrapper through
// which the record layer reads and writes records on the caller's behalf.
//
// Lock mode 0 takes no locks (the mode after opening); 1 locks the record
// read and, while another client holds it or the whole file, waits and
// tries again without limit, showing a message from the second attempt on;
// 2 locks and returns statuses 84 and 85 at once.  A screen that must not
// lock (the look-up list browser) saves the mode with "+d" and takes it back
// with "-".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The record manager's single-record no-wait lock, added to a read.
inline constexpr int16_t kLockBias = 200;

// Saved lock modes: 2-byte entries, the slot number then the mode, newest
// last.  Lives for the whole job (a Reset does not clear it).
std::string& LockModeStack();
void ResetLockModeStackForTesting();

// Applies the option characters from left to right, folded to upper case:
// "D" mode 0, "A" mode 1, "B" mode 2, "+" saves (slot, mode) on the stack,
// "-" takes back the newest saved mode of this slot (nothing when there is
// none); other characters are ignored.  Status 3 for a file not open, else
// the status argument is left as it was.
void SetLockMode(int16_t fileNumber, std::string_view options, int16_t& status);

// The lock message in the session language.
std::string_view LockMessageText(std::string_view language);

// Calls the record manager with `operation` for the file in `slot` (a slot
// number, 1 to 40): the record variable is sent as the data, the key value
// (padded by operation) as the key; afterwards the returned record, cut to
// the record length, is in the record variable and the returned key in the
// key value.  With a lock mode other than 0 the lock bias is added to the
// reads (operation comes back with it).  Status 22 is returned as it came.
void LockedRecordCall(int16_t slot, int16_t& operation, int16_t& status);

}  // namespace kestrova
