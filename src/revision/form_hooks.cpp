// The revision form's field descriptions, and the installation of the
// check and description hooks on the form input (the look-up list hooks are
// in revision/lookup_lists).
#include <string>

#include "calendar/date_texts.h"
#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "console/form_input.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "revision/lookup_lists.h"
#include "revision/lookups.h"
#include "revision/parameters.h"
#include "session/job_form.h"
#include "session/language.h"


namespace kestrova {
namespace {

// Value types of the form's fields (input-control code 4) and the lists
// that tell which record a field names (code 5).
constexpr int16_t kDateType = 1;
constexpr int16_t kCountType = 11;
constexpr int16_t kSmallNumberType = 6;
constexpr int16_t kEstateList = 1;
constexpr int16_t kFromUnitList = 2;
constexpr int16_t kToUnitList = 3;
constexpr int16_t kTextList = 4;
constexpr int16_t kNumberedConceptList = 5;
constexpr int16_t kCodedConceptList = 6;

const FormField* Field(int16_t screen, int16_t field) {
  const JobFormState& form = JobForm();
  if (screen < 1 || screen > static_cast<int16_t>(form.screens.size())) return nullptr;
  const FormScreen& s = form.screens[static_cast<std::size_t>(screen - 1)];
  if (field < 1 || field > s.fieldCount || field > static_cast<int16_t>(s.fields.size())) {
    return nullptr;
  }
  return &s.fields[static_cast<std::size_t>(field - 1)];
}

bool IsBlankValue(std::string_view value) { return TrimBlanks(value).empty(); }

std::string ConceptDescription(std::string_view key) {
  ConceptType type;
  if (FindConceptType(key, type) != 0) return TranslateText("*** conc.no def. ***");
  return type.description;
}

// What an estate number names: its first address line.  The estate and
// unit fields are the bounds of a range, which need not be records (unit 0,
// estate 9999): a number that names nothing shows nothing.
std::string EstateDescription(std::string_view estate) {
  const std::string code = PackDottedCode(TrimBlanks(estate)).substr(0, 2);
  if (FindRecord(kEstateFile, code, 0) != 0) return {};
  return RecordFromBytes<EstateRecord>(FileRecord(kEstateFile)).AddressLine(1);
}

// What a unit number names, inside the estate of the field before it: its
// tenant and its floor and door.
std::string UnitDescription(std::string_view estate, std::string_view unit) {
  if (IsBlankValue(estate)) return {};
  const std::string key = PackDottedCode(std::string(TrimBlanks(estate)) + "." + std::string(TrimBlanks(unit)));
  if (key.size() < 4 || FindRecord(kUnitFile, key.substr(0, 4), 0) != 0) return {};
  const auto record = RecordFromBytes<UnitRecord>(FileRecord(kUnitFile));
  return std::string(TrimTrailingBlanks(NameForDisplay(record.TenantName()))) + "  " + record.UnitDesignation();
}

void DefaultConfirmation(int16_t screen, int32_t& key) {
  int16_t first = 0;
  int16_t second = 0;
  RunFormScreen(screen, key, first, second);
}

}  // namespace

FormScreenRunner& ConfirmationScreenRunner() {
  static FormScreenRunner runner = DefaultConfirmation;
  return runner;
}

std::string FieldDescription(int16_t screen, int16_t field) {
  const FormField* f = Field(screen, field);
  if (f == nullptr || f->controls[1] <= 0) return {};
  const int16_t type = f->controls[3];
  const int16_t list = f->controls[4];
  std::string text;
  // An empty field names nothing: no complaint about what is not there.
  const bool names = list == kEstateList || list == kFromUnitList || list == kToUnitList ||
                     list == kTextList || list == kNumberedConceptList || list == kCodedConceptList;
  if (names && IsBlankValue(f->value)) {
    text.clear();
  } else if (list == kEstateList) {
    text = EstateDescription(f->value);
  } else if (list == kFromUnitList || list == kToUnitList) {
    const FormField* estate = Field(screen, static_cast<int16_t>(field - 1));
    text = estate == nullptr ? std::string() : UnitDescription(estate->value, f->value);
  } else if (list == kTextList) {
    std::string description;
    text = FindLetterText(f->value, description) == 0 ? description
                                                      : TranslateText("*** text inexistent ***");
  } else if (list == kNumberedConceptList) {
    text = ConceptDescription(NumberedConceptKey(FieldNumber(f->value)));
  } else if (list == kCodedConceptList) {
    text = ConceptDescription(CodedConceptKey(FieldNumber(f->value)));
  } else if (type == kDateType) {
    text = DateInWords(ParseDate(TrimTrailingBlanks(f->value)), 0, "dma");
  } else if (type == kCountType || type == kSmallNumberType) {
    text = FormatWithMask("ZZ9", FieldNumber(f->value));
  } else {
    text = FormatWithMask("Z,ZZ9", FieldNumber(f->value));
  }
  // The description fills its area exactly.
  text.resize(static_cast<std::size_t>(f->controls[1]), ' ');
  return text;
}

void InstallRevisionFormHooks() {
  ConfirmationScreenRunner() = DefaultConfirmation;
  FormHooks& hooks = FormInputHooks();
  hooks.check = ValidateRevisionParameters;
  hooks.describe = FieldDescription;
  hooks.listStart = RevisionListStart;
}

}  // namespace kestrova
