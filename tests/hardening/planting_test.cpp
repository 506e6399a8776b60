// Code planted beside the updater or in its current directory is never run: neither libraries
// (the DLL search is limited to the system directory) nor programs (bare names are never
// looked up in the current directory).
#include <gmock/gmock.h>

#include <iostream>

#include "hardening/hardening_fixture.h"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;

// Library names that system DLLs load on demand and that a classic search finds beside the
// program or in the current directory first. The C runtime and kernel32 are left out: they are
// static imports, resolved before the program runs and protected by KnownDLLs on Windows.
const wchar_t* const kHijackNames[] = {L"version.dll", L"userenv.dll", L"cryptbase.dll",
                                       L"dwmapi.dll",  L"profapi.dll", L"wldp.dll"};

bool plant_library(const std::wstring& dir, const std::wstring& name) {
  return copy_file(bin_file(L"planted_marker.dll"), dir + L"\\" + name);
}

std::wstring system_dir() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return std::wstring(buffer, n);
}

// What became of one LoadLibraryW by bare name in the probe helper.
struct ProbeResult {
  DWORD status = 0xFFFFFFFF;  // 0: loaded; otherwise the loader's error
  std::string loaded_from;    // the module's path when it loaded
};

class DllSearch : public HardeningRun {
 protected:
  void SetUp() override {
    probe_dir_ = dir_.file(L"probe");
    cwd_ = dir_.file(L"cwd");
    ASSERT_TRUE(make_dirs(probe_dir_) && make_dirs(cwd_));
    ASSERT_TRUE(copy_file(bin_file(L"dll_probe.exe"), probe_dir_ + L"\\dll_probe.exe"));
    ASSERT_TRUE(plant_library(probe_dir_, L"talvex-planted.dll"));
    ASSERT_TRUE(plant_library(cwd_, L"talvex-cwd-only.dll"));
    for (const wchar_t* name : kHijackNames) ASSERT_TRUE(plant_library(probe_dir_, name));
  }
  ProbeResult probe(const wchar_t* mode, const std::wstring& name) {
    const std::wstring report = dir_.file(L"report.txt");
    DeleteFileW(report.c_str());
    SpawnOptions options;
    options.current_dir = cwd_;
    auto child = spawn(
        probe_dir_ + L"\\dll_probe.exe",
        std::wstring(L"dll_probe.exe ") + mode + L" " + name + L" " + quote_arg(report), options);
    if (!child) return {};
    ProbeResult result;
    result.status = wait_exit(child->process.get(), 20000).value_or(0xFFFFFFFF);
    result.loaded_from = read_file(report).value_or("");
    return result;
  }
  std::wstring probe_dir_, cwd_;
};

// The probe does what the updater does first thing (SetDefaultDllDirectories with the system
// directory only); without that call the same bare-name load picks up the planted copy. This
// is what gives the no-marker checks on the updater their meaning.
TEST_F(DllSearch, RestrictingTheSearchToSystem32KeepsPlantedLibrariesOut) {
  // Names no system library has: the restricted search fails, the classic one loads the
  // planted file from beside the program or from the current directory.
  for (const std::wstring name : {L"talvex-planted.dll", L"talvex-cwd-only.dll"}) {
    const ProbeResult restricted = probe(L"restricted", name);
    EXPECT_EQ(restricted.status, static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << to_utf8(name);
    const ProbeResult classic = probe(L"default", name);
    EXPECT_EQ(classic.status, 0u) << to_utf8(name);
    EXPECT_TRUE(ascii_iequals(
        to_utf16(classic.loaded_from),
        test::u16((name == L"talvex-planted.dll" ? probe_dir_ : cwd_) + L"\\" + name)))
        << classic.loaded_from;
  }
  EXPECT_TRUE(file_exists(probe_dir_ + L"\\talvex-planted.dll.loaded"));
  EXPECT_TRUE(file_exists(cwd_ + L"\\talvex-cwd-only.dll.loaded"));

  // Names of real system libraries: restricted, the system's copy or nothing; classic, the
  // planted copy at least for some of them.
  const std::string system = to_utf8(system_dir());
  std::string hijacked;
  for (const wchar_t* name : kHijackNames) {
    const std::wstring marker = probe_dir_ + L"\\" + name + L".loaded";
    const ProbeResult restricted = probe(L"restricted", name);
    if (restricted.status == 0) {
      EXPECT_TRUE(
          ascii_iequals(to_utf16(restricted.loaded_from.substr(0, system.size())), to_utf16(system)))
          << restricted.loaded_from;
    }
    EXPECT_FALSE(file_exists(marker)) << to_utf8(name);
    static_cast<void>(probe(L"default", name));
    if (file_exists(marker)) hijacked += " " + to_utf8(name);
    DeleteFileW(marker.c_str());
  }
  // None of these is a KnownDLL on Windows, so the classic search takes each planted copy.
  // Wine 8 prefers its built-in version.dll (reporting the planted file's path for it without
  // running the copy's DllMain) but takes the planted copy of each of the others.
  std::cout << "planted copies loaded without the restriction:" << hijacked << "\n";
  EXPECT_FALSE(hijacked.empty());
  if (!running_under_wine()) {
    EXPECT_THAT(hijacked, HasSubstr("version.dll"));
  }
}

class PlantedCode : public HardeningRun {
 protected:
  // The updater alone in its directory with the planted libraries; the installer and the
  // application elsewhere; the current directory full of planted libraries and programs.
  void SetUp() override {
    root_ = dir_.path();
    const std::wstring updater_dir = dir_.file(L"updater");
    package_dir_ = dir_.file(L"package");
    cwd_ = dir_.file(L"cwd");
    ASSERT_TRUE(make_dirs(updater_dir) && make_dirs(package_dir_) && make_dirs(cwd_));
    updater_ = updater_dir + L"\\talvex-updater.exe";
    ASSERT_TRUE(copy_file(bin_file(L"talvex-updater.exe"), updater_));
    // The icon utility the updater runs: a stand-in beside it, never the system's own.
    icon_runs_ = dir_.file(L"icon-runs.txt");
    ASSERT_TRUE(
        make_stub(updater_dir + L"\\ie4uinit.exe", "record " + to_utf8(icon_runs_) + "\nexit 0\n"));
    app_ = package_dir_ + L"\\app.exe";
    ASSERT_TRUE(make_stub(app_, "forever\n"));
    log_ = dir_.file(L"update.log");
    for (const wchar_t* name : kHijackNames) {
      ASSERT_TRUE(plant_library(updater_dir, name));
      ASSERT_TRUE(plant_library(cwd_, name));
    }
  }
  std::vector<std::wstring> markers() const { return files_ending_in(dir_.path(), L".loaded"); }
  std::wstring package_dir_, cwd_, icon_runs_;
};

// Under Wine the updater loads nothing beyond kernelbase, kernel32 and msvcrt, so there this
// guards against a future on-demand load; on Windows, process creation and error texts load
// more, which is what the search restriction is for.
TEST_F(PlantedCode, NoPlantedLibraryIsLoadedInAWholeUpdate) {
  struct Case {
    const char* script;
    DWORD status;
    const char* installer_line;
  };
  const Case cases[] = {{"exit 0\n", 0, "installer exited: exit code: 0"},
                        {"exit 1\n", 1, "installer exited: exit code: 1"}};
  SpawnOptions in_cwd;
  in_cwd.current_dir = cwd_;
  const std::wstring setup = package_dir_ + L"\\setup.exe";
  for (const Case& c : cases) {
    ASSERT_TRUE(make_stub(setup, c.script));
    DeleteFileW(log_.c_str());
    kill_all(full_path(app_));
    EXPECT_EQ(run_with(updater_, update_args(setup, log_), in_cwd), c.status) << c.script;
    const auto lines = messages();
    ASSERT_GE(lines.size(), 6u) << c.script;
    EXPECT_EQ(lines[3], c.installer_line);
    EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 6), icon_lines()) << c.script;
    EXPECT_EQ(lines.back(), "=== talvex-updater done");
    EXPECT_TRUE(app_runs_eventually()) << c.script;
    for (const std::wstring& marker : markers()) {
      ADD_FAILURE() << to_utf8(marker) << " loaded by " << read_file(marker).value_or("?");
    }
  }
}

// The Windows Installer and the icon utility are looked up by bare name: copies in the
// current directory must lose to the system's msiexec.exe and to the icon utility beside the
// updater.
TEST_F(PlantedCode, ProgramsPlantedInTheCurrentDirectoryAreNotRun) {
  const std::wstring ran = dir_.file(L"planted-ran.txt");
  for (const wchar_t* name : {L"msiexec.exe", L"ie4uinit.exe"}) {
    ASSERT_TRUE(make_stub(cwd_ + L"\\" + name, "record " + to_utf8(ran) + "\nexit 0\n"));
  }
  // Not a real package: the system's msiexec.exe refuses it, which fails the update.
  const std::wstring package = package_dir_ + L"\\update.MSI";
  ASSERT_TRUE(write_file(package, "not a Windows Installer package"));
  SpawnOptions in_cwd;
  in_cwd.current_dir = cwd_;
  EXPECT_EQ(run_with(updater_, update_args(package, log_), in_cwd), 1u);
  const auto lines = messages();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[2],
            "running installer: msiexec.exe /i " + to_utf8(package) + " /passive /norestart");
  EXPECT_THAT(lines[3], StartsWith("installer exited: exit code: "));
  EXPECT_NE(lines[3], "installer exited: exit code: 0");
  EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 6), icon_lines());
  EXPECT_EQ(split_lines(read_file(icon_runs_).value_or("")).size(), 2u);
  EXPECT_FALSE(file_exists(ran)) << read_file(ran).value_or("");
  EXPECT_TRUE(app_runs_eventually());
}

}  // namespace
}  // namespace talvex::test
