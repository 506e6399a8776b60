// Code planted beside the updater or in its current directory is never run: neither libraries
// (the DLL search is limited to the system directory) nor programs (bare names are never
// looked up in the current directory).
#include <gmock/gmock.h>

#include <iostream>

#include "update/update_fixture.h"

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

// What became of one LoadLibraryW by bare name in the probe helper.
struct ProbeResult {
  DWORD status = 0xFFFFFFFF;  // 0: loaded; otherwise the loader's error
  std::string loaded_from;    // the module's path when it loaded
};

// The probe does what the updater does first thing (SetDefaultDllDirectories with the system
// directory only); without that call the same bare-name load picks up the planted copy. This
// is what gives the no-marker checks on the updater their meaning.
TEST(DllSearch, RestrictingTheSearchToSystem32KeepsPlantedLibrariesOut) {
  TestDir dir;
  const std::wstring probe_dir = dir.file(L"probe");
  const std::wstring cwd = dir.file(L"cwd");
  ASSERT_TRUE(make_dirs(probe_dir) && make_dirs(cwd));
  ASSERT_TRUE(copy_file(bin_file(L"dll_probe.exe"), probe_dir + L"\\dll_probe.exe"));
  ASSERT_TRUE(plant_library(probe_dir, L"talvex-planted.dll"));
  ASSERT_TRUE(plant_library(cwd, L"talvex-cwd-only.dll"));
  for (const wchar_t* name : kHijackNames) ASSERT_TRUE(plant_library(probe_dir, name));
  // Two names no system library has, then names of real system libraries.
  std::vector<std::wstring> names{L"talvex-planted.dll", L"talvex-cwd-only.dll"};
  names.insert(names.end(), std::begin(kHijackNames), std::end(kHijackNames));
  const auto marker = [&](const std::wstring& name) {
    return probe_dir + L"\\" + name + L".loaded";
  };
  // One probe run in `mode` over every name, from `cwd`; a result per name, in order.
  const auto probe = [&](const std::wstring& mode) {
    const std::wstring report = dir.file(L"report-" + mode + L".txt");
    std::wstring line = L"dll_probe.exe " + mode + L" " + quote_arg(report);
    for (const std::wstring& name : names) line += L" " + name;
    SpawnOptions options;
    options.current_dir = cwd;
    auto child = spawn(probe_dir + L"\\dll_probe.exe", line, options);
    EXPECT_TRUE(child && wait_exit(child->process.get(), 20000) == 0u) << to_utf8(line);
    std::vector<ProbeResult> results;
    for (const std::string& entry : split_lines(read_file(report).value_or(""))) {
      const size_t blank = entry.find(' ');
      results.push_back({static_cast<DWORD>(std::stoul(entry.substr(0, blank))),
                         blank == std::string::npos ? "" : entry.substr(blank + 1)});
    }
    results.resize(names.size());
    return results;
  };

  // Restricted: the first two fail; the system libraries are the system's copy or nothing.
  const std::vector<ProbeResult> restricted = probe(L"restricted");
  wchar_t system_dir[MAX_PATH];
  const std::string system =
      to_utf8(std::wstring(system_dir, GetSystemDirectoryW(system_dir, MAX_PATH)));
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(to_utf8(names[i]));
    if (i < 2) {
      EXPECT_EQ(restricted[i].status, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
      continue;
    }
    if (restricted[i].status == 0) {
      EXPECT_TRUE(ascii_iequals(to_utf16(restricted[i].loaded_from.substr(0, system.size())),
                                to_utf16(system)))
          << restricted[i].loaded_from;
    }
    EXPECT_FALSE(file_exists(marker(names[i])));
  }

  // Classic: the first two load the planted file from beside the program or from the current
  // directory; of the system libraries, the planted copy at least for some.
  const std::vector<ProbeResult> classic = probe(L"default");
  for (size_t i = 0; i < 2; ++i) {
    const std::wstring planted = (i == 0 ? probe_dir : cwd) + L"\\" + names[i];
    EXPECT_EQ(classic[i].status, 0u) << to_utf8(names[i]);
    EXPECT_TRUE(ascii_iequals(to_utf16(classic[i].loaded_from), test::u16(planted)))
        << classic[i].loaded_from;
    EXPECT_TRUE(file_exists(planted + L".loaded")) << to_utf8(planted);
  }
  std::string hijacked;
  for (const wchar_t* name : kHijackNames) {
    if (file_exists(marker(name))) hijacked += " " + to_utf8(name);
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

class PlantedCode : public UpdateRun {
 protected:
  // The updater with the planted libraries in its directory (root); the installer and the
  // application elsewhere; the current directory full of planted libraries and programs.
  void SetUp() override {
    prepare(L"updater");
    package_dir_ = dir_.file(L"package");
    cwd_ = dir_.file(L"cwd");
    ASSERT_TRUE(make_dirs(package_dir_) && make_dirs(cwd_));
    // The icon utility the updater runs: a stand-in beside it, never the system's own.
    icon_runs_ = dir_.file(L"icon-runs.txt");
    make_icon_utility("record " + to_utf8(icon_runs_) + "\nexit 0\n");
    app_ = package_dir_ + L"\\app.exe";
    ASSERT_TRUE(make_stub(app_, "forever\n"));
    for (const wchar_t* name : kHijackNames) {
      ASSERT_TRUE(plant_library(root_, name));
      ASSERT_TRUE(plant_library(cwd_, name));
    }
    in_cwd_.current_dir = cwd_;
  }
  std::wstring package_dir_, cwd_, icon_runs_;
  SpawnOptions in_cwd_;
};

// On Windows, process creation and error texts load libraries on demand, which is what the
// search restriction is for. Wine's builtins load fewer, but a load on demand added to the
// updater would pick up a planted copy there as well.
TEST_F(PlantedCode, NoPlantedLibraryIsLoadedInAWholeUpdate) {
  const std::wstring setup = package_dir_ + L"\\setup.exe";
  for (const DWORD status : {0u, 1u}) {
    SCOPED_TRACE(status);
    ASSERT_TRUE(make_stub(setup, "exit " + std::to_string(status) + "\n"));
    DeleteFileW(log_.c_str());
    kill_all(full_path(app_));
    EXPECT_EQ(run(args_for(setup), in_cwd_), status) << read_file(log_).value_or("(no log)");
    EXPECT_EQ(messages().back(), "=== talvex-updater done");
    EXPECT_TRUE(app_runs_eventually());
    // Each planted copy's marker would appear beside it.
    for (const std::wstring& dir : {root_, cwd_}) {
      for (const wchar_t* name : kHijackNames) {
        const std::wstring marker = dir + L"\\" + name + L".loaded";
        EXPECT_FALSE(file_exists(marker))
            << to_utf8(marker) << " loaded by " << read_file(marker).value_or("?");
      }
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
  EXPECT_EQ(run(args_for(package), in_cwd_), 1u);
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
