#include "console/list_browser.h"

#include <algorithm>

#include "calendar/text_checks.h"
#include "console/form_input.h"
#include "console/keyboard.h"
#include "platform/screen.h"
#include "session/job_form.h"
#include "storage/record_interface.h"
#include "storage/record_locks.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

struct ListView {
  int16_t top = 4, left = 10, bottom = 20, right = 70;
  int16_t searchColumn = 1;
  std::vector<std::string> lines;
  std::vector<int32_t> positions;  // record position of each line
  int32_t selected = 0;            // index of the highlighted line
  int32_t first = 0;               // index of the line on the first row
  std::string typed;               // letters typed so far

  int Rows() const { return bottom - top - 1; }
  int Width() const { return right - left - 1; }
};

void PlaceWindow(ListView& view, const FormList& list) {
  const auto& c = list.codes;
  const bool fits = c[0] >= 1 && c[2] <= kScreenRows && c[1] >= 1 && c[3] <= kScreenColumns &&
                    c[2] - c[0] >= 2 && c[3] - c[1] >= 2;
  if (fits) {
    view.top = c[0];
    view.left = c[1];
    view.bottom = c[2];
    view.right = c[3];
  }
  view.searchColumn = std::max<int16_t>(c[7], 1);
}

// The lines of the file's records, from the lowest key on.
void ReadLines(ListView& view, int16_t list, int16_t fileNumber, int16_t keyNumber) {
  const FormHooks& hooks = FormInputHooks();
  if (hooks.listLine == nullptr) return;
  int16_t status = FindByKey(fileNumber, keyNumber, "", 1);
  while (status == 0 && static_cast<int32_t>(view.lines.size()) < kMaxListLines) {
    std::string line;
    if (hooks.listLine(list, line)) {
      view.lines.push_back(std::move(line));
      view.positions.push_back(GetRecordPosition(fileNumber));
    }
    status = StepRecords(fileNumber, 1);
  }
}

void Draw(const ListView& view) {
  for (int r = 1; r <= view.Rows(); ++r) {
    const int32_t index = view.first + r - 1;
    std::string text;
    if (index < static_cast<int32_t>(view.lines.size())) text = view.lines[static_cast<std::size_t>(index)];
    text.resize(static_cast<std::size_t>(view.Width()), ' ');
    SelectColours(index == view.selected && !view.lines.empty() ? "r" : "n");
    LocateInWindow(r, 1);
    WriteText(text);
  }
  SelectColours("n");
}

// Keeps the highlighted line on the window.
void Select(ListView& view, int32_t index) {
  const int32_t count = static_cast<int32_t>(view.lines.size());
  view.selected = std::clamp<int32_t>(index, 0, std::max(count - 1, 0));
  if (view.selected < view.first) view.first = view.selected;
  if (view.selected >= view.first + view.Rows()) view.first = view.selected - view.Rows() + 1;
}

void DrawTitle(const ListView& view, const std::string& title) {
  const int width = view.right - view.left - 1;
  const std::string shown = title.substr(0, static_cast<std::size_t>(std::max(width - 2, 0)));
  if (shown.empty()) return;
  SetCursorPosition(view.top, view.left + 1 + (width - static_cast<int>(shown.size())) / 2);
  WriteText(shown);
}

enum class Outcome { kGoOn, kChosen, kLeft };

Outcome Click(ListView& view, int32_t key) {
  const int column = -key / 100 % 100;
  const int row = -key % 100;
  if (key < -9999 || row < view.top || row > view.bottom || column < view.left || column > view.right) {
    return key < -9999 ? Outcome::kGoOn : Outcome::kLeft;
  }
  if (row == view.top) {
    Select(view, view.selected - 1);
  } else if (row == view.bottom) {
    Select(view, view.selected + 1);
  } else {
    const int32_t index = view.first + row - view.top - 1;
    if (index >= static_cast<int32_t>(view.lines.size())) return Outcome::kGoOn;
    if (index == view.selected) return Outcome::kChosen;
    Select(view, index);
  }
  return Outcome::kGoOn;
}

Outcome HandleKey(ListView& view, int32_t key) {
  const int32_t page = view.Rows();
  const int32_t count = static_cast<int32_t>(view.lines.size());
  if (key != kKeyBackspace && !(key >= 32 && key <= 254 && key != 127)) view.typed.clear();
  switch (key) {
    case kKeyEscape: return Outcome::kLeft;
    case kKeyEnter: return count > 0 ? Outcome::kChosen : Outcome::kGoOn;
    case kKeyUp: Select(view, view.selected - 1); break;
    case kKeyDown: Select(view, view.selected + 1); break;
    case kKeyPgUp:
      view.first = std::max(view.first - page, 0);
      Select(view, view.selected - page);
      break;
    case kKeyPgDn:
      view.first = std::max(std::min(view.first + page, count - page), 0);
      Select(view, view.selected + page);
      break;
    case kKeyHome: Select(view, 0); break;
    case kKeyEnd: Select(view, count - 1); break;
    case kKeyBackspace:
      if (!view.typed.empty()) view.typed.pop_back();
      break;
    default:
      if (key < 0) return Click(view, key);
      if (key >= 32 && key <= 254 && key != 127) {
        const int32_t found = FindTypedLine(view.lines, view.typed + static_cast<char>(key), view.searchColumn);
        if (found < 0) {
          Beep();
        } else {
          view.typed.push_back(static_cast<char>(key));
          Select(view, found);
        }
      }
      break;
  }
  return Outcome::kGoOn;
}

}  // namespace

int32_t FindTypedLine(const std::vector<std::string>& lines, const std::string& typed,
                      int16_t searchColumn) {
  FoldAccents() = -1;
  const std::string wanted = FoldText(typed);
  const std::size_t from = static_cast<std::size_t>(std::max<int16_t>(searchColumn, 1) - 1);
  int32_t found = -1;
  for (std::size_t i = 0; i < lines.size() && found < 0; ++i) {
    if (lines[i].size() < from) continue;
    const std::string start = FoldText(std::string_view(lines[i]).substr(from, wanted.size()));
    if (start == wanted) found = static_cast<int32_t>(i);
  }
  FoldAccents() = 0;
  return found;
}

bool BrowseList(int16_t list) {
  const JobFormState& form = JobForm();
  if (list < 1 || list > static_cast<int>(form.lists.size())) return false;
  const FormList& described = form.lists[static_cast<std::size_t>(list - 1)];
  const int16_t fileNumber = described.codes[4];
  // The screen that narrows the list comes first.
  if (described.codes[6] != 0) {
    int32_t key = 0;
    int16_t none1 = 0, none2 = 0;
    RunFormScreen(described.codes[6], key, none1, none2);
    if (key == kKeyEscape) return false;
  }
  // No record locks while the operator looks.
  int16_t status = 0;
  SetLockMode(fileNumber, "+d", status);
  ListView view;
  PlaceWindow(view, described);
  ReadLines(view, list, fileNumber, described.codes[5]);

  SelectColours("+n");
  PushWindow(view.top, view.left, view.bottom, view.right);
  DrawWindowFrame(1);
  DrawTitle(view, described.title);
  Outcome outcome = Outcome::kGoOn;
  while (outcome == Outcome::kGoOn) {
    Draw(view);
    outcome = HandleKey(view, ReadKey());
  }
  PopWindow();
  SelectColours("-");

  const bool chosen = outcome == Outcome::kChosen && !view.lines.empty();
  if (chosen) GoToRecordPosition(fileNumber, view.positions[static_cast<std::size_t>(view.selected)]);
  SetLockMode(fileNumber, "-", status);
  return chosen;
}

}  // namespace kestrova
