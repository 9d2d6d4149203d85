// Readable file definitions, turned into dictionaries (.xdf: a 2-byte
// length and the Create buffer).
//
//   # estates
//   record 160                   record length in bytes
//   page 1024                    page size (a multiple of 512)
//   key duplicates modifiable    starts a key; attributes: duplicates,
//                                modifiable, null (segments equal to their
//                                null value leave the record out of the key)
//   segment 1 2 unsigned descending
//                                position (1-based) length type [options]
//                                types: string unsigned integer float zstring
//                                lstring; options: descending
//                                case-insensitive collated null=XX (hex)
//   collation UPPER              the alternate collating sequence (name up to
//                                8 characters), identity to begin with, then
//   map a-z A-Z                  ranges or single characters (UTF-8 or 0xNN)
//   map à A                      mapped to the target (ranges to ranges)
//
// Keys are numbered in the order they appear.
#pragma once

#include <string>

namespace kestrova {

// Builds the Create buffer of a definition text.  False with a message
// naming the line on a fault; the buffer is checked as Create checks it.
bool BuildCreateBuffer(const std::string& text, std::string& buffer, std::string& error);

}  // namespace kestrova
