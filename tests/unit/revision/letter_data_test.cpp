#include "revision/letter_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "calendar/date_texts.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/letter_merge.h"
#include "documents/print_channel.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"
#include "unit/revision/memory_records.h"

namespace kestrova {
namespace {

void Put(RecordBytes& bytes, std::size_t offset, std::string_view text) {
  std::memcpy(bytes.data() + offset, text.data(), text.size());
}

// One lease of estate 1, unit 2, revised under regime 1 on 1 March 2025;
// the letters dated 7 March 2026.
class LetterDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetPrintChannelForTesting();
    ResetLetterMergeForTesting();
    ResetRecordsForTesting();
    ResetRevisionParametersForTesting();
    ResetLeaseValuesForTesting();
    ResetCurrencyForTesting();
    ResetLanguageForTesting();
    testing::InstallMemoryRecords();
    testing::AddRecord(kConceptTypeFile, testing::ConceptRecord(2, "AUGMENT IPC", 1));
    Session().jobRoot = tmp_.Path();
    Session().jobTmp = tmp_.Path();
    Session().language = "CAT";
    Session().letterhead[0] = "FINQUES DEMO S.L.";
    Session().letterhead[7] = "  Linia 8  ";
    JobName() = "KESTROVA";
    Separators() = {',', '.'};
    DateSettings() = {"/", "DMA"};

    RecordBytes& estate = Records().estate.bytes;
    estate.fill(' ');
    Put(estate, 0, PackDigits("0001"));
    Put(estate, 8, "MAJOR*C/");
    Put(estate, 38, "08001 BARCELONA");
    RecordBytes& unit = Records().unit.bytes;
    unit.fill(' ');
    Put(unit, 0, PackDigits("00010002"));
    Put(unit, 8, "GARCIA PUIG*JOAN");
    Put(unit, 38, "1r 2a");
    Put(unit, 98, "PL. NOVA 3");
    Put(unit, 129, "08002 BARCELONA");
    Put(unit, 159, "(BARCELONES)");
    Records().unit.bytes[225] = 1;  // monthly receipts
    Records().unit.bytes[226] = 0;

    RevisionParameters& p = Revision();
    p.Mode = "N";
    p.Regime = 1;
    p.ApplicationDate = PackDigits("20250301");
    p.LetterDate = PackDigits("20260307");
    p.IncreaseConcept = 2;
    p.ArrearsMonths = 3;
    p.IndexValue = 118456;
    p.TextCode = "CARTA   ";

    LeaseWorkingValues& v = LeaseValues();
    v.EvaluationResult = kLeaseRevised;
    v.ContractDate = PackDigits("20200301");
    v.FromDate = PackDigits("20240301");
    v.PeriodEndDate = PackDigits("20250228");
    v.OldIndex = 112345;
    v.RentSum = 85000;
    v.IncrementSum = 5000;
    v.Fraction = 0.054389;
    v.Increment = 4895;
    v.UpdatedRent = 99999;
    v.Arrears = 14685;
  }
  void TearDown() override {
    ResetRevisionRecordAccessForTesting();
    ResetSessionForTesting();
  }

  testing::TempDir tmp_;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST_F(LetterDataTest, EveryFieldOfOneLeaseInOrder) {
  const Fields expected{
      {"MEM1", "FINQUES DEMO S.L."},
      {"MEM2", ""},
      {"MEM3", ""},
      {"MEM4", ""},
      {"MEM5", ""},
      {"MEM6", ""},
      {"MEM7", ""},
      {"MEM8", "  Linia 8  "},
      {"FEC0", "7/3/2026  "},
      {"FEC1", "7/mar/2026 "},
      {"FECHA", std::string("7 de març del 2026"_cp)},
      {"FEC3", std::string("set de març del 2026"_cp)},
      {"FEC4", std::string("set de març del dos mil vint-i-sis"_cp)},
      {"DES0", "V001002"},
      {"DES1", "JOAN GARCIA PUIG"},
      {"DES2", "C/ MAJOR 1r 2a     "},
      {"DES3", "08001 BARCELONA               "},
      {"DES4", std::string(30, ' ')},
      {"DES5", ""},
      {"FECAPL", "1/3/2025  "},
      {"IMPAUM", "     48,95"},
      {"MESATR", "  3"},
      {"IMPATR", "    146,85"},
      {"FECAUM", "1/3/2025  "},
      {"PORAUM", "   5,4389 %"},
      {"CONAUM", "AUGMENT IPC         "},
      {"FECCON", "1/3/2020  "},
      {"FECULT", "1/3/2024  "},
      {"FECVEN", "28/2/2025 "},
      {"INDULT", "  112,345"},
      {"INDACT", "  118,456"},
      {"IMPREN", "    850,00"},
      {"IMPINC", "     50,00"},
      {"TOTAL", "    948,95"},
      {"RENINI", "      0,00"},
      {"RENACT", "      0,00"},
  };
  const Fields fields = LetterFields();
  ASSERT_EQ(fields.size(), expected.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].first, expected[i].first);
    EXPECT_EQ(fields[i].second, expected[i].second) << fields[i].first;
  }
}

TEST_F(LetterDataTest, OwnAddressOfTheUnitAndUpdatedRentUnderRegime3) {
  Records().estate.bytes[141] = 'P';
  Revision().Regime = 3;
  Session().language = "SPA";
  const Fields fields = LetterFields();
  auto value = [&fields](const std::string& name) {
    for (const auto& [n, v] : fields) {
      if (n == name) return v;
    }
    return std::string("?");
  };
  EXPECT_EQ(value("DES2"), "PL. NOVA 3 1r 2a     ");
  EXPECT_EQ(value("DES3"), "08002 BARCELONA               ");
  EXPECT_EQ(value("DES4"), "(BARCELONES)                  ");
  EXPECT_EQ(value("RENACT"), "    999,99");
  EXPECT_EQ(value("FEC4"), "siete de marzo de dos mil veintiseis");
  // Without a second line of its own, the unit's address lines 2 and 3 are
  // the estate's.
  std::memset(Records().unit.bytes.data() + 129, ' ', 30);
  EXPECT_EQ(LetterFields()[16].second, "08001 BARCELONA               ");
}

TEST(LetterDataText, ReadingOrder) {
  const struct {
    const char* stored;
    const char* reads;
  } cases[] = {
      {"GARCIA PUIG*JOAN", "JOAN GARCIA PUIG"},
      {"  GARCIA  *  JOAN  ", "JOAN GARCIA"},
      {"ERA*CARRER DE L'", "CARRER DE L'ERA"},
      {"*JOAN", "*JOAN"},
      {"  SENSE ESTEL  ", "SENSE ESTEL"},
      {"A*B*C", "B*C A"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadingOrder(c.stored), c.reads) << c.stored;
}

TEST(LetterDataText, LowerCaseTakesTheAccentedCapitals) {
  EXPECT_EQ(LowerCaseText("ÀÉÍÒÚÇÑ ABC 1/2"_cp), std::string("àéíòúçñ abc 1/2"_cp));
}

TEST(LetterDataText, FirstReceiptByMonthsPerReceipt) {
  const struct {
    const char* applied;
    int16_t months;
    const char* first;
  } cases[] = {
      {"20250301", 1, "20250301"}, {"20250301", 3, "20250401"}, {"20250301", 0, "20250201"},
      {"20250315", 1, "20250401"}, {"20250115", 12, "20260101"}, {"20250101", 3, "20250101"},
      {"20250301", -2, "20250201"}, {"20251201", 6, "20260101"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnpackDigits(FirstReceiptDate(PackDigits(c.applied), c.months)), c.first)
        << c.applied << " every " << c.months;
  }
}

TEST_F(LetterDataTest, WritesTheMergeFileAndMergesTheLetterText) {
  tmp_.Write("TEXTOS/CARTA.txt", "\x7fICAT\r\n@DES1, #MESATR mesos\r\n");
  OpenPrintJob("X");
  EXPECT_EQ(WriteLetterData(), kMergeDone);
  ClosePrintJob();
  std::string data;
  ASSERT_TRUE(ReadWholeFile(tmp_.Path() + "merge.tmp", data));
  EXPECT_EQ(data.substr(0, 27), "\x7fMEM1\r\nFINQUES DEMO S.L.\xff\r\n");
  EXPECT_NE(data.find("\x7fRENACT\r\n      0,00\xff\r\n"), std::string::npos);
  std::string script;
  ASSERT_TRUE(ReadWholeFile(PrintScriptPath(), script));
  EXPECT_NE(script.find(" 0 ,JOAN GARCIA PUIG,   3 mesos"), std::string::npos);
}

TEST_F(LetterDataTest, MissingLetterTextIsReportedWithItsName) {
  OpenPrintJob("X");
  EXPECT_EQ(WriteLetterData(), kMergeTemplateMissing);
  ClosePrintJob();
  EXPECT_EQ(LastMergeFailure().name, "CARTA");
}

}  // namespace
}  // namespace kestrova
