// The print script a test's job wrote, read back record by record.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "documents/print_channel.h"
#include "platform/files.h"

namespace kestrova::testing {

// Closes the print job and returns the script's records without their
// CR LF; a record left without one fails the test.
inline std::vector<std::string> ClosedScriptRecords() {
  ClosePrintJob();
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(PrintScriptPath(), contents));
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < contents.size()) {
    const std::size_t end = contents.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "record without CR LF";
    if (end == std::string::npos) break;
    out.push_back(contents.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

}  // namespace kestrova::testing
