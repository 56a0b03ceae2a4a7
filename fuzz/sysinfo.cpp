// The system information parser on arbitrary text: every field stays within its width, the firmware
// lists within their 128 bytes, and a valid text rebuilt from its fields parses to the same fields.
#include "device/sysinfo.h"

#include "device/deviceentry.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Fields {
    std::string device_type, fw_version, fw_date, serial_no, name, mac, ip, netmask, hw_release, time;
    FirmwareStatusInfo fw;
    uint32_t flags = 0, feature_word = 0, hw_mask = 0;
    int valid = 0;
};

Fields Parse(std::string_view text)
{
    Fields f;
    SysInfoOut out { &f.device_type, &f.fw_version, &f.fw_date, &f.serial_no, &f.name, &f.mac, &f.ip, &f.netmask,
        &f.hw_release, &f.time, &f.fw, &f.flags, &f.feature_word, &f.hw_mask };
    f.valid = SysInfoParse(text, out);
    return f;
}

size_t ListBytes(const std::vector<std::string>& list)
{
    size_t bytes = 1;
    for (const std::string& s : list)
        bytes += s.size() + 1;
    return bytes;
}

bool Plain(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Fields f = Parse(text);
    Check(f.device_type.size() <= kSysDeviceTypeMax);
    Check(f.fw_version.size() <= kSysFwVersionMax);
    Check(f.fw_date.size() <= kSysFwDateMax);
    Check(f.serial_no.size() <= kSysSerialMax);
    Check(f.name.size() <= kSysNameMax);
    Check(f.mac.size() <= kSysMacMax);
    Check(f.ip.size() <= kSysAddressMax && f.netmask.size() <= kSysAddressMax);
    Check(f.hw_release.size() <= kSysHwReleaseMax);
    Check(f.time.size() <= kSysTimeMax);
    Check(f.fw.versions.size() == f.fw.dates.size());
    Check(f.fw.versions.size() <= static_cast<size_t>(f.fw.image_count));
    Check(ListBytes(f.fw.versions) <= FirmwareStatusInfo::kListBytes);
    Check(ListBytes(f.fw.dates) <= FirmwareStatusInfo::kListBytes);
    Check(f.flags <= 0x0FFF);

    // The same through a DeviceEntry: the fixed fields never hold more than their room.
    DeviceEntry e;
    Check(SysInfoParseInto(text, e) == f.valid);
    Check(e.serial_no.str() == f.serial_no && e.name.str() == f.name && e.cSysTime.str() == f.time);

    // A valid text rebuilt from its fields reads back the same (when the fields are single tokens).
    if (f.valid && Plain(f.fw_version) && Plain(f.fw_date) && Plain(f.serial_no) && Plain(f.name) && Plain(f.mac)
        && Plain(f.hw_release) && !f.device_type.empty() && f.device_type.find_first_of("\r\n") == std::string::npos) {
        SysInfoFields b;
        b.device_type = f.device_type;
        b.hw_release = f.hw_release;
        b.fw_version = f.fw_version;
        b.fw_date = f.fw_date;
        b.serial_no = f.serial_no;
        b.name = f.name;
        b.mac_address = f.mac;
        Fields g = Parse(SysInfoBuild(b));
        Check(g.valid == 1);
        Check(g.device_type == f.device_type && g.hw_release == f.hw_release && g.fw_version == f.fw_version
            && g.fw_date == f.fw_date && g.serial_no == f.serial_no && g.name == f.name && g.mac == f.mac);
    }
    return 0;
}
