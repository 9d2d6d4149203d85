// The whole job on a demo installation made by scripts/make-root, run as
// the real program on the headless console with a key script.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace kestrova {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class WholeJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = Environment("KESTROVA_SOURCE_DIR");
    binary_ = Environment("KESTROVA_BINARY_DIR");
    ASSERT_FALSE(source_.empty());
    ASSERT_FALSE(binary_.empty());
    root_ = tmp_.Path() + "root/";
    const std::string make = "BUILD_DIR='" + binary_ + "' TODAY=20260301 '" + source_ + "/scripts/make-root' '" +
                             root_ + "' > '" + tmp_.Path() + "env' 2> '" + tmp_.Path() + "make-root.log'";
    ASSERT_EQ(std::system(make.c_str()), 0) << ReadFile(tmp_.Path() + "make-root.log");
  }

  // Runs the job with a key script and an output device; its exit code.
  // The screen the job leaves is written to screen.txt in the test's
  // directory.
  int RunJob(const std::string& keys, const std::string& device) {
    const std::string terminal = root_ + "SESSIO/TarnTerm.ini";
    const std::string setDevice = "sed -i 's/^Sortida=.*/Sortida=" + device + "\\r/' '" + terminal + "'";
    if (std::system(setDevice.c_str()) != 0) return -1;
    tmp_.Write("keys", keys);
    const std::string run = "cd '" + tmp_.Path() + "' && . ./env && KESTROVA_CONSOLE=headless KESTROVA_KEYS='" +
                            tmp_.Path() + "keys' KESTROVA_SCREEN=screen.txt timeout 120 '" + binary_ +
                            "/kestrova' > job.log 2>&1";
    const int status = std::system(run.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempDir tmp_;
  std::string source_, binary_, root_;
};

}  // namespace kestrova
