// Whole updates with real installers: the demo application's NSIS installer and its Windows
// Installer package, driven by the real talvex-updater.exe as the demo application starts it.
#include <windows.h>

#include <msi.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/scoped_handle_win.h"
#include "base/text.h"
#include "support/test_support.h"

namespace talvex::test {
namespace {

constexpr DWORD kInstallTimeoutMs = 60'000;
// The updater's own bounds: the pause after a successful install, an installer that never
// hangs here, and some slack for a loaded machine.
constexpr DWORD kUpdateTimeoutMs = 90'000;

std::wstring installers_dir() { return full_path(bin_dir() + L"\\..\\installers"); }

// Runs `application` with `command_line` to its end; its exit code, or nullopt on a timeout.
std::optional<DWORD> run(const std::wstring& application, const std::wstring& command_line,
                         DWORD timeout_ms = kInstallTimeoutMs) {
  auto child = spawn(application, command_line);
  if (!child) {
    ADD_FAILURE() << "cannot start " << to_utf8(application);
    return std::nullopt;
  }
  auto code = wait_exit(child->process.get(), timeout_ms);
  if (!code) {
    TerminateProcess(child->process.get(), 1);
    ADD_FAILURE() << to_utf8(command_line) << " did not end within " << timeout_ms << " ms";
  }
  return code;
}

// Waits for the first process running `image` to end; its exit code.
std::optional<DWORD> wait_for_image_to_end(const std::wstring& image, DWORD timeout_ms) {
  std::vector<DWORD> pids;
  if (!eventually([&] { return !(pids = pids_running(image)).empty(); }, 5'000)) {
    ADD_FAILURE() << to_utf8(image) << " never ran";
    return std::nullopt;
  }
  ScopedHandle process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pids.front()));
  if (!process) {
    ADD_FAILURE() << "cannot open " << to_utf8(image) << ": error " << GetLastError();
    return std::nullopt;
  }
  auto code = wait_exit(process.get(), timeout_ms);
  if (!code) ADD_FAILURE() << to_utf8(image) << " still running after " << timeout_ms << " ms";
  return code;
}

// The demo application's journal lines that record a start: "started version=... pid=...".
std::vector<std::string> starts(const std::wstring& runs_file) {
  std::vector<std::string> out = split_lines(read_file(runs_file).value_or(""));
  std::erase_if(out, [](const std::string& line) { return !line.starts_with("started "); });
  return out;
}

std::string started_line(const std::string& version, DWORD pid, const std::wstring& exe) {
  return "started version=" + version + " pid=" + std::to_string(pid) + " exe=" + to_utf8(exe);
}

// Once `runs` holds `count` starts, the application runs exactly once, and it is the copy of
// `version` that the last start recorded.
void expect_running_once(const std::wstring& app, const std::wstring& runs, size_t count,
                         const std::string& version) {
  ASSERT_TRUE(eventually([&] { return starts(runs).size() == count; }, 10'000));
  const std::vector<DWORD> running = pids_running(app);
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(starts(runs).back(), started_line(version, running.front(), app));
}

// The log of one run, which holds this run alone (its directory is new), line by line: the
// banner and options, `waited` when the application was waited for, the installer's command
// and exit code, the icon refresh, then `ending` and the closing banner.
void expect_log(const std::wstring& log, const std::wstring& installer, const std::wstring& app,
                const std::string& wait_pid, const std::vector<std::string>& waited,
                const std::string& command, const std::string& exit_code,
                const std::vector<std::string>& ending) {
  std::vector<std::string> expected = {
      "=== talvex-updater start ===",
      "installer=" + to_utf8(installer) + " app_exe=" + to_utf8(app) + " wait_pid=" + wait_pid};
  expected.insert(expected.end(), waited.begin(), waited.end());
  expected.insert(expected.end(),
                  {"running installer: " + command, "installer exited: exit code: " + exit_code,
                   "ie4uinit -ClearIconCache -> exit code: 0", "ie4uinit -show -> exit code: 0"});
  expected.insert(expected.end(), ending.begin(), ending.end());
  expected.push_back("=== talvex-updater done");
  EXPECT_EQ(log_messages(log), expected);
}

// Every Windows has the shell's icon utility in its system directory and Wine has none: a
// stand-in beside the updater, which its search tries first, gives both the same two lines
// (and keeps the machine's own icon cache alone).
void put_icon_utility_beside(const std::wstring& updater) {
  const std::wstring utility = updater.substr(0, updater.find_last_of(L'\\')) + L"\\ie4uinit.exe";
  ASSERT_TRUE(make_stub(utility, "exit 0\n"));
}

// Runs a copy of the updater in `dir`, with the stand-in icon utility beside it, as an
// application would start it; its exit status.
std::optional<DWORD> update_with(const TestDir& dir, const std::wstring& installer,
                                 const std::wstring& app, const std::wstring& log) {
  const std::wstring updater = dir.file(L"talvex-updater.exe");
  EXPECT_TRUE(copy_file(bin_file(L"talvex-updater.exe"), updater));
  put_icon_utility_beside(updater);
  return run(updater,
             quote_arg(updater) + L" --installer " + quote_arg(installer) + L" --app-exe " +
                 quote_arg(app) + L" --log " + quote_arg(log),
             kUpdateTimeoutMs);
}

// Uninstalls every installed build of the demo package. The prefix outlives test runs, and each
// build of the package has a product code of its own: an earlier build still registered would
// make the new install skip the files it believes are there.
void uninstall_demo_packages() {
  const wchar_t* upgrade_code = L"{6F0C2B57-3C1E-4F44-9E0B-5B1B0C7A9D21}";
  std::vector<std::wstring> products;
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code, 0, i, product) == ERROR_SUCCESS; ++i) {
    products.emplace_back(product);
  }
  std::wstring msiexec(MAX_PATH, L'\0');
  msiexec.resize(GetSystemDirectoryW(msiexec.data(), MAX_PATH));
  msiexec += L"\\msiexec.exe";
  for (const std::wstring& code : products) {
    run(msiexec, L"msiexec.exe /x " + code + L" /passive /norestart");
  }
}

class RealInstallers : public ::testing::Test {
 protected:
  // Whatever a test left running (a restarted application) would outlive the test program.
  void TearDown() override { kill_all(app_); }
  void kill_afterwards(const std::wstring& app) { app_ = app; }
  std::wstring app_;
};

// The road of a real update: 1.0.0 is installed and running, finds the 2.0.0 installer waiting,
// starts the updater beside it and exits; the updater waits for it, runs the NSIS installer,
// which starts 2.0.0 itself (/R), finds 2.0.0 running and does not start a second copy.
// Spaces and non-ASCII characters in every path: the install directory, hence the application,
// the updater, the log, and the installer.
TEST_F(RealInstallers, NsisUpdateThatRestartsTheApplicationItself) {
  TestDir dir(L" \u00dcn\u00efc\u00f8d\u00e9");
  const std::wstring install = dir.file(L"Program \u00c5pps\\Talvex Demo");
  const std::wstring app = install + L"\\Talvex Demo.exe";
  const std::wstring updater = install + L"\\talvex-updater.exe";
  const std::wstring runs = install + L"\\runs.txt";
  const std::wstring log = install + L"\\logs\\talvex-updater.log";
  kill_afterwards(app);

  // A first install of 1.0.0; /D= must come last and is never quoted.
  const std::wstring setup_v1 = installers_dir() + L"\\demo-setup-v1.exe";
  ASSERT_EQ(run(setup_v1, quote_arg(setup_v1) + L" /S /D=" + install), 0u);
  ASSERT_TRUE(file_exists(app));
  ASSERT_TRUE(file_exists(updater));
  put_icon_utility_beside(updater);

  const std::wstring setup_v2 = dir.file(L"Downloads \u00e9t\u00e9\\Talvex Demo Setup 2.0.0.exe");
  ASSERT_TRUE(make_dirs(dir.file(L"Downloads \u00e9t\u00e9")));
  ASSERT_TRUE(copy_file(installers_dir() + L"\\demo-setup-v2.exe", setup_v2));
  ASSERT_TRUE(write_file(install + L"\\update-pending.txt", to_utf8(setup_v2) + "\r\n"));

  auto v1 = spawn(app, quote_arg(app));
  ASSERT_TRUE(v1);
  ASSERT_EQ(wait_exit(v1->process.get(), 30'000), 0u) << "1.0.0 did not hand over and exit";
  EXPECT_FALSE(file_exists(install + L"\\update-pending.txt"));

  EXPECT_EQ(wait_for_image_to_end(updater, kUpdateTimeoutMs), 0u);

  const std::string pid = std::to_string(v1->pid);
  expect_log(log, setup_v2, app, "Some(" + pid + ")", {"main process " + pid + " exited"},
             to_utf8(setup_v2) + " /UPDATE /S /R", "0",
             {"app already running (installer /R relaunched), skip"});
  // 2.0.0 runs, exactly once, and it is the copy the installer started.
  expect_running_once(app, runs, 2, "2.0.0");
  EXPECT_EQ(starts(runs)[0], started_line("1.0.0", v1->pid, app));
}

// An installer that fails for real: the NSIS installer refuses /UPDATE when there is no earlier
// install to update (exit code 3). The updater reports the failure, still refreshes icons, and
// starts the application that is there, without the pause or the instance check.
TEST_F(RealInstallers, NsisInstallerFailureRelaunchesTheExistingApplication) {
  TestDir dir(L" f\u00e4il");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Talvex Demo");
  const std::wstring app = dir.file(L"Talvex Demo.exe");
  const std::wstring log = dir.file(L"log dir\\talvex-updater.log");
  kill_afterwards(app);
  ASSERT_TRUE(copy_file(bin_file(L"demo-app-v1.exe"), app));
  const std::wstring setup = dir.file(L"Talvex Demo Setup 2.0.0.exe");
  ASSERT_TRUE(copy_file(installers_dir() + L"\\demo-setup-v2.exe", setup));

  EXPECT_EQ(update_with(dir, setup, app, log), 1u);

  expect_log(
      log, setup, app, "None", {}, to_utf8(setup) + " /UPDATE /S /R", "3",
      {"install failed; best-effort relaunch of existing app", "relaunched " + to_utf8(app)});
  expect_running_once(app, dir.file(L"runs.txt"), 1, "1.0.0");
}

// A Windows Installer package with an upper-case extension, given by a path with spaces and
// non-ASCII characters: the updater hands it to Wine's msiexec, which installs it per user;
// msiexec cannot restart the application, so the updater starts it once.
TEST_F(RealInstallers, WindowsInstallerPackageWithUpperCaseExtension) {
  TestDir dir(L" m\u0161i");
  std::wstring local_app_data(MAX_PATH, L'\0');
  local_app_data.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", local_app_data.data(),
                                                static_cast<DWORD>(local_app_data.size())));
  ASSERT_FALSE(local_app_data.empty());
  const std::wstring install = local_app_data + L"\\Talvex E2E MSI";
  const std::wstring app = install + L"\\Talvex Demo.exe";
  const std::wstring log = dir.file(L"talvex-updater.log");
  kill_afterwards(app);

  const std::wstring package = dir.file(L"Pak\u00e9ts\\Talvex Demo 2.0.0.MSI");
  ASSERT_TRUE(make_dirs(dir.file(L"Pak\u00e9ts")));
  ASSERT_TRUE(copy_file(installers_dir() + L"\\demo-app-v2.MSI", package));

  kill_all(app);
  uninstall_demo_packages();
  remove_tree(install);
  ASSERT_FALSE(file_exists(app));

  EXPECT_EQ(update_with(dir, package, app, log), 0u);

  expect_log(log, package, app, "None", {},
             "msiexec.exe /i " + to_utf8(package) + " /passive /norestart", "0",
             {"relaunched " + to_utf8(app)});
  expect_running_once(app, install + L"\\runs.txt", 1, "2.0.0");

  kill_all(app);
  uninstall_demo_packages();
}

}  // namespace
}  // namespace talvex::test
