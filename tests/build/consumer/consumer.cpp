// Links the handover code as a vendor's application does; a link error is the failure.
#include <windows.h>

#include "last_update.h"
#include "start_updater.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (talvex_example::read_last_update(L"C:\\Logs\\talvex-updater.log").started) return 2;
  talvex_example::UpdateHandover handover;
  handover.installer = L"C:\\Downloads\\setup.exe";
  return talvex_example::start_updater(handover) == ERROR_SUCCESS ? 0 : 1;
}
