#include "calendar/date_texts.h"

#include <algorithm>
#include <string>

#include "calendar/numeric.h"
#include "platform/codepage.h"
#include "platform/host.h"
#include "session/session.h"

namespace kestrova {
namespace {

// The words of one language: before a month name, before a month name that
// starts with a vowel, before the day or the year; and the twelve month
// names in fields of 10 characters.
struct DateLanguage {
  std::string_view beforeMonth;
  std::string_view beforeVowelMonth;
  std::string_view beforeDayOrYear;
  std::string_view months;
};

constexpr DateLanguage kSpanish = {
    " de ", " de ", " de ",
    "enero     febrero   marzo     abril     mayo      junio     "
    "julio     agosto    septiembreoctubre   noviembre diciembre "_cp};
constexpr DateLanguage kGalician = {
    " de ", " de ", " do ",
    "janeiro   fevereiro março     abril     maio      junho     "
    "julho     agosto    setembro  outubro   novembro  dezembro  "_cp};
constexpr DateLanguage kOccitan = {
    " de ", " d'", " deth ",
    "gèr       hereuèr   març      abriu     mai       junh      "
    "junhsega  agost     seteme    octobre   noveme    deseme    "_cp};
constexpr DateLanguage kCatalan = {
    " de ", " d'", " del ",
    "gener     febrer    març      abril     maig      juny      "
    "juliol    agost     setembre  octubre   novembre  desembre  "_cp};

static_assert(kSpanish.months.size() == 120 && kGalician.months.size() == 120 &&
              kOccitan.months.size() == 120 && kCatalan.months.size() == 120);

const DateLanguage& LanguageTable() {
  const std::string& language = Session().language;
  if (language == "SPA") return kSpanish;
  if (language == "GLG") return kGalician;
  if (language == "OCI") return kOccitan;
  return kCatalan;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return out;
}

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }
bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// A setting as stored: the INI value blank-padded or cut to its width.
std::string Fitted(std::string value, std::size_t width) {
  value.resize(width, ' ');
  return value;
}

void LoadDateSettings() {
  DateTextSettings& s = DateSettings();
  if (!HasNul(s.DatCaracter) && !HasNul(s.DatOrdre)) return;
  const std::string file = SuiteIniPath();
  if (HasNul(s.DatCaracter)) {
    s.DatCaracter = Fitted(ReadIniValue(file, "Usuari", "DatCaracter"), 1);
    if (IsBlank(s.DatCaracter) || HasNul(s.DatCaracter)) s.DatCaracter = "/";
  }
  if (HasNul(s.DatOrdre)) {
    // Folded to upper case on purpose: an order written by hand as "amd"
    // would otherwise match none of the part letters and blank every date
    // of the report and the letters without a word.  The suite's own
    // settings are upper case, so for them this changes nothing.
    s.DatOrdre = Upper(Fitted(ReadIniValue(file, "Usuari", "DatOrdre"), 3));
    if (IsBlank(s.DatOrdre) || HasNul(s.DatOrdre)) s.DatOrdre = "DMA";
  }
}

// Characters start .. start + length - 1 (1-based) of a text, as much of
// them as exists.
std::string_view Mid(std::string_view text, std::size_t start, std::size_t length) {
  if (start > text.size()) return {};
  return text.substr(start - 1, length);
}

int NumberOf(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// The month for styles 1 (3 letters) and 2 or more (full name).  A month
// outside 1..12 (a damaged date) has no name: it is left out and its
// joiner stays, so the damage shows as a gap rather than as a number that
// reads like a real date.
std::string MonthName(int month, int16_t style, const DateLanguage& language) {
  if (month < 1 || month > 12) return {};
  std::string name(language.months.substr(static_cast<std::size_t>(month) * 10 - 10, 10));
  if (style == 1) return name.substr(0, 3);
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

bool StartsWithVowel(const std::string& name) {
  if (name.empty()) return false;
  const char c = Upper(name.substr(0, 1)).front();
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

}  // namespace

DateTextSettings& DateSettings() {
  static DateTextSettings settings;
  return settings;
}

void ResetDateSettingsForTesting() { DateSettings() = DateTextSettings{}; }

std::string DateInWords(std::string_view packedDate, int16_t style, std::string_view parts) {
  // 1.
  LoadDateSettings();
  const DateTextSettings& settings = DateSettings();

  // 2. Year as 4 digits, month and day as numbers.
  const std::string digits = UnpackDigits(packedDate);
  std::string year(Mid(digits, 1, 4));
  year.insert(0, 4 - year.size(), '0');
  const int month = NumberOf(Mid(digits, 5, 2));
  const int day = NumberOf(Mid(digits, 7, 2));

  // 3. ISO form.
  if (style < 0) return year + "-" + ZeroPad(month, 2) + "-" + ZeroPad(day, 2);

  // 4-5. The parts asked for, in the user's order, each with its joiner.
  const std::string wanted = Upper(parts);
  auto asked = [&](char part) { return wanted.find(part) != std::string::npos; };
  const DateLanguage& language = LanguageTable();
  std::string result;
  if (std::to_string(month) + std::to_string(day) > "00") {
    for (char part : settings.DatOrdre) {
      if ((part != 'D' && part != 'M' && part != 'A') || !asked(part)) continue;
      std::string text;
      std::string_view joiner = style <= 1 ? std::string_view(settings.DatCaracter)
                                           : language.beforeDayOrYear;
      if (part == 'D') {
        text = std::to_string(day);
      } else if (part == 'A') {
        text = year;
      } else {
        text = style == 0 ? std::to_string(month) : MonthName(month, style, language);
        if (style >= 2) {
          joiner = StartsWithVowel(text) ? language.beforeVowelMonth : language.beforeMonth;
        }
      }
      if (!result.empty()) result.append(joiner);
      result.append(text);
    }
  }

  // 6. Fixed width for the numeric styles.
  if (style <= 1) {
    const int width = (asked('D') ? 2 : 0) + (asked('A') ? 4 : 0) + (asked('M') ? style + 2 : 0) +
                      static_cast<int>(parts.size()) - 1;
    result.resize(static_cast<std::size_t>(std::max(width, 0)), ' ');
  }
  return result;
}

}  // namespace kestrova
