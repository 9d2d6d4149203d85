// The demo installation as scripts/demo makes it, on whatever day it is
// made: its working date must let every regime find its index, or the demo
// refuses every revision the operator asks of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "calendar/numeric.h"
#include "job/load_session.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "session/session.h"
#include "storage/record_interface.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

TEST(DemoInstallation, EveryRegimeFindsItsIndexOnTheDemosWorkingDate) {
  const std::string source = Environment("KESTROVA_SOURCE_DIR");
  const std::string binary = Environment("KESTROVA_BINARY_DIR");
  ASSERT_FALSE(source.empty());
  ASSERT_FALSE(binary.empty());
  testing::TempDir tmp;
  const std::string root = tmp.Path() + "root/";
  // No TODAY: the date scripts/demo gets.
  const std::string make = "env -u TODAY BUILD_DIR='" + binary + "' '" + source + "/scripts/make-root' '" + root +
                           "' > /dev/null 2> '" + tmp.Path() + "make-root.log'";
  ASSERT_EQ(std::system(make.c_str()), 0);

  testing::ScopedEnvironment env;
  env.Set("JOBROOT", root);
  env.Set("JOBEXE", root + "PROGRAMES/");
  env.Set("JOBTMP", root + "SESSIO/");
  ResetSessionForTesting();
  LoadSession();
  ASSERT_EQ(Session().sessionDate.size(), 4u);
  OpenJobFiles();
  for (int16_t regime = 1; regime <= 4; ++regime) {
    ResetRevisionParametersForTesting();
    Revision().ApplicationDate = Session().sessionDate;
    Revision().Regime = regime;
    EXPECT_TRUE(FindRevisionIndex()) << "regime " << regime << " on " << UnpackDigits(Session().sessionDate);
    // The index of the working date's own month, not an earlier one.
    EXPECT_EQ(UnpackDigits(Revision().IndexDate).substr(0, 6), UnpackDigits(Session().sessionDate).substr(0, 6))
        << "regime " << regime;
  }
  ResetFiles();
  ResetSessionForTesting();
}

}  // namespace
}  // namespace kestrova
