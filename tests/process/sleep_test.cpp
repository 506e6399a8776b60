#include <gtest/gtest.h>

#include <chrono>

#include "base/clock.h"

namespace talvex {
namespace {

using std::chrono::milliseconds;

template <typename Sleep>
long long timed_ms(Sleep sleep) {
  const MonotonicTime start = monotonic_now();
  sleep();
  return std::chrono::duration_cast<milliseconds>(monotonic_now() - start).count();
}

TEST(PollSleep, BothSleepPathsLastTheirDurationOnTheMonotonicClock) {
  bool high_resolution = false;
  const long long precise =
      timed_ms([&] { high_resolution = sleep_with_high_resolution_timer(milliseconds(300)); });
  if (high_resolution) {
    EXPECT_GE(precise, 300);
    EXPECT_LT(precise, 550);
  } else {
    // Before Windows 10 1803 the timer does not exist and nothing was slept.
    EXPECT_LT(precise, 100);
  }
  // Sleep may wake up to one scheduler tick early.
  const long long coarse = timed_ms([] { sleep_with_system_timer(milliseconds(300)); });
  EXPECT_GE(coarse, 300 - 16);
  EXPECT_LT(coarse, 550);

  const long long either = timed_ms([] { sleep_for(milliseconds(300)); });
  EXPECT_GE(either, high_resolution ? 300 : 300 - 16);
  EXPECT_LT(either, 550);
}

}  // namespace
}  // namespace talvex
