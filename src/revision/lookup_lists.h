// The look-up lists of the revision form: the line each record shows in a
// list, and the hand-over of a chosen record to the form.  They are the
// form input's list hooks (console/form_input.h) for the job's form.
//
//   list  file            line
//   1     estates         the estate number's four digits, two blanks, the
//                         first address line
//   2, 3  units           estate and unit number, four digits each with a
//                         "." between, two blanks, tenant name, two
//                         blanks, designation
//   4     letter texts    text code, two blanks, description
//   5, 6  concept types   the key byte read back as two digits, two blanks,
//                         description
//
// Choosing a line fills the field F4 was pressed on from the record's key:
// the estate number, the unit number (and the estate number into the field
// before it, the unit's estate), the text code, or the concept number.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

// The line of the record just read for list `list`; false for a list
// number that is not one of the six.
bool RevisionListLine(int16_t list, std::string& line);

// Fills field `field` of screen `screen` (and, for units, the field before
// it) from the chosen record of list `list`.
void HandOverListChoice(int16_t list, int16_t screen, int16_t field);

// The key list `list` opens at for F4 on field `field` of `screen`: the
// estate, the estate and unit (the unit field's estate is the field before
// it), the text code or the concept key that the field holds, or what was
// just typed into it; empty when the field is blank.
std::string RevisionListStart(int16_t list, int16_t screen, int16_t field);

}  // namespace kestrova
