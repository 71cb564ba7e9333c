#include "state/app_settings.h"

Settings AppSettings;
