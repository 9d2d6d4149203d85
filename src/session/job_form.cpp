#include "session/job_form.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "session/language.h"
#include "session/list_input.h"
#include "session/session.h"

namespace kestrova {
namespace {

// Bounds on what a form definition may announce.  The job's own form has two
// screens and six lists; the bounds only stop a damaged file from asking for
// millions of slots.
constexpr int16_t kMostScreens = 999;
constexpr int16_t kMostFieldSlots = 999;
constexpr int16_t kMostLists = 999;

struct FormReader {
  ListInput in;
  std::string problem;
  bool endReached = false;  // the last failure was the end of the file

  bool Fail(const std::string& what) {
    if (problem.empty()) problem = "line " + std::to_string(in.itemLine) + ": " + what;
    return false;
  }

  bool Number(int16_t& value, const char* what) {
    switch (ReadNumberItem(in, value)) {
      case ItemStatus::kOk: return true;
      case ItemStatus::kEnd:
        endReached = true;
        return Fail(std::string("the file ends where ") + what + " is due");
      case ItemStatus::kNotNumber: return Fail(std::string(what) + " is not a number");
    }
    return false;
  }

  bool Text(std::string& value, const char* what) {
    if (ReadTextItem(in, value) == ItemStatus::kOk) return true;
    endReached = true;
    return Fail(std::string("the file ends where ") + what + " is due");
  }
};

bool ReadHeader(FormReader& r, JobFormState& form) {
  if (!r.Number(form.screenCount, "the screen count") ||
      !r.Number(form.fieldCapacity, "the field capacity")) {
    return false;
  }
  if (form.screenCount < 1 || form.screenCount > kMostScreens) {
    return r.Fail("the screen count " + std::to_string(form.screenCount) + " is out of range");
  }
  if (form.fieldCapacity < 0 || form.fieldCapacity > kMostFieldSlots) {
    return r.Fail("the field capacity " + std::to_string(form.fieldCapacity) + " is out of range");
  }
  form.screens.assign(static_cast<std::size_t>(form.screenCount), FormScreen{});
  for (FormScreen& screen : form.screens) {
    screen.fields.assign(static_cast<std::size_t>(form.fieldCapacity), FormField{});
  }
  return true;
}

bool ReadScreen(FormReader& r, int16_t fieldCapacity, FormScreen& screen) {
  if (!r.Text(screen.name, "a screen name") || !r.Number(screen.fieldCount, "the field count") ||
      !r.Number(screen.linkScreen, "the link screen") || !r.Number(screen.top, "the window top") ||
      !r.Number(screen.left, "the window left") || !r.Number(screen.bottom, "the window bottom") ||
      !r.Number(screen.right, "the window right")) {
    return false;
  }
  if (screen.fieldCount < 0 || screen.fieldCount > fieldCapacity) {
    return r.Fail("screen " + screen.name + " has " + std::to_string(screen.fieldCount) +
                  " fields, more than the capacity " + std::to_string(fieldCapacity));
  }
  for (int16_t j = 0; j < screen.fieldCount; ++j) {
    FormField& field = screen.fields[static_cast<std::size_t>(j)];
    if (!r.Number(field.labelRow, "a label row") ||
        !r.Number(field.labelColumn, "a label column") || !r.Text(field.label, "a label") ||
        !r.Number(field.width, "a value width")) {
      return false;
    }
    for (int16_t& code : field.controls) {
      if (!r.Number(code, "an input-control code")) return false;
    }
    if (!r.Text(field.help, "a help text")) return false;
    if (field.width < 0) return r.Fail("a value width is negative");
    field.value.assign(static_cast<std::size_t>(field.width), ' ');
    field.label = TranslateText(field.label);
    field.help = TranslateText(field.help);
  }
  return true;
}

// A list record cut short by the end of the file is left empty: the lists
// before it are kept, as for a file that announces more lists than it holds.
bool ReadList(FormReader& r, FormList& list) {
  FormList read;
  for (int k = 0; k < 7; ++k) {
    if (!r.Number(read.codes[static_cast<std::size_t>(k)], "a list code")) return false;
  }
  if (!r.Text(read.title, "a list title") || !r.Number(read.codes[7], "a list code")) return false;
  read.title = TranslateText(read.title);
  list = read;
  return true;
}

}  // namespace

JobFormState& JobForm() {
  static JobFormState form;
  return form;
}

void ResetJobFormForTesting() { JobForm() = JobFormState{}; }

std::string JobFormPath() { return Session().jobRoot + "FORMS\\" + JobName() + ".JPN"; }

FormLoadResult ParseJobForm(std::string_view text) {
  JobFormState form;
  FormReader r{MakeListInput(text), {}};
  int state = 0;
  int16_t screen = 0;
  int16_t list = 0;
  bool stop = false;
  while (!stop && !ListInputAtEnd(r.in)) {
    SkipCommentLines(r.in);
    switch (state) {
      case 0:  // form header
        if (!ReadHeader(r, form)) return {false, r.problem};
        state = 1;
        break;
      case 1:  // one screen record
        if (!ReadScreen(r, form.fieldCapacity, form.screens[static_cast<std::size_t>(screen)])) {
          return {false, r.problem};
        }
        if (++screen == form.screenCount) state = 2;
        break;
      case 2: {  // list header; a file may end before it
        if (ListInputAtEnd(r.in)) {
          stop = true;
          break;
        }
        if (!r.Number(form.listCount, "the list count")) return {false, r.problem};
        if (form.listCount < 0 || form.listCount > kMostLists) {
          return {false, "line " + std::to_string(r.in.itemLine) + ": the list count " +
                             std::to_string(form.listCount) + " is out of range"};
        }
        form.lists.assign(static_cast<std::size_t>(form.listCount), FormList{});
        state = 3;
        stop = form.listCount == 0;
        break;
      }
      case 3:  // one list record; anything after the last one is not read
        if (ListInputAtEnd(r.in)) {
          stop = true;
          break;
        }
        if (!ReadList(r, form.lists[static_cast<std::size_t>(list)])) {
          // Cut short by the end of the file: keep what was read.  Anything
          // else (a word where a number is due) is a damaged file.
          if (!r.endReached) return {false, r.problem};
          stop = true;
          break;
        }
        stop = ++list == form.listCount;
        break;
    }
  }
  if (state == 0) return {false, "the file holds no form header"};
  if (state == 1) {
    return {false, "the file ends after " + std::to_string(screen) + " of " +
                       std::to_string(form.screenCount) + " screens"};
  }
  JobForm() = std::move(form);
  return {true, {}};
}

void LoadJobForm() {
  const std::string path = JobFormPath();
  std::string text;
  if (!ReadWholeFile(path, text)) FatalError(Utf8ToCp850(NativePath(path)), "the form definition cannot be read");
  const FormLoadResult result = ParseJobForm(text);
  if (!result.ok) FatalError(Utf8ToCp850(NativePath(path)), result.problem);
}

void PlaceFieldValue(int screen, int field, std::string_view value) {
  JobFormState& form = JobForm();
  if (screen < 1 || screen > static_cast<int>(form.screens.size())) return;
  FormScreen& s = form.screens[static_cast<std::size_t>(screen - 1)];
  if (field < 1 || field > s.fieldCount) return;
  FormField& f = s.fields[static_cast<std::size_t>(field - 1)];
  std::string placed(value.substr(0, static_cast<std::size_t>(f.width)));
  placed.resize(static_cast<std::size_t>(f.width), ' ');
  f.value = std::move(placed);
}

}  // namespace kestrova
