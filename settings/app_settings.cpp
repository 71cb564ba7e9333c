#include "settings/app_settings.h"

Settings AppSettings;
