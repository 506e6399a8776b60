#include "faults/fault_injection_win.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

// Older MinGW-w64 headers lack it: an installer whose manifest asks for administrator rights.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

namespace talvex::test {
namespace {

// Every kernel32 function the product calls that can fail, with its failure value and the error
// it fails with unless a Fault names another: one a real system plausibly gives for that call.
// The imports left out are listed, with the reason, in unfailed-imports.txt.
#define TALVEX_FAULT_FUNCTIONS(X)                                      \
  X(CreateDirectoryW, FALSE, ERROR_ACCESS_DENIED)                      \
  X(CreateFileW, INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION)        \
  X(CreateMutexW, nullptr, ERROR_ACCESS_DENIED)                        \
  X(CreateProcessW, FALSE, ERROR_ELEVATION_REQUIRED)                   \
  X(CreateToolhelp32Snapshot, INVALID_HANDLE_VALUE, ERROR_BAD_LENGTH)  \
  X(CreateWaitableTimerExW, nullptr, ERROR_NO_SYSTEM_RESOURCES)        \
  X(DuplicateHandle, FALSE, ERROR_NO_SYSTEM_RESOURCES)                 \
  X(FindFirstFileExW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED)       \
  X(FormatMessageW, 0, ERROR_MR_MID_NOT_FOUND)                         \
  X(GetEnvironmentVariableW, 0, ERROR_ENVVAR_NOT_FOUND)                \
  X(GetExitCodeProcess, FALSE, ERROR_ACCESS_DENIED)                    \
  X(GetFileAttributesW, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED)  \
  X(GetFileInformationByHandle, FALSE, ERROR_INVALID_FUNCTION)         \
  X(GetFileInformationByHandleEx, FALSE, ERROR_INVALID_FUNCTION)       \
  X(GetFileType, FILE_TYPE_UNKNOWN, ERROR_INVALID_HANDLE)              \
  X(GetFullPathNameW, 0, ERROR_FILENAME_EXCED_RANGE)                   \
  X(GetModuleFileNameW, 0, ERROR_NOT_ENOUGH_MEMORY)                    \
  X(GetModuleHandleW, nullptr, ERROR_MOD_NOT_FOUND)                    \
  X(GetProcAddress, nullptr, ERROR_PROC_NOT_FOUND)                     \
  X(GetStdHandle, INVALID_HANDLE_VALUE, ERROR_INVALID_HANDLE)          \
  X(GetSystemDirectoryW, 0, ERROR_NOT_ENOUGH_MEMORY)                   \
  X(GetTempPathW, 0, ERROR_NOT_ENOUGH_MEMORY)                          \
  X(GetWindowsDirectoryW, 0, ERROR_NOT_ENOUGH_MEMORY)                  \
  X(InitializeProcThreadAttributeList, FALSE, ERROR_NOT_ENOUGH_MEMORY) \
  X(OpenProcess, nullptr, ERROR_ACCESS_DENIED)                         \
  X(Process32FirstW, FALSE, ERROR_NO_MORE_FILES)                       \
  X(Process32NextW, FALSE, ERROR_NO_MORE_FILES)                        \
  X(QueryFullProcessImageNameW, FALSE, ERROR_INSUFFICIENT_BUFFER)      \
  X(SetDefaultDllDirectories, FALSE, ERROR_INVALID_PARAMETER)          \
  X(SetWaitableTimer, FALSE, ERROR_INVALID_PARAMETER)                  \
  X(TerminateProcess, FALSE, ERROR_ACCESS_DENIED)                      \
  X(UpdateProcThreadAttribute, FALSE, ERROR_NOT_ENOUGH_MEMORY)         \
  X(WaitForSingleObject, WAIT_FAILED, ERROR_INVALID_HANDLE)            \
  X(WriteFile, FALSE, ERROR_DISK_FULL)

#define TALVEX_FAULT_INDEX(fn, failure_value, usual_error) k##fn,
enum Index : size_t { TALVEX_FAULT_FUNCTIONS(TALVEX_FAULT_INDEX) kCount };

// `import` is set while a FaultInjection exists.
struct Entry {
  const char* name = nullptr;
  std::intptr_t failure = 0;
  DWORD error = 0;
  std::optional<ImportReplacement> import;
  unsigned calls = 0;
};

bool g_armed = false;
std::vector<Fault> g_faults;
unsigned g_calls = 0;
std::vector<std::string_view> g_failed;
std::vector<FaultInjection::Call> g_trace;
Entry g_entries[kCount];

// Counts the call and decides whether it fails; a failing call sets the thread's last error as
// the system would.
bool fail_now(Entry& entry, const void* site) {
  if (!g_armed) return false;
  g_trace.push_back({entry.name, site});
  const unsigned any = ++g_calls;
  const unsigned own = ++entry.calls;
  for (const Fault& fault : g_faults) {
    const unsigned position =
        fault.function.empty() ? any : (fault.function == entry.name ? own : 0);
    if (position == 0 || position < fault.nth || position - fault.nth >= fault.times) continue;
    g_failed.emplace_back(entry.name);
    ::SetLastError(fault.error != 0 ? fault.error : entry.error);
    return true;
  }
  return false;
}

// The replacement of one function, of exactly its type: x64 has one calling convention, so
// WINAPI in the system's declaration changes nothing here.
static_assert(sizeof(void*) == 8, "the hooks rely on the single x64 calling convention");
template <size_t I, typename R, typename... A>
struct Hook {
  static R call(A... args) {
    Entry& entry = g_entries[I];
    // The cast of the kind R needs: a handle or pointer, or a number.
    if (fail_now(entry, __builtin_return_address(0))) return (R)entry.failure;
    return entry.import->original<R (*)(A...)>()(args...);
  }
};

// Deduced from the function's address, which leaves behind the attributes of its declaration.
template <size_t I, typename R, typename... A>
void* replacement_of(R (*)(A...)) {
  return reinterpret_cast<void*>(&Hook<I, R, A...>::call);
}

// The import address table slots of `function` imported from kernel32 by `module`. Both GNU ld
// and lld keep the import name table (OriginalFirstThunk) beside the slots the loader filled.
std::vector<void**> import_slots(HMODULE module, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<void**> slots;
  if (imports.VirtualAddress == 0) return slots;
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0) {
        slots.push_back(reinterpret_cast<void**>(&slot->u1.Function));
      }
    }
  }
  return slots;
}

void write_slot(void** slot, void* value) {
  DWORD old = 0;
  // A slot that cannot be made writable would fault on the write below anyway; say why.
  if (!::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
    std::fputs("import slot not writable\n", stderr);
    std::abort();
  }
  *slot = value;
  static_cast<void>(::VirtualProtect(slot, sizeof *slot, old, &old));
}

}  // namespace

FaultInjection::FaultInjection() {
  if (g_entries[0].import) {
    std::fputs("a second FaultInjection would hook the hooks\n", stderr);
    std::abort();
  }
#define TALVEX_FAULT_ENTRY(fn, failure_value, usual_error)   \
  g_entries[k##fn].name = #fn;                               \
  g_entries[k##fn].failure = (std::intptr_t)(failure_value); \
  g_entries[k##fn].error = usual_error;                      \
  g_entries[k##fn].import.emplace(#fn, replacement_of<k##fn>(&::fn));
  TALVEX_FAULT_FUNCTIONS(TALVEX_FAULT_ENTRY)
}

FaultInjection::~FaultInjection() {
  disarm();
  for (Entry& entry : g_entries) entry.import.reset();
}

void FaultInjection::arm(std::vector<Fault> faults) {
  g_faults = std::move(faults);
  g_calls = 0;
  g_failed.clear();
  g_trace.clear();
  for (Entry& entry : g_entries) entry.calls = 0;
  g_armed = true;
}

void FaultInjection::disarm() { g_armed = false; }
unsigned FaultInjection::calls() const { return g_calls; }
const std::vector<std::string_view>& FaultInjection::failed() const { return g_failed; }
const std::vector<FaultInjection::Call>& FaultInjection::trace() const { return g_trace; }

ImportReplacement::ImportReplacement(const char* function, void* replacement)
    : slots_(import_slots(::GetModuleHandleW(nullptr), function)) {
  if (slots_.empty()) return;
  original_ = *slots_.front();
  for (void** slot : slots_) write_slot(slot, replacement);
}

ImportReplacement::~ImportReplacement() {
  for (void** slot : slots_) write_slot(slot, original_);
}

bool FaultInjection::hooked(std::string_view function) const {
  for (const Entry& entry : g_entries) {
    if (function == entry.name) return entry.import && entry.import->found();
  }
  return false;
}

std::vector<std::string_view> FaultInjection::functions() {
#define TALVEX_FAULT_NAME(fn, failure_value, usual_error) #fn,
  return {TALVEX_FAULT_FUNCTIONS(TALVEX_FAULT_NAME)};
}

}  // namespace talvex::test
