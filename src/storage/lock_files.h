// Lock files: how jobs of the suite tell each other, between workstations,
// what they are working on.
//
// One text file per resource, root + "LOCKS\" + resource + ".lck", made of
// 121-byte entries that the suite's other programs read and write too:
//
//   offset length  field
//        0     15  computer name of the holder, blank-padded
//       15     11  workstation number, decimal, left-aligned; blank = free
//       26      8  time stamp, minutes since 1970-01-01 00:00 local time
//       34      1  type: blank free, "F" the whole resource, "K" a key range
//       35      2  length of the from-key (0 to 40), then 37: the from-key (40)
//       77      2  length of the to-key, then 79: the to-key (40)
//      119      2  CR LF
//
// A job scans the file while it alone has it open (the exclusive open is the
// mutual exclusion between workstations), refuses or waits while another
// workstation holds an overlapping entry, and otherwise writes its own
// entry; it frees the entry when done.  Entries older than 30 minutes count
// as abandoned and are freed by whoever scans next.  The file only grows:
// free entries are reused, never removed.
//
// The workstation is known by a number and its computer name, kept in
// JOBTMP + "LOCKS.TMP" (19 bytes: the number as 32-bit little-endian, never
// 0, then the name blank-padded to 15).
//
// Uses the session (JOBROOT, JOBTMP, the language), the clock and random
// source, the message window at row 24 and, in wait mode "P", the keyboard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

inline constexpr std::size_t kLockEntryBytes = 121;
inline constexpr std::size_t kLockKeyBytes = 40;
inline constexpr int32_t kAbandonedLockMinutes = 30;
inline constexpr std::string_view kWorkstationFileName = "LOCKS.TMP";

struct WorkstationIdentity {
  int32_t number = 0;  // 0 until EnsureWorkstationIdentity has run
  std::string name;    // 15 bytes, blank-padded
};
WorkstationIdentity& Workstation();

// How LockResource behaves while another workstation holds a conflicting
// entry: 'S' refuses at once, 'P' waits and lets the operator give up with
// Esc, any other character waits without limit.
char& LockWaitMode();

// Reads the wait mode from the installation: JOBROOT "Tarn.ini", section
// [Usuari], key "EsperaBloqueig" (its first character, folded to upper
// case).  Without the key the job waits with Esc as the way out ('P').
void LoadLockWaitMode();

// Once per job: reads (or, for a new workstation, creates) JOBTMP +
// "LOCKS.TMP" and keeps the number and name in Workstation().  Does nothing
// when the number is already known.  A file that cannot be read or written
// ends the job.
void EnsureWorkstationIdentity();

// Takes a lock on `resource` (trailing blanks ignored): type "F" the whole
// resource, "K" the keys fromKey to toKey (each cut to 40 bytes); the type
// is folded to upper case.  0 when the lock is held, -1 when it was refused
// (wait mode 'S', Esc in wait mode 'P', or a lock file that cannot be
// opened at all).  Entries of this workstation are never a conflict: an own
// entry for the same range (or the whole resource) is reused with a new
// stamp, but only after the whole file has been checked for conflicting
// entries of other workstations.
int16_t LockResource(std::string_view resource, std::string_view type, std::string_view fromKey,
                     std::string_view toKey);

// LockResource(resource, "K", k, k) where k is `key` with every byte of code
// 128 to 227 written as the two digits of its code less 128 (a packed number
// reads as its decimal digits).
int16_t LockKey(std::string_view resource, std::string_view key);

// Frees the newest entry of this workstation in the resource's lock file:
// 0 when one was freed, -1 when the workstation holds none (or there is no
// such lock file; none is created).
int16_t ReleaseLock(std::string_view resource);

// The key as LockKey writes it into the entry.
std::string LockKeyText(std::string_view key);

// The path of a resource's lock file: the name with blanks removed at both
// ends.  Letter case does not matter: an existing file of any case is the
// one used (the paths resolve without regard to case), so "DepartaV" and
// "DEPARTAV" always reach the same file.
std::string LockFilePath(std::string_view resource);

// Minutes since 1970-01-01 00:00 of a local date and time.
int32_t LockStamp(int year, int month, int day, int secondsSinceMidnight);
int32_t LockStampNow();

// The wait message in the session language, with the Esc text in mode 'P'.
std::string LockWaitText(std::string_view language, char waitMode);

// Forgets the workstation identity and puts the wait mode back (tests).
void ResetLockFilesForTesting();

}  // namespace kestrova
