// wait_for_exit against real processes that end at awkward moments, and against a pid that
// another process has taken over.
#include <gtest/gtest.h>

#include <iostream>
#include <cwchar>
#include <random>

#include "base/scoped_handle_win.h"
#include "process/process_win.h"
#include "support/test_support.h"

namespace talvex::test {
namespace {

using std::chrono::milliseconds;

// TALVEX_TEST_SEED when set, so that a failing run can be replayed; a fresh seed otherwise.
unsigned test_seed() {
  wchar_t text[32];
  const DWORD n = GetEnvironmentVariableW(L"TALVEX_TEST_SEED", text, 32);
  if (n > 0 && n < 32) return static_cast<unsigned>(std::wcstoul(text, nullptr, 10));
  return std::random_device{}();
}

// Processes that end at random moments relative to the probes: before the first one, between
// two, or right as one is made. Each must be reported gone, never while it still runs, and
// within one poll interval (plus scheduling slack) of its end. The test keeps a handle to each
// child, so its pid cannot be handed to another process meanwhile.
TEST(WaitForExit, AProcessEndingAroundTheProbesIsSeenGonePromptly) {
  TestDir dir;
  const std::wstring sleeper = dir.file(L"sleeper.exe");
  constexpr milliseconds kPoll{100};
  // Room for a busy two-core machine: a late wake-up and a slow probe.
  constexpr ULONGLONG kSlackMs = 600;
  const unsigned seed = test_seed();
  std::cout << "seed " << seed << " (set TALVEX_TEST_SEED to replay)\n";
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sleep_ms(0, 350);
  ULONGLONG worst_ms = 0;
  for (int i = 0; i < 16; ++i) {
    const int ms = i == 0 ? 0 : sleep_ms(random);
    ASSERT_TRUE(make_stub(sleeper, "sleep " + std::to_string(ms) + "\n"));
    auto child = spawn(sleeper, L"sleeper.exe");
    ASSERT_TRUE(child);
    EXPECT_TRUE(wait_for_exit(child->pid, std::chrono::seconds(10), kPoll)) << ms;
    const ULONGLONG returned = system_time_units();
    ASSERT_EQ(WaitForSingleObject(child->process.get(), 0), WAIT_OBJECT_0)
        << "reported gone while still running (slept " << ms << " ms)";
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetProcessTimes(child->process.get(), &created, &exited, &kernel, &user));
    const ULONGLONG ended = (ULONGLONG{exited.dwHighDateTime} << 32) | exited.dwLowDateTime;
    const ULONGLONG lag_ms = returned > ended ? (returned - ended) / 10000 : 0;
    worst_ms = std::max(worst_ms, lag_ms);
    EXPECT_LE(lag_ms, kPoll.count() + kSlackMs) << "slept " << ms << " ms";
  }
  std::cout << "longest lag from exit to detection: " << worst_ms << " ms\n";
}

DWORD WINAPI return_at_once(void*) { return 0; }

// Starts a thread that ends at once and returns its id once it has ended and been released.
DWORD churn_thread() {
  DWORD id = 0;
  ScopedHandle thread(CreateThread(nullptr, 0, return_at_once, nullptr, 0, &id));
  if (!thread) return 0;
  WaitForSingleObject(thread.get(), INFINITE);
  return id;
}

struct Started {
  ScopedHandle process;
  DWORD pid = 0;
  DWORD tid = 0;
};

std::optional<Started> start_idle(const std::wstring& exe) {
  std::wstring line = L"idle.exe";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &info)) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  return Started{ScopedHandle(info.hProcess), info.dwProcessId, info.dwThreadId};
}

void end(Started& child) {
  TerminateProcess(child.process.get(), 0);
  WaitForSingleObject(child.process.get(), 5000);
  child.process = ScopedHandle();
}

// Makes a process take over the id of one that has ended. Process and thread ids come from
// one pool, and Wine hands freed ids out again in the order they were freed once a few hundred
// are free. A thread's id is freed when it ends, a process's id a little later, so the victim's
// pid follows its main thread's id in that order, behind a few pids of processes that ended
// earlier. Short-lived threads walk through the pool up to the main thread's id; then
// processes (a pid and a thread id each) are started until one gets the pid. When a thread or
// a process's main thread takes the pid instead, or another program's starts get in the way,
// the attempt is repeated with a new victim, for as long as `budget_ms` allows: on a loaded
// machine other programs' starts take freed ids too.
std::optional<Started> take_over_a_pid(const std::wstring& exe, DWORD& pid, ULONGLONG budget_ms) {
  const ULONGLONG give_up = GetTickCount64() + budget_ms;
  while (GetTickCount64() < give_up) {
    std::optional<Started> victim = start_idle(exe);
    if (!victim) return std::nullopt;
    pid = victim->pid;
    const DWORD tid = victim->tid;
    end(*victim);
    // The pid is released a moment after the last handle to the process is closed; it must
    // be back in the pool before the walk starts.
    if (!eventually([&] { return !ScopedHandle(OpenProcess(SYNCHRONIZE, FALSE, pid)); }, 5000)) {
      continue;
    }
    bool behind_tid = false;
    for (int i = 0; i < 100000 && !behind_tid; ++i) {
      const DWORD id = churn_thread();
      if (id == pid || id == 0) break;
      behind_tid = id == tid;
    }
    for (int i = 0; behind_tid && i < 12; ++i) {
      std::optional<Started> successor = start_idle(exe);
      if (!successor) return std::nullopt;
      if (successor->pid == pid) return successor;
      end(*successor);
      if (successor->tid == pid) break;
    }
  }
  return std::nullopt;
}

// The process is identified by its id alone: once the application's pid belongs to another
// running process, that one is waited for like the application.
TEST(WaitForExit, APidReusedByAnUnrelatedProcessIsWaitedForToTheLimit) {
  TestDir dir;
  const std::wstring idle = dir.file(L"idle.exe");
  ASSERT_TRUE(make_stub(idle, "forever\n"));
  DWORD pid = 0;
  const ULONGLONG search = GetTickCount64();
  std::optional<Started> successor = take_over_a_pid(idle, pid, 40000);
  std::cout << "pid " << pid << " taken over in " << GetTickCount64() - search << " ms\n";
  if (!successor) {
    GTEST_SKIP() << "no process could be made to reuse a pid within 40 s (the last tried: " << pid
                 << "); other programs' starts kept taking the freed ids";
  }
  const ULONGLONG begin = GetTickCount64();
  EXPECT_FALSE(wait_for_exit(pid, std::chrono::seconds(2), milliseconds(500)));
  const ULONGLONG took = GetTickCount64() - begin;
  EXPECT_GE(took, 1900u);
  EXPECT_LT(took, 3500u);
  end(*successor);
}

}  // namespace
}  // namespace talvex::test
