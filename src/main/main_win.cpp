// talvex-updater: installs an update of the application that started it.
#include "main/run_update_win.h"

int wmain() { talvex::updater_main(); }
