// The revision form's hooks besides the check: field descriptions, look-up
// list lines and the hand-over of a chosen line, and their installation on
// the form input.
#include <string>

#include "calendar/date_texts.h"
#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "console/form_input.h"
#include "job/job_form.h"
#include "job/language.h"
#include "revision/lookups.h"
#include "revision/parameters.h"


namespace kestrova {
namespace {

// Value types of the form's fields (input-control code 4) and the lists
// that tell which record a field names (code 5).
constexpr int16_t kDateType = 1;
constexpr int16_t kCountType = 11;
constexpr int16_t kSmallNumberType = 6;
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

std::string ConceptDescription(std::string_view key) {
  ConceptType type;
  if (FindConceptType(key, type) != 0) return TranslateText("*** conc.no def. ***");
  return type.description;
}

// A packed number's digits as a plain number ("0012" -> "12").
std::string PlainNumber(std::string_view packed) {
  const std::string digits = UnpackDigits(packed);
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

void DefaultConfirmation(int16_t screen, int32_t& key) {
  int16_t first = 0;
  int16_t second = 0;
  RunFormScreen(screen, key, first, second);
}

// Every record of a list gets a line.
bool ListLineHook(int16_t list, std::string& line) {
  line = ListLine(list);
  return true;
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
  if (list == kTextList) {
    std::string description;
    text = FindLetterText(f->value, description) == 0 ? description
                                                      : TranslateText("*** text inexistent ***");
  } else if (list == kNumberedConceptList) {
    text = ConceptDescription(NumberedConceptKey(FieldNumber(f->value)));
  } else if (list == kCodedConceptList) {
    text = ConceptDescription(CodedConceptKey(FieldNumber(f->value)));
  } else if (type == kDateType) {
    text = DateInWords(ParseDate(TrimRight(f->value)), 0, "dma");
  } else if (type == kCountType || type == kSmallNumberType) {
    text = FormatWithMask("ZZ9", FieldNumber(f->value));
  } else {
    text = FormatWithMask("Z,ZZ9", FieldNumber(f->value));
  }
  // The description fills its area exactly.
  text.resize(static_cast<std::size_t>(f->controls[1]), ' ');
  return text;
}

std::string ListLine(int16_t list) {
  switch (list) {
    case 1: {
      const auto estate = RecordFromBytes<EstateRecord>(FileRecord(kEstateFile));
      return UnpackDigits(estate.EstateCode()).substr(1) + "  " + estate.AddressLine(1);
    }
    case 2:
    case 3: {
      const auto unit = RecordFromBytes<UnitRecord>(FileRecord(kUnitFile));
      return UnpackDigits(unit.UnitKey()).substr(5) + "  " + unit.TenantName() + "  " +
             unit.UnitDesignation();
    }
    case 4: {
      const auto text = RecordFromBytes<TextRecord>(FileRecord(kTextFile));
      return text.TextCode() + "  " + text.Description();
    }
    case 5:
    case 6: {
      const auto type = RecordFromBytes<ConceptTypeRecord>(FileRecord(kConceptTypeFile));
      return UnpackDigits(std::string(1, static_cast<char>(type.ConceptCode()))) + "  " +
             type.Description();
    }
    default:
      return {};
  }
}

void HandOverListLine(int16_t list, int16_t screen, int16_t field) {
  switch (list) {
    case 1: {
      // The estate goes to the estate field the list was opened on.
      const auto estate = RecordFromBytes<EstateRecord>(FileRecord(kEstateFile));
      PlaceFieldValue(screen, field == 6 || field == 7 ? 6 : 4, PlainNumber(estate.EstateCode()));
      break;
    }
    case 2:
    case 3: {
      const auto unit = RecordFromBytes<UnitRecord>(FileRecord(kUnitFile));
      const int estateField = list == 2 ? 4 : 6;
      PlaceFieldValue(screen, estateField, PlainNumber(unit.EstateCode()));
      PlaceFieldValue(screen, estateField + 1, PlainNumber(unit.UnitNumber()));
      break;
    }
    case 4: {
      const auto text = RecordFromBytes<TextRecord>(FileRecord(kTextFile));
      PlaceFieldValue(screen, 12, TrimRight(text.TextCode()));
      break;
    }
    case 5:
    case 6: {
      // The key byte read back as two digits: 1..10 for numbered concepts,
      // 128 + the code for coded ones.
      const auto type = RecordFromBytes<ConceptTypeRecord>(FileRecord(kConceptTypeFile));
      PlaceFieldValue(screen, list == 5 ? 8 : 10,
                      PlainNumber(std::string(1, static_cast<char>(type.ConceptCode()))));
      break;
    }
    default:
      break;
  }
}

void InstallRevisionFormHooks() {
  ConfirmationScreenRunner() = DefaultConfirmation;
  FormHooks& hooks = FormInputHooks();
  hooks.check = ValidateRevisionParameters;
  hooks.describe = FieldDescription;
  hooks.listLine = ListLineHook;
  hooks.handOver = HandOverListLine;
}

}  // namespace kestrova
