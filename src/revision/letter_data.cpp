#include "revision/letter_data.h"

#include "calendar/date_texts.h"
#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "documents/amounts_in_words.h"
#include "documents/letter_merge.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "revision/lease_rules.h"
#include "revision/lookups.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "revision/report.h"
#include "session/session.h"

namespace kestrova {
namespace {

constexpr std::string_view kAmountMask = "ZZ,ZZZ,ZZ9";
constexpr std::string_view kIndexMask = "Z,ZZ9.999";

std::string ShortDate(std::string_view packedDate) { return DateInWords(packedDate, 0, "dma"); }

std::string Fit(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// The digits of a packed date: yyyymmdd.
std::string DateDigitsOf(std::string_view packedDate) {
  std::string digits = UnpackDigits(packedDate.substr(0, std::min<std::size_t>(packedDate.size(), 4)));
  digits.resize(8, '0');
  return digits;
}

std::string AfterFirstBlank(const std::string& text) {
  const std::size_t blank = text.find(' ');
  return blank == std::string::npos ? std::string() : text.substr(blank + 1);
}

// Address lines 2 and 3 come from the unit only when it has an address of
// its own and that address has a second line: both lines from one record.
std::string LetterAddressLine(int line) {
  const ApplicationRecords& r = Records();
  const bool own = r.estate.OwnAddressFlag() == 'P' && !TrimBlanks(r.unit.AddressLine(2)).empty();
  return own ? r.unit.AddressLine(line) : r.estate.AddressLine(line);
}

std::string IncreaseConceptDescription() {
  ConceptType found;
  if (FindConceptType(NumberedConceptKey(Revision().IncreaseConcept), found) == kLookupOk) {
    return found.description;
  }
  // Not found: the concept read last, as the record buffer holds it.
  return Records().conceptType.Description();
}

}  // namespace

std::string ReadingOrder(std::string_view text) {
  const std::size_t star = text.find('*');
  if (star == std::string_view::npos || star == 0) return std::string(TrimBlanks(text));
  const std::string_view first = TrimBlanks(text.substr(star + 1));
  const std::string_view second = TrimBlanks(text.substr(0, star));
  std::string out(first);
  if (first.empty() || first.back() != '\'') out += ' ';
  out += second;
  return out;
}

std::string LowerCaseText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 'A' && b <= 'Z') {
      c = static_cast<char>(b + 32);
      continue;
    }
    const char32_t cp = Cp850ToCodePoint(b);
    // Latin-1 capitals with accents lie 32 below their small letters.
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) {
      const int lower = Cp850FromCodePoint(cp + 32);
      if (lower >= 0) c = static_cast<char>(lower);
    }
  }
  return out;
}

std::string FirstReceiptDate(std::string_view applicationDate, int16_t monthsPerReceipt) {
  const std::string dayBefore = AddToDate(applicationDate, -1, "D");
  const int month = DecimalValue(DateDigitsOf(dayBefore).substr(4, 2));
  const int r = monthsPerReceipt;
  const int n = r <= 0 ? 0 : ((month - 1) / r + 1) * r + 1 - month;
  const std::string reached = DateDigitsOf(AddToDate(dayBefore, n, "M"));
  return PackDigits(reached.substr(0, 6) + "01");
}

std::vector<std::pair<std::string, std::string>> LetterFields() {
  const RevisionParameters& p = Revision();
  const LeaseWorkingValues& v = LeaseValues();
  const ApplicationRecords& r = Records();
  std::vector<std::pair<std::string, std::string>> f;

  // The letterhead, as it stands in the installation's settings.
  for (std::size_t i = 0; i < 8; ++i) f.emplace_back("MEM" + std::to_string(i + 1), Session().letterhead[i]);

  // The letter date: numeric, short month, in words, and with the day (and
  // the year) in words.
  const std::string digits = DateDigitsOf(p.LetterDate);
  const std::string day = AmountInWords(DecimalValue(digits.substr(6, 2)), "m");
  const std::string year = AmountInWords(DecimalValue(digits.substr(0, 4)), "m");
  const std::string inWords = DateInWords(p.LetterDate, 2, "dma");
  const std::string afterDay = AfterFirstBlank(inWords);
  const std::string withoutYear = afterDay.size() > 5 ? afterDay.substr(0, afterDay.size() - 5) : std::string();
  f.emplace_back("FEC0", Fit(LowerCaseText(DateInWords(p.LetterDate, 0, "dma")), 10));
  f.emplace_back("FEC1", Fit(LowerCaseText(DateInWords(p.LetterDate, 1, "dma")), 11));
  f.emplace_back("FECHA", LowerCaseText(inWords));
  f.emplace_back("FEC3", LowerCaseText(day + " " + afterDay));
  f.emplace_back("FEC4", LowerCaseText(day + " " + withoutYear + " " + year));

  // Who and where.
  f.emplace_back("DES0", "V" + UnitCodeText(r.unit.UnitKey()));
  f.emplace_back("DES1", ReadingOrder(r.unit.TenantName()));
  f.emplace_back("DES2", ReadingOrder(UnitAddressLine(1)) + " " + r.unit.UnitDesignation());
  f.emplace_back("DES3", LetterAddressLine(2));
  f.emplace_back("DES4", LetterAddressLine(3));
  f.emplace_back("DES5", "");

  // The update.
  f.emplace_back("FECAPL", ShortDate(FirstReceiptDate(p.ApplicationDate, r.unit.MonthsPerReceipt())));
  f.emplace_back("IMPAUM", AmountToText(kAmountMask, v.Increment));
  f.emplace_back("MESATR", FormatWithMask("ZZ9", p.ArrearsMonths));
  f.emplace_back("IMPATR", AmountToText(kAmountMask, v.Arrears));
  f.emplace_back("FECAUM", ShortDate(p.ApplicationDate));
  f.emplace_back("PORAUM", FormatWithMask("ZZZ9.9999 %", v.Fraction * 100));
  f.emplace_back("CONAUM", IncreaseConceptDescription());
  f.emplace_back("FECCON", ShortDate(v.ContractDate));
  f.emplace_back("FECULT", ShortDate(v.FromDate));
  f.emplace_back("FECVEN", ShortDate(v.PeriodEndDate));
  f.emplace_back("INDULT", FormatWithMask(kIndexMask, v.OldIndex / 1000));
  f.emplace_back("INDACT", FormatWithMask(kIndexMask, p.IndexValue / 1000));
  f.emplace_back("IMPREN", AmountToText(kAmountMask, v.RentSum));
  f.emplace_back("IMPINC", AmountToText(kAmountMask, v.IncrementSum));
  f.emplace_back("TOTAL", AmountToText(kAmountMask, v.IncrementSum + v.RentSum + v.Increment));
  f.emplace_back("RENINI", AmountToText(kAmountMask, r.transition.InitialRent()));
  f.emplace_back("RENACT", AmountToText(kAmountMask, p.Regime == 3 ? v.UpdatedRent : 0));
  return f;
}

int16_t WriteLetterData() {
  // 1-2. The fields, two lines each.
  std::string data;
  for (const auto& [name, value] : LetterFields()) data += "\x7f" + name + "\r\n" + value + "\xff\r\n";
  const std::string path = Session().jobTmp + std::string(kLetterDataName);
  if (!WriteWholeFile(path, data)) {
    LastMergeFailure() = MergeFailure{kMergeDataMissing, path};
    return kMergeDataMissing;
  }
  // 3. The letter.
  return MergeTemplate(Revision().TextCode, path, -1);
}

}  // namespace kestrova
