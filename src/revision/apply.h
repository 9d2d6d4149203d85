// The apply mode of the revision run: the evaluated rent written back into
// the records, under the lock files that keep two workstations off the same
// estates and units, with a journal of what was written.
//
// The walk calls, for a pass in mode "A": StartApplyPass once, then for each
// estate LockEstateForApply / ReleaseEstateLock around its units, for each
// unit in the range LockUnitForApply / ReleaseUnitLock around its lease, and
// ApplyLease for every lease evaluated with result 0; at the end
// FinishApplyPass prints the journal into the pass's print job.  A lock that
// is refused (wait mode "S", or Esc in wait mode "P") ends the walk: the
// units after it are not touched, and the operator is told.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// Why a lease was not written (besides the record manager's statuses).
inline constexpr int16_t kApplyWritten = 0;
inline constexpr int16_t kApplyRecordBusy = 84;     // held by another client for too long
inline constexpr int16_t kApplyChangedMeanwhile = 80;

// How long a lease waits for another client's transaction on the same
// files: another apply pass holds them only for the two writes of one lease.
inline constexpr int kApplyAttempts = 400;
inline constexpr double kMaxApplyPauseMs = 50.0;

// One line of the applied-revisions journal.
struct AppliedLease {
  std::string unitKey;
  std::string tenant;
  int32_t rentBefore = 0;
  int32_t increment = 0;  // added to the increase concept's amount
  int32_t arrears = 0;
  int16_t status = kApplyWritten;  // else why nothing was written
};

struct ApplyPassState {
  std::vector<AppliedLease> journal;
  bool refused = false;          // a lock was refused: the walk stopped
  std::string refusedResource;   // "DepartaV" or "TranLauV"
};
ApplyPassState& ApplyPass();

// Writes the evaluated lease in the record buffers back: LastRevisionDate,
// LastIndex, the increase concept's numbered amount (1 to 10 only), coded
// entry 3 with the arrears concept and the arrears, and under regime 3
// StepsDone + 1 on the lease-transition record.  The transition record (when
// there is one) and then the unit are written in ONE record-manager
// transaction: both or neither.  While another client's transaction holds
// the files the lease is tried again after a short pause (up to
// kApplyAttempts times).  Returns 0 when written; otherwise the status of
// the write that failed, and the records are as they were.  Each write
// leaves its "db.log" line.
int16_t ApplyRevision();

// The pass's start: an empty journal, the wait mode from the installation.
void StartApplyPass();

// The locks of the walk ("DepartaV" on the estate code, "TranLauV" on the
// unit key).  False when the lock was refused: the walk must stop, and
// nothing more may be written.
bool LockEstateForApply(std::string_view estateCode);
bool LockUnitForApply(std::string_view unitKey);
void ReleaseEstateLock();
void ReleaseUnitLock();

// ApplyRevision on the lease in the record buffers, with its journal line.
void ApplyLease();

// Prints the journal into the open print job and, when a lock was refused,
// tells the operator (row 12, one key).
void FinishApplyPass();

}  // namespace kestrova
