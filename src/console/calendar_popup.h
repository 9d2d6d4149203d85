// The pop-up calendar: three months that Alt-C opens over any screen of
// the job, to pick a date and type it into the field under edit.
//
// It starts on today's date and shows the calendar quarter of the cursor
// month (January-March, April-June, ...) with the year in its top border,
// each month under its name in the session language, weeks from Monday to
// Sunday under the weekday header of the language, and the cursor day in
// the underline colours.  Right and Left move a day, Down and Up a week,
// PgDn and PgUp three months, Home and End to January and December; days
// run over into the next or previous month and year, and a month move cuts
// the day to the new month's length (31 January, PgDn: 30 April).  "F" (or
// Alt-F) closes it and returns the date as the user writes dates (the
// order and separator of Tarn.ini, day and month without leading zero,
// four-digit year: "7/12/2026"); Esc returns "".  The cursor stays within
// the years 1 to 9999: a move past them is refused with a beep.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

struct CalendarCursor {
  int16_t year = 1;
  int16_t month = 1;  // 1..12
  int16_t day = 1;    // 1..the month's length
  bool operator==(const CalendarCursor&) const = default;
};

// The first month of the quarter that holds `month`: 1, 4, 7 or 10.
int16_t QuarterFirstMonth(int16_t month);

// What a key did to the calendar.
enum class CalendarAction { kNone, kMoved, kClosed };

// Applies one key code to the cursor.  On kClosed, `result` holds the text
// to type ("" for Esc).  Keys that are not the calendar's do nothing.
CalendarAction ApplyCalendarKey(CalendarCursor& cursor, int32_t key, std::string& result);

// The cursor date as the user writes dates, trailing padding removed.
std::string CalendarResultText(const CalendarCursor& cursor);

// Draws the calendar (frame, year, three months, cursor day) in the saved
// window area.
void DrawCalendar(const CalendarCursor& cursor);

// Alt-C: saves the screen under the calendar, pushes the normal colours and
// the calendar's key map, and reads keys until F or Esc; then puts the
// screen, the colours, the key map and the cursor back.  Returns the text
// to type ("" for Esc).
std::string OpenCalendar();

}  // namespace kestrova
