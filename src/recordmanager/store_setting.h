// Which store holds an installation's record files.
//
// Without a setting every record file is an SQLite database on disk.  An
// installation whose files live on a PostgreSQL server says so in one file,
// "recordstore.conf", in its root directory (or any directory above the
// record files), which every workstation reads:
//
//   # lines "name = value"; '#' starts a comment
//   backend = postgresql
//   connection = host=dbserver dbname=tarn user=tarn
//   schema = finques
//
// `connection` is a libpq connection string (empty: libpq's defaults and
// PG* environment variables); `schema` (default "public") holds the tables.
// The nearest setting file above a path decides; `backend = sqlite` there
// keeps that subtree on disk.  A record file then is the table named after
// its path under the directory of the setting file, in lower case
// ("DADES\FinquesV.dat" -> "dades/finquesv.dat").
#pragma once

#include <string>

namespace kestrova {

inline constexpr const char* kStoreSettingFile = "recordstore.conf";

struct StoreRoute {
  bool postgres = false;
  std::string connection;  // libpq connection string
  std::string schema;      // where the tables live
  std::string table;       // the file's table name
  std::string settingFile; // the file that decided (empty: none)
  bool valid = true;       // false: the setting file could not be read or is wrong
};

// The store of a native path (absolute or relative to the current
// directory).  Reads the setting file afresh each time: Open and Create are
// rare next to record operations.
StoreRoute RouteOfPath(const std::string& nativePath);

// The table name for a path relative to the root: lower case, "/" between
// components, at most 63 bytes (a longer one keeps its start and ends in a
// hash of the whole, so two long paths never share a table).
std::string TableNameOfRelativePath(const std::string& relative);

}  // namespace kestrova
