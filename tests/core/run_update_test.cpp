// The run sequence's decisions, with every operation replaced by a stand-in that records its
// call in the same list as the log lines, so each row checks the lines, the order of the steps
// and the status together.
#include "main/run_update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace talvex {
namespace {

using ::testing::ElementsAreArray;

// What the stand-ins answer.
struct Given {
  bool installer_exists;
  std::optional<std::uint32_t> wait_pid;
  bool app_exits_in_time;
  bool installer_succeeds;
  bool app_running_after;
  AppClaim claim = AppClaim::kClaimed;
};

struct Row {
  const char* name;
  Given given;
  std::vector<std::string> lines;  // log lines, and "<step>" for each operation called
  unsigned status;
};

const std::string kStart = "=== talvex-updater start ===";
const std::string kDone = "=== talvex-updater done";

std::string options_of(const std::optional<std::uint32_t>& pid) {
  return std::string("installer=C:\\u\\setup.exe app_exe=C:\\App\\app.exe wait_pid=") +
         (pid ? "Some(" + decimal(*pid) + ")" : "None");
}

TEST(PerformUpdate, EveryOutcomeLogsItsLinesAndStepsInOrderAndEndsWithItsStatus) {
  const std::string relaunch = "<relaunch C:\\App\\app.exe>";
  const std::string install = "<install C:\\u\\setup.exe>";
  const std::string claim = "<claim C:\\App\\app.exe>";
  const Row rows[] = {
      {"installer missing: no wait, no install, the app is started anyway",
       {false, 42, true, true, false},
       {claim, kStart, options_of(42), "ERROR: installer file missing", relaunch},
       1},
      {"no pid, installed, app not running: relaunched",
       {true, std::nullopt, true, true, false},
       {claim, kStart, options_of(std::nullopt), install, "<icons>", "<settle>",
        "<running C:\\App\\app.exe>", relaunch, kDone},
       0},
      {"app exits, installed, installer relaunched it",
       {true, 42, true, true, true},
       {claim, kStart, options_of(42), "<wait 42>", "main process 42 exited", install, "<icons>",
        "<settle>", "<running C:\\App\\app.exe>",
        "app already running (installer /R relaunched), skip", kDone},
       0},
      {"wait times out, installed anyway",
       {true, 7, false, true, false},
       {claim, kStart, options_of(7), "<wait 7>",
        "main process 7 still running after timeout, proceeding (installer kills it)", install,
        "<icons>", "<settle>", "<running C:\\App\\app.exe>", relaunch, kDone},
       0},
      {"app exits, install fails: relaunched at once, no settling",
       {true, 42, true, false, false},
       {claim, kStart, options_of(42), "<wait 42>", "main process 42 exited", install, "<icons>",
        "install failed; best-effort relaunch of existing app", relaunch, kDone},
       1},
      {"no pid, install fails",
       {true, std::nullopt, true, false, true},
       {claim, kStart, options_of(std::nullopt), install, "<icons>",
        "install failed; best-effort relaunch of existing app", relaunch, kDone},
       1},
      {"another update of the app runs: one line, and nothing is checked, waited for or started",
       {false, 42, true, true, false, AppClaim::kHeldByAnother},
       {claim,
        "ERROR: another update of this application is running; installer not run: "
        "C:\\u\\setup.exe"},
       1},
      {"the claim cannot be made: the update goes on unguarded",
       {true, std::nullopt, true, true, false, AppClaim::kUnavailable},
       {claim, kStart, options_of(std::nullopt), install, "<icons>", "<settle>",
        "<running C:\\App\\app.exe>", relaunch, kDone},
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> seen;
    // A stand-in that records "<step argument>" and gives the row's answer.
    const auto step = [&seen](const char* name, auto answer) {
      return [&seen, name, answer](std::u16string_view arg) {
        seen.push_back(std::string("<") + name + " " + to_utf8(arg) + ">");
        return answer;
      };
    };
    const UpdateSteps steps{
        .claim_app = step("claim", row.given.claim),
        .log_line = [&](std::string_view message) { seen.emplace_back(message); },
        .installer_exists =
            [&](std::u16string_view installer) {
              EXPECT_EQ(installer, u"C:\\u\\setup.exe");
              return row.given.installer_exists;
            },
        .wait_for_exit =
            [&](std::uint32_t pid) {
              seen.push_back("<wait " + decimal(pid) + ">");
              return row.given.app_exits_in_time;
            },
        .run_installer = step("install", row.given.installer_succeeds),
        .refresh_icon_cache = [&] { seen.emplace_back("<icons>"); },
        .settle = [&] { seen.emplace_back("<settle>"); },
        .is_app_running = step("running", row.given.app_running_after),
        .relaunch_app = step("relaunch", true)};  // whose answer nobody reads
    const UpdaterOptions options{u"C:\\u\\setup.exe", u"C:\\App\\app.exe", std::nullopt,
                                 row.given.wait_pid};
    EXPECT_EQ(perform_update(options, steps), row.status);
    EXPECT_THAT(seen, ElementsAreArray(row.lines));
  }
}

// The shipped entry point runs with the default timings; every other test passes short ones, so
// only this ties the product to its published limits.
TEST(UpdateTimings, TheProductRunsWithItsPublishedLimits) {
  using namespace std::chrono_literals;
  const UpdateTimings product;
  EXPECT_EQ(product.app_exit_limit, 30s);
  EXPECT_EQ(product.installer_limit, 900s);
  EXPECT_EQ(product.poll_interval, 500ms);
  EXPECT_EQ(product.settle_pause, 5s);
  EXPECT_EQ(product.icon_refresh_limit, 60s);
}

}  // namespace
}  // namespace talvex
