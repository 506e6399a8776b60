// Links the handover code as a vendor's application does; a link error is the failure.
#include <windows.h>

#include "start_updater.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  talvex_example::UpdateHandover handover;
  handover.installer = L"C:\\Downloads\\setup.exe";
  return talvex_example::start_updater(handover) == ERROR_SUCCESS ? 0 : 1;
}
