// Copies a record file between the stores (tarndata copy): an SQLite file
// and a PostgreSQL table, either way, or two of a kind.  The description,
// the owner name, every record with its position and version, and the order
// of duplicates are kept, so an installation can move to a server and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recordmanager/file_description.h"

namespace kestrova {

// A record as stored: what positions, optimistic reads and the order among
// duplicates need.  `places` has one entry per key (0 for a unique key).
struct RawRecord {
  uint32_t pos = 0;
  int64_t ver = 1;
  std::string data;
  std::vector<int64_t> places;
};

// Copies `source` to `target` (job paths, as BTRCALL takes them; the
// setting file above each says where it is kept).  Both are held exclusively meanwhile (85 or 88
// while another client has one open).  `replace` false: 59 when the target
// exists.  On failure the target may be left created but empty or partial;
// a second run with `replace` starts it again.
RecordStatus CopyRecordFile(const std::string& source, const std::string& target, bool replace);

}  // namespace kestrova
