// The npm package as an Electron or Node.js application uses it, run by a real Windows Node.js:
// a script application hands over and exits; the updater waits for Node's process, runs the
// demo's real NSIS installer, and the application runs again. Beside it, handovers whose paths
// hold every character libuv's quoting deals with, read back from the updater's options line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "last_update.h"

#include "base/scoped_handle_win.h"
#include "base/text.h"
#include "main/command_line.h"
#include "support/test_support.h"

namespace talvex::test {
namespace {

constexpr DWORD kUpdateTimeoutMs = 90'000;

// `text` in UTF-8 with its control characters written by `form` (printf, from the byte): as a
// JSON string ("\\u%04x", quotes and backslashes escaped too) or as the log shows a path
// ("<U+%04X>").
std::string with_controls(const std::wstring& text, const char* form, bool json) {
  std::string out;
  for (const char c : to_utf8(text)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char visible[16];
      snprintf(visible, sizeof visible, form, c);
      out += visible;
      continue;
    }
    if (json && (c == '"' || c == '\\')) out += '\\';
    out += c;
  }
  return out;
}

std::string json_string(const std::wstring& text) {
  return "\"" + with_controls(text, "\\u%04x", true) + "\"";
}

std::string as_logged(const std::wstring& path) { return with_controls(path, "<U+%04X>", false); }

struct Handover {
  std::wstring installer, app_exe, log, updater;
};

std::string job_json(const std::vector<Handover>& handovers) {
  std::string out = "{\"handovers\": [";
  for (const Handover& h : handovers) {
    if (out.back() != '[') out += ", ";
    out += "{\"installer\": " + json_string(h.installer) +
           ", \"appExe\": " + json_string(h.app_exe) + ", \"log\": " + json_string(h.log) +
           ", \"updaterPath\": " + json_string(h.updater) + "}";
  }
  return out + "]}";
}

// Reads a pipe to its end on a thread of its own, so that the test can bound the wait.
class PipeReader {
 public:
  explicit PipeReader(HANDLE read_end)
      : read_end_(read_end), thread_([this] {
          char buffer[4096];
          DWORD n = 0;
          while (ReadFile(read_end_.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
            text_.append(buffer, n);
          }
          SetEvent(done_.get());
        }) {}
  ~PipeReader() { thread_.join(); }
  [[nodiscard]] bool reached_end(DWORD timeout_ms) const {
    return WaitForSingleObject(done_.get(), timeout_ms) == WAIT_OBJECT_0;
  }
  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  ScopedHandle done_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle read_end_;
  std::string text_;
  std::thread thread_;
};

TEST(NodeHandover, WholeUpdateAndHostilePathsThroughARealWindowsNode) {
  const auto node = read_file(bin_file(L"windows-node.txt"));
  ASSERT_TRUE(node) << "windows-node.txt missing beside the test";
  const std::wstring node_exe = wide(to_utf16(node->substr(0, node->find('\n'))));
  ASSERT_TRUE(file_exists(node_exe)) << *node << " (scripts/install-deps.sh fetches it)";

  TestDir dir(L" N\u00f8de & 100% ^");
  const std::wstring install = dir.file(L"Program \u00c5pps\\Talvex Demo");
  const std::wstring app = install + L"\\Talvex Demo.exe";
  const std::wstring updater = install + L"\\talvex-updater.exe";
  const std::wstring log = install + L"\\logs\\talvex-updater.log";
  const std::wstring installers = full_path(bin_dir() + L"\\..\\installers");
  const std::wstring setup_v1 = installers + L"\\demo-setup-v1.exe";
  auto v1 = spawn(setup_v1, quote_arg(setup_v1) + L" /S /D=" + install);
  ASSERT_TRUE(v1);
  ASSERT_EQ(wait_exit(v1->process.get(), 60'000), 0u);
  ASSERT_TRUE(file_exists(updater));
  // Wine has no icon utility; a stand-in beside the updater, which its search tries first.
  ASSERT_TRUE(make_stub(install + L"\\ie4uinit.exe", "exit 0\n"));
  const std::wstring downloads = dir.file(L"Downloads %TEMP% & ^ \u00e9t\u00e9");
  ASSERT_TRUE(make_dirs(downloads));
  const std::wstring setup = downloads + L"\\Talvex Demo Setup 2.0.0.exe";
  ASSERT_TRUE(copy_file(installers + L"\\demo-setup-v2.exe", setup));

  // Rows: paths no installer or application lies at, so each updater logs its options, finds
  // neither file and ends at once. Whatever libuv quotes must come back unchanged.
  const std::vector<std::wstring> hostile = {
      L"C:\\Program Files\\Vendor App\\setup 2.0.exe",
      L"C:\\a \"quoted\" name\\setup.exe",
      L"C:\\trailing backslash\\",
      L"C:\\trailing backslashes\\\\",
      L"C:\\no_spaces_but\\\"quote",
      L"C:\\quote after backslashes\\\\\\\"x",
      L"C:\\%PATH%\\100% done.exe",
      L"C:\\^caret^ & ampersand &&\\|pipe| <lt> >gt>.exe",
      L"C:\\\u00dcn\u00efc\u00f8d\u00e9\\\u4e2d\u6587\\\U0001F600.exe",
      L"C:\\tab\there.exe",
      L"C:\\ends in space ",
  };
  std::vector<Handover> handovers;
  for (size_t i = 0; i < hostile.size(); ++i) {
    handovers.push_back({hostile[i], hostile[hostile.size() - 1 - i],
                         dir.file(L"row " + std::to_wstring(i) + L".log"), updater});
  }
  // Last, the real one; the application Node hands over for is the installed demo.
  handovers.push_back({setup, app, log, updater});
  const std::wstring job = dir.file(L"job.json");
  ASSERT_TRUE(write_file(job, job_json(handovers)));
  const std::wstring script = bin_file(L"npm\\app.js");

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  ScopedHandle write_owner(write_end);
  PipeReader output(read_end);
  SpawnOptions options;
  options.output = write_end;
  auto node_run = spawn(
      node_exe, quote_arg(node_exe) + L" " + quote_arg(script) + L" " + quote_arg(job), options);
  write_owner.reset();
  ASSERT_TRUE(node_run);
  const auto node_exit = wait_exit(node_run->process.get(), 60'000);
  // Node's output pipe ends when Node does: neither the updater nor anything it starts holds it.
  // The updater runs on for seconds (the install, then its pause), so an end seen while it
  // still runs is Node's own.
  const bool ended = output.reached_end(kUpdateTimeoutMs);
  const bool updater_ran_on = !pids_running(updater).empty();
  EXPECT_TRUE(ended && updater_ran_on) << "Node's standard output stayed open after it exited";
  EXPECT_EQ(node_exit, 0u) << (ended ? output.text() : "");

  // The real update: the updater ends, and the new version runs (the installer started it).
  EXPECT_TRUE(eventually([&] { return pids_running(updater).empty(); }, kUpdateTimeoutMs));
  EXPECT_EQ(pids_running(app).size(), 1u);
  // Whatever still runs would outlive the test (and, holding the pipe, keep its reader waiting).
  kill_all(updater);
  kill_all(app);

  const std::vector<std::string> lines = split_lines(output.text());
  ASSERT_EQ(lines.size(), handovers.size()) << output.text();
  const std::string node_pid = std::to_string(node_run->pid);
  for (size_t i = 0; i < handovers.size(); ++i) {
    const Handover& h = handovers[i];
    SCOPED_TRACE(to_utf8(h.installer));
    // startUpdater's commandLine is what the updater reads, split by its own rules.
    const std::string& line = lines[i];
    ASSERT_EQ(line.rfind("started ", 0), 0u) << line;
    const std::u16string command_line = to_utf16(line.substr(line.find(' ', 8) + 1));
    EXPECT_EQ(split_command_line(command_line),
              u16_all({h.updater, L"--installer", h.installer, L"--app-exe", h.app_exe,
                       L"--wait-pid", wide(to_utf16(node_pid)), L"--log", h.log}));
    // And what the updater itself wrote it read.
    const std::string options_line = "installer=" + as_logged(h.installer) +
                                     " app_exe=" + as_logged(h.app_exe) + " wait_pid=Some(" +
                                     node_pid + ")";
    std::vector<std::string> messages;
    ASSERT_TRUE(eventually([&] { return (messages = log_messages(h.log)).size() >= 2; }, 10'000));
    EXPECT_EQ(messages[1], options_line);
  }
  const auto outcome = talvex_example::read_last_update(log);
  EXPECT_TRUE(outcome.finished);
  EXPECT_TRUE(outcome.installed);
  EXPECT_EQ(outcome.relaunched_by, talvex_example::LastUpdate::Relauncher::installer);
  EXPECT_EQ(log_messages(log).at(2), "main process " + node_pid + " exited");
}

}  // namespace
}  // namespace talvex::test
