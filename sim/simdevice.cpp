#include "sim/simdevice.h"

#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "device/firmware.h"
#include "device/sysinfo.h"

#include <map>

namespace {
constexpr const char* kStateFile = "device.ini";
constexpr const char* kConfigFile = "config.txt";

std::string Join(const std::string& dir, const std::string& name)
{
    return dir + "/" + name;
}

std::string Binary(uint32_t value)
{
    std::string digits;
    for (int bit = 31; bit >= 0; --bit)
        if (!digits.empty() || value >> bit & 1 || bit == 0)
            digits += (value >> bit & 1) ? '1' : '0';
    return digits;
}

std::string DottedDate(const std::string& ddmmyyyy)
{
    if (ddmmyyyy.size() != 8)
        return ddmmyyyy;
    return ddmmyyyy.substr(0, 2) + "." + ddmmyyyy.substr(2, 2) + "." + ddmmyyyy.substr(4);
}

// Release dates of the shipped firmware versions.
std::string ReleaseDate(const std::string& version)
{
    if (version.rfind("3.22", 0) == 0)
        return "02112001";
    return "14052001";
}
} // namespace

const std::vector<SimDeviceType>& SimDeviceTypes()
{
    static const std::vector<SimDeviceType> types = {
        { "Morvak 1100", 0x1, "M1100" },
        { "Morvak 1100 Plus", 0x3, "M1100" },
        { "Morvak 2400", 0x3, "M2400" },
        { "Morvak 5000", 0x7, "M5000" },
    };
    return types;
}

const SimDeviceType* SimFindDeviceType(const std::string& name)
{
    for (const SimDeviceType& type : SimDeviceTypes())
        if (StrEqualNoCase(type.name, name))
            return &type;
    return nullptr;
}

const std::vector<std::string>& SimFirmwareVersions()
{
    static const std::vector<std::string> versions = { "3.10.0012", "3.22.0005" };
    return versions;
}

std::string SimTimeText(std::time_t t)
{
    std::tm tm {};
    gmtime_r(&t, &tm);
    return StrFormat(
        "%02d%02d%02d%02d%02d%04d", tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

bool SimParseTime(const std::string& text, std::time_t* t)
{
    if (text.size() != 14 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    // Fields are plain decimal with leading zeros ("08" is the 8th), not the suite's number syntax,
    // which would take a leading "0" as octal.
    auto field = [&](size_t pos, size_t len) { return ParseDecimal(std::string_view(text).substr(pos, len)); };
    std::tm tm {};
    tm.tm_hour = field(0, 2);
    tm.tm_min = field(2, 2);
    tm.tm_sec = field(4, 2);
    tm.tm_mday = field(6, 2);
    tm.tm_mon = field(8, 2) - 1;
    tm.tm_year = field(10, 4) - 1900;
    if (tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_mon < 0
        || tm.tm_mon > 11 || tm.tm_year < 70)
        return false;
    *t = timegm(&tm);
    return true;
}

std::string SimInitialConfig(const std::string& type, const std::string& name, const std::string& serial,
    uint32_t address, const std::string& password)
{
    const SimDeviceType* info = SimFindDeviceType(type);
    std::string text = "[" + type + "]\r\n";
    auto item
        = [&](const char* key, const std::string& value) { text += StrFormat("    %s = %s\r\n", key, value.c_str()); };
    item("/sys/name", name);
    item("/sys/location", "");
    item("/sys/contact", "");
    item("/sys/password", password);
    item("/sys/serial", serial);
    item("/sys/console_lang", "eng");
    item("/ip/address", NetAddressText(address));
    item("/ip/netmask", "255.0.0.0");
    item("/ip/dhcp/enable", "1");
    item("/ip/dhcp/pool_start", "192.168.0.100");
    item("/ip/dhcp/pool_end", "192.168.0.199");
    item("/ip/dhcp/lease", "1440");
    item("/time/zone", "60");
    item("/time/dst", "2");
    text += "    </ip/routes>\r\n";
    text += "      /ip/routes-01 = 127.0.0.0\r\n      /ip/routes-02 = 255.0.0.0\r\n";
    text += "      /ip/routes-03 = 0.0.0.0\r\n      /ip/routes-04 = 0\r\n";
    text += "    </snmp/communities>\r\n";
    text += "      /snmp/communities-01 = public\r\n      /snmp/communities-02 = 1\r\n";
    text += "      /snmp/communities-03 = 0.0.0.0\r\n";
    item("/snmp/traps", "0");
    if (info && (info->hwMask & 0x2)) {
        item("/isdn/protocol", "1");
        item("/isdn/idle", "60");
    }
    return text;
}

std::string SimConfigValue(const std::string& config, const std::string& name)
{
    size_t pos = 0;
    while (pos < config.size()) {
        size_t end = config.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = config.size();
        std::string_view line = Trim(std::string_view(config).substr(pos, end - pos));
        size_t eq = line.find('=');
        if (eq != std::string_view::npos && StrEqualNoCase(Trim(line.substr(0, eq)), name))
            return std::string(Trim(line.substr(eq + 1)));
        pos = end + 1;
    }
    return {};
}

void SimDevice::Create(const std::string& directory, uint32_t index, const std::string& deviceType,
    const std::string& firmware, uint32_t at, const SimDeviceOptions& deviceOptions, const std::string& initialPassword)
{
    dir = directory;
    type = deviceType;
    address = at;
    options = deviceOptions;
    const SimDeviceType* info = SimFindDeviceType(type);
    serial = StrFormat("%s%06u", info ? info->serialPrefix : "M0000", index);
    // From the address, not the index: fleets side by side on loopback (each numbering its devices from
    // 1) never share a MAC address, as real devices never do, so a search that meets two fleets keeps both.
    mac = StrFormat("00a05a%06x", at & 0xffffff);
    images.clear();
    images.push_back({ firmware, ReleaseDate(firmware) });
    // Devices with two images keep the other shipped version as the second.
    for (const std::string& version : SimFirmwareVersions())
        if (version != firmware && options.images > 1) {
            images.push_back({ version, ReleaseDate(version) });
            break;
        }
    activeImage = 0;
    runningImage = 0;
    config = SimInitialConfig(type, StrFormat("MORVAK-%04u", index), serial, address, initialPassword);
    ApplyConfig();
    address = at;
}

int SimDevice::Save() const
{
    std::string state = "[Device]\n";
    auto put = [&](const char* key, const std::string& value) { state += StrFormat("%s=%s\n", key, value.c_str()); };
    put("Type", type);
    put("HwRelease", hwRelease);
    put("Serial", serial);
    put("Mac", mac);
    put("Address", NetAddressText(address));
    put("ActiveImage", std::to_string(activeImage));
    put("RunningImage", std::to_string(runningImage));
    for (size_t i = 0; i < images.size(); ++i)
        put(StrFormat("Image%zu", i).c_str(), images[i].version + " " + images[i].date);
    put("ClockOffset", std::to_string(clockOffset));
    put("RestartMs", std::to_string(options.restartMs));
    put("NoRestart", options.noRestart ? "1" : "0");
    put("Solvane", options.solvane ? "1" : "0");
    put("EchoWrongPassword", options.echoWrongPassword ? "1" : "0");
    put("RefuseAccess", options.refuseAccess ? "1" : "0");
    put("TruncatedOack", options.truncatedOack ? "1" : "0");
    put("MaxBlockSize", std::to_string(options.maxBlockSize));
    put("FirmwareFailsToStart", options.firmwareFailsToStart ? "1" : "0");
    put("FirmwareNoReturn", options.firmwareNoReturn ? "1" : "0");
    return FileWriteAtomic(Join(dir, kStateFile), state) && FileWriteAtomic(Join(dir, kConfigFile), config);
}

int SimDevice::Load(const std::string& directory, std::string* error)
{
    dir = directory;
    std::string state;
    if (!FileReadAll(Join(dir, kStateFile), &state) || !FileReadAll(Join(dir, kConfigFile), &config)) {
        *error = "cannot read the device state in " + dir;
        return 0;
    }
    std::map<std::string, std::string> values;
    size_t pos = 0;
    while (pos < state.size()) {
        size_t end = state.find('\n', pos);
        if (end == std::string::npos)
            end = state.size();
        std::string_view line = Trim(TrimLineEnd(std::string_view(state).substr(pos, end - pos)));
        size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
        pos = end + 1;
    }
    type = values["Type"];
    hwRelease = values["HwRelease"];
    serial = values["Serial"];
    mac = values["Mac"];
    std::optional<uint32_t> at = NetParseAddress(values["Address"]);
    if (type.empty() || serial.empty() || !at) {
        *error = "incomplete device state in " + dir + "/" + kStateFile;
        return 0;
    }
    address = *at;
    images.clear();
    for (size_t i = 0; values.count(StrFormat("Image%zu", i)); ++i) {
        const std::string& image = values[StrFormat("Image%zu", i)];
        size_t blank = image.find(' ');
        images.push_back({ image.substr(0, blank), blank == std::string::npos ? "" : image.substr(blank + 1) });
    }
    if (images.empty())
        images.push_back({ SimFirmwareVersions()[0], ReleaseDate(SimFirmwareVersions()[0]) });
    activeImage = ParseDecimal(values["ActiveImage"]);
    if (activeImage < 0 || static_cast<size_t>(activeImage) >= images.size())
        activeImage = 0;
    runningImage = values.count("RunningImage") ? ParseDecimal(values["RunningImage"]) : activeImage;
    if (runningImage < 0 || static_cast<size_t>(runningImage) >= images.size())
        runningImage = activeImage;
    options.images = static_cast<uint32_t>(images.size());
    clockOffset = std::strtoll(values["ClockOffset"].c_str(), nullptr, 10);
    options.restartMs = values.count("RestartMs") ? ParseUnsigned(values["RestartMs"]) : options.restartMs;
    options.noRestart = values["NoRestart"] == "1";
    options.solvane = values["Solvane"] == "1";
    options.echoWrongPassword = values["EchoWrongPassword"] == "1";
    options.refuseAccess = values["RefuseAccess"] == "1";
    options.truncatedOack = values["TruncatedOack"] == "1";
    options.firmwareFailsToStart = values["FirmwareFailsToStart"] == "1";
    options.firmwareNoReturn = values["FirmwareNoReturn"] == "1";
    if (values.count("MaxBlockSize"))
        options.maxBlockSize = ParseUnsigned(values["MaxBlockSize"]);
    uint32_t saved = address;
    ApplyConfig();
    address = saved; // where it answered when it was stopped
    return 1;
}

void SimDevice::ApplyConfig()
{
    name = SimConfigValue(config, "/sys/name");
    if (name.empty() || name.find_first_of(" \t") != std::string::npos)
        name = name.empty() ? type : name.substr(0, name.find_first_of(" \t"));
    password = SimConfigValue(config, "/sys/password");
    std::optional<uint32_t> at = NetParseAddress(SimConfigValue(config, "/ip/address"));
    // A simulated device lives on loopback: an address elsewhere is kept in the text, not taken.
    if (at && (*at >> 24) == 127)
        address = *at;
    if (configWritten_ && at && *at != 0)
        unconfigured = false;
    configWritten_ = false;
}

std::string SimDevice::SysInfoText() const
{
    SysInfoFields f;
    const SimImage& image = images[static_cast<size_t>(runningImage)];
    const SimDeviceType* info = SimFindDeviceType(type);
    f.device_type = type;
    f.hw_release = hwRelease;
    f.fw_version = image.version;
    f.fw_date = DottedDate(image.date);
    f.serial_no = serial;
    f.name = name;
    f.mac_address = mac;
    f.ip_address = unconfigured ? std::string("0.0.0.0") : NetAddressText(address);
    f.ip_netmask = SimConfigValue(config, "/ip/netmask");
    f.config_status = options.noRestart ? 0x20 : 0;
    f.time = SimTimeText(std::time(nullptr) + clockOffset);
    // Several images: the activated one, then the running one twice (test mode when they differ).
    if (images.size() > 1) {
        std::string status = StrFormat("%d;%d;%d", activeImage, runningImage, runningImage);
        for (const SimImage& i : images)
            status += ";" + i.version + "." + i.date + ".bin";
        f.fw_status = status;
    }
    f.solvane_port = options.solvane ? 4000 : 0;
    f.feature_word = "101";
    f.hw_mask = Binary(info ? info->hwMask : 1);
    return SysInfoBuild(f);
}

bool SimDevice::Split(const std::string& file, const std::string& command, std::string* argument) const
{
    size_t at = file.rfind(command);
    if (at == std::string::npos)
        return false;
    if (argument)
        *argument = file.substr(at + command.size());
    else if (at + command.size() != file.size())
        return false;
    return file.compare(0, at, password) == 0 && at == password.size();
}

SimAnswer SimDevice::PasswordRefused(const std::string& file, bool read) const
{
    SimAnswer answer;
    if (options.refuseAccess) {
        answer.error = 2;
        answer.message = "Access denied";
    } else if (read && options.echoWrongPassword && file.size() >= 10
        && file.compare(file.size() - 10, 10, "readconfig") == 0) {
        answer.data = file + "\r\n"; // the echo of the request
    } else {
        answer.error = 4;
        answer.message = "Wrong password";
    }
    return answer;
}

SimAnswer SimDevice::Read(const std::string& file, SimEffect* effect)
{
    *effect = SimEffect::None;
    SimAnswer answer;
    if (StrEqualNoCase(file, "sysinfo")) {
        answer.data = SysInfoText();
        return answer;
    }
    bool known = file.find("readconfig") != std::string::npos || file.find("activateimage_") != std::string::npos
        || file.find("time_p") != std::string::npos;
    if (!known) {
        answer.error = 1;
        answer.message = "File not found";
        return answer;
    }
    if (options.refuseAccess)
        return PasswordRefused(file, true);
    std::string argument;
    if (Split(file, "readconfig", nullptr)) {
        answer.data = config;
        return answer;
    }
    if (Split(file, "activateimage_", &argument)) {
        std::optional<uint32_t> image = ParseUnsignedStrict(argument);
        if (!image || *image >= images.size()) {
            answer.error = 1;
            answer.message = "No such image";
            return answer;
        }
        activeImage = static_cast<int32_t>(*image);
        runningImage = activeImage;
        Save();
        answer.data = StrFormat("activating image %u\r\n", *image);
        *effect = SimEffect::Restart;
        return answer;
    }
    if (Split(file, "time_p", &argument)) {
        std::time_t t;
        if (!SimParseTime(argument, &t)) {
            answer.error = 1;
            answer.message = "Invalid time";
            return answer;
        }
        clockOffset = static_cast<int64_t>(t) - static_cast<int64_t>(std::time(nullptr));
        Save();
        answer.data = "time set\r\n";
        return answer;
    }
    return PasswordRefused(file, true);
}

SimAnswer SimDevice::Write(const std::string& file)
{
    SimAnswer answer;
    bool known = file.find("writeconfig") != std::string::npos || file.find("writeflash_") != std::string::npos;
    if (!known) {
        answer.error = 2;
        answer.message = "Access violation";
        return answer;
    }
    std::string argument;
    if (options.refuseAccess || !(Split(file, "writeconfig", nullptr) || Split(file, "writeflash_", &argument)))
        return PasswordRefused(file, false);
    answer.accept = true;
    return answer;
}

SimEffect SimDevice::Written(const std::string& file, const std::string& data)
{
    std::string argument;
    if (Split(file, "writeconfig", nullptr)) {
        config = data;
        configWritten_ = true;
        Save();
        return options.noRestart ? SimEffect::ApplyConfig : SimEffect::Restart;
    }
    if (Split(file, "writeflash_", &argument)) {
        // "writeflash_0" or "writeflash_<low>_<high>": the low half names the image.
        return Flash(data, ParseUnsigned(argument));
    }
    return SimEffect::None;
}

bool SimDevice::Acceptable(const std::string& data, std::string* message) const
{
    FirmwareHeader header;
    if (!FirmwareReadHeader(data.data(), data.size(), &header)) {
        *message = "Not a firmware file";
        return false;
    }
    if (!FirmwarePatternFits(header.pattern, type, hwRelease)) {
        *message = "Firmware for another device type";
        return false;
    }
    return true;
}

bool SimDevice::Inspect(
    const std::string& file, const std::string& received, bool complete, uint16_t* code, std::string* message) const
{
    if (file.find("writeflash_") == std::string::npos || (received.size() < kFirmwareHeaderSize && !complete))
        return true;
    if (Acceptable(received, message))
        return true;
    *code = 0;
    return false;
}

SimEffect SimDevice::Flash(const std::string& data, uint32_t imageParam)
{
    FirmwareHeader header;
    FirmwareReadHeader(data.data(), data.size(), &header);
    SimImage image { header.version.empty() ? std::string("unknown") : header.version,
        header.date.empty() ? std::string("00000000") : header.date };
    uint32_t wanted = imageParam & 0xffff;
    size_t slot = 0;
    if (images.size() > 1)
        slot = wanted > 0 && wanted <= images.size() ? wanted - 1 : static_cast<size_t>(runningImage == 0 ? 1 : 0);
    // A one-image device whose new firmware fails to start keeps running the old one.
    if (!(options.firmwareFailsToStart && images.size() == 1))
        images[slot] = image;
    FileWriteAtomic(Join(dir, StrFormat("image-%zu.bin", slot)), data);
    if (options.firmwareNoReturn)
        gone = true;
    if (!options.firmwareFailsToStart) {
        // One image: the new firmware is the device's firmware. Two: it runs in test mode.
        runningImage = static_cast<int32_t>(slot);
        if (images.size() == 1)
            activeImage = runningImage;
    }
    Save();
    return SimEffect::Restart;
}
