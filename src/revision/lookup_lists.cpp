#include "revision/lookup_lists.h"

#include "calendar/numeric.h"
#include "platform/blanks.h"
#include "revision/records.h"
#include "session/job_form.h"

namespace kestrova {
namespace {

std::string LastDigits(const std::string& digits, std::size_t n) {
  return digits.size() > n ? digits.substr(digits.size() - n) : digits;
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
      line = LastDigits(UnpackDigits(r.estate.EstateCode()), 3) + "  " + r.estate.AddressLine(1);
      return true;
    case 2:
    case 3:
      line = LastDigits(UnpackDigits(r.unit.UnitKey()), 3) + "  " + r.unit.TenantName() + "  " +
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

}  // namespace kestrova
