#include "config/ui/devicetitle_win.h"

#include "config/frontend/mainview.h"
#include "config/ui/mainwindow_state_win.h"

std::string MainDeviceTitle(const DeviceEntry& entry)
{
    return DeviceShownName(mainwin::win.devices, entry);
}
