// The job's screen form, as loaded from its form definition file
// (JOBROOT + "FORMS\" + JobName + ".JPN").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

struct FormField {
  int16_t labelRow = 0;
  int16_t labelColumn = 0;
  std::string label;     // translated into the session language
  int16_t width = 0;     // value width w
  std::array<int16_t, 5> controls{};  // the five input-control codes
  std::string help;      // translated into the session language
  std::string value;     // exactly `width` characters (empty in unused slots)
};

struct FormScreen {
  std::string name;
  int16_t fieldCount = 0;  // n <= the form's field capacity
  int16_t linkScreen = 0;  // 0 = none
  int16_t top = 0, left = 0, bottom = 0, right = 0;  // top 0: no window
  std::vector<FormField> fields;  // field capacity slots; fields[0] is field 1
};

struct FormList {
  std::array<int16_t, 8> codes{};  // 6: screen filled in before the list
  std::string title;               // translated
};

struct JobFormState {
  int16_t screenCount = 0;
  int16_t fieldCapacity = 0;
  std::vector<FormScreen> screens;  // screens[0] is screen 1
  int16_t listCount = 0;
  std::vector<FormList> lists;      // lists[0] is list 1
};

JobFormState& JobForm();
void ResetJobFormForTesting();

// The path of the form definition file.
std::string JobFormPath();

// Outcome of reading a form definition.
struct FormLoadResult {
  bool ok = false;
  std::string problem;  // what is wrong and on which line, when not ok
};

// Fills JobForm from form definition text (code page 850).  Labels, help
// texts and list titles go through TranslateText.  A text that ends after
// its screens, or after fewer list records than announced, still loads (the
// missing lists stay empty); one that ends inside the header or a screen
// record, or has a non-number where a number is due, does not.
FormLoadResult ParseJobForm(std::string_view text);

// Reads the form definition file into JobForm; on any failure ends the job
// through FatalError naming the file and the problem.
void LoadJobForm();

// Puts a value into field `field` (from 1) of screen `screen` (from 1) the
// way defaults and input are placed: left-aligned, padded with spaces, cut
// to the field's width.  A field beyond the screen's field count is left as
// it is.
void PlaceFieldValue(int screen, int field, std::string_view value);

}  // namespace kestrova
