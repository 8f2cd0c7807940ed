#include "plugin/AimSettings.h"

AimSettings aimSettings = {};
