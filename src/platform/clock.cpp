#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

#include <random>
#include <thread>

namespace kestrova {
namespace {

std::optional<LocalDateTime>& FixedClock() {
  static std::optional<LocalDateTime> fixed;
  return fixed;
}

std::function<void(int32_t)>& SleepHook() {
  static std::function<void(int32_t)> hook;
  return hook;
}

struct RandomState {
  std::mt19937 engine{12345u};
  bool seeded = false;
};

RandomState& Random() {
  static RandomState state;
  return state;
}

}  // namespace

int64_t MillisecondsOfDay() {
  const LocalDateTime now = LocalNow();
  return ((static_cast<int64_t>(now.hour) * 60 + now.minute) * 60 + now.second) * 1000 + now.millisecond;
}

LocalDateTime LocalNow() {
  if (FixedClock()) return *FixedClock();
  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  struct tm local;
  const time_t seconds = tv.tv_sec;
  ::localtime_r(&seconds, &local);
  LocalDateTime now;
  now.year = local.tm_year + 1900;
  now.month = local.tm_mon + 1;
  now.day = local.tm_mday;
  now.hour = local.tm_hour;
  now.minute = local.tm_min;
  now.second = local.tm_sec;
  now.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return now;
}

void SetClockForTesting(std::optional<LocalDateTime> fixed) { FixedClock() = fixed; }

void SleepMilliseconds(int32_t milliseconds) {
  if (SleepHook()) {
    SleepHook()(milliseconds);
    return;
  }
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetSleepHookForTesting(std::function<void(int32_t)> hook) { SleepHook() = std::move(hook); }

void SeedRandom(uint32_t seed) {
  Random().engine.seed(seed);
  Random().seeded = true;
}

void SeedRandomFromTime() {
  const LocalDateTime now = LocalNow();
  SeedRandom(static_cast<uint32_t>(((now.hour * 60 + now.minute) * 60 + now.second) * 1000 +
                                   now.millisecond));
}

double RandomUnit() {
  if (!Random().seeded) SeedRandomFromTime();
  return std::generate_canonical<double, 32>(Random().engine);
}

}  // namespace kestrova
