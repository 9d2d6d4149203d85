#include "calendar/dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "calendar/numeric.h"
#include "platform/clock.h"

namespace kestrova {
namespace {

std::string D(const char* digits) { return PackDigits(digits); }
std::string Digits(const std::string& packed) { return UnpackDigits(packed); }

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(LocalDateTime{2026, 12, 7, 10, 0, 0, 0}); }
  void TearDown() override { SetClockForTesting(std::nullopt); }
};

TEST_F(DatesTest, DaysInMonth) {
  const int gregorian[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(DaysInMonth(m, 2023, false), gregorian[m - 1]) << m;
  EXPECT_EQ(DaysInMonth(2, 1900, false), 28);  // Gregorian century
  EXPECT_EQ(DaysInMonth(2, 2000, false), 29);
  EXPECT_EQ(DaysInMonth(2, 1500, true), 29);   // Julian
  EXPECT_EQ(DaysInMonth(2, 1500, false), 28);
}

TEST_F(DatesTest, AddToDateTable) {
  struct Case {
    const char* date;
    int32_t n;
    const char* unit;
    const char* expected;
  } cases[] = {
      {"20240131", 1, "M", "20240229"},
      {"20230131", 1, "M", "20230228"},
      {"20240229", 1, "A", "20250228"},
      {"20240331", -1, "M", "20240229"},
      {"20240229", -1, "A", "20230228"},
      {"20261231", 1, "D", "20270101"},
      {"20260301", -1, "D", "20260228"},
      {"20240101", 400, "D", "20250204"},  // crosses 29 February 2024
      {"99991201", 1, "M", "99991231"},
      {"99991231", 1, "d", "99991231"},
      {"00000000", 0, "D", "00000000"},
      {"20261301", 0, "M", "20261301"},    // n = 0: unchanged, even invalid
      {"20260115", -13, "m", "20241215"},  // negative months borrow years
      {"20260115", 24, "M", "20280115"},
      {"20260115", 1, "X", "20260115"},
      {"20260231", 1, "X", "20260228"},    // another unit only clamps the day
      {"15821004", 1, "D", "15821005"},    // no gap: the reform is not skipped
      {"15000228", 1, "D", "15000229"},    // Julian leap year
      {"19000228", 1, "D", "19000301"},
      {"00010101", -1, "D", "00001231"},
      {"00000101", -1, "D", "00000000"},   // before year 0: no date
      {"20260101", INT32_MIN, "D", "00000000"},
      {"20260101", INT32_MAX, "D", "99991231"},
      {"20260101", INT32_MIN, "M", "00000000"},
      {"20260101", INT32_MAX, "A", "99991231"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Digits(AddToDate(D(c.date), c.n, c.unit)), c.expected)
        << c.date << " " << c.n << c.unit;
  }
}

TEST_F(DatesTest, AddToDateDaysRoundTrip) {
  std::mt19937 random(1583);
  std::uniform_int_distribution<int> year(1583, 9998), month(1, 12), day(1, 31);
  std::uniform_int_distribution<int32_t> count(-200000, 200000);
  for (int round = 0; round < 20000; ++round) {
    const int y = year(random), m = month(random);
    const int d = std::min(day(random), DaysInMonth(m, y, false));
    const std::string date = PackDigits(ZeroPad(y, 4) + ZeroPad(m, 2) + ZeroPad(d, 2));
    const int32_t n = count(random);
    const std::string moved = AddToDate(date, n, "D");
    const int movedYear = std::stoi(Digits(moved).substr(0, 4));
    if (movedYear < 1583 || movedYear > 9998) continue;  // outside the Gregorian range asked
    ASSERT_EQ(Digits(AddToDate(moved, -n, "D")), Digits(date)) << Digits(date) << " " << n;
    ASSERT_EQ(DateDifference(date, moved, "D"), n < 0 ? -n : n) << Digits(date) << " " << n;
  }
}

TEST_F(DatesTest, DateDifferenceTable) {
  struct Case {
    const char* a;
    const char* b;
    const char* unit;
    int32_t expected;
  } cases[] = {
      {"20240228", "20240301", "D", 2},
      {"20230315", "20240314", "A", 0},
      {"20230315", "20240314", "M", 12},
      {"20230315", "20240315", "a", 1},
      {"20261207", "20261207", "D", 0},
      {"15000101", "15010101", "D", 366},  // Julian 1500 is a leap year
      {"19000101", "19010101", "D", 365},
      {"20260101", "20261207", "Q", 0},
      {"20260101", "20261207", "DD", 0},
      {"00000000", "99991231", "A", 9999},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateDifference(D(c.a), D(c.b), c.unit), c.expected) << c.a << " " << c.b;
    EXPECT_EQ(DateDifference(D(c.b), D(c.a), c.unit), c.expected) << c.b << " " << c.a;
  }
}

std::chrono::sys_days Civil(int y, int m, int d) {
  return std::chrono::year_month_day{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                     std::chrono::day{unsigned(d)}};
}

TEST_F(DatesTest, DateDifferenceAgreesWithCivilDays) {
  std::mt19937 random(2026);
  std::uniform_int_distribution<int> year(1582, 9999), month(1, 12), day(1, 31);
  for (int round = 0; round < 20000; ++round) {
    int y[2], m[2], d[2];
    std::string dates[2];
    for (int j = 0; j < 2; ++j) {
      y[j] = year(random);
      m[j] = month(random);
      d[j] = std::min(day(random), DaysInMonth(m[j], y[j], false));
      dates[j] = PackDigits(ZeroPad(y[j], 4) + ZeroPad(m[j], 2) + ZeroPad(d[j], 2));
    }
    const auto days = (Civil(y[1], m[1], d[1]) - Civil(y[0], m[0], d[0])).count();
    ASSERT_EQ(DateDifference(dates[0], dates[1], "D"), days < 0 ? -days : days)
        << Digits(dates[0]) << " " << Digits(dates[1]);
  }
}

TEST_F(DatesTest, DayOfWeekTable) {
  EXPECT_EQ(DayOfWeek(D("20261207")), 1);  // Monday
  EXPECT_EQ(DayOfWeek(D("20260101")), 4);  // Thursday
  EXPECT_EQ(DayOfWeek(D("15821004")), 4);  // last Julian day, a Thursday
  EXPECT_EQ(DayOfWeek(D("15821015")), 5);  // first Gregorian day, a Friday
  for (const char* odd : {"00000000", "00000101", "20261399", "99999999"}) {
    const int16_t w = DayOfWeek(D(odd));
    EXPECT_TRUE(w >= 1 && w <= 7) << odd;
  }
}

TEST_F(DatesTest, DayOfWeekAgreesWithChronoFrom1600To2400) {
  using namespace std::chrono;
  for (sys_days day = Civil(1600, 1, 1); day <= Civil(2400, 12, 31); day += days{1}) {
    const year_month_day ymd{day};
    const std::string packed =
        PackDigits(ZeroPad(int(ymd.year()), 4) + ZeroPad(unsigned(ymd.month()), 2) +
                   ZeroPad(unsigned(ymd.day()), 2));
    ASSERT_EQ(DayOfWeek(packed), static_cast<int16_t>(weekday{day}.iso_encoding()))
        << Digits(packed);
  }
}

TEST_F(DatesTest, DateDigits) {
  EXPECT_EQ(DateDigits(D("20261207")), "071226");
  EXPECT_EQ(DateDigits(D("19500503")), "03051950");
  EXPECT_EQ(DateDigits(D("19760503")), "030576");  // first year of the window
  EXPECT_EQ(DateDigits(D("20750503")), "030575");  // last year of the window
  EXPECT_EQ(DateDigits(D("20760503")), "03052076");
  EXPECT_EQ(DateDigits(D("00000000")), "");
  EXPECT_EQ(DateDigits(D("1207")), "07120000");   // 2 bytes: no year
  EXPECT_EQ(DateDigits(D("7")), "");
  EXPECT_EQ(DateDigits(std::string(40, '\xE3')), "99999999");  // long year, no overflow
}

TEST_F(DatesTest, ParseDateTable) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"7/12/26", "20261207"},
      {"071226", "20261207"},
      {"07122026", "20261207"},
      {"7/12/80", "19801207"},
      {"7/12/75", "20751207"},
      {"7.12", "00000000"},
      {"7/12/2026/1", "00000000"},
      {"31/02/2026", "20260231"},
      {"7-12-2026", "20261207"},
      {" 7/ 1/ 26", "20260107"},
      {"7/12/026", "20261207"},     // three characters: still a short year
      {"7/12/0026", "00261207"},    // four: written in full
      {"", "00000000"},
      {"7a/12/26", "00000000"},
      {"123/1/2026", "00000000"},    // too long for a day
      {"7/12/12345", "00000000"},
      {"0/12/26", "00261200"},       // no day: no century
  };
  for (const Case& c : cases) EXPECT_EQ(Digits(ParseDate(c.text)), c.expected) << c.text;
  EXPECT_EQ(Digits(ParseDate(std::string(200, '9'))), "00000000");
  EXPECT_EQ(Digits(ParseDate(std::string("7/1\0/26", 7))), "00000000");
}

}  // namespace
}  // namespace kestrova
