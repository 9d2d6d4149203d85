#include "revision/report.h"

#include <algorithm>

#include "calendar/date_texts.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/print_channel.h"
#include "platform/codepage.h"
#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "session/language.h"
#include "session/session.h"

namespace kestrova {
namespace {

// Lines per report page, and the last line a lease may start below.
constexpr int16_t kReportPageLength = 66;
constexpr int16_t kLastLeaseLine = 60;
// Width the titles are centred in: the report's normal-pitch header.
constexpr int kTitleWidth = 96;
constexpr int kRuleWidth = 135;
constexpr std::string_view kAmountMask = "ZZ,ZZZ,ZZ9-";

// Texts padded or cut to their column width.
std::string Fit(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::string ShortDate(std::string_view packedDate) { return DateInWords(packedDate, 0, "dma"); }

std::string Amount(double value) { return AmountToText(kAmountMask, value); }

std::string WithoutLeadingBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// A title line centred in the header's width.  A title wider than that
// starts at column 1: column 0 would mean "where the last text ended".
void PrintCentred(const std::string& text, int16_t lineFeeds) {
  const int column = (kTitleWidth - static_cast<int>(text.size())) / 2;
  PrintAt(static_cast<int16_t>(std::max(column, 1)), text, lineFeeds);
}

std::string RegimeTitle(int16_t regime) {
  switch (regime) {
    case 1:
      return TranslateText("REVISIÓ '85"_cp);
    case 2:
      return TranslateText("REGULARITZACIÓ '85"_cp);
    case 3:
      return TranslateText("ACTUALITZACIÓ '94"_cp);
    default:
      return TranslateText("REVISIÓ '94"_cp);
  }
}

std::string_view Remark(int16_t result) {
  switch (result) {
    case kLeaseExpired:
      return "*** CONTRACTE VENÇUT ***"_cp;
    case kLeaseNoContractDate:
      return "*** NO CONSTA LA DATA DEL CONTRACTE ***";
    case kLeaseNoRent:
      return "*** NO TÉ RENDA CONTRACTUAL ***"_cp;
    default:
      return "*** L'ÚLTIM ÍNDEX APLICAT ÉS ZERO ***"_cp;
  }
}

void PrintUpdateLine() {
  const LeaseWorkingValues& v = LeaseValues();
  PrintAt(31, ShortDate(v.ContractDate), 0);
  PrintAt(42, ShortDate(v.FromDate), 0);
  PrintAt(53, FormatWithMask("ZZZ9.999", v.OldIndex / 1000), 0);
  PrintAt(62, ShortDate(v.NextRevisionDate), 0);
  // The figures stand flush right in their columns.
  SetJustification("D");
  PrintAt(73, Amount(v.RentSum), 0);
  PrintAt(84, Amount(v.IncrementSum), 0);
  PrintAt(95, FormatWithMask("ZZ9.9999", v.Fraction * 100), 0);
  PrintAt(104, Amount(v.Increment), 0);
  PrintAt(115, Amount(v.IncrementSum + v.RentSum + v.Increment), 0);
  PrintAt(126, Amount(v.Arrears), 2);
}

}  // namespace

int32_t& ReportPageCount() {
  static int32_t pageCount = 0;
  return pageCount;
}

std::string PageNumberText(int32_t page) {
  // The mask's four places would print "!!!!" from page 10 000 on.
  return page < 10000 ? FormatWithMask("ZZZ9", page) : NumberToPlainText(page);
}

void ResetReportForTesting() { ReportPageCount() = 0; }

std::string UnitCodeText(std::string_view unitKey) {
  std::string digits = UnpackDigits(unitKey.substr(0, std::min<std::size_t>(unitKey.size(), 4)));
  digits.resize(8, '0');
  return digits.substr(1, 3) + digits.substr(5, 3);
}

std::string UnitAddressLine(int line) {
  const ApplicationRecords& r = Records();
  return r.estate.OwnAddressFlag() == 'P' ? r.unit.AddressLine(line) : r.estate.AddressLine(line);
}

void PrintLeaseLine() {
  const UnitRecord& unit = Records().unit;
  const int16_t result = LeaseValues().EvaluationResult;
  // 1. The page test runs before the first line only, so both lines of a
  //    lease share a page.
  if (ReportPageCount() == 0 || PrintChannel().pageLine > kLastLeaseLine) PrintPageHeader();
  // 2. First line: who and where.
  PrintAt(1, UnitCodeText(unit.UnitKey()), 0);
  PrintAt(16, Fit(UnitAddressLine(1), 30), 0);
  PrintAt(47, Fit(unit.UnitDesignation(), 10), 0);
  PrintAt(73, Fit(unit.TenantName(), 30), 1);
  // 3. Result 0: the update.
  if (result == kLeaseRevised) {
    PrintUpdateLine();
    return;
  }
  // 4. Results 1 to 4: why the lease cannot be revised.
  PrintAt(31, TranslateText(Remark(result)), 2);
}

void PrintPageHeader() {
  const RevisionParameters& p = Revision();
  // 1. A new page.
  ++ReportPageCount();
  StartPage(kReportPageLength);
  PrintControl("@e");
  // 2. Letterhead and page number.
  PrintAt(1, Session().letterhead[0], 0);
  SetJustification("D");
  PrintAt(85, TranslateText("PÀGINA"_cp) + " " + PageNumberText(ReportPageCount()), 2);
  // 3. Title by regime.
  PrintCentred(RegimeTitle(p.Regime) + TranslateText(" DE RENDES LLIURES A ") + ShortDate(p.ApplicationDate), 1);
  // 4. The index applied.
  PrintCentred(TranslateText("AMB ÍNDEX "_cp) + WithoutLeadingBlanks(FormatWithMask("ZZZ9.999", p.IndexValue / 1000)) +
                   TranslateText(" DE ") + ShortDate(p.IndexDate),
               2);
  // 5. Condensed pitch for the columns.
  PrintControl("q");
  // 6. Headings, first line.
  PrintAt(1, TranslateText("REBUT"), 0);
  PrintAt(16, TranslateText("ADREÇA"_cp), 0);
  PrintAt(47, TranslateText("DEPARTAMENT"), 0);
  PrintAt(63, TranslateText("TITULAR"), 1);
  // 7. Headings, second line; the figures' headings flush right like them.
  PrintAt(31, TranslateText("CONTRACTE"), 0);
  PrintAt(42, TranslateText("REVISIÓ"_cp), 0);
  PrintAt(53, TranslateText("I.P.C."), 0);
  PrintAt(62, TranslateText("PRÒXIMA"_cp), 0);
  SetJustification("D");
  PrintAt(73, TranslateText("     RENDA"), 0);
  PrintAt(84, TranslateText(" INCREMEN."), 0);
  PrintAt(95, TranslateText(" PERCEN."), 0);
  PrintAt(104, TranslateText("   AUGMENT"), 0);
  PrintAt(115, TranslateText("     TOTAL"), 0);
  PrintAt(126, TranslateText(" ENDARRER."), 1);
  // 8. The rule under the headings.
  PrintAt(1, std::string(kRuleWidth, '-'), 1);
}

}  // namespace kestrova
