#include "revision/lookup_lists.h"

#include <cstdlib>

#include "calendar/numeric.h"
#include "console/form_input.h"
#include "platform/blanks.h"
#include "revision/records.h"
#include "session/job_form.h"

namespace kestrova {
namespace {

// Estate and unit numbers go up to 9999: all four digits are shown, or
// estates 20 and 1020 would read the same.
constexpr std::size_t kNumberDigits = 4;

std::string LastDigits(const std::string& digits, std::size_t n) {
  return digits.size() > n ? digits.substr(digits.size() - n) : digits;
}

// A field's value as the operator last saw it: what was typed into the field
// being edited, else what it holds.
std::string ShownValue(int16_t screen, int16_t field) {
  const JobFormState& form = JobForm();
  if (screen < 1 || screen > static_cast<int16_t>(form.screens.size())) return {};
  const FormScreen& s = form.screens[static_cast<std::size_t>(screen - 1)];
  if (field < 1 || field > static_cast<int16_t>(s.fields.size())) return {};
  if (LastEdit().field == field) return LastEdit().value;
  return s.fields[static_cast<std::size_t>(field - 1)].value;
}

std::string Trimmed(const std::string& text) {
  return std::string(TrimBlanks(text));
}

// A digit text as the form's number fields hold it: no leading zeros.
std::string AsNumber(const std::string& digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}


}  // namespace

bool RevisionListLine(int16_t list, std::string& line) {
  const ApplicationRecords& r = Records();
  switch (list) {
    case 1:
      line = LastDigits(UnpackDigits(r.estate.EstateCode()), kNumberDigits) + "  " + r.estate.AddressLine(1);
      return true;
    case 2:
    case 3:
      // The estate shows on every line: the list runs on from one estate
      // into the next, and choosing a line sets both fields.
      line = LastDigits(UnpackDigits(r.unit.EstateCode()), kNumberDigits) + "." +
             LastDigits(UnpackDigits(r.unit.UnitNumber()), kNumberDigits) + "  " + r.unit.TenantName() + "  " +
             r.unit.UnitDesignation();
      return true;
    case 4:
      line = r.text.TextCode() + "  " + r.text.Description();
      return true;
    case 5:
    case 6:
      line = UnpackDigits(std::string(1, static_cast<char>(r.conceptType.ConceptCode()))) + "  " +
             r.conceptType.Description();
      return true;
    default:
      return false;
  }
}

void HandOverListChoice(int16_t list, int16_t screen, int16_t field) {
  const ApplicationRecords& r = Records();
  switch (list) {
    case 1:
      PlaceFieldValue(screen, field, AsNumber(UnpackDigits(r.estate.EstateCode())));
      break;
    case 2:
    case 3:
      PlaceFieldValue(screen, field - 1, AsNumber(UnpackDigits(r.unit.EstateCode())));
      PlaceFieldValue(screen, field, AsNumber(UnpackDigits(r.unit.UnitNumber())));
      break;
    case 4:
      PlaceFieldValue(screen, field, TrimTrailingBlanks(r.text.TextCode()));
      break;
    case 5:
    case 6:
      PlaceFieldValue(screen, field,
                      AsNumber(UnpackDigits(std::string(1, static_cast<char>(r.conceptType.ConceptCode())))));
      break;
    default:
      break;
  }
}

std::string RevisionListStart(int16_t list, int16_t screen, int16_t field) {
  switch (list) {
    case 1: {
      const std::string estate = Trimmed(ShownValue(screen, field));
      return estate.empty() ? std::string() : PackDottedCode(estate).substr(0, 2);
    }
    case 2:
    case 3: {
      // The unit field's estate is the field before it.
      const std::string estate = Trimmed(ShownValue(screen, static_cast<int16_t>(field - 1)));
      const std::string unit = Trimmed(ShownValue(screen, field));
      if (estate.empty()) return {};
      return PackDottedCode(estate + "." + (unit.empty() ? "0" : unit)).substr(0, 4);
    }
    case 4: {
      const std::string code = Trimmed(ShownValue(screen, field));
      return code;
    }
    case 5: {
      const std::string number = Trimmed(ShownValue(screen, field));
      return number.empty() ? std::string() : NumberedConceptKey(std::atoi(number.c_str()));
    }
    case 6: {
      const std::string number = Trimmed(ShownValue(screen, field));
      return number.empty() ? std::string() : CodedConceptKey(std::atoi(number.c_str()));
    }
    default:
      return {};
  }
}

}  // namespace kestrova
