// The measuring parent of scripts/bench.sh: starts one program, watches it to its end and writes
// what it cost as "key value" lines.
//
//   bench_runner --out <file> [options] -- <program> [arguments...]
//
//   --timeout-ms <n>         terminate the program when it runs longer (default 120000)
//   --poll-ms <n>            sampling interval while it runs; 0 samples without pausing (default 1)
//   --busy <exe>             start <exe> first (a stand-in application that does not exit); every
//                            argument that reads "{busy}" is replaced by its pid
//   --kill-busy-ms <n>       terminate that process <n> ms after the program was started
//   --window-log <file>      sample the program's CPU time once <file> holds "wait_pid=" ...
//   --window-ms <n>          ... and again <n> ms later (default 29000)
//   --times <label>=<file>   summarise a stub's "times" file (lifetimes of its runs)
//
// Keys written: exit_code, timed_out, wall_ms, cpu_ms, cpu_source, cpu_final, peak_ws_kib,
// mem_samples; with --busy: busy_killed, and detect_ms when a "installer" times file exists
// (the installer's creation minus the busy process's exit); with --window-log: window_ms,
// window_cpu_ms, window_inside (1 when the second sample came before the installer started);
// per times file: <label>_runs and <label>_lifetime_ms (sum).
//
// CPU time: GetProcessTimes of another process gives the caller's own times under Wine 8, so there
// the program's Unix process is found through the Z: drive (/proc/<pid>/cmdline names its
// Windows image) and its /proc/<pid>/schedstat (nanoseconds on a CPU, user and kernel together)
// is read at every sample; a Wine process is a single Unix thread. The last sample is taken just
// before the exit was seen; one more read after it succeeds while the exited process is not yet
// reaped (cpu_final 1). Elsewhere GetProcessTimes after the exit is used.
// Peak working set: the largest PeakWorkingSetSize seen while it ran (Wine answers 0 once the
// process has gone) and after its exit (Windows keeps the figure).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
  std::wstring out;
  DWORD timeout_ms = 120000;
  DWORD poll_ms = 1;
  std::wstring busy;
  std::optional<DWORD> kill_busy_ms;
  std::wstring window_log;
  DWORD window_ms = 29000;
  std::vector<std::pair<std::wstring, std::wstring>> times;  // label, file
  std::vector<std::wstring> command;
};

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  ~Handle() { reset(); }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset() {
    if (h_) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_;
};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "bench_runner: %s (error %lu)\n", what, GetLastError());
  std::exit(3);
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

DWORD number(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 10)); }

Options parse(int argc, wchar_t** argv) {
  Options o;
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--") break;
    if (i + 1 >= argc) fail("option without a value");
    const wchar_t* v = argv[++i];
    if (a == L"--out") {
      o.out = v;
    } else if (a == L"--timeout-ms") {
      o.timeout_ms = number(v);
    } else if (a == L"--poll-ms") {
      o.poll_ms = number(v);
    } else if (a == L"--busy") {
      o.busy = v;
    } else if (a == L"--kill-busy-ms") {
      o.kill_busy_ms = number(v);
    } else if (a == L"--window-log") {
      o.window_log = v;
    } else if (a == L"--window-ms") {
      o.window_ms = number(v);
    } else if (a == L"--times") {
      const std::wstring spec = v;
      const size_t eq = spec.find(L'=');
      if (eq == std::wstring::npos) fail("--times wants <label>=<file>");
      o.times.emplace_back(spec.substr(0, eq), spec.substr(eq + 1));
    } else {
      fail("unknown option");
    }
  }
  for (++i; i < argc; ++i) o.command.emplace_back(argv[i]);
  if (o.out.empty() || o.command.empty()) fail("usage: bench_runner --out <file> ... -- <program>");
  return o;
}

// The C runtime's splitting rules, inverted.
std::wstring quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

struct Child {
  Handle process;
  Handle thread;
  DWORD pid = 0;
};

Child start(const std::vector<std::wstring>& args, HANDLE null_device) {
  std::wstring line;
  for (const std::wstring& a : args) line += (line.empty() ? L"" : L" ") + quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = null_device;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(args[0].c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &si, &pi)) {
    fail("CreateProcessW");
  }
  Child c;
  c.process = Handle(pi.hProcess);
  c.thread = Handle(pi.hThread);
  c.pid = pi.dwProcessId;
  return c;
}

std::string read_all(const std::wstring& path) {
  std::string data;
  Handle f(CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr));
  if (!f) return data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  return data;
}

std::uint64_t units(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

double ms_between(std::uint64_t from, std::uint64_t to) {
  return (static_cast<double>(to) - static_cast<double>(from)) / 1e4;
}

bool under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool same_ascii_path(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Our own Unix process id, from /proc/self/stat.
unsigned long own_unix_pid() {
  return std::strtoul(read_all(L"Z:\\proc\\self\\stat").c_str(), nullptr, 10);
}

// Finds the Unix process behind a Wine process: its cmdline starts with the Windows image path.
// Opening files through Wine is slow enough to matter against a program that lives 30 ms, so only
// processes with ids above `after` are read (Linux hands out ids in rising order).
std::optional<std::wstring> unix_proc_dir(const std::string& image, unsigned long after) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::wstring> found;
  do {
    const std::wstring name = entry.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    if (std::wcstoul(name.c_str(), nullptr, 10) <= after) continue;
    const std::wstring dir = L"Z:\\proc\\" + name;
    std::string cmd = read_all(dir + L"\\cmdline");
    cmd.resize(std::min(cmd.size(), cmd.find('\0')));
    while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
    if (same_ascii_path(cmd, image)) {
      found = dir;
      break;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

// CPU time of a Unix process in nanoseconds, from an open /proc/<pid>/schedstat.
std::optional<std::uint64_t> schedstat_ns(HANDLE file) {
  char buf[128];
  DWORD got = 0;
  OVERLAPPED at{};  // offset 0: the kernel renders the file afresh on every read from the start
  if (!ReadFile(file, buf, sizeof buf - 1, &got, &at) || got == 0) return std::nullopt;
  buf[got] = '\0';
  return std::strtoull(buf, nullptr, 10);
}

double qpc_ms(LARGE_INTEGER from) {
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(now.QuadPart - from.QuadPart) * 1000.0 /
         static_cast<double>(freq.QuadPart);
}

class CpuMeter {
 public:
  CpuMeter(const Child& child, const std::wstring& image)
      : child_(child), image_(narrow(image)), wine_(under_wine()) {
    QueryPerformanceCounter(&started_);
    if (wine_) own_pid_ = own_unix_pid();
  }
  // The latest reading in nanoseconds, when there is one.
  std::optional<std::uint64_t> sample() {
    if (!file_) locate();
    if (!file_) return std::nullopt;
    if (auto ns = schedstat_ns(file_.get())) last_ = ns;
    return last_;
  }
  // Call once the process has exited.
  void finish() {
    if (wine_) {
      if (file_) {
        if (auto ns = schedstat_ns(file_.get()); ns && (!last_ || *ns >= *last_)) {
          last_ = ns;
          final_ = true;
        }
      }
      return;
    }
    FILETIME c, e, k, u;
    if (GetProcessTimes(child_.process.get(), &c, &e, &k, &u)) {
      last_ = (units(k) + units(u)) * 100;
      final_ = true;
    }
  }
  std::optional<std::uint64_t> total_ns() const { return last_; }
  const char* source() const { return !wine_ ? "GetProcessTimes" : file_ ? "schedstat" : "none"; }
  bool final_reading() const { return final_; }

 private:
  // The Unix process shows the Windows image path once Wine has loaded the program: look for it
  // every few milliseconds during the first seconds, among the processes started after ours
  // first and, in case the ids wrapped around, among all after half a second.
  void locate() {
    if (!wine_) return;
    const double elapsed = qpc_ms(started_);
    if (elapsed > 3000 || elapsed - last_scan_ms_ < 5) return;
    last_scan_ms_ = elapsed;
    if (auto dir = unix_proc_dir(image_, elapsed < 500 ? own_pid_ : 0)) {
      file_ = Handle(CreateFileW((*dir + L"\\schedstat").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    }
  }

  const Child& child_;
  const std::string image_;
  const bool wine_;
  LARGE_INTEGER started_{};
  unsigned long own_pid_ = 0;
  double last_scan_ms_ = -1e9;
  Handle file_;
  std::optional<std::uint64_t> last_;
  bool final_ = false;
};

std::uint64_t now_units() {
  FILETIME t;
  GetSystemTimePreciseAsFileTime(&t);
  return units(t);
}

struct TimesSummary {
  int runs = 0;
  double lifetime_ms = 0;
  std::optional<std::uint64_t> first_created;
};

TimesSummary summarise_times(const std::wstring& path) {
  TimesSummary s;
  const std::string data = read_all(path);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    const std::string line = data.substr(pos, end - pos);
    pos = end + 1;
    char* rest = nullptr;
    const std::uint64_t created = std::strtoull(line.c_str(), &rest, 10);
    const std::uint64_t exited = std::strtoull(rest, nullptr, 10);
    if (created == 0 || exited < created) continue;
    ++s.runs;
    s.lifetime_ms += ms_between(created, exited);
    if (!s.first_created) s.first_created = created;
  }
  return s;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o = parse(argc, argv);

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
  if (!null_device) fail("cannot open NUL");

  Child busy;
  if (!o.busy.empty()) {
    busy = start({o.busy}, null_device.get());
    for (std::wstring& a : o.command) {
      if (a == L"{busy}") a = std::to_wstring(busy.pid);
    }
  }

  LARGE_INTEGER t0;
  QueryPerformanceCounter(&t0);
  Child child = start(o.command, null_device.get());
  CpuMeter cpu(child, o.command[0]);

  SIZE_T peak_ws = 0;
  int mem_samples = 0;
  auto sample_memory = [&] {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (K32GetProcessMemoryInfo(child.process.get(), &pmc, sizeof pmc) &&
        pmc.PeakWorkingSetSize > 0) {
      ++mem_samples;
      if (pmc.PeakWorkingSetSize > peak_ws) peak_ws = pmc.PeakWorkingSetSize;
    }
  };

  bool busy_killed = false;
  std::uint64_t busy_exit = 0;
  // CPU window: 0 waiting for the log line, 1 inside the window, 2 done.
  int window_state = o.window_log.empty() ? 2 : 0;
  double window_start_ms = 0, window_ms = 0, last_log_check = -1e9;
  std::uint64_t window_start_ns = 0, window_cpu_ns = 0, window_end = 0;

  bool timed_out = false;
  for (;;) {
    sample_memory();
    cpu.sample();
    const double elapsed = qpc_ms(t0);
    if (busy.process && !busy_killed && o.kill_busy_ms && elapsed >= *o.kill_busy_ms) {
      TerminateProcess(busy.process.get(), 0);
      WaitForSingleObject(busy.process.get(), 5000);
      FILETIME c, e, k, u;
      if (GetProcessTimes(busy.process.get(), &c, &e, &k, &u)) busy_exit = units(e);
      busy_killed = true;
    }
    if (window_state == 0 && elapsed - last_log_check >= 5) {
      last_log_check = elapsed;
      if (read_all(o.window_log).find("wait_pid=") != std::string::npos) {
        if (auto ns = cpu.sample()) {
          window_start_ns = *ns;
          window_start_ms = qpc_ms(t0);
          window_state = 1;
        }
      }
    } else if (window_state == 1 && elapsed - window_start_ms >= o.window_ms) {
      if (auto ns = cpu.sample()) {
        window_ms = qpc_ms(t0) - window_start_ms;
        window_cpu_ns = *ns - window_start_ns;
        window_end = now_units();
      }
      window_state = 2;
    }
    if (elapsed >= o.timeout_ms) {
      TerminateProcess(child.process.get(), 255);
      WaitForSingleObject(child.process.get(), 5000);
      timed_out = true;
      break;
    }
    if (WaitForSingleObject(child.process.get(), o.poll_ms) == WAIT_OBJECT_0) break;
  }
  const double wall_ms = qpc_ms(t0);
  cpu.finish();
  sample_memory();
  DWORD exit_code = 0;
  GetExitCodeProcess(child.process.get(), &exit_code);

  if (busy.process) {
    TerminateProcess(busy.process.get(), 0);
    WaitForSingleObject(busy.process.get(), 5000);
  }

  std::string out;
  auto put = [&out](const std::string& key, const std::string& value) {
    out += key + " " + value + "\n";
  };
  auto fixed = [](double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return std::string(buf);
  };
  put("exit_code", std::to_string(exit_code));
  put("timed_out", timed_out ? "1" : "0");
  put("wall_ms", fixed(wall_ms));
  if (auto ns = cpu.total_ns()) put("cpu_ms", fixed(static_cast<double>(*ns) / 1e6));
  put("cpu_source", cpu.source());
  put("cpu_final", cpu.final_reading() ? "1" : "0");
  if (peak_ws > 0) put("peak_ws_kib", std::to_string(peak_ws / 1024));
  put("mem_samples", std::to_string(mem_samples));
  std::optional<std::uint64_t> installer_created;
  for (const auto& [label, file] : o.times) {
    const TimesSummary s = summarise_times(file);
    put(narrow(label) + "_runs", std::to_string(s.runs));
    put(narrow(label) + "_lifetime_ms", fixed(s.lifetime_ms));
    if (label == L"installer") installer_created = s.first_created;
  }
  if (busy.process) {
    put("busy_killed", busy_killed ? "1" : "0");
    if (busy_killed && busy_exit && installer_created) {
      put("detect_ms", fixed(ms_between(busy_exit, *installer_created)));
    }
  }
  if (!o.window_log.empty() && window_end) {
    put("window_ms", fixed(window_ms));
    put("window_cpu_ms", fixed(static_cast<double>(window_cpu_ns) / 1e6));
    put("window_inside", installer_created && window_end < *installer_created ? "1" : "0");
  }

  Handle f(CreateFileW(o.out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                       nullptr));
  DWORD written = 0;
  if (!f || !WriteFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr)) {
    fail("cannot write the results");
  }
  return 0;
}
