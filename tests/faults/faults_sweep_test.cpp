// Win32 calls failed on purpose, in-process: the mechanism itself, the failures users meet on
// real machines (each with its exact log story), and a sweep that fails every call of whole
// updates once and checks that each run stays sound.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "base/clock_win.h"
#include "base/error_text_win.h"
#include "base/path_win.h"
#include "base/text.h"
#include "faults/fault_injection_win.h"
#include "log/run_log_win.h"
#include "main/run_update_win.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Hooked once for the whole program; each test arms it around the code under test only, so
// the test's own calls are neither counted nor failed.
FaultInjection& faults() {
  static FaultInjection injection;
  // The test framework watches each thread that uses its per-thread state from a thread of its
  // own, which begins with a wait: begun here, so that no test counts it, whichever runs first.
  static const bool watched = [] {
    injection.arm();
    { SCOPED_TRACE("the framework's watcher thread"); }
    const bool waited = eventually([] { return injection.calls() > 0; }, 1000);
    injection.disarm();
    return waited;
  }();
  static_cast<void>(watched);
  return injection;
}

std::string os_error(DWORD code) { return error_text(Error::os(code)); }

long long ms_since(MonotonicTime start) {
  return std::chrono::duration_cast<milliseconds>(monotonic_now() - start).count();
}

bool contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

#include "import_lists.inc"

// Each import of the executable is failed on purpose or listed as never needing it, and each
// function on the fault list is hooked here: a new import cannot go untested unnoticed.
TEST(FaultInjection, EveryImportIsFailedOrSaidNotToNeedIt) {
  std::set<std::string_view> covered(std::begin(kUnfailedImports), std::end(kUnfailedImports));
  for (const std::string_view function : FaultInjection::functions()) {
    EXPECT_TRUE(covered.insert(function).second) << function << " is on both lists";
    EXPECT_TRUE(faults().hooked(function)) << function;
  }
  EXPECT_THAT(covered, ::testing::UnorderedElementsAreArray(kKernel32Imports));
}

TEST(FaultInjection, FailsExactlyTheChosenCallsOfTheChosenFunction) {
  TestDir dir;
  const std::wstring here = dir.path();
  faults().arm({"GetFileAttributesW", 2, ERROR_NOT_READY, 2});
  Lines got;
  for (int i = 0; i < 6; ++i) {
    SetLastError(0);
    const DWORD attributes = GetFileAttributesW(here.c_str());
    got.push_back(attributes == INVALID_FILE_ATTRIBUTES ? std::to_string(GetLastError()) : "ok");
  }
  const unsigned calls = faults().calls();
  faults().disarm();
  EXPECT_THAT(got, ElementsAreArray({"ok", "21", "21", "ok", "ok", "ok"}));
  EXPECT_EQ(calls, 6u);
  EXPECT_THAT(faults().failed(), ElementsAreArray({"GetFileAttributesW", "GetFileAttributesW"}));
  EXPECT_NE(GetFileAttributesW(here.c_str()), INVALID_FILE_ATTRIBUTES);  // disarmed
}

// A private directory with a stub application and installer, and whole updates run
// in-process with short timings while a fault is armed.
class FaultRun : public ::testing::Test {
 protected:
  static constexpr UpdateTimings kQuick{seconds(2), milliseconds(300), milliseconds(50),
                                        milliseconds(100)};
  // For runs whose story needs no installer time-out: an installer that exits at once can take
  // longer than 300 ms to start on a loaded machine.
  static constexpr UpdateTimings kPatient{seconds(2), seconds(5), milliseconds(50),
                                          milliseconds(100)};

  void SetUp() override {
    ASSERT_TRUE(make_stub(app_, "forever\n"));
    // The system opens its directory of named objects at a process's first named object and
    // keeps it open: that first one is made here, so the run's claim is no handle gained.
    static const bool named_objects_open = [] {
      return CloseHandle(CreateMutexW(nullptr, FALSE, L"Local\\talvex-test-named-objects"));
    }();
    ASSERT_TRUE(named_objects_open);
  }
  void TearDown() override {
    kill_all(full_path(app_));
    kill_all(full_path(installer_));
  }

  void make_installer(const std::string& script) {
    ASSERT_TRUE(make_stub(installer_, "record " + to_utf8(record_) + "\n" + script));
  }

  struct Run {
    unsigned status = 0;
    std::optional<std::string> text;
    Lines lines;
    long long ms = 0;
    unsigned calls = 0;
    std::vector<std::string_view> failed;
    size_t handles_before = 0, handles_after = 0;
  };

  Run run(std::vector<Fault> faults_to_arm, std::optional<DWORD> wait_pid = std::nullopt,
          const UpdateTimings& timings = kQuick) {
    DeleteFileW(log_.c_str());
    DeleteFileW(record_.c_str());
    const UpdaterOptions options{
        .installer = u16(installer_), .app_exe = u16(app_), .log = u16(log_), .wait_pid = wait_pid};
    Run r;
    r.handles_before = open_handle_count();
    const MonotonicTime start = monotonic_now();
    faults().arm(std::move(faults_to_arm));
    const RunLog log = prepare_log(options.log);
    r.status = perform_update(options, system_update_steps(log, timings));
    faults().disarm();
    r.ms = ms_since(start);
    r.handles_after = open_handle_count();
    r.calls = faults().calls();
    r.failed = faults().failed();
    r.text = read_file(log_);
    if (r.text) r.lines = log_messages(log_);
    return r;
  }

  std::string installer_line() const {
    return "running installer: " + to_utf8(installer_) + " /UPDATE /S /R";
  }
  // "@start" is the start banner and the options line, "@head" those and the installer line;
  // "@icons" the two lines of the stand-in icon utility; "@ok" the head, the installer's success
  // and the icons; "@relaunched" the relaunch and the last line; "@failed" the icons, the
  // failure and "@relaunched".
  Lines story(const Lines& lines) const {
    const std::map<std::string, Lines> parts = {
        {"@start",
         {"=== talvex-updater start ===",
          "installer=" + to_utf8(installer_) + " app_exe=" + to_utf8(app_) + " wait_pid=None"}},
        {"@head", {"@start", installer_line()}},
        {"@icons", {"ie4uinit -ClearIconCache -> exit code: 0", "ie4uinit -show -> exit code: 0"}},
        {"@ok", {"@head", "installer exited: exit code: 0", "@icons"}},
        {"@relaunched", {"relaunched " + to_utf8(app_), "=== talvex-updater done"}},
        {"@failed",
         {"@icons", "install failed; best-effort relaunch of existing app", "@relaunched"}},
    };
    Lines out;
    for (const std::string& line : lines) {
      const auto part = parts.find(line);
      const Lines more = part == parts.end() ? Lines{line} : story(part->second);
      out.insert(out.end(), more.begin(), more.end());
    }
    return out;
  }
  size_t app_instances() const { return pids_running(full_path(app_)).size(); }

  TestDir dir_;
  const std::wstring app_ = dir_.file(L"app.exe");
  const std::wstring installer_ = dir_.file(L"setup.exe");
  const std::wstring record_ = dir_.file(L"installer-command.txt");
  const std::wstring log_ = dir_.file(L"logs\\update.log");
};

// What users of updaters report, each with the whole log it must leave.
TEST_F(FaultRun, RealWorldFailuresTellTheirExactStory) {
  StandIn icon_utility(L"ie4uinit.exe", "exit 0\n");
  // `lines` empty: the log file is empty.
  const auto expect_story = [&](const char* name, const std::vector<Fault>& armed, unsigned status,
                                size_t instances, const Lines& lines,
                                const std::string& script = "exit 0\n") {
    SCOPED_TRACE(name);
    kill_all(full_path(app_));
    make_installer(script);
    const Run r = run(armed, std::nullopt, kPatient);
    EXPECT_EQ(r.status, status);
    ASSERT_TRUE(r.text);
    EXPECT_THAT(r.lines, ElementsAreArray(story(lines)));
    EXPECT_FALSE(r.failed.empty());
    Sleep(300);  // a start the run claims has reached the process list by now
    EXPECT_EQ(app_instances(), instances);
    EXPECT_TRUE(pids_running(full_path(installer_)).empty());
    EXPECT_EQ(r.handles_after, r.handles_before);
  };
  expect_story("the installer demands elevation", {{"CreateProcessW", 1, 740}}, 1, 1,
               {"@head", "ERROR: failed to spawn installer: " + os_error(740), "@failed"});
  expect_story("antivirus blocks the installer", {{"CreateProcessW", 1, 225}}, 1, 1,
               {"@head", "ERROR: failed to spawn installer: " + os_error(225), "@failed"});
  expect_story("policy blocks the application", {{"CreateProcessW", 4, 1260}}, 0, 0,
               {"@ok", "ERROR: relaunch failed: " + os_error(1260), "=== talvex-updater done"});
  expect_story("the disk is full", {{"WriteFile", 1, ERROR_DISK_FULL, kPersistent}}, 0, 1, {});
  // The third open is the installer's existence check (after two log lines): an entry the
  // system cannot follow, like an app execution alias, is judged by itself and is a file.
  expect_story("the installer cannot be followed", {{"CreateFileW", 3, ERROR_CANT_ACCESS_FILE}}, 0,
               1, {"@ok", "@relaunched"});
  // ... and when the entry itself cannot be examined either, it is not taken as a file.
  expect_story("the installer can neither be followed nor examined",
               {{"CreateFileW", 3, ERROR_CANT_ACCESS_FILE},
                {"GetFileInformationByHandleEx", 1, ERROR_ACCESS_DENIED}},
               1, 1, {"@start", "ERROR: installer file missing", "relaunched " + to_utf8(app_)});
  // A standard handle closed between its check and its duplication counts as none.
  expect_story("the updater's standard handles vanish",
               {{"DuplicateHandle", 1, ERROR_INVALID_HANDLE, kPersistent}}, 0, 1,
               {"@ok", "@relaunched"});
  // The installer started the application, but its path does not fit: not seen, so started
  // a second time.
  expect_story("an image path too long",
               {{"QueryFullProcessImageNameW", 1, ERROR_INSUFFICIENT_BUFFER, kPersistent}}, 0, 2,
               {"@ok", "@relaunched"}, "start " + to_utf8(app_) + "\nexit 0\n");
  // Without a process list the application is taken as running and not started.
  expect_story(
      "no process snapshot",
      {{"CreateToolhelp32Snapshot", 1, ERROR_NOT_ENOUGH_MEMORY, kPersistent}}, 0, 0,
      {"@ok", "app already running (installer /R relaunched), skip", "=== talvex-updater done"});
  // An exit code that cannot be read is no success.
  expect_story("the installer's exit code cannot be read",
               {{"GetExitCodeProcess", 1, ERROR_ACCESS_DENIED}}, 1, 1,
               {"@head", "ERROR: waiting installer: " + os_error(ERROR_ACCESS_DENIED), "@failed"});
  // A claim the system refuses guards nothing, but stops nothing either.
  expect_story("the system refuses the claim", {{"CreateMutexW", 1, ERROR_ACCESS_DENIED}}, 0, 1,
               {"@ok", "@relaunched"});
  // The installer cannot be watched: stopped, and the run fails.
  expect_story("the installer's status query fails",
               {{"WaitForSingleObject", 1, ERROR_INVALID_HANDLE}}, 1, 1,
               {"@head", "ERROR: waiting installer: " + os_error(ERROR_INVALID_HANDLE), "@failed"},
               "forever\n");
}

// Another program holding the log for a moment costs a short retry, never the line; one that
// holds it for good, or a refusal that no wait can mend, costs only that line.
TEST(LogOpenFaults, SharingAndLockViolationsAreRetriedBrieflyOthersNot) {
  TestDir dir;
  const std::wstring path = dir.file(L"run.log");
  const RunLog log(u16(path));
  struct Case {
    Fault fault;
    bool written;
    // Opens, and the write when there is one. Retried for good: one open per 20 ms pause over
    // the 100 ms, not an open spinning for all of them.
    unsigned min_calls, max_calls;
  };
  const Case cases[] = {
      {{"CreateFileW", 1, ERROR_SHARING_VIOLATION, 2}, true, 4, 4},
      {{"CreateFileW", 1, ERROR_LOCK_VIOLATION, 1}, true, 3, 3},
      {{"CreateFileW", 1, ERROR_SHARING_VIOLATION, kPersistent}, false, 3, 8},
      {{"CreateFileW", 1, ERROR_LOCK_VIOLATION, kPersistent}, false, 3, 8},
      {{"CreateFileW", 1, ERROR_ACCESS_DENIED, kPersistent}, false, 1, 1},
      {{"CreateFileW", 1, ERROR_PATH_NOT_FOUND, kPersistent}, false, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fault.error << " x" << c.fault.times);
    DeleteFileW(path.c_str());
    const MonotonicTime start = monotonic_now();
    faults().arm(c.fault);
    log_line(log, "line");
    faults().disarm();
    const long long took = ms_since(start);
    EXPECT_EQ(file_exists(path), c.written);
    if (c.written) {
      EXPECT_THAT(log_messages(path), ElementsAreArray({"line"}));
    }
    EXPECT_GE(faults().calls(), c.min_calls);
    EXPECT_LE(faults().calls(), c.max_calls);
    // The retries stay within their 100 ms (and a scheduler tick); room for a loaded machine.
    EXPECT_LT(took, 100 + 250);
  }
}

// The opens of an application whose security withholds the right to wait on it (an elevated
// one, or another user's): only those that ask for SYNCHRONIZE are denied.
const ImportReplacement* g_open_process = nullptr;
HANDLE WINAPI open_without_wait_right(DWORD access, BOOL inherit, DWORD pid) {
  if ((access & SYNCHRONIZE) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return g_open_process->original<decltype(&OpenProcess)>()(access, inherit, pid);
}

// An application the updater may not wait on still exists: it is watched through its exit code,
// or, when it may not be opened at all, taken as running until the time limit.
TEST(WaitForExitFaults, AnApplicationThatMayNotBeOpenedIsNotTakenAsGone) {
  TestDir dir;
  const auto expect_wait = [&](const char* name, const char* script, bool wait_right,
                               const std::vector<Fault>& armed, bool gone, long long min_ms,
                               long long max_ms) {
    SCOPED_TRACE(name);
    std::optional<ImportReplacement> no_wait_right;
    if (!wait_right) {
      g_open_process =
          &no_wait_right.emplace("OpenProcess", reinterpret_cast<void*>(&open_without_wait_right));
    }
    const std::wstring exe = dir.file(L"app.exe");
    ASSERT_TRUE(make_stub(exe, script));
    std::optional<Spawned> app = spawn(exe, quote_arg(exe));
    ASSERT_TRUE(app);
    const MonotonicTime start = monotonic_now();
    faults().arm(armed);
    const bool went = wait_for_exit(app->pid, seconds(2), milliseconds(100));
    faults().disarm();
    const long long took = ms_since(start);
    EXPECT_EQ(went, gone);
    EXPECT_GE(took, min_ms);
    EXPECT_LT(took, max_ms);
    TerminateProcess(app->process.get(), 1);
    ASSERT_TRUE(wait_exit(app->process.get(), 5000));
  };
  expect_wait("no wait right, still running", "forever\n", false, {}, false, 2000, 2900);
  // Any exit code but the one that means "still active" is an exit.
  expect_wait("no wait right, ends", "sleep 600\nexit 3\n", false, {}, true, 400, 1600);
  expect_wait("no open at all", "forever\n", true,
              {{"OpenProcess", 1, ERROR_ACCESS_DENIED, kPersistent}}, false, 2000, 2900);
  expect_wait("no such process", "forever\n", true,
              {{"OpenProcess", 1, ERROR_INVALID_PARAMETER, kPersistent}}, true, 0, 400);
  // A query-only handle whose exit code cannot be read: a failed probe, taken as gone.
  expect_wait("exit code unreadable", "forever\n", false,
              {{"GetExitCodeProcess", 1, ERROR_ACCESS_DENIED}}, true, 0, 400);
}

// A refused termination is an error unless the child still answers a wait; a wait that fails
// too leaves the refusal standing.
TEST(KillFaults, ARefusedTerminationIsReportedUnlessTheChildAnswersAWait) {
  TestDir dir;
  const std::wstring exe = dir.file(L"child.exe");
  ASSERT_TRUE(make_stub(exe, "forever\n"));
  // `error` 0: reported as done.
  const auto expect_kill = [&](const char* name, const std::vector<Fault>& armed, DWORD error) {
    SCOPED_TRACE(name);
    LaunchSpec spec;
    spec.program = u16(exe);
    Result<ChildProcess> child = launch(spec);
    ASSERT_TRUE(child);
    faults().arm(armed);
    const Status killed = kill(child.value());
    faults().disarm();
    EXPECT_EQ(killed ? 0 : killed.error().code, error);
    TerminateProcess(child->process_handle(), 1);
    EXPECT_TRUE(wait_exit(child->process_handle(), 5000));
  };
  expect_kill("terminated", {}, 0);
  expect_kill("handle refused", {{"TerminateProcess", 1, ERROR_INVALID_HANDLE}},
              ERROR_INVALID_HANDLE);
  expect_kill("denied, and the wait fails",
              {{"TerminateProcess", 1, ERROR_ACCESS_DENIED},
               {"WaitForSingleObject", 1, ERROR_INVALID_HANDLE}},
              ERROR_ACCESS_DENIED);
}

// Text longer than the first buffer is read whole; text that keeps growing between calls (another
// thread changing it) ends the reading with an error instead of a loop.
TEST(BufferReaderFaults, LongTextIsReadWholeAndEndlessGrowthIsAnError) {
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\file.exe";
  const Result<std::wstring> full = full_path_name(deep);
  ASSERT_TRUE(full);
  EXPECT_EQ(full.value(), deep);
  unsigned calls = 0;
  const Result<std::wstring> growing = read_grown_text([&calls](wchar_t*, DWORD size) {
    ++calls;
    return size + 1;
  });
  ASSERT_FALSE(growing);
  EXPECT_EQ(growing.error().code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(calls, 4u);
}

// The log's directories: one that another process makes between our two passes is not a
// failure (the deeper ones are still made), and a path whose every level is reported missing
// ends at its root.
TEST(LogDirectoryFaults, DirectoriesMadeMeanwhileCountAndTheWalkEndsAtTheRoot) {
  TestDir dir;
  const std::wstring made_before = dir.file(L"a\\b");
  const std::wstring wanted = dir.file(L"a\\b\\c");
  struct Case {
    const char* name;
    Fault fault;
    bool made;
  };
  const Case cases[] = {
      // "c" and "b" reported missing although "b" exists: its creation then finds it made.
      {"made meanwhile", {"CreateDirectoryW", 1, ERROR_PATH_NOT_FOUND, 2}, true},
      {"missing up to the root", {"CreateDirectoryW", 1, ERROR_PATH_NOT_FOUND, kPersistent}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    remove_tree(dir.file(L"a"));
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(made_before.c_str(), nullptr));
    faults().arm(c.fault);
    static_cast<void>(prepare_log(u16(wanted + L"\\update.log")));
    faults().disarm();
    const DWORD attributes = GetFileAttributesW(wanted.c_str());
    EXPECT_EQ(attributes != INVALID_FILE_ATTRIBUTES, c.made);
    // One attempt per level on the way up, one per missing level on the way down.
    const auto levels = static_cast<unsigned>(std::count(wanted.begin(), wanted.end(), L'\\'));
    EXPECT_LE(faults().calls(), 2 * levels + 2);
  }
}

// Modules looked up by name may not be had: each lookup falls back to what the system offers
// without them. The log goes where GetTempPathW says, and an NT code is looked up as given.
TEST(ModuleLookupFaults, EveryLookupFallsBackWithoutItsModule) {
  const std::optional<std::u16string> usual = default_log_path();
  ASSERT_TRUE(usual);
  faults().arm({"GetModuleHandleW", 1, ERROR_MOD_NOT_FOUND, kPersistent});
  const std::optional<std::u16string> without_kernel32 = default_log_path();
  const std::string nt_text = error_text(Error::os(0xD0000022));
  faults().disarm();
  EXPECT_EQ(faults().failed().size(), 2u);
  EXPECT_EQ(without_kernel32, usual);
  EXPECT_THAT(nt_text, StartsWith("OS Error -805306334 (FormatMessageW() returned error "));
}

// What only a whole process shows: the usage exit and the log's set-up, failed in the test
// build of the updater. Each run ends by itself with its status, and never with a crash.
TEST(WholeProcessFaults, TheUpdaterEndsWithItsStatusWhateverFailsAroundTheRun) {
  TestDir dir;
  const std::wstring installer = dir.file(L"setup.exe");
  ASSERT_TRUE(make_stub(installer, "exit 0\n"));
  const std::wstring app = dir.file(L"app.exe");  // missing: nothing is started
  const std::wstring log = dir.file(L"a\\b\\update.log");
  const std::vector<std::wstring> no_log = {L"--installer", installer, L"--app-exe", app};
  const std::vector<std::wstring> with_log = {L"--installer", installer, L"--app-exe", app,
                                              L"--log",       log};
  const std::string usage =
      "usage: talvex-updater --installer <path> --app-exe <path> [--wait-pid <pid>] "
      "[--log <path>]\n";
  struct Case {
    const wchar_t* fault;
    std::vector<std::wstring> args;
    DWORD status;
    std::string err;
    bool logged;
  };
  const Case cases[] = {
      {L"", {L"--bogus"}, 2, usage, false},
      {L"GetStdHandle 1 6", {L"--bogus"}, 2, "", false},
      {L"WriteFile 1 232", {L"--bogus"}, 2, "", false},
      // No temporary directory: no default log, the run goes on.
      {L"GetTempPathW 1 8", no_log, 0, "", false},
      {L"CreateDirectoryW 1 5 4294967295", with_log, 0, "", false},
      {L"", with_log, 0, "", true},
      // Libraries then load by the system's default search; the update goes on.
      {L"SetDefaultDllDirectories 1 87", with_log, 0, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(to_utf8(c.fault));
    remove_tree(dir.file(L"a"));
    std::wstring line = L"faulty_updater.exe";
    for (const std::wstring& arg : c.args) line += L" " + quote_arg(arg);
    SpawnOptions options;
    options.stderr_file = dir.file(L"stderr.txt");
    options.env = {{L"TALVEX_FAULT", std::wstring(c.fault)}};
    std::optional<Spawned> updater = spawn(bin_file(L"faulty_updater.exe"), line, options);
    ASSERT_TRUE(updater);
    const std::optional<DWORD> status = wait_exit(updater->process.get(), 20000);
    if (!status) TerminateProcess(updater->process.get(), 99);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(read_file(*options.stderr_file).value_or(""), c.err);
    EXPECT_EQ(file_exists(log), c.logged);
  }
}

// The calls of a counted run worth failing, each as the n-th call of its function: the first
// three calls from each call site after each log message, over all outcomes. Three tell the
// standard streams apart (one site opens all three); a poll loop repeating the same calls is
// failed in its first rounds only; a stretch two outcomes share (up to the installer's exit
// status, say) only in the first; and the n-th call of one function stays the same call when
// a loaded machine makes another loop go round once more. And once per call site over all
// outcomes, the failure that starts at its first call and stays, as a full disk or a used-up
// handle table does (keyed with no stretch and round 0).
using CallKey = std::tuple<std::string_view, const void*, std::string, unsigned>;
std::vector<Fault> calls_to_fail(const std::vector<FaultInjection::Call>& trace, const Lines& lines,
                                 std::set<CallKey>& seen) {
  std::map<std::string_view, unsigned> calls_of;
  std::map<std::pair<std::string_view, const void*>, unsigned> calls_in_stretch;
  std::vector<Fault> faults;
  size_t written = 0;
  for (const FaultInjection::Call& call : trace) {
    const unsigned nth = ++calls_of[call.function];
    const unsigned again = ++calls_in_stretch[{call.function, call.site}];
    const std::string after = written == 0 || written > lines.size() ? "" : lines[written - 1];
    if (again <= 3 && seen.insert({call.function, call.site, after, again}).second) {
      faults.push_back({call.function, nth});
    }
    if (seen.insert({call.function, call.site, "", 0}).second) {
      faults.push_back({call.function, nth, 0, kPersistent});
    }
    if (call.function == "WriteFile") {
      ++written;
      calls_in_stretch.clear();
    }
  }
  return faults;
}

// In the manner of SQLite's I/O-error tests: each whole-run outcome is run once to count its
// calls, then once more per call with that call failed, and every run is checked for what must
// hold whatever failed.
TEST_F(FaultRun, EveryCallOfEveryOutcomeFailedOnceLeavesASoundRun) {
  struct Outcome {
    const char* name;
    const char* script;  // nullptr: no installer file
    bool icon_utility;
    bool wait;
  };
  const std::string start_app = "start " + to_utf8(app_) + "\nexit 0\n";
  const Outcome outcomes[] = {
      {"success", "exit 0\n", true, true},
      {"installer missing", nullptr, true, false},
      {"installer fails", "exit 1\n", true, false},
      {"installer times out", "forever\n", true, false},
      {"application already running afterwards", start_app.c_str(), true, false},
      {"no icon utility", "exit 0\n", false, false},
  };
  // The application that started the update: already gone, its process object kept by us.
  const std::wstring waited = dir_.file(L"old-app.exe");
  ASSERT_TRUE(make_stub(waited, "exit 0\n"));
  std::optional<Spawned> old_app = spawn(waited, quote_arg(waited));
  ASSERT_TRUE(old_app && wait_exit(old_app->process.get(), 5000));

  const MonotonicTime sweep_start = monotonic_now();
  unsigned runs = 0;
  std::set<CallKey> seen;
  for (const Outcome& outcome : outcomes) {
    std::optional<StandIn> icon_utility;
    if (outcome.icon_utility) icon_utility.emplace(L"ie4uinit.exe", "exit 0\n");
    DeleteFileW(installer_.c_str());
    if (outcome.script) make_installer(outcome.script);
    const std::optional<DWORD> wait_pid =
        outcome.wait ? std::optional<DWORD>(old_app->pid) : std::nullopt;
    std::vector<Fault> to_fail;
    unsigned calls = 0;
    for (size_t i = 0; i <= to_fail.size(); ++i) {
      const bool persistent = i > 0 && to_fail[i - 1].times == kPersistent;
      SCOPED_TRACE(testing::Message()
                   << outcome.name << ", run " << i << " of " << to_fail.size()
                   << ", failing: " << (i == 0 ? "nothing" : to_fail[i - 1].function)
                   << (persistent ? " for good" : ""));
      kill_all(full_path(app_));
      const Run r =
          run(i == 0 ? std::vector<Fault>{} : std::vector<Fault>{to_fail[i - 1]}, wait_pid);
      ++runs;
      if (i == 0) {
        calls = r.calls;
        to_fail = calls_to_fail(faults().trace(), r.lines, seen);
      }
      const std::string_view failed = r.failed.empty() ? "nothing" : r.failed.front();
      // Failures that may cost log lines: a failed write, and a log that can never be opened.
      const bool lines_lost = failed == "WriteFile" || (persistent && failed == "CreateFileW");
      // Ends by itself within its own bounds (2 s wait, 0.3 s installer, 0.1 s pause) and room.
      EXPECT_LT(r.ms, 10000);
      ASSERT_LE(r.status, 1u);
      // Status and log agree; a line may be missing only where a write failed.
      const bool succeeded = contains(r.lines, "installer exited: exit code: 0");
      // (A success in the log is a success whatever was lost.)
      if (!lines_lost || succeeded) {
        EXPECT_EQ(r.status == 0, succeeded);
      }
      // Every line whole; run() has had each one's format checked by log_messages.
      if (r.text && !r.text->empty()) {
        EXPECT_EQ(r.text->back(), '\n') << *r.text;
      }
      // No line claims what did not happen.
      EXPECT_TRUE(outcome.icon_utility || !contains(r.lines, "ie4uinit -show -> exit code: 0"));
      EXPECT_TRUE(r.status != 0 || file_exists(record_));
      const bool relaunched = contains(r.lines, "relaunched " + to_utf8(app_));
      // The application runs at the end, or the log says why not.
      const bool app_runs = eventually([&] { return app_instances() > 0; }, relaunched ? 3000 : 0);
      EXPECT_TRUE(app_runs || !relaunched);
      if (!app_runs) {
        const bool explained =
            std::any_of(r.lines.begin(), r.lines.end(), [](const std::string& line) {
              return line.starts_with("ERROR: relaunch failed: ") ||
                     line == "ERROR: app exe missing, cannot relaunch" ||
                     line == "app already running (installer /R relaunched), skip";
            });
        EXPECT_TRUE(explained || lines_lost) << r.text.value_or("(no log)");
      }
      // Nothing of the run's own left behind: a refused termination is the one way an
      // installer outlives its run (on Windows, only one already on its way out is refused).
      EXPECT_EQ(r.handles_after, r.handles_before);
      if (failed != "TerminateProcess") {
        EXPECT_TRUE(eventually([&] { return pids_running(full_path(installer_)).empty(); }, 2000));
      }
      kill_all(full_path(installer_));
    }
    std::cout << outcome.name << ": " << calls << " calls, " << to_fail.size() << " failed\n";
  }
  std::cout << runs << " runs in " << ms_since(sweep_start) << " ms\n";
}

}  // namespace
}  // namespace talvex::test
