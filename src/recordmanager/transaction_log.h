// The transaction log of a multi-file End: a small file that says whether
// the transaction it names is committed.  Internal to src/recordmanager/.
//
// Layout: byte 0 is the state, 'P' (pending) when written, overwritten in
// place by 'C' once every file of the transaction has committed; then a
// line per file the transaction touched (for people looking at a leftover
// log; recovery is driven by the undo images in the files).  The owner
// holds an open-file-description lock on byte 0 from before writing it
// until it removes it, so a free lock means the owner has ended.
#pragma once

#include <string>
#include <vector>

namespace kestrova {

struct TransactionLog {
  std::string path;  // also the transaction's id in the undo images
  int fd = -1;
};

// Creates a new log beside `firstFile`, locks it, writes it as pending and
// makes it durable (file and directory).  False on any failure (nothing is
// left behind then).
bool WriteTransactionLog(const std::string& firstFile, const std::vector<std::string>& files,
                         TransactionLog& log);
// Overwrites the state with 'C' and makes that durable.
bool MarkTransactionCommitted(TransactionLog& log);
// Removes the log (every file's images are gone) and drops the lock.
void RemoveTransactionLog(TransactionLog& log);
// Keeps the log for recovery and drops the lock.
void CloseTransactionLog(TransactionLog& log);

enum class LogState {
  kOwnerActive,   // its owner still holds it: leave its images alone
  kCommitted,     // every file committed: the images are only to be dropped
  kNotCommitted,  // the files that committed must be put back
};
// What the log at `path` says.  A missing log reads kNotCommitted: it was
// removed when no file showed images of it, and the only images that can
// show up later are those of a file whose commit the owner did not live to
// see (revealed by SQLite's WAL recovery), before any 'C'.
LogState InspectTransactionLog(const std::string& path);

// Removes the log at `path` (a transaction's id) when its owner has ended
// and no file it names holds images of it any more: a dead owner's log,
// once recovery has settled every file, or one that never got as far as
// committing a file.
void RemoveLogIfSettled(const std::string& path);
// The same for every log in the directory of the record file `file`.
void SweepTransactionLogs(const std::string& file);

}  // namespace kestrova
