#include "documents/amounts_in_words.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "platform/blanks.h"
#include "platform/codepage.h"
#include "session/session.h"

namespace kestrova {
namespace {

enum class Language { kSpanish, kGalician, kOccitan, kCatalan };

// One language's words.  Index 0 of each column is unused, so a digit is
// its own index; the unit words run to 15 or 16, as far as that language
// spells the numbers from ten as single words (its teen limit less one).
struct WordTable {
  std::array<std::string_view, 10> hundreds;
  std::array<std::string_view, 10> tens;
  std::array<std::string_view, 17> units;
  std::string_view millions;
  std::string_view thousands;
  std::string_view conjunction;
  std::string_view millionOne;
  std::string_view millionMore;
  std::string_view centOne;
  std::string_view centMore;
  int teenLimit;
};

constexpr WordTable kSpanish{
    {"", "cien", "doscient", "trescient", "cuatrocient", "quinient", "seiscient", "setecient", "ochocient",
     "novecient"},
    {"", "dieci", "veint", "treinta", "cuarenta", "cincuenta", "sesenta", "setenta", "ochenta", "noventa"},
    {"", "un", "dos", "tres", "cuatro", "cinco", "seis", "siete", "ocho", "nueve", "diez", "once", "doce", "trece",
     "catorce", "quince", ""},
    "mill", "mil", "con", "on ", "ones ", " céntimo"_cp, " céntimos"_cp, 6};

constexpr WordTable kGalician{
    {"", "ce", "cent", "trescent", "quatrocent", "quinhent", "seiscent", "setecient", "oitocent", "novecent"},
    {"", "deza", "vinte", "trinta", "quarenta", "cinqüenta"_cp, "sessenta", "setenta", "oitenta", "noventa"},
    {"", "u", "d", "três"_cp, "quatro", "cinco", "seis", "sete", "oito", "nove", "dez", "onze", "doze", "treze",
     "catorze", "quinze", ""},
    "milh", "mil", "com", "om ", "ons ", " céntimo"_cp, " céntimos"_cp, 6};

// Occitan carries no singular million ending of its own; the blank every
// other language's ending has keeps "un milion" apart from what follows.
constexpr WordTable kOccitan{
    {"", "cent", "", "", "", "", "", "", "", ""},
    {"", "dètz"_cp, "vint", "trenta", "quaranta", "cinquanta", "seishanta", "setanta", "ueitanta", "nauanta"},
    {"", "u", "du", "tres", "quate", "cinc", "sies", "sèt"_cp, "ueit", "nau", "dètz"_cp, "onze", "dotze", "tretze",
     "catorze", "quinze", "setze"},
    "milion", "mil", "damb", " ", "s ", " centim", " centims", 7};

constexpr WordTable kCatalan{
    {"", "cent", "", "", "", "", "", "", "", ""},
    {"", "di", "vint", "trenta", "quaranta", "cinquanta", "seixanta", "setanta", "vuitanta", "noranta"},
    {"", "u", "d", "tres", "quatre", "cinc", "sis", "set", "vuit", "nou", "deu", "onze", "dotze", "tretze", "catorze",
     "quinze", "setze"},
    "mili", "mil", "amb", "ó "_cp, "ons ", " cèntim"_cp, " cèntims"_cp, 7};

Language SessionLanguage() {
  const std::string& code = Session().language;
  if (code == "SPA") return Language::kSpanish;
  if (code == "GLG") return Language::kGalician;
  if (code == "OCI") return Language::kOccitan;
  return Language::kCatalan;
}

const WordTable& Table(Language language) {
  switch (language) {
    case Language::kSpanish:
      return kSpanish;
    case Language::kGalician:
      return kGalician;
    case Language::kOccitan:
      return kOccitan;
    default:
      return kCatalan;
  }
}

void RemoveTrailingBlanks(std::string& text) { text.resize(TrimTrailingBlanks(text).size()); }

// The separator after a digit's word: one blank, or nothing when the word
// joins the next one (its joiner, if any, is already in place).
void EndWord(std::string& out, bool joins) {
  if (joins) return;
  RemoveTrailingBlanks(out);
  out += ' ';
}

// |x| rounded half up; not-a-number and infinities give 0, and only the last
// nine digits are kept (a cheque never states more).
double WholeLastNineDigits(double x) {
  if (!std::isfinite(x)) return 0;
  return std::fmod(std::floor(std::fabs(x) + 0.5), 1e9);
}

struct Spelling {
  Language language;
  const WordTable& table;
  bool masculineGender;
  int group;  // 0 millions, 1 thousands, 2 units, 3 cents

  bool Masculine() const {
    return masculineGender || group == 0 || (group == 3 && language != Language::kSpanish);
  }
  // The gendered words for one and two; the other units as the table has them.
  std::string Unit(int d) const {
    const bool m = Masculine();
    switch (language) {
      case Language::kSpanish:
        if (d == 1 && (group == 1 || group == 2)) return std::string("un") + (m ? "o" : "a");
        return std::string(table.units[d]);
      case Language::kGalician:
        if (d == 1) return std::string("u") + (m ? "m" : "mha");
        if (d == 2) return std::string("d") + (m ? "ous" : "uas");
        return std::string(table.units[d]);
      case Language::kOccitan:
        if (d == 1) return std::string("u") + (m ? "n" : "a");
        if (d == 2) return std::string("du") + (m ? "s" : "es");
        return std::string(table.units[d]);
      default:
        if (d == 1) return std::string("u") + (m ? "n" : "na");
        if (d == 2) return std::string("d") + (m ? "os" : "ues");
        return std::string(table.units[d]);
    }
  }

  void Hundreds(std::string& out, int d, int rest) const {
    const bool m = Masculine();
    const std::string_view plural = m ? "os" : "as";
    switch (language) {
      case Language::kSpanish:
        if (d == 1) {
          out += rest > 0 ? "ciento" : "cien";
        } else {
          out += table.hundreds[d];
          out += plural;
        }
        EndWord(out, false);
        return;
      case Language::kGalician:
        if (d == 1) {
          out += rest > 0 ? "cento" : "cem";
        } else {
          if (d == 2) out += m ? "dous" : "duas";
          out += table.hundreds[d];
          out += plural;
        }
        if (rest > 0) {
          RemoveTrailingBlanks(out);
          out += " e ";
        } else {
          EndWord(out, false);
        }
        return;
      default:
        if (d == 1) {
          out += "cent";
        } else {
          out += Unit(d);
          out += language == Language::kOccitan ? " " : "-";
          out += "cent";
          out += m ? "s " : "es ";
        }
        EndWord(out, false);
        return;
    }
  }

  // Tens 2 to 9, and tens 1 past the teens.  Returns whether the word joins
  // the units word that follows.
  bool Tens(std::string& out, int d, int rest) const {
    out += table.tens[d];
    switch (language) {
      case Language::kSpanish:
        if (d == 1) return true;
        if (d == 2) {
          out += rest == 0 ? "e" : "i";
          return rest > 0;
        }
        if (rest > 0) out += " y";
        return false;
      case Language::kGalician:
        if (d == 1) {
          if (rest == 6 || rest == 7) out += 's';
          return true;
        }
        if (rest > 0) {
          out += " e ";
          return true;
        }
        return false;
      case Language::kOccitan:
        if (rest == 0) return false;
        out += d <= 2 ? "-e-" : " ";
        return true;
      default:
        if (d == 1) {
          if (rest == 7) out += 's';
          return true;
        }
        if (rest == 0) return false;
        out += d == 2 ? "-i-" : "-";
        return true;
    }
  }
};

}  // namespace

std::string AmountInWords(double value, std::string_view mode) {
  const Language language = SessionLanguage();
  const WordTable& table = Table(language);
  const char kind = mode.empty() ? 'm' : static_cast<char>(std::tolower(static_cast<unsigned char>(mode[0])));

  // The integer part and the cents, and the gender of the words.
  double whole = 0;
  int cents = 0;
  bool withCents = false;
  bool masculine = true;
  if (kind == 'p') {
    // The peseta rate is the single-precision constant the suite has always
    // converted with.
    const double rate = static_cast<double>(166.386f);
    whole = std::isfinite(value) ? WholeLastNineDigits(std::fabs(value) / 100 * rate) : 0;
    masculine = false;
  } else if (kind == 'm' || kind == 'f') {
    whole = WholeLastNineDigits(value);
    masculine = kind == 'm';
  } else {
    withCents = true;
    const double magnitude = std::isfinite(value) ? std::fabs(value) : 0;
    // fmod is exact, so the cents stay within 0..100 however large the
    // value; the integer part only matters in its last nine digits.
    double integer = std::fmod(std::floor(magnitude / 100), 1e9);
    const double remainder = std::floor(std::fmod(magnitude, 100) + 0.5);
    cents = static_cast<int>(std::clamp(remainder, 0.0, 100.0));
    // 99.6 hundredths round up to a whole unit, not to "cent cents".
    if (cents == 100) {
      integer = std::fmod(integer + 1, 1e9);
      cents = 0;
    }
    whole = integer;
  }

  // Four groups of three digits: millions, thousands, units, cents.
  const auto integer = static_cast<int64_t>(whole);
  const std::array<int, 4> groups{static_cast<int>(integer / 1000000), static_cast<int>(integer / 1000 % 1000),
                                  static_cast<int>(integer % 1000), cents};
  const bool perGroupScale = language == Language::kSpanish || language == Language::kGalician;

  std::string out;
  for (int g = 0; g < 4; ++g) {
    const int n = groups[static_cast<std::size_t>(g)];
    const Spelling s{language, table, masculine, g};
    // A thousand is the thousands word alone.
    if (!(g == 1 && n == 1)) {
      const int h = n / 100;
      const int t = n / 10 % 10;
      int u = n % 10;
      if (h > 0) s.Hundreds(out, h, n % 100);
      bool joins = false;
      if (t == 1 && u < table.teenLimit) {
        out += table.units[static_cast<std::size_t>(10 + u)];
        EndWord(out, false);
        u = 0;
      } else if (t > 0) {
        joins = s.Tens(out, t, u);
        if (!joins) EndWord(out, false);
      }
      if (u > 0) {
        out += s.Unit(u);
        EndWord(out, false);
      }
    }
    // The group's scale word.
    const bool spellScale = g == 3 ? false
                            : g == 2 ? cents > 0 && (perGroupScale ? n != 0 : integer != 0)
                                     : n != 0;
    if (spellScale) {
      out += g == 0 ? table.millions : g == 1 ? table.thousands : table.conjunction;
    }
    if (g == 0) {
      if (n != 0) out += n > 1 ? table.millionMore : table.millionOne;
    } else if (!out.empty()) {
      RemoveTrailingBlanks(out);
      out += ' ';
    }
  }
  if (withCents && cents > 0) {
    RemoveTrailingBlanks(out);
    out += cents > 1 ? table.centMore : table.centOne;
  }
  RemoveTrailingBlanks(out);
  return out;
}

}  // namespace kestrova
