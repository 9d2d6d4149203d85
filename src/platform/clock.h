// Local date and time, pauses and the pseudo-random source.
//
// Tests replace all three: a fixed "today", pauses that return at once (or
// record what was asked), and a seeded random sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace kestrova {

struct LocalDateTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The system's local date and time, or the fixed value a test set.
LocalDateTime LocalNow();
void SetClockForTesting(std::optional<LocalDateTime> fixed);

// Milliseconds since local midnight (of LocalNow): for measuring short
// pauses between keys and redraws; it goes back to 0 at midnight.
int64_t MillisecondsOfDay();

// Pauses the process.  A test may install a hook that replaces the pause
// (the hook receives the milliseconds asked for); an empty hook restores the
// real pause.
void SleepMilliseconds(int32_t milliseconds);
void SetSleepHookForTesting(std::function<void(int32_t)> hook);

// The pseudo-random source: seeded from the time of day by default (as the
// job has always seeded it), or with a fixed seed by a test.
void SeedRandom(uint32_t seed);
void SeedRandomFromTime();
// A value in [0, 1).
double RandomUnit();

}  // namespace kestrova
