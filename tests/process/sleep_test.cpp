#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "base/clock_win.h"

namespace talvex {
namespace {

using std::chrono::milliseconds;

// The shortest of three timed runs: each must last at least its duration, and a busy machine
// may delay any one wake-up, but hardly all three.
template <typename Sleep>
long long shortest_of_three_ms(Sleep sleep) {
  long long shortest = 0;
  for (int run = 0; run < 3; ++run) {
    const MonotonicTime start = monotonic_now();
    sleep();
    const long long took =
        std::chrono::duration_cast<milliseconds>(monotonic_now() - start).count();
    shortest = run == 0 ? took : std::min(shortest, took);
  }
  return shortest;
}

TEST(PollSleep, BothSleepPathsLastTheirDurationOnTheMonotonicClock) {
  bool high_resolution = false;
  const long long precise = shortest_of_three_ms(
      [&] { high_resolution = sleep_with_high_resolution_timer(milliseconds(300)); });
  if (high_resolution) {
    EXPECT_GE(precise, 300);
    EXPECT_LT(precise, 450);
  } else {
    // Before Windows 10 1803 the timer does not exist and nothing was slept.
    EXPECT_LT(precise, 100);
  }
  // Sleep may wake up to one scheduler tick early.
  const long long coarse = shortest_of_three_ms([] { sleep_with_system_timer(milliseconds(300)); });
  EXPECT_GE(coarse, 300 - 16);
  EXPECT_LT(coarse, 450);

  const long long either = shortest_of_three_ms([] { sleep_for(milliseconds(300)); });
  EXPECT_GE(either, high_resolution ? 300 : 300 - 16);
  EXPECT_LT(either, 450);

  // A deadline already passed asks for a non-positive sleep: it returns at once, where the
  // DWORD the duration would become means 49 days.
  for (const milliseconds none : {milliseconds(0), milliseconds(-5)}) {
    EXPECT_LT(shortest_of_three_ms([none] { sleep_for(none); }), 50);
    EXPECT_LT(shortest_of_three_ms([none] { sleep_with_system_timer(none); }), 50);
  }
}

}  // namespace
}  // namespace talvex
