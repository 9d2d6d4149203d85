#include "revision/parameters.h"

#include <cmath>

#include "calendar/date_texts.h"
#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "console/form_input.h"
#include "console/keyboard.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/screen.h"
#include "revision/lookups.h"
#include "session/job_form.h"
#include "session/language.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

RevisionParameters& ParameterState() {
  static RevisionParameters parameters;
  return parameters;
}

// The messages of the checks, in Catalan; each goes through the catalogue
// and gets its variable part appended as it is.
constexpr std::string_view kNoIncreaseConcept = "NO EXISTEIX EL CONCEPTE D'AUGMENT ";
constexpr std::string_view kTheConcept = "EL CONCEPTE ";
constexpr std::string_view kNotIncrements = " NO ÉS DE TIPUS INCREMENTS"_cp;
constexpr std::string_view kNoArrearsConcept = "NO EXISTEIX EL CONCEPTE D'ENDARRERIMENTS ";
constexpr std::string_view kNotOthers = " NO ÉS DE TIPUS ALTRES"_cp;
constexpr std::string_view kNoText = "NO EXISTEIX EL TEXT ";
constexpr std::string_view kNoIndex = "NO EXISTEIX L'ÍNDEX DE "_cp;
constexpr std::string_view kEmptyRange = "NO HI HA CAP DEPARTAMENT ENTRE «DES DE» I «FINS A»"_cp;

// The fields of screen 1 a failed check sends the operator back to.
constexpr int16_t kApplicationDateField = 2;
constexpr int16_t kFromEstateField = 4;
constexpr int16_t kIncreaseConceptField = 8;
constexpr int16_t kArrearsConceptField = 10;
constexpr int16_t kTextField = 12;

// Concept classes the two concept fields must have.
constexpr int16_t kIncrementsClass = 1;
constexpr int16_t kOthersClass = 9;

// The message row of the checks.
constexpr int kMessageRow = 12;

std::string FieldValue(int screen, int field) {
  const JobFormState& form = JobForm();
  if (screen < 1 || screen > static_cast<int>(form.screens.size())) return {};
  const FormScreen& s = form.screens[static_cast<std::size_t>(screen - 1)];
  if (field < 1 || field > static_cast<int>(s.fields.size())) return {};
  return s.fields[static_cast<std::size_t>(field - 1)].value;
}

std::string Trimmed(std::string_view text) { return std::string(TrimBlanks(text)); }

// Estate and unit packed as a unit key, always 4 bytes: a blank unit
// number stops the packing after the estate, and counts as unit 0.
std::string UnitKeyOf(std::string_view estate, std::string_view unit) {
  std::string key = PackDottedCode(Trimmed(estate) + "." + Trimmed(unit));
  key.resize(4, static_cast<char>(128));
  return key;
}

// One message in its own window at row 12: pending keys are dropped, the
// operator's next key (or click) closes it.
void ShowCheckMessage(const std::string& text) {
  ShowMessageWindow(kMessageRow, text);
  FlushKeyboard();
  ReadKey();
  PopWindow();
}

// Checks 3 and 4: a concept that must exist with a given class.
bool CheckConcept(std::string_view key, int16_t number, int16_t wantedClass,
                  std::string_view missingText, std::string_view wrongClassText) {
  ConceptType type;
  if (FindConceptType(key, type) != 0) {
    ShowCheckMessage(TranslateText(missingText) + NumberToPlainText(number));
    return false;
  }
  if (type.conceptClass != wantedClass) {
    ShowCheckMessage(TranslateText(kTheConcept) + std::string(TrimTrailingBlanks(type.description)) +
                     TranslateText(wrongClassText));
    return false;
  }
  return true;
}

// The first failed check names the field the cursor goes back to.
void Failed(bool& failed, int16_t field) {
  if (!failed) FormFaultField() = field;
  failed = true;
}

}  // namespace

RevisionParameters& Revision() { return ParameterState(); }

void ResetRevisionParametersForTesting() { ParameterState() = RevisionParameters(); }

int16_t FieldNumber(std::string_view text) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  double value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < 1e9) value = value * 10 + (text[i] - '0');
  }
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) {
      value += (text[i] - '0') * scale;
    }
  }
  value = RoundHalfEven(negative ? -value : value);
  if (value > 32767) return 32767;
  if (value < -32768) return -32768;
  return static_cast<int16_t>(value);
}

void FillRevisionParameters() {
  RevisionParameters& p = ParameterState();
  p.Mode = FieldValue(1, 1);
  p.ApplicationDate = ParseDate(Trimmed(FieldValue(1, 2)));
  p.Regime = FieldNumber(FieldValue(1, 3));
  p.FromKey = UnitKeyOf(FieldValue(1, 4), FieldValue(1, 5));
  p.ToKey = UnitKeyOf(FieldValue(1, 6), FieldValue(1, 7));
  p.IncreaseConcept = FieldNumber(FieldValue(1, 8));
  p.ArrearsMonths = FieldNumber(FieldValue(1, 9));
  p.ArrearsConcept = FieldNumber(FieldValue(1, 10));
  p.LetterDate = ParseDate(Trimmed(FieldValue(1, 11)));
  p.TextCode = FieldValue(1, 12);
}

bool FindRevisionIndex() {
  RevisionParameters& p = ParameterState();
  p.IndexDate = p.ApplicationDate.substr(0, 3) + PackDigits("01");
  const int16_t mode = p.Regime == 2 ? 0 : -1;
  if (FindRecord(kPriceIndexFile, PriceIndexKey('I', p.IndexDate), mode) != 0) return false;
  const PriceIndexEntry entry = CurrentPriceIndex();
  if (!IsSpanishSeries(entry, 'I')) return false;
  p.IndexDate = entry.date;
  // Thousandths of a point, rounded from the extended product (halves to
  // even in the default rounding mode).
  p.IndexValue = static_cast<double>(std::nearbyint(1000.0L * entry.value));
  return true;
}

bool RangeHasUnits(std::string_view fromKey, std::string_view toKey) {
  if (fromKey > toKey) return false;
  if (FindRecord(kUnitFile, fromKey, 1) != 0) return false;
  return RecordFromBytes<UnitRecord>(FileRecord(kUnitFile)).UnitKey() <= toKey;
}

int16_t ValidateRevisionParameters(int16_t screen, int32_t& key) {
  // 1. Escape ends the run without a check; only screen 1 is checked.
  if (key == kKeyEscape || screen != 1) return 0;
  // 2. The parameters from the form.
  FillRevisionParameters();
  RevisionParameters& p = ParameterState();
  bool failed = false;
  // 3. The increase concept: a numbered concept of class 1.
  if (!CheckConcept(NumberedConceptKey(p.IncreaseConcept), p.IncreaseConcept, kIncrementsClass,
                    kNoIncreaseConcept, kNotIncrements)) {
    Failed(failed, kIncreaseConceptField);
  }
  // 4. The arrears concept, only when arrears are asked for: a coded
  //    concept of class 9.
  if (p.ArrearsMonths != 0 &&
      !CheckConcept(CodedConceptKey(p.ArrearsConcept), p.ArrearsConcept, kOthersClass,
                    kNoArrearsConcept, kNotOthers)) {
    Failed(failed, kArrearsConceptField);
  }
  // 5. The letter text, only for letters.
  std::string description;
  if (p.Mode == "N" && FindLetterText(p.TextCode, description) != 0) {
    ShowCheckMessage(TranslateText(kNoText) + std::string(TrimTrailingBlanks(p.TextCode)));
    Failed(failed, kTextField);
  }
  // 6. The index of the application month.
  if (!FindRevisionIndex()) {
    ShowCheckMessage(TranslateText(kNoIndex) + DateInWords(p.IndexDate, 0, "dma"));
    Failed(failed, kApplicationDateField);
  }
  // An inverted or empty range would give a pass with nothing in it and no
  // word of why: say so instead.
  if (!RangeHasUnits(p.FromKey, p.ToKey)) {
    ShowCheckMessage(TranslateText(kEmptyRange));
    Failed(failed, kFromEstateField);
  }
  // 7. Every message has been shown; a failure keeps the form open.
  if (failed) return -1;
  // 8. Confirmation on screen 2, ended by the key handed back.
  PlaceFieldValue(2, 1, "");
  ConfirmationScreenRunner()(2, key);
  return FieldValue(2, 1) == "S" ? 0 : -1;
}

}  // namespace kestrova
