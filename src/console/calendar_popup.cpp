#include "console/calendar_popup.h"

#include <string_view>

#include "calendar/date_texts.h"
#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "calendar/text_checks.h"
#include "console/keyboard.h"
#include "console/popup.h"
#include "platform/blanks.h"
#include "platform/clock.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

// The keys the field editor's map holds while the calendar is open: Right,
// Left, Down, Up, PgDn, PgUp, Home, End, Alt-F, Esc.
constexpr std::string_view kCalendarKeys = "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b";

// Geometry: a single frame at rows 7..16, columns 7..74; inside it the
// month names on row 8, the weekday header on row 9 and up to six weeks on
// rows 10..15.  Each month block is 20 columns (seven days of "##" three
// columns apart), the blocks two columns apart.
constexpr int kTop = 7;
constexpr int kLeft = 7;
constexpr int kBottom = 16;
constexpr int kRight = 74;
constexpr int kNameRow = 8;
constexpr int kHeaderRow = 9;
constexpr int kFirstWeekRow = 10;
constexpr int kBlockWidth = 20;
constexpr int kBlockLefts[3] = {9, 31, 53};

constexpr int16_t kFirstYear = 1;
constexpr int16_t kLastYear = 9999;

std::string PackedDate(int year, int month, int day) {
  return PackDigits(ZeroPad(year, 4) + ZeroPad(month, 2) + ZeroPad(day, 2));
}

int MonthLength(int month, int year) { return DaysInMonth(month, year, false); }

// The weekday header of the session language, weeks from Monday.
std::string_view WeekdayHeader() {
  const std::string& language = Session().language;
  if (language == "SPA" || language == "GLG") return " L  M  X  J  V  S  D";
  if (language == "OCI") return "DL DT DC DJ DD DS DG";
  return "DL DT DC DJ DV DS DG";
}

std::string MonthName(int year, int month) {
  const int16_t fold = FoldAccents();
  FoldAccents() = 0;
  const std::string name = FoldText(TrimBlanks(DateInWords(PackedDate(year, month, 1), 2, "M")));
  FoldAccents() = fold;
  return name;
}

std::string TwoDigits(int n) {
  return n < 10 ? " " + std::to_string(n) : std::to_string(n);
}

// A month move: months past either end wrap by 12 and change the year; a
// day past the new month's end becomes its last day.
bool MoveMonth(CalendarCursor& c, int to) {
  int year = c.year;
  while (to < 1) {
    to += 12;
    --year;
  }
  while (to > 12) {
    to -= 12;
    ++year;
  }
  if (year < kFirstYear || year > kLastYear) return false;
  c.year = static_cast<int16_t>(year);
  c.month = static_cast<int16_t>(to);
  const int length = MonthLength(c.month, c.year);
  if (c.day > length) c.day = static_cast<int16_t>(length);
  return true;
}

// A day move of at most a week: the cursor runs over into the month before
// or after, and from December or January into the next or previous year.
bool MoveDay(CalendarCursor& c, int by) {
  CalendarCursor moved = c;
  int day = c.day + by;
  if (day < 1) {
    if (!MoveMonth(moved, c.month - 1)) return false;
    day += MonthLength(moved.month, moved.year);
  } else if (day > MonthLength(c.month, c.year)) {
    day -= MonthLength(c.month, c.year);
    if (!MoveMonth(moved, c.month + 1)) return false;
  }
  moved.day = static_cast<int16_t>(day);
  c = moved;
  return true;
}

}  // namespace

int16_t QuarterFirstMonth(int16_t month) { return static_cast<int16_t>((month - 1) / 3 * 3 + 1); }

CalendarAction ApplyCalendarKey(CalendarCursor& c, int32_t key, std::string& result) {
  bool moved = true;
  switch (key) {
    case kKeyRight: moved = MoveDay(c, 1); break;
    case kKeyLeft: moved = MoveDay(c, -1); break;
    case kKeyDown: moved = MoveDay(c, 7); break;
    case kKeyUp: moved = MoveDay(c, -7); break;
    case kKeyPgDn: moved = MoveMonth(c, c.month + 3); break;
    case kKeyPgUp: moved = MoveMonth(c, c.month - 3); break;
    case kKeyHome: moved = MoveMonth(c, 1); break;
    case kKeyEnd: moved = MoveMonth(c, 12); break;
    case 'F':
    case 'f':
    case kKeyAltF:
      result = CalendarResultText(c);
      return CalendarAction::kClosed;
    case kKeyEscape:
      result.clear();
      return CalendarAction::kClosed;
    default: return CalendarAction::kNone;
  }
  if (!moved) {
    Beep();
    return CalendarAction::kNone;
  }
  return CalendarAction::kMoved;
}

std::string CalendarResultText(const CalendarCursor& c) {
  // The numeric form is padded to a fixed width for columns; typed into a
  // field the padding would only overwrite what follows.
  return std::string(TrimTrailingBlanks(DateInWords(PackedDate(c.year, c.month, c.day), 0, "dma")));
}

void DrawCalendar(const CalendarCursor& c) {
  HoldScreenRefresh();
  SelectColours("n");
  DrawWindowFrame(1);
  // The year in the top border, centred.
  const std::string year = " " + ZeroPad(c.year, 4) + " ";
  SelectColours("h");
  WriteAt(kTop, kLeft + (kRight - kLeft + 1 - static_cast<int>(year.size())) / 2, year);
  const int first = QuarterFirstMonth(c.month);
  for (int b = 0; b < 3; ++b) {
    const int month = first + b;
    const int left = kBlockLefts[b];
    const std::string name = MonthName(c.year, month);
    SelectColours("h");
    WriteAt(kNameRow, left + (kBlockWidth - static_cast<int>(name.size())) / 2, name);
    WriteAt(kHeaderRow, left, WeekdayHeader());
    SelectColours("n");
    // Day 1 falls in its weekday's column; each Monday starts a week row.
    const int firstWeekday = DayOfWeek(PackedDate(c.year, month, 1));
    const int length = MonthLength(month, c.year);
    for (int day = 1; day <= length; ++day) {
      const int slot = firstWeekday - 1 + day - 1;
      const int row = kFirstWeekRow + slot / 7;
      const int column = left + 3 * (slot % 7);
      const bool isCursor = month == c.month && day == c.day;
      if (isCursor) SelectColours("+u");
      WriteAt(row, column, TwoDigits(day));
      if (isCursor) SelectColours("-");
    }
  }
  ReleaseScreenRefresh();
}

std::string OpenCalendar() {
  const LocalDateTime now = LocalNow();
  CalendarCursor c;
  c.year = static_cast<int16_t>(now.year < kFirstYear ? kFirstYear : now.year > kLastYear ? kLastYear : now.year);
  c.month = static_cast<int16_t>(now.month >= 1 && now.month <= 12 ? now.month : 1);
  c.day = static_cast<int16_t>(now.day >= 1 && now.day <= MonthLength(c.month, c.year) ? now.day : 1);

  PushWindow(kTop, kLeft, kBottom, kRight);
  const PopupSavedState saved = EnterPopup("+ea", kCalendarKeys);
  DrawCalendar(c);

  std::string result;
  for (;;) {
    const CalendarAction action = ApplyCalendarKey(c, ReadKey(), result);
    if (action == CalendarAction::kClosed) break;
    if (action == CalendarAction::kMoved) DrawCalendar(c);
  }

  PopWindow();
  LeavePopup(saved);
  return result;
}

}  // namespace kestrova
