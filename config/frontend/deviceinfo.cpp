#include "config/frontend/deviceinfo.h"

#include "common/strings.h"
#include "common/text.h"
#include "device/sysinfo.h"

#include <algorithm>

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}
} // namespace

std::string DeviceImageStoreText(const DeviceEntry& entry)
{
    if (!(entry.flags & DevFlagFirmwareImages))
        return "";
    // The count of the line's image parts: images past the room of the version list still count.
    int images = std::max<int32_t>(entry.fw_status.image_count, static_cast<int32_t>(entry.fw_status.versions.size()));
    unsigned id = (entry.flags & DevFlagAsymmetric) ? DevInfoStrAsymmetric : DevInfoStrSymmetric;
    return StrFormat(Text(id).c_str(), images);
}

std::vector<std::string> DeviceInfoTexts(const DeviceEntry& entry)
{
    std::vector<std::string> texts;
    if (entry.flags & DevFlagSolvane)
        texts.push_back(Text(DevInfoStrSolvane));
    if (std::string store = DeviceImageStoreText(entry); !store.empty())
        texts.push_back(store);
    return texts;
}
