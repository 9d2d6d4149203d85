// The index look-ups through the real record layer and record manager: a
// price-index file on disk, opened under its file number, read by the
// revision's own access (finds in the three modes, steps, and a look-up of
// series I in the middle of the linking-factor walk).
#include <gtest/gtest.h>

#include <filesystem>

#include "revision/lease_rules.h"
#include "revision/lookups.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "storage/data_files.h"
#include "storage/record_interface.h"
#include "unit/recordmanager/rm_test_support.h"
#include "unit/revision/memory_records.h"

namespace kestrova {
namespace {

using testing::Date;
using testing::IndexRecord;

class IndexFileTest : public rmtest::RecordManagerTest {
 protected:
  void SetUp() override {
    rmtest::RecordManagerTest::SetUp();
    ResetFileSlotsForTesting();
    ResetRecordsForTesting();
    ResetRevisionRecordAccessForTesting();
    ResetLeaseValuesForTesting();
    ResetRevisionParametersForTesting();
    std::filesystem::create_directories(Path("TAULES"));
  }
  void TearDown() override {
    ResetFiles();
    ResetFileSlotsForTesting();
    rmtest::RecordManagerTest::TearDown();
  }

  // The price-index file (15-byte records, key 0 the first 7 bytes) with
  // the given records, opened as the job opens it.
  void MakeIndexFile(const std::vector<std::string>& records) {
    uint8_t block[128] = {};
    const std::string path = Path("TAULES/UIpc.dat");
    ASSERT_EQ(rmtest::Call(kOpCreate, nullptr, rmtest::CreateBuffer(15, {{{1, 7}}}),
                           rmtest::PathKey(path), -1)
                  .status,
              kStatusOk);
    ASSERT_EQ(rmtest::Call(kOpOpen, block, "", rmtest::PathKey(path), 0).status, kStatusOk);
    for (const std::string& r : records) {
      ASSERT_EQ(rmtest::Call(kOpInsert, block, r, "", 0).status, kStatusOk);
    }
    ASSERT_EQ(rmtest::Call(kOpClose, block).status, kStatusOk);
    const JobFile& file = JobFileCatalogue()[4];
    ASSERT_EQ(file.number, kPriceIndexFile);
    ASSERT_EQ(TryOpenDataFile(kPriceIndexFile, Path("TAULES/UIpc"), JobFileVariable(file), false),
              0);
  }
};

// The walk of series Q goes on after looking up series I:
// from 15/03/2002 on an old-base index of 135.0 to 03/2003, Q 03/2001
// applies (I 03/2001 = 131.0 is below 135.0) and the walk goes on to
// Q 03/2002: 72 / 135 x 1.9 x 1.5 - 1 = 0.52, x 40000 = 20800.
TEST_F(IndexFileTest, LinkingFactorWalkThroughTheRecordLayer) {
  MakeIndexFile({IndexRecord('I', "200103", 131.0), IndexRecord('I', "200203", 70.0),
                 IndexRecord('I', "200303", 72.0), IndexRecord('Q', "200103", 1.9),
                 IndexRecord('Q', "200203", 1.5), IndexRecord('Q', "202103", 1.1)});
  IndexVariationValues& v = Variation();
  v.VarFromDate = Date("20020315");
  v.VarOldIndex = 135.0;
  v.VarToDate = Date("20030315");
  v.VarBase = 40000;
  ASSERT_EQ(ComputeIndexVariation(), kVariationDone);
  EXPECT_NEAR(v.VarFactor, 1.9 * 1.5, 1e-12);
  EXPECT_EQ(v.VarIncrement, 20800);
  EXPECT_EQ(v.VarNewIndexDate, Date("20030301"));
}

TEST_F(IndexFileTest, RevisionIndexThroughTheRecordLayer) {
  MakeIndexFile({IndexRecord('I', "202312", 117.5), IndexRecord('I', "202401", 103.2506),
                 IndexRecord('P', "202402", 3.0)});
  Revision().ApplicationDate = Date("20240215");
  Revision().Regime = 2;
  EXPECT_FALSE(FindRevisionIndex());
  Revision().Regime = 1;
  ASSERT_TRUE(FindRevisionIndex());
  EXPECT_EQ(Revision().IndexDate, Date("20240101"));
  EXPECT_EQ(Revision().IndexValue, 103251);
}

// A file that is not open answers "not found" everywhere: no index, no
// variation, no crash.
TEST_F(IndexFileTest, NoOpenFileFindsNothing) {
  Revision().ApplicationDate = Date("20240215");
  EXPECT_FALSE(FindRevisionIndex());
  Variation().VarFromDate = Date("20020315");
  Variation().VarOldIndex = 135.0;
  Variation().VarToDate = Date("20030315");
  EXPECT_EQ(ComputeIndexVariation(), kVariationIndexMissing);
}

}  // namespace
}  // namespace kestrova
