#include "device/sysinfo.h"

#include "common/platform/net.h"
#include "common/text.h"
#include "device/deviceentry.h"

#include <bit>

namespace {

// What a line's value is read as.
enum class SysKey {
    Device,
    HwRelease,
    Version,
    Serial,
    Name,
    Mac,
    IpAddress,
    IpNetmask,
    IntranetAddress,
    IntranetMask,
    ConfigStatus,
    Time,
    FirmwareStatus,
    SolvanePort,
    FeatureWord,
    HwMask,
};

struct SysKeyword {
    const char* key; // matched at the very beginning of the line, exactly as written
    SysKey what;
    bool required;
};

// English keys and the German alternatives that devices with German firmware send.
const SysKeyword kKeywords[] = {
    { "DEVICE:", SysKey::Device, true },
    { "HW-RELEASE:", SysKey::HwRelease, true },
    { "VERSION:", SysKey::Version, true },
    { "SERIAL-NUMBER:", SysKey::Serial, true },
    { "SERIENNUMMER:", SysKey::Serial, true },
    { "NAME:", SysKey::Name, true },
    { "MAC-ADDRESS:", SysKey::Mac, true },
    { "MAC-ADRESSE:", SysKey::Mac, true },
    { "IP-ADDRESS:", SysKey::IpAddress, false },
    { "IP-ADRESSE:", SysKey::IpAddress, false },
    { "IP-NETMASK:", SysKey::IpNetmask, false },
    { "IP-NETZ-MASKE:", SysKey::IpNetmask, false },
    { "INTRANET-ADDRESS:", SysKey::IntranetAddress, false },
    { "INTRANET-ADRESSE:", SysKey::IntranetAddress, false },
    { "INTRANET-MASK:", SysKey::IntranetMask, false },
    { "INTRANET-MASKE:", SysKey::IntranetMask, false },
    { "CONFIG-STATUS:", SysKey::ConfigStatus, false },
    { "TIME:", SysKey::Time, false },
    { "FIRMWARE-STATUS:", SysKey::FirmwareStatus, false },
    { "SOLVANE-PORT:", SysKey::SolvanePort, false },
    { "FEATUREWORD:", SysKey::FeatureWord, false },
    { "HW-MASK:", SysKey::HwMask, false },
};

constexpr int kRequiredKeys = 6;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

// The n-th (1-based) run of characters without white space, or "" when the line has fewer.
std::string_view Token(std::string_view line, int n)
{
    size_t i = 0;
    for (int k = 1;; ++k) {
        while (i < line.size() && IsSpace(line[i]))
            ++i;
        if (i >= line.size())
            return {};
        size_t start = i;
        while (i < line.size() && !IsSpace(line[i]))
            ++i;
        if (k == n)
            return line.substr(start, i - start);
    }
}

std::string_view SkipSpace(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return text.substr(i);
}

// strtoul on a 32-bit system: optional sign, digits of `base`, saturating at 0xFFFFFFFF on overflow.
uint32_t ParseBase(std::string_view text, unsigned base)
{
    text = SkipSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    uint64_t value = 0;
    bool overflow = false;
    for (char c : text) {
        unsigned digit = base;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        if (digit >= base)
            break;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (overflow)
        return 0xFFFFFFFFu;
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

// True when the leading decimal digits of the text hold a nonzero digit (the clock is set).
bool DecimalNotZero(std::string_view text)
{
    text = SkipSpace(text);
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        text.remove_prefix(1);
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        if (c != '0')
            return true;
    }
    return false;
}

bool IsZeroAddress(std::string_view text)
{
    if (text.empty())
        return true; // an absent address counts as 0.0.0.0
    std::optional<uint32_t> ip = NetParseAddress(text);
    return ip && *ip == 0;
}

void ParseFirmwareStatus(std::string_view value, FirmwareStatusInfo& fw, uint32_t& flags)
{
    int part = 0;
    size_t usedVersions = 1; // the empty text that ends each list
    size_t usedDates = 1;
    size_t pos = 0;
    while (pos <= value.size()) {
        size_t end = value.find(';', pos);
        if (end == std::string_view::npos)
            end = value.size();
        std::string_view item = value.substr(pos, end - pos);
        pos = end + 1;
        if (item.empty())
            continue; // ";;" and a closing ";" hold no image
        ++part;
        if (part == 1)
            fw.active = ParseDecimal(item);
        else if (part == 2)
            fw.number2 = ParseDecimal(item);
        else if (part == 3)
            fw.number3 = ParseDecimal(item);
        else {
            ++fw.image_count;
            std::string_view version = "*";
            std::string_view date = "*";
            size_t last = item.rfind('.');
            if (last != std::string_view::npos && last > 0) {
                std::string_view stem = item.substr(0, last);
                size_t cut = stem.rfind('.');
                if (cut != std::string_view::npos) {
                    version = stem.substr(0, cut);
                    date = stem.substr(cut + 1);
                }
            }
            if (version.find_first_of("mM") != std::string_view::npos)
                flags |= DevFlagAsymmetric;
            // Each list holds its texts with their terminators and one empty text at the end; an
            // image is listed while both its texts still fit.
            if (fw.versions.size() + 1 == static_cast<size_t>(fw.image_count)
                && usedVersions + version.size() + 1 <= FirmwareStatusInfo::kListBytes
                && usedDates + date.size() + 1 <= FirmwareStatusInfo::kListBytes) {
                fw.versions.emplace_back(version);
                fw.dates.emplace_back(date);
                usedVersions += version.size() + 1;
                usedDates += date.size() + 1;
            }
        }
    }
}

// The DevFlag bits of a CONFIG-STATUS value.
uint32_t ConfigStatusFlags(uint32_t status)
{
    uint32_t flags = 0;
    if (status & 0x10)
        flags |= DevFlagConfigStatus10;
    if (status & 0x20)
        flags |= DevFlagNoRestart;
    if (status & 0x40)
        flags |= DevFlagSlowRestart;
    if (status & 0x80)
        flags |= DevFlagNoPseudoProbe;
    return flags;
}

const SysKeyword* FindKeyword(std::string_view line)
{
    for (const SysKeyword& k : kKeywords) {
        if (line.starts_with(k.key))
            return &k;
    }
    return nullptr;
}

// What the lines of one text said, gathered line by line.
struct SysInfoRead {
    std::string device_type, fw_version, fw_date, serial_no, name, mac_address, ip_address, ip_netmask, hw_release,
        sys_time, intranet_address;
    FirmwareStatusInfo fw;
    uint32_t flags = 0, feature_word = 0, hw_mask = 0;
    bool addressSeen = false;
    uint32_t requiredSeen = 0; // bits by SysKey
    bool duplicate = false;

    // Each required key counts once by what it names (the German spelling is the same key): a key given
    // twice cannot stand in for a missing one, and makes the text invalid as the count of seven always did.
    void Count(const SysKeyword& key)
    {
        if (!key.required)
            return;
        uint32_t bit = 1u << static_cast<int>(key.what);
        if (requiredSeen & bit)
            duplicate = true;
        requiredSeen |= bit;
    }
    // One line of the key `key`, cut to the field's width.
    void Take(const SysKeyword& key, std::string_view line)
    {
        std::string_view rest = line.substr(std::string_view(key.key).size());
        std::string_view second = Token(line, 2);
        switch (key.what) {
        case SysKey::Device:
            device_type = std::string(TrimRight(CutTo(SkipSpace(rest), kSysDeviceTypeMax)));
            break;
        case SysKey::HwRelease:
            hw_release = CutTo(SkipSpace(rest), kSysHwReleaseMax);
            break;
        case SysKey::Version:
            fw_version = CutTo(second, kSysFwVersionMax);
            fw_date = CutTo(Token(line, 4), kSysFwDateMax);
            break;
        case SysKey::Serial:
            // The line may carry up to 24 characters; the field keeps 15.
            serial_no = CutTo(CutTo(second, kSysSerialReadMax), kSysSerialMax);
            break;
        case SysKey::Name:
            name = CutTo(second, kSysNameMax);
            break;
        case SysKey::Mac:
            mac_address = CutTo(second, kSysMacMax);
            break;
        case SysKey::IpAddress:
            ip_address = CutTo(second, kSysAddressMax);
            addressSeen = true;
            break;
        case SysKey::IpNetmask:
            ip_netmask = CutTo(second, kSysAddressMax);
            break;
        case SysKey::IntranetAddress:
            intranet_address = CutTo(second, kSysAddressMax);
            addressSeen = true;
            break;
        case SysKey::IntranetMask:
            break; // read by the devices' older tools, not used here
        case SysKey::ConfigStatus:
            flags |= ConfigStatusFlags(ParseBase(second, 10));
            break;
        case SysKey::Time:
            sys_time = CutTo(second, kSysTimeMax);
            flags |= DevFlagHasTime;
            if (DecimalNotZero(sys_time))
                flags |= DevFlagTimeValid;
            break;
        case SysKey::FirmwareStatus:
            fw = FirmwareStatusInfo {};
            flags |= DevFlagFirmwareImages;
            ParseFirmwareStatus(CutTo(second, kSysFwStatusMax), fw, flags);
            break;
        case SysKey::SolvanePort:
            if (ParseBase(second, 10) != 0)
                flags |= DevFlagSolvane;
            break;
        case SysKey::FeatureWord:
            feature_word = ParseBase(CutTo(second, kSysBinaryMax), 2);
            flags |= DevFlagFeatureWord;
            break;
        case SysKey::HwMask:
            hw_mask = ParseBase(CutTo(second, kSysBinaryMax), 2);
            flags |= DevFlagHwMask;
            break;
        }
    }
    // After the last line: the unconfigured state and the name that defaults to the device type.
    void Finish()
    {
        // Both addresses 0.0.0.0 (one of them given): the device has not been configured yet.
        if (addressSeen && (!ip_address.empty() || !intranet_address.empty()) && IsZeroAddress(ip_address)
            && IsZeroAddress(intranet_address))
            flags |= DevFlagUnconfigured;
        if (name.empty())
            name = CutTo(device_type, kSysNameMax);
    }
    void CopyTo(const SysInfoOut& out) const
    {
        auto put = [](auto* to, const auto& value) {
            if (to)
                *to = value;
        };
        put(out.device_type, device_type);
        put(out.fw_version, fw_version);
        put(out.fw_date, fw_date);
        put(out.serial_no, serial_no);
        put(out.name, name);
        put(out.mac_address, mac_address);
        put(out.ip_address, ip_address);
        put(out.ip_netmask, ip_netmask);
        put(out.hw_release, hw_release);
        put(out.sys_time, sys_time);
        put(out.fw_status, fw);
        put(out.flags, flags);
        put(out.feature_word, feature_word);
        put(out.hw_mask, hw_mask);
    }
    bool Valid() const
    {
        return !duplicate && std::popcount(requiredSeen) == kRequiredKeys;
    }
};

} // namespace

int SysInfoParse(std::string_view text, const SysInfoOut& out)
{
    text = text.substr(0, text.find('\0')); // the device's answer is a C text: a NUL ends it
    SysInfoRead read;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (const SysKeyword* key = FindKeyword(line)) {
            read.Count(*key);
            read.Take(*key, line);
        }
    }
    read.Finish();
    read.CopyTo(out);
    return read.Valid() ? 1 : 0;
}

int SysInfoParseInto(std::string_view text, DeviceEntry& entry, std::string* netmask)
{
    std::string device_type, fw_version, fw_date, serial_no, name, mac_address, hw_release, sys_time;
    SysInfoOut out;
    out.device_type = &device_type;
    out.fw_version = &fw_version;
    out.fw_date = &fw_date;
    out.serial_no = &serial_no;
    out.name = &name;
    out.mac_address = &mac_address;
    out.ip_netmask = netmask;
    out.hw_release = &hw_release;
    out.sys_time = &sys_time;
    out.fw_status = &entry.fw_status;
    out.flags = &entry.flags;
    out.feature_word = &entry.feature_word;
    out.hw_mask = &entry.hw_mask;
    int valid = SysInfoParse(text, out);
    entry.device_type = device_type;
    entry.fw_version = fw_version;
    entry.fw_date = fw_date;
    entry.serial_no = serial_no;
    entry.name = name;
    entry.mac_address = mac_address;
    entry.hw_release = hw_release;
    entry.cSysTime = sys_time;
    return valid;
}

std::string SysInfoBuild(const SysInfoFields& f)
{
    std::string text;
    auto line = [&text](const char* key, std::string_view value) {
        text += key;
        text += ' ';
        text += value;
        text += "\r\n";
    };
    line("DEVICE:", f.device_type);
    line("HW-RELEASE:", f.hw_release);
    line("VERSION:", f.fw_version + " / " + f.fw_date);
    line("SERIAL-NUMBER:", f.serial_no);
    line("NAME:", f.name);
    line("MAC-ADDRESS:", f.mac_address);
    if (!f.ip_address.empty())
        line("IP-ADDRESS:", f.ip_address);
    if (!f.ip_netmask.empty())
        line("IP-NETMASK:", f.ip_netmask);
    if (!f.intranet_address.empty())
        line("INTRANET-ADDRESS:", f.intranet_address);
    if (!f.intranet_mask.empty())
        line("INTRANET-MASK:", f.intranet_mask);
    if (f.config_status >= 0)
        line("CONFIG-STATUS:", std::to_string(f.config_status));
    if (!f.time.empty())
        line("TIME:", f.time);
    if (!f.fw_status.empty())
        line("FIRMWARE-STATUS:", f.fw_status);
    if (f.solvane_port >= 0)
        line("SOLVANE-PORT:", std::to_string(f.solvane_port));
    if (!f.feature_word.empty())
        line("FEATUREWORD:", f.feature_word);
    if (!f.hw_mask.empty())
        line("HW-MASK:", f.hw_mask);
    if (!f.padding.empty()) {
        text += f.padding;
        text += "\r\n";
    }
    return text;
}
