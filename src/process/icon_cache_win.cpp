#include <string>

#include "base/error_text_win.h"
#include "base/text.h"
#include "log/run_log_win.h"
#include "process/process_win.h"

namespace talvex {

void refresh_icon_cache(const RunLog& log, std::chrono::milliseconds time_limit,
                        const Launcher& launcher) {
  // "-ClearIconCache" drops the shell's cached icons, "-show" makes it rebuild them, so the
  // second run must start only after the first has ended; run_to_exit gives that order.
  for (const char16_t* argument : {u"-ClearIconCache", u"-show"}) {
    LaunchSpec spec;
    // A bare name: the launch layer's search never looks in the current directory, so a
    // planted ie4uinit.exe beside the user's files is not run.
    spec.program = u"ie4uinit.exe";
    spec.arguments = {argument};
    spec.std_in = StdStream::kInherit;
    spec.std_out = StdStream::kInherit;
    spec.std_err = StdStream::kInherit;
    spec.creation_flags = CREATE_NO_WINDOW;
    const Result<DWORD> exit_code = run_to_exit(spec, time_limit, launcher);
    // The refresh is cosmetic: a missing, failing or hanging utility must not affect the
    // update, so a utility that could not be run to its end leaves no line at all.
    if (!exit_code) continue;
    log_line(log, "ie4uinit " + to_utf8(argument) + " -> " + exit_status_text(exit_code.value()));
  }
}

}  // namespace talvex
