// Backups of record files taken while other clients work, and putting them
// back.
//
// A backup of several files is one picture of all of them: every
// transaction is in it whole or not at all, also one that writes to several
// of the files.  It holds SQLite's write lock of every file at once (the lock
// every writer must hold to write, see docs/record-manager.md), and only when
// none of the files holds the images of an End still under way (a multi-file
// End in the middle of committing its files); readers go on meanwhile, and
// writers wait for the few milliseconds the copy takes.
#pragma once

#include <string>
#include <vector>

#include "recordmanager/status.h"

namespace kestrova {

// Copies each record file of `sources` (native paths) to the path of the
// same index in `targets`, which must not exist yet.  Gives up after
// `waitMs` when writers never leave the files alone that long (85).  The
// files should have been opened through BTRCALL first, so that what a dead
// client left unsettled is settled before the copy.  On any failure no
// target is left behind and `error` says which file and why.
RecordStatus BackupRecordFiles(const std::vector<std::string>& sources,
                               const std::vector<std::string>& targets, int waitMs,
                               std::string& error);

// Puts the backup of one record file (`backup`) at `target`.  A target that
// exists is replaced only with `replace`, and only while no client has it
// open (85 otherwise); the new file appears whole or not at all.
RecordStatus RestoreRecordFile(const std::string& backup, const std::string& target, bool replace,
                               std::string& error);

}  // namespace kestrova
