// The device layer's own texts (res/device/strings.*: status, progress, search, dial-up and firmware),
// in the language the program shows. The ids are named where they are used (devstatus.h, search.h,
// firmware.h, update.h).
#pragma once

#include <string>

std::string DeviceText(unsigned id);
