// Whole updates through the real executable, with stub installers and applications. The run's
// decisions have their own table (tests/core/run_update_test.cpp); these runs keep what only real
// processes show: the real wait and pause, the installer and the application really started,
// once, the claim held against a second updater, and the streams each child gets.
#include <algorithm>

#include "update/update_fixture.h"

namespace talvex::test {
namespace {

using Lines = std::vector<std::string>;

struct Story {
  const char* name;
  const wchar_t* subdir;        // where the updater, installer, application and log live
  const char* installer_exit;   // "0" installs; any other status, or "crash", fails the install
  const char* icon_exit;        // the stand-in icon utility's status
  bool installer_restarts_app;  // two copies, through a launcher, 2 s after the installer exits
  bool app_exits_late;          // --wait-pid names an application that exits after 3 s
  bool two_updaters;            // a second updater for the same application starts with it
  bool default_log;             // no --log: the log goes to TMP, here the story's directory
};

// The story directory of the first row, its UTF-8 bytes spelt out independently of the
// product's own conversion.
const wchar_t* const kUnicodeDir =
    L"Programme \u0394\u03bf\u03ba\u03b9\u03bc\u03ae \u65e5\u672c \U0001F680";
const char* const kUnicodeDirUtf8 =
    "Programme \xce\x94\xce\xbf\xce\xba\xce\xb9\xce\xbc\xce\xae \xe6\x97\xa5\xe6\x9c\xac "
    "\xf0\x9f\x9a\x80";

TEST_F(UpdateRun, EachStoryRunsTheInstallerOnceAndLeavesTheApplicationRunningOnce) {
  const Story stories[] = {
      // Wine takes TMP and TEMP from the Windows environment block only, so the updater is
      // started from this (Windows) process with both set.
      {"installed and relaunched; non-ASCII paths and default log; a failing icon utility",
       kUnicodeDir, "0", "3", false, false, false, true},
      // The instance check comes after the pause, so it finds the copies the launcher started,
      // and two copies are not one too many.
      {"the installer restarts the application itself: no third copy", L"restarts", "0", "0", true,
       false, false, false},
      // The claim comes first: a second updater started with the first refuses at once.
      {"the running application is waited for before the installer starts, and a second updater "
       "of it meanwhile refuses",
       L"waits", "0", "0", false, true, true, false},
      {"restart required is a failed install: relaunched at once, without the pause", L"fails",
       "3010", "0", false, false, false, false},
      // A real access violation, not a process that reports one. Wine starts its debugger for
      // the unhandled fault (it ignores SEM_NOGPFAULTERRORBOX); without a display that only
      // prints a notice and the process ends with the exception code, so the run still ends
      // promptly.
      {"an installer that crashes is a failed install", L"crashes", "crash", "0", false, false,
       false, false},
  };
  for (const Story& story : stories) {
    SCOPED_TRACE(story.name);
    if (!app_.empty()) kill_all(full_path(app_));
    prepare(story.subdir);
    make_icon_utility(std::string("exit ") + story.icon_exit + "\n");
    const std::wstring app_times = root_ + L"\\app-times.txt";
    const std::wstring installer_times = root_ + L"\\installer-times.txt";
    ASSERT_TRUE(make_stub(app_, "times " + to_utf8(app_times) + "\nforever\n"));
    std::string script = "times " + to_utf8(installer_times) + "\n";
    // A slow installer keeps the first run's claim held however late the second one starts.
    if (story.two_updaters) script += "sleep 3000\n";
    if (story.installer_restarts_app) {
      const std::wstring launcher = root_ + L"\\launcher.exe";
      const std::string start = "start " + to_utf8(app_) + "\n";
      ASSERT_TRUE(make_stub(launcher, "sleep 2000\n" + start + start));
      script += "start " + to_utf8(launcher) + "\n";
    }
    const bool crashes = std::string(story.installer_exit) == "crash";
    const std::wstring installer = make_installer(
        L"Setup \u00c9t\u00e9 v2.exe",
        script + (crashes ? "crash\nexit 0\n" : "exit " + std::string(story.installer_exit)));
    const std::string inst = to_utf8(installer);

    std::vector<std::wstring> args = args_for(installer);
    SpawnOptions options;
    if (story.default_log) {
      args.resize(4);
      log_ = root_ + L"\\talvex-updater.log";
      options.env = {{L"TMP", root_}, {L"TEMP", root_}};
      EXPECT_EQ(to_utf8(root_), to_utf8(dir_.path()) + "\\" + kUnicodeDirUtf8);
    }
    std::optional<Spawned> old_app;
    if (story.app_exits_late) {
      const std::wstring old_exe = root_ + L"\\old-app.exe";
      ASSERT_TRUE(make_stub(old_exe, "sleep 3000\nexit 0\n"));
      old_app = spawn(old_exe, L"old-app.exe");
      ASSERT_TRUE(old_app);
      args.insert(args.end(), {L"--wait-pid", std::to_wstring(old_app->pid)});
    }
    const ULONGLONG begin = GetTickCount64();
    auto first = start_updater(args, L"stderr.txt", options);
    auto second = story.two_updaters ? start_updater(args, L"stderr-2.txt") : std::nullopt;
    std::vector<DWORD> statuses{finish_updater(first)};
    if (story.two_updaters) statuses.push_back(finish_updater(second, L"stderr-2.txt"));
    std::sort(statuses.begin(), statuses.end());
    // Ends by itself long before the installer's 900 s limit; Wine's debugger alone was seen
    // taking 14.5 s of it on a loaded machine.
    if (crashes) {
      EXPECT_LT(GetTickCount64() - begin, 40000u);
    }

    const bool installed = std::string(story.installer_exit) == "0";
    const std::string pid = old_app ? "Some(" + std::to_string(old_app->pid) + ")" : "None";
    Lines expected{"=== talvex-updater start ===", options_line(installer, pid)};
    if (old_app) expected.push_back("main process " + std::to_string(old_app->pid) + " exited");
    expected.insert(expected.end(),
                    {"running installer: " + inst + " /UPDATE /S /R",
                     "installer exited: exit code: " +
                         std::string(crashes ? "0xc0000005" : story.installer_exit)});
    for (const std::string& line : icon_lines(story.icon_exit)) expected.push_back(line);
    if (!installed) expected.push_back("install failed; best-effort relaunch of existing app");
    expected.push_back(story.installer_restarts_app
                           ? "app already running (installer /R relaunched), skip"
                           : "relaunched " + to_utf8(app_));
    expected.push_back("=== talvex-updater done");

    // The refusal is one line of its own, wherever it fell among the other run's lines.
    Lines lines = messages();
    const std::string refusal =
        "ERROR: another update of this application is running; installer not run: " + inst;
    const auto refusals = std::count(lines.begin(), lines.end(), refusal);
    std::erase(lines, refusal);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(refusals, story.two_updaters ? 1 : 0);
    const std::vector<DWORD> expected_statuses =
        story.two_updaters ? std::vector<DWORD>{0, 1} : std::vector<DWORD>{installed ? 0u : 1u};
    EXPECT_EQ(statuses, expected_statuses);

    // The installer ran once, with its three switches and its own path in quotes; the
    // application was started once, or twice by the installer's launcher.
    EXPECT_EQ(read_file(record_), "\"" + inst + "\" /UPDATE /S /R\n");
    const size_t copies = story.installer_restarts_app ? 2 : 1;
    ASSERT_TRUE(eventually([&] { return recorded_times(app_times).size() >= copies; }, 5000));
    Sleep(300);  // a further start would have reached the process list by now
    EXPECT_EQ(recorded_times(app_times).size(), copies);
    EXPECT_EQ(app_instances(), copies);

    const auto installer_ran = recorded_times(installer_times);
    ASSERT_EQ(installer_ran.size(), 1u);
    if (old_app) {
      EXPECT_GE(installer_ran[0].first, exit_time_of(old_app->process.get()));
    }
    // After an install the application is started no sooner than the 5-second pause; after a
    // failure there is no pause, only a poll, the two icon runs and the relaunch (and, after a
    // crash, the debugger's notice).
    const long long to_app =
        ms_between(installer_ran[0].second, recorded_times(app_times)[0].first);
    if (!installed && !crashes) {
      EXPECT_LT(to_app, 4500);
    } else if (installed && !story.installer_restarts_app) {
      EXPECT_GE(to_app, 4900);
    }
  }
}

// One run whose installer is missing, for the things only the whole program shows there: a
// line feed in an argument cannot forge a log line, an unpaired surrogate in one is kept (shown
// as U+FFFD), "+N" names a pid, and the application is started at once, without the wait for
// the running copy or the pause.
TEST_F(UpdateRun, AMissingInstallerRelaunchesAtOnceAndAnArgumentCannotForgeALogLine) {
  prepare();
  const std::wstring app_times = root_ + L"\\app-times.txt";
  ASSERT_TRUE(make_stub(app_, "times " + to_utf8(app_times) + "\nforever\n"));
  auto running = spawn(app_, L"app.exe");
  ASSERT_TRUE(running);
  const std::wstring installer = root_ + L"\\setup" + static_cast<wchar_t>(0xD800) +
                                 L".exe\n[1000000000] installer exited: exit code: 0";
  const ULONGLONG start = system_time_units();
  EXPECT_EQ(run({L"--installer", installer, L"--app-exe", app_, L"--wait-pid",
                 L"+" + std::to_wstring(running->pid), L"--log", log_}),
            1u);
  EXPECT_EQ(messages(),
            (Lines{"=== talvex-updater start ===",
                   "installer=" + to_utf8(root_) +
                       "\\setup\xEF\xBF\xBD.exe<U+000A>[1000000000] installer "
                       "exited: exit code: 0 app_exe=" +
                       to_utf8(app_) + " wait_pid=Some(" + std::to_string(running->pid) + ")",
                   "ERROR: installer file missing", "relaunched " + to_utf8(app_)}));
  EXPECT_TRUE(eventually([&] { return app_instances() == 2; }, 5000));
  ASSERT_TRUE(eventually([&] { return recorded_times(app_times).size() == 2; }, 5000));
  EXPECT_LT(ms_between(start, recorded_times(app_times).back().first), 4500);
}

// A caller that reads the updater's output to its end (a script, a test runner, a parent
// program) sees the end once the updater exits, although the application it started again
// keeps running: no child holds the caller's pipe beyond the standard streams meant for it.
TEST_F(UpdateRun, ACallersPipeReachesItsEndWhenTheUpdaterExits) {
  prepare();
  const std::wstring streams = root_ + L"\\streams.txt";
  const std::string record_streams = "streams " + to_utf8(streams) + "\n";
  make_icon_utility(record_streams + "exit 0\n");
  ASSERT_TRUE(make_stub(app_, record_streams + "forever\n"));
  const std::wstring installer = make_installer(L"setup.exe", record_streams + "exit 1\n");

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  ASSERT_TRUE(CreatePipe(&read_raw, &write_raw, &inheritable, 0));
  ScopedHandle read_end(read_raw);
  ScopedHandle write_end(write_raw);
  ASSERT_TRUE(SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0));
  SpawnOptions to_pipe;
  to_pipe.output = write_end.get();
  auto updater = start_updater(args_for(installer), L"", to_pipe);
  ASSERT_TRUE(updater);
  write_end.reset();
  EXPECT_EQ(wait_exit(updater->process.get(), 120000), 1u);

  // Read to the end of the pipe; Wine closes an exited process's handles a moment later.
  std::string output;
  const bool ended = eventually(
      [&] {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr)) {
          return GetLastError() == ERROR_BROKEN_PIPE;
        }
        std::string chunk(available, '\0');
        DWORD got = 0;
        if (available > 0 && ReadFile(read_end.get(), chunk.data(), available, &got, nullptr)) {
          output.append(chunk, 0, got);
        }
        return false;
      },
      10000);
  EXPECT_TRUE(ended) << "a child of the updater still holds the caller's pipe";
  EXPECT_EQ(output, "");
  EXPECT_EQ(app_instances(), 1u) << "the application should still be running";

  // The streams each child gets: the null device for the installer and the application, the
  // updater's own for the icon utility (its standard input is the null device here).
  ASSERT_TRUE(
      eventually([&] { return split_lines(read_file(streams).value_or("")).size() == 4; }, 5000));
  EXPECT_EQ(split_lines(read_file(streams).value_or("")),
            (Lines{"char char char", "char pipe pipe", "char pipe pipe", "char char char"}));
}

}  // namespace
}  // namespace talvex::test
