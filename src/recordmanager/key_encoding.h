// Keys as bytes that sort with memcmp.
//
// SQLite orders BLOBs with memcmp, so every key is stored once more in an
// encoded form whose byte order is the order of the key: little-endian
// integers are turned big-endian (signed ones with the sign bit flipped),
// strings pass through the collating table or are upper-cased, descending
// segments are inverted, zstrings and lstrings are cut at their end and
// padded with zero bytes.  Every segment keeps its own width, so a
// multi-segment key sorts segment by segment.
#pragma once

#include <cstdint>
#include <string>

#include "recordmanager/file_description.h"

namespace kestrova {

// The key value of a record: the bytes of the key's segments, concatenated
// (what a Get returns in the key buffer).  `record` holds recordLength bytes.
std::string KeyValueOfRecord(const FileDescription& description, int key, const uint8_t* record);

// The memcmp-ordered encoding of a key value of description.keys[key].length bytes.
std::string EncodeKeyValue(const FileDescription& description, int key, const std::string& value);

// True when the key allows null values and every segment holds only its null
// value: such a record is left out of that key's order.
bool IsNullKeyValue(const FileDescription& description, int key, const std::string& value);

}  // namespace kestrova
