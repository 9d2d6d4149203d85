// The record layouts of the six files, the concept keys, the transition
// defaults, and the job's files opened from the installation's dictionaries.
#include "revision/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "calendar/numeric.h"
#include "recordmanager/btrcall.h"
#include "session/session.h"
#include "storage/record_interface.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

void PutInt32(RecordBytes& b, std::size_t at, int32_t v) {
  for (std::size_t i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

TEST(RecordsTest, ConceptKeysTellNumberedAndCodedConceptsApart) {
  struct Case {
    int value;
    std::string numbered, coded;
  };
  const Case cases[] = {
      {5, "\x05", "\x85"},  // coded 5 is the byte 133
      {1, "\x01", "\x81"},  {10, "\x0A", "\x8A"},  {0, std::string(1, '\0'), "\x80"},
      {99, "\x63", "\xE3"}, {150, "\x96", "\xB2"},  // a code over 99 keeps its last two digits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumberedConceptKey(c.value), c.numbered) << c.value;
    EXPECT_EQ(CodedConceptKey(c.value), c.coded) << c.value;
  }
  EXPECT_EQ(CodedConceptKey(-3), "\x80");
}

TEST(RecordsTest, AUnitWithoutTransitionRecordGetsTheDefaults) {
  LeaseTransitionRecord t;
  t.bytes.fill(0xEE);
  FillTransitionDefaults(t);
  EXPECT_EQ(t.StepsDone(), 0);
  EXPECT_EQ(t.StepsTotal(), 0);
  EXPECT_EQ(t.InitialIndex(), 0);
  EXPECT_EQ(t.InitialRent(), 0);
  EXPECT_EQ(t.CadastralValue(), 0);
  EXPECT_EQ(t.CadastralDate(), std::string(4, '\x80'));
  EXPECT_EQ(t.CadastralExempt(), 'N');
  EXPECT_EQ(t.CadastralMode(), 'N');
  EXPECT_EQ(t.UnitKey(), std::string(4, '\xEE')) << "the key is not a default";
  EXPECT_EQ(t.bytes[57], 0xEE);
}

TEST(RecordsTest, UnitFieldsSitAtTheirOffsets) {
  UnitRecord u;
  for (std::size_t i = 0; i < u.bytes.size(); ++i) u.bytes[i] = static_cast<uint8_t>(i * 7);
  const RecordBytes before = u.bytes;
  // Written fields land on their bytes and nowhere else.
  u.SetLastRevisionDate(PackDigits("20261201"));
  u.SetLastIndex(119942);
  u.SetNumberedAmount(5, 123456);
  u.SetCodedEntryCode(3, 30);
  u.SetCodedEntryAmount(3, -2500);
  u.SetCodedEntryAmount(4, 777);
  u.SetNumberedAmount(11, 1);   // out of range: nothing
  u.SetCodedEntryAmount(0, 1);  // out of range: nothing
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < u.bytes.size(); ++i) {
    if (u.bytes[i] != before[i]) changed.push_back(i);
  }
  std::vector<std::size_t> expected;
  for (std::size_t i = 195; i < 199; ++i) expected.push_back(i);
  for (std::size_t i = 205; i < 209; ++i) expected.push_back(i);
  for (std::size_t i = 293; i < 297; ++i) expected.push_back(i);  // amount 5 at 277 + 16
  for (std::size_t i = 329; i < 335; ++i) expected.push_back(i);  // entry 3: code and amount
  for (std::size_t i = 339; i < 343; ++i) expected.push_back(i);  // entry 4's amount skips 337
  // Bytes that already held the value written do not show as changed.
  std::erase_if(expected, [&](std::size_t i) { return u.bytes[i] == before[i]; });
  EXPECT_EQ(changed, expected);
  EXPECT_EQ(u.LastRevisionDate(), PackDigits("20261201"));
  EXPECT_EQ(u.LastIndex(), 119942);
  EXPECT_EQ(u.NumberedAmount(5), 123456);
  EXPECT_EQ(u.CodedEntryCode(3), 30);
  EXPECT_EQ(u.CodedEntryAmount(3), -2500);
  EXPECT_EQ(u.CodedEntryAmount(4), 777);
  EXPECT_EQ(u.NumberedAmount(0), 0);
  EXPECT_EQ(u.CodedEntryCode(5), 0);
  EXPECT_EQ(u.ReceiptBlock().size(), 66u);
  EXPECT_EQ(static_cast<uint8_t>(u.ReceiptBlock()[16]), u.bytes[293]);
}

TEST(RecordsTest, ReadOnlyRecordsReadTheirFields) {
  EstateRecord e;
  e.bytes.fill(' ');
  std::memcpy(e.bytes.data() + 38, "08006 Barcelona", 15);
  e.bytes[141] = 'P';
  EXPECT_EQ(e.AddressLine(2), "08006 Barcelona               ");
  EXPECT_EQ(e.AddressLine(4), std::string(30, ' '));
  EXPECT_EQ(e.OwnAddressFlag(), 'P');

  PriceIndexRecord p;
  const std::string key = PriceIndexKey('I', PackDigits("20251201"));
  std::memcpy(p.bytes.data(), key.data(), key.size());
  const double value = 119.942;
  std::memcpy(p.bytes.data() + 7, &value, sizeof value);
  EXPECT_EQ(p.Country(), "ES");
  EXPECT_EQ(p.Series(), 'I');
  EXPECT_EQ(p.Month(), PackDigits("20251201"));
  EXPECT_EQ(p.Value(), 119.942);
  EXPECT_EQ(PriceIndexKey('P', "").size(), 7u);

  ConceptTypeRecord c;
  c.bytes[0] = 0x85;
  PutInt32(c.bytes, 24, 9);
  EXPECT_EQ(c.ConceptCode(), 0x85);
  EXPECT_EQ(c.ConceptClass(), 9);
}

// The installation's dictionaries, built by make-root, open as the job's
// files; a units file too short for the layout is refused.
class JobFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BTRCALL(28, nullptr, nullptr, nullptr, nullptr, 0, 0);
    ResetFileSlotsForTesting();
    ResetSessionForTesting();
    Session().jobRoot = dir_.Path();
  }
  void TearDown() override { ResetFiles(); }

  // A dictionary: record length and one key of `keyLength` bytes at 1.
  void Dictionary(const std::string& base, uint16_t recordLength, uint16_t keyLength) {
    std::string d(32, '\0');
    d[0] = static_cast<char>(recordLength & 0xFF);
    d[1] = static_cast<char>(recordLength >> 8);
    d[3] = 4;   // page size 1024
    d[4] = 1;   // one key
    d[16] = 1;  // position 1
    d[18] = static_cast<char>(keyLength);
    std::string file = {static_cast<char>(d.size()), 0};
    dir_.Write("ddf/" + base + ".xdf", file + d);
  }
  testing::TempDir dir_;
};

TEST_F(JobFilesTest, TheSixFilesAreCreatedAndOpenedInTheCataloguesOrder) {
  std::filesystem::create_directories(dir_.Path() + "DADES");
  std::filesystem::create_directories(dir_.Path() + "TAULES");
  Dictionary("FinquesV", 160, 2);
  Dictionary("DepartaV", 400, 4);
  Dictionary("TranLauV", 64, 4);
  Dictionary("TVRebut", 32, 1);
  Dictionary("UIpc", 16, 7);
  Dictionary("Textos", 64, 8);
  OpenJobFiles();
  const int16_t numbers[] = {506, 507, 508, 503, 4, 60};
  for (int i = 0; i < 6; ++i) {
    const FileSlot& s = FileSlots()[static_cast<std::size_t>(40 - i)];
    EXPECT_EQ(s.fileNumber, numbers[i]);
  }
  EXPECT_EQ(FileSlots()[39].recordVariable, Records().unit.bytes.data());
  EXPECT_EQ(FileSlots()[39].recordLength, 400);
  EXPECT_EQ(FileSlots()[36].keyValue.size(), 7u);
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "TAULES/UIpc.dat"));

  ResetFiles();
  Dictionary("Short", 300, 4);
  const JobFile units = JobFileCatalogue()[1];
  EXPECT_EQ(
      TryOpenDataFile(units.number, dir_.Path() + "DADES\\Short", JobFileVariable(units), true),
      kStatusRecordLengthMismatch)
      << "the units layout reads up to byte 343";
}

}  // namespace
}  // namespace kestrova
