#include "main/run_update.h"

#include "base/text.h"
#include "main/command_line.h"

namespace talvex {

unsigned perform_update(const UpdaterOptions& options, const UpdateSteps& steps) {
  if (steps.claim_app(options.app_exe) == AppClaim::kHeldByAnother) {
    // The other run installs and relaunches; a second installer at the same time would fight
    // it over the same files. One line, without banners, keeps the other run's lines whole
    // around it, so log readers can step over it.
    steps.log_line("ERROR: another update of this application is running; installer not run: " +
                   to_utf8(options.installer));
    return kExitFailure;
  }
  steps.log_line("=== talvex-updater start ===");
  steps.log_line(options_line(options));
  if (!steps.installer_exists(options.installer)) {
    // Nothing to install: make sure the application is not left stopped. It may still be
    // running (we did not wait), so this can start a second instance.
    steps.log_line("ERROR: installer file missing");
    steps.relaunch_app(options.app_exe);
    return kExitFailure;
  }
  if (options.wait_pid) {
    const std::string pid = decimal(*options.wait_pid);
    if (steps.wait_for_exit(*options.wait_pid)) {
      steps.log_line("main process " + pid + " exited");
    } else {
      // Not a failure: the installer is expected to stop a running application itself.
      steps.log_line("main process " + pid +
                     " still running after timeout, proceeding (installer kills it)");
    }
  }
  const bool installed = steps.run_installer(options.installer);
  steps.refresh_icon_cache();
  if (installed) {
    steps.settle();
    if (steps.is_app_running(options.app_exe)) {
      steps.log_line("app already running (installer /R relaunched), skip");
    } else {
      steps.relaunch_app(options.app_exe);
    }
    steps.log_line("=== talvex-updater done");
    return kExitSuccess;
  }
  // The old version is most likely still installed: bring it back without delay.
  steps.log_line("install failed; best-effort relaunch of existing app");
  steps.relaunch_app(options.app_exe);
  steps.log_line("=== talvex-updater done");
  return kExitFailure;
}

}  // namespace talvex
