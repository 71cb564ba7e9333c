#include "state/install_path.h"

WCHAR InstallPath[kInstallPathSize] = {};
