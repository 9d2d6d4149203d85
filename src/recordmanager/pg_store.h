// The record store on a PostgreSQL server, for installations whose
// workstations are several machines (see docs/record-manager.md, PostgreSQL).
// BTRCALL routes Open and Create here when the installation's setting file
// says so (recordmanager/store_setting.h); every later call on such a
// position block comes here too.  Internal to src/recordmanager/.
//
// One connection per server per process carries every file of the client,
// so a transaction over several files is one server transaction.  Record
// locks, exclusive opens and the transaction lock of a file are advisory
// locks of that connection: the server drops them when the connection ends,
// however the client ended.
#pragma once

#include "recordmanager/file_description.h"
#include "recordmanager/operations.h"
#include "recordmanager/store_setting.h"

#include <string>
#include <vector>

namespace kestrova {

// True when the position block is open on a PostgreSQL table of this process.
bool PgHoldsBlock(const void* positionBlock);
// Closes what the block holds, when it is one of ours (Open over an open block).
void PgCloseBlock(void* positionBlock);

RecordStatus PgOpen(const Call& call, const StoreRoute& route, const std::string& owner);
RecordStatus PgCreate(const StoreRoute& route, const FileDescription& description,
                      const std::string& owner, bool replace);

// Any other operation on a block PgHoldsBlock accepted.
RecordStatus PgOperation(const Call& call);

// The client's transaction, on the PostgreSQL side.
void PgBeginTransaction();
RecordStatus PgEndTransaction();
void PgAbortTransaction();
// Aborts, releases every lock, closes every table and connection.
void PgReset();

}  // namespace kestrova

namespace kestrova {

struct RawRecord;

// For CopyRecordFile: every record of a table as stored (with its
// description and owner), and records written into a new, empty table with
// their positions and places (the sequences moved past them).
RecordStatus PgReadRecords(const StoreRoute& route, FileDescription& description, std::string& owner,
                           std::vector<RawRecord>& records);
RecordStatus PgWriteRecords(const StoreRoute& route, const FileDescription& description,
                            const std::vector<RawRecord>& records);

}  // namespace kestrova
