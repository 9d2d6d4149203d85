#include "console/list_browser.h"

#include <algorithm>

#include "calendar/text_checks.h"
#include "console/form_input.h"
#include "console/keyboard.h"
#include "platform/clock.h"
#include "platform/screen.h"
#include "session/job_form.h"
#include "storage/record_interface.h"
#include "storage/record_locks.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// Letters typed after a pause this long start a new search: an operator who
// stops typing and types again is looking for something else.
constexpr int64_t kSearchPauseMs = 1500;

struct ListView {
  int16_t top = 4, left = 10, bottom = 20, right = 70;
  int16_t searchColumn = 1;
  std::vector<std::string> lines;
  std::vector<int32_t> positions;  // record position of each line
  int32_t selected = 0;            // index of the highlighted line
  int32_t first = 0;               // index of the line on the first row
  std::string typed;               // letters typed so far
  int64_t typedAtMs = -1;          // when the last of them was typed
  std::vector<Cell> bottomFrame;   // the frame row the letters are shown on

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

// The letters typed so far, on the bottom frame, so the operator sees what
// the list is searching for; the frame comes back when they are dropped.
void DrawTyped(const ListView& view) {
  for (std::size_t i = 0; i < view.bottomFrame.size(); ++i) {
    WriteCell(view.bottom, view.left + static_cast<int>(i), view.bottomFrame[i]);
  }
  if (view.typed.empty()) return;
  const std::size_t room = static_cast<std::size_t>(std::max(view.Width() - 4, 0));
  std::string shown = view.typed.size() > room ? view.typed.substr(view.typed.size() - room) : view.typed;
  if (shown.empty()) return;
  SetCursorPosition(view.bottom, view.left + 2);
  SelectColours("r");
  WriteText(" " + shown + " ");
  SelectColours("n");
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

bool IsSearchLetter(int32_t key) { return key >= 32 && key <= 254 && key != 127; }

Outcome HandleKey(ListView& view, int32_t key) {
  const int32_t page = view.Rows();
  const int32_t count = static_cast<int32_t>(view.lines.size());
  // Any other key but Backspace, or a pause, ends the search.
  const int64_t now = MillisecondsOfDay();
  if ((!IsSearchLetter(key) && key != kKeyBackspace) ||
      (view.typedAtMs >= 0 && (now < view.typedAtMs || now - view.typedAtMs > kSearchPauseMs))) {
    view.typed.clear();
  }
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
      // Takes the last letter back; the search goes on from the others.
      if (!view.typed.empty()) view.typed.pop_back();
      view.typedAtMs = now;
      break;
    default:
      if (key < 0) return Click(view, key);
      if (IsSearchLetter(key)) {
        // A letter that matches no line beeps and is dropped; the letters
        // before it stay, so the next one can still match.
        view.typedAtMs = now;
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

// Highlights the first line at or after the start key, near the top of
// the window.
void SelectStart(ListView& view, int16_t fileNumber, int16_t keyNumber, std::string_view startKey) {
  if (startKey.empty() || view.lines.empty()) return;
  if (FindByKey(fileNumber, keyNumber, startKey, 1) != 0) {
    Select(view, static_cast<int32_t>(view.lines.size()) - 1);
    return;
  }
  // A record the list leaves out is passed for the next one that it shows.
  auto at = view.positions.end();
  int16_t status = 0;
  while (status == 0 && at == view.positions.end()) {
    at = std::find(view.positions.begin(), view.positions.end(), GetRecordPosition(fileNumber));
    if (at == view.positions.end()) status = StepRecords(fileNumber, 1);
  }
  if (at == view.positions.end()) {
    Select(view, static_cast<int32_t>(view.lines.size()) - 1);
    return;
  }
  const int32_t index = static_cast<int32_t>(at - view.positions.begin());
  const int32_t count = static_cast<int32_t>(view.lines.size());
  view.first = std::clamp<int32_t>(index, 0, std::max(count - view.Rows(), 0));
  Select(view, index);
}

bool BrowseList(int16_t list, std::string_view startKey) {
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
  SelectStart(view, fileNumber, described.codes[5], startKey);

  SelectColours("+n");
  PushWindow(view.top, view.left, view.bottom, view.right);
  DrawWindowFrame(1);
  DrawTitle(view, described.title);
  for (int c = view.left; c <= view.right; ++c) view.bottomFrame.push_back(ReadCell(view.bottom, c));
  Outcome outcome = Outcome::kGoOn;
  while (outcome == Outcome::kGoOn) {
    Draw(view);
    DrawTyped(view);
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
