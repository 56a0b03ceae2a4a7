#include "device/deviceentry.h"

#include "common/platform/net.h"

std::string DeviceEntry::AddressText() const
{
    std::string text = NetAddressText(address);
    if (port != 0) {
        text += ':';
        text += std::to_string(port);
    }
    return text;
}

std::string DeviceEntry::MacText() const
{
    const std::string& mac = mac_address.str();
    if (mac.size() != 12)
        return mac;
    std::string out;
    for (size_t i = 0; i < 12; i += 2) {
        if (i)
            out += ':';
        out += mac.substr(i, 2);
    }
    return out;
}

void DeviceEntry::TakeSysInfo(const DeviceEntry& other)
{
    name = other.name;
    device_type = other.device_type;
    fw_version = other.fw_version;
    fw_date = other.fw_date;
    serial_no = other.serial_no;
    mac_address = other.mac_address;
    hw_release = other.hw_release;
    cSysTime = other.cSysTime;
    fw_status = other.fw_status;
    flags = other.flags;
    feature_word = other.feature_word;
    hw_mask = other.hw_mask;
}
