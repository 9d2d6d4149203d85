#include "revision/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "calendar/date_texts.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/print_channel.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "session/language.h"
#include "session/session.h"
#include "support/print_script.h"
#include "support/temp_dir.h"

namespace kestrova {
namespace {

using testing::ClosedScriptRecords;

std::string Packed(const char* digits) { return PackDigits(digits); }

void PutText(RecordBytes& bytes, std::size_t offset, std::string_view text) {
  std::memcpy(bytes.data() + offset, text.data(), text.size());
}

// Records, parameters and working values of a small installation: estate 1
// with unit 2, regime 1, applied on 1 March 2025 with the index of January.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSessionForTesting();
    ResetPrintChannelForTesting();
    ResetReportForTesting();
    ResetRecordsForTesting();
    ResetRevisionParametersForTesting();
    ResetLeaseValuesForTesting();
    ResetCurrencyForTesting();
    ResetLanguageForTesting();
    Session().jobRoot = tmp_.Path();
    Session().jobTmp = tmp_.Path();
    Session().language = "CAT";
    Session().letterhead[0] = "FINQUES DEMO S.L.";
    JobName() = "KESTROVA";
    Separators() = {',', '.'};
    DateSettings() = {"/", "DMA"};

    RecordBytes& estate = Records().estate.bytes;
    estate.fill(' ');
    PutText(estate, 0, Packed("0001"));
    PutText(estate, 8, "C/ MAJOR 12");
    RecordBytes& unit = Records().unit.bytes;
    unit.fill(' ');
    PutText(unit, 0, Packed("00010002"));
    PutText(unit, 8, "GARCIA PUIG*JOAN");
    PutText(unit, 38, "1r 2a");
    PutText(unit, 98, "PL. NOVA 3");

    RevisionParameters& p = Revision();
    p.Mode = "L";
    p.Regime = 1;
    p.ApplicationDate = Packed("20250301");
    p.IndexDate = Packed("20250101");
    p.IndexValue = 118456;

    LeaseWorkingValues& v = LeaseValues();
    v.EvaluationResult = kLeaseRevised;
    v.ContractDate = Packed("20200301");
    v.FromDate = Packed("20240301");
    v.NextRevisionDate = Packed("20260301");
    v.OldIndex = 112345;
    v.RentSum = 85000;
    v.IncrementSum = 5000;
    v.Fraction = 0.054389;
    v.Increment = 4895;
    v.Arrears = -1240;
    OpenPrintJob("x.txt");
  }
  void TearDown() override {
    ResetPrintChannelForTesting();
    ResetSeparatorsForTesting();
    ResetDateSettingsForTesting();
    ResetCurrencyForTesting();
  }

  static std::vector<std::string> Header(const std::string& page) {
    return {"PAGE 66 ",
            "*@e",
            " 1 ,FINQUES DEMO S.L., 0 ",
            "JUSD",
            " 85 ," + std::string("PÀGINA    "_cp) + page + ", 2 ",
            // 11 + 21 + 10 = 42 characters: column (96 - 42) / 2 = 27.
            std::string(" 27 ,REVISIÓ '85 DE RENDES LLIURES A 1/3/2025  , 1 "_cp),
            // 10 + 7 + 4 + 10 = 31 characters: column 32.
            std::string(" 32 ,AMB ÍNDEX 118,456 DE 1/1/2025  , 2 "_cp),
            "*q",
            " 1 ,REBUT, 0 ",
            std::string(" 16 ,ADREÇA, 0 "_cp),
            " 47 ,DEPARTAMENT, 0 ",
            " 63 ,TITULAR, 1 ",
            " 31 ,CONTRACTE, 0 ",
            std::string(" 42 ,REVISIÓ, 0 "_cp),
            " 53 ,I.P.C., 0 ",
            std::string(" 62 ,PRÒXIMA, 0 "_cp),
            "JUSD",
            " 73 ,     RENDA, 0 ",
            " 84 , INCREMEN., 0 ",
            " 95 , PERCEN., 0 ",
            " 104 ,   AUGMENT, 0 ",
            " 115 ,     TOTAL, 0 ",
            " 126 , ENDARRER., 1 ",
            " 1 ," + std::string(135, '-') + ", 1 "};
  }

  static std::vector<std::string> FirstLine(const std::string& address) {
    return {" 1 ,001002, 0 ", " 16 ," + address + std::string(30 - address.size(), ' ') + ", 0 ",
            " 47 ,1r 2a     , 0 ", " 73 ,GARCIA PUIG*JOAN              , 1 "};
  }

  testing::TempDir tmp_;
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ReportUnitCode, LastThreeDigitsOfEstateAndUnit) {
  EXPECT_EQ(UnitCodeText(PackDigits("00010002")), "001002");
  EXPECT_EQ(UnitCodeText(PackDigits("12345678")), "234678");
  EXPECT_EQ(UnitCodeText(PackDigits("99999999")), "999999");
  EXPECT_EQ(UnitCodeText(""), "000000");  // a short key never reads past its end
}

TEST_F(ReportTest, RevisedLeaseUnderTheFirstPageHeader) {
  PrintLeaseLine();
  const std::vector<std::string> update = {
      " 31 ,1/3/2020  , 0 ",  " 42 ,1/3/2024  , 0 ",  " 53 , 112,345, 0 ",
      " 62 ,1/3/2026  , 0 ",  "JUSD",
      // Amounts in hundredths through ZZ,ZZZ,ZZ9-: two decimals, sign last.
      " 73 ,    850,00 , 0 ", " 84 ,     50,00 , 0 ", " 95 ,  5,4389, 0 ",
      " 104 ,     48,95 , 0 ", " 115 ,    948,95 , 0 ", " 126 ,     12,40-, 2 "};
  // The estate has no own-address flag: its address stands for the unit's.
  EXPECT_EQ(ClosedScriptRecords(), Join(Join(Join({"DEVICEx.txt"}, Header("1")), FirstLine("C/ MAJOR 12")), update));
  EXPECT_EQ(ReportPageCount(), 1);
}

TEST_F(ReportTest, RemarksOfLeasesThatCannotBeRevised) {
  const struct {
    int16_t result;
    std::string remark;
  } cases[] = {
      {kLeaseExpired, std::string("*** CONTRACTE VENÇUT ***"_cp)},
      {kLeaseNoContractDate, "*** NO CONSTA LA DATA DEL CONTRACTE ***"},
      {kLeaseNoRent, std::string("*** NO TÉ RENDA CONTRACTUAL ***"_cp)},
      {kLeaseNoLastIndex, std::string("*** L'ÚLTIM ÍNDEX APLICAT ÉS ZERO ***"_cp)},
  };
  Records().estate.bytes[141] = 'P';  // units with their own address
  for (const auto& c : cases) {
    ResetReportForTesting();
    OpenPrintJob("x.txt");
    LeaseValues().EvaluationResult = c.result;
    PrintLeaseLine();
    const auto records = ClosedScriptRecords();
    const auto expected =
        Join(Join(Join({"DEVICEx.txt"}, Header("1")), FirstLine("PL. NOVA 3")), {" 31 ," + c.remark + ", 2 "});
    EXPECT_EQ(records, expected) << c.result;
  }
}

TEST_F(ReportTest, TitleByRegime) {
  const struct {
    int16_t regime;
    std::string title;
  } cases[] = {
      {1, std::string("REVISIÓ '85"_cp)},          {2, std::string("REGULARITZACIÓ '85"_cp)},
      {3, std::string("ACTUALITZACIÓ '94"_cp)},    {4, std::string("REVISIÓ '94"_cp)},
      {0, std::string("REVISIÓ '94"_cp)},          {99, std::string("REVISIÓ '94"_cp)},
  };
  for (const auto& c : cases) {
    OpenPrintJob("x.txt");
    Revision().Regime = c.regime;
    PrintPageHeader();
    const std::string title = c.title + " DE RENDES LLIURES A 1/3/2025  ";
    const auto records = ClosedScriptRecords();
    ASSERT_GT(records.size(), 6u);
    EXPECT_EQ(records[6], ScriptNumber(static_cast<int32_t>((96 - title.size()) / 2)) + "," + title + ", 1 ");
  }
}

// Four places up to page 9 999, as the header always had them; beyond, the
// whole number rather than "!!!!", and no wrap after 32 767 pages.
TEST_F(ReportTest, PageNumbersOfAnySize) {
  const struct {
    int32_t page;
    const char* shown;
  } cases[] = {{1, "   1"},       {999, " 999"},      {9999, "9999"},
               {10000, "10000"}, {32767, "32767"}, {32768, "32768"},
               {65536, "65536"}, {590001, "590001"}};
  for (const auto& c : cases) {
    OpenPrintJob("x.txt");
    ReportPageCount() = c.page - 1;
    PrintPageHeader();
    EXPECT_EQ(ReportPageCount(), c.page);
    const auto records = ClosedScriptRecords();
    ASSERT_GT(records.size(), 5u);
    EXPECT_EQ(records[5], " 85 ," + std::string("PÀGINA "_cp) + c.shown + ", 2 ") << c.page;
  }
}

TEST_F(ReportTest, EighteenLeasesFillAPageAndBothLinesOfALeaseShareOne) {
  // The header ends on line 8 and a lease takes 3: after 18 leases the line
  // is 62, past 60, so the 19th starts page 2 with the header again.
  for (int i = 0; i < 19; ++i) PrintLeaseLine();
  EXPECT_EQ(ReportPageCount(), 2);
  const auto records = ClosedScriptRecords();
  std::vector<std::size_t> pages;
  for (std::size_t k = 0; k < records.size(); ++k) {
    if (records[k] == "PAGE 66 ") pages.push_back(k);
  }
  ASSERT_EQ(pages.size(), 2u);
  // Page 2 starts with its header, numbered 2, and then the 19th lease.
  const auto header2 = Header("2");
  ASSERT_GE(records.size(), pages[1] + header2.size() + 1);
  EXPECT_EQ(std::vector<std::string>(records.begin() + static_cast<std::ptrdiff_t>(pages[1]),
                                     records.begin() + static_cast<std::ptrdiff_t>(pages[1] + header2.size())),
            header2);
  EXPECT_EQ(records[pages[1] + header2.size()], " 1 ,001002, 0 ");
  // 1 device record, 2 headers, 19 leases of 15 records.
  EXPECT_EQ(records.size(), 1 + 2 * header2.size() + 19 * 15);
}

TEST_F(ReportTest, HeadingsAndRemarksInTheSessionLanguage) {
  ASSERT_TRUE(MakeDirectories(Session().jobRoot + "LOCALE"));
  ASSERT_TRUE(WriteWholeFile(Session().jobRoot + "LOCALE\\KESTROVA.LNG",
                             Utf8ToCp850("\"*** CONTRACTE VENÇUT ***\",\"g\",\"o\",\"*** CONTRATO VENCIDO ***\"\r\n"
                                         "\"PÀGINA\",\"PÁXINA\",\"PAGINA\",\"PÁGINA\"\r\n")));
  Session().language = "SPA";
  LeaseValues().EvaluationResult = kLeaseExpired;
  PrintLeaseLine();
  const auto records = ClosedScriptRecords();
  EXPECT_EQ(records[5], std::string(" 85 ,PÁGINA    1, 2 "_cp));
  EXPECT_EQ(records.back(), " 31 ,*** CONTRATO VENCIDO ***, 2 ");
  // A heading the catalogue does not hold stays in Catalan.
  EXPECT_EQ(records[9], " 1 ,REBUT, 0 ");
}

}  // namespace
}  // namespace kestrova
