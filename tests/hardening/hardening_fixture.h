// Whole updates through the real executable, started the way a hostile or unlucky environment
// would start them: from another current directory, with another environment block, or
// watched from outside while they run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/update_fixture.h"

namespace talvex::test {

class HardeningRun : public UpdateRun {
 protected:
  // Starts `updater` with the given arguments (each quoted); standard error goes to a file in
  // the test directory, which finish() checks is empty.
  std::optional<Spawned> start(const std::wstring& updater, const std::vector<std::wstring>& args,
                               SpawnOptions options = {}) {
    std::wstring line = L"talvex-updater.exe";
    for (const std::wstring& arg : args) line += L" " + quote_arg(arg);
    if (options.current_dir.empty()) options.current_dir = root_;
    stderr_ = dir_.file(L"updater-stderr.txt");
    options.stderr_file = stderr_;
    return spawn(updater, line, options);
  }
  // Waits for the updater to end (terminating it when it overruns) and returns its status,
  // 0xFFFFFFFF when it did not end in time.
  DWORD finish(Spawned& updater, DWORD timeout_ms = 60000) {
    const std::optional<DWORD> status = wait_exit(updater.process.get(), timeout_ms);
    if (!status) TerminateProcess(updater.process.get(), 99);
    EXPECT_EQ(read_file(stderr_).value_or(""), "");
    return status.value_or(0xFFFFFFFF);
  }
  DWORD run_with(const std::wstring& updater, const std::vector<std::wstring>& args,
                 SpawnOptions options = {}) {
    std::optional<Spawned> child = start(updater, args, std::move(options));
    return child ? finish(*child) : 0xFFFFFFFF;
  }
  std::vector<std::wstring> update_args(const std::wstring& installer,
                                        const std::wstring& log) const {
    return {L"--installer", installer, L"--app-exe", app_, L"--log", log};
  }

  std::wstring stderr_;
};

// Every file below `dir` whose name ends in `suffix`, searched recursively.
inline std::vector<std::wstring> files_ending_in(const std::wstring& dir,
                                                 std::wstring_view suffix) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = dir + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (std::wstring& inner : files_ending_in(path, suffix)) found.push_back(std::move(inner));
    } else if (name.size() >= suffix.size() &&
               std::wstring_view(name).substr(name.size() - suffix.size()) == suffix) {
      found.push_back(path);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

}  // namespace talvex::test
