#include "device/firmware.h"

#include "common/text.h"
#include "device/deviceentry.h"
#include "device/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
// A fixed field: up to its first NUL, without trailing blanks and NULs.
std::string Field(const unsigned char* header, size_t at, size_t width)
{
    const char* p = reinterpret_cast<const char*>(header + at);
    size_t n = 0;
    while (n < width && p[n] != '\0')
        ++n;
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t'))
        --n;
    return std::string(p, n);
}

int KindOfLetter(char letter)
{
    switch (letter) {
    case 'L':
        return FirmwareBootLoader;
    case 'F':
        return FirmwareFull;
    case 'U':
        return FirmwareUpdate;
    case 'D':
        return FirmwareKindD;
    default:
        return FirmwareUnknown;
    }
}

bool Digits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int DateKey(const LocaleDate& d)
{
    return d.year * 10000 + d.month * 100 + d.day;
}

bool SameChar(char p, char n)
{
    if (p == '_')
        p = ' ';
    return AsciiLower(p) == AsciiLower(n);
}

// Matches pattern[pi..] against name[ni..] to the end of both. Each group takes its longest
// alternative that matches at its place; the rest must then match (no second choice).
bool MatchFrom(std::string_view pattern, std::string_view name)
{
    size_t pi = 0, ni = 0;
    while (pi < pattern.size()) {
        char c = pattern[pi];
        size_t close = c == '[' ? pattern.find(']', pi + 1) : std::string_view::npos;
        if (close == std::string_view::npos) {
            // A literal character (also an unclosed "[").
            if (ni >= name.size() || !SameChar(c, name[ni]))
                return false;
            ++pi;
            ++ni;
            continue;
        }
        std::string_view group = pattern.substr(pi + 1, close - pi - 1);
        size_t best = std::string_view::npos;
        size_t start = 0;
        for (;;) {
            size_t end = group.find(';', start);
            std::string_view alt = group.substr(start, end == std::string_view::npos ? end : end - start);
            bool fits = ni + alt.size() <= name.size();
            for (size_t k = 0; fits && k < alt.size(); ++k)
                fits = SameChar(alt[k], name[ni + k]);
            if (fits && (best == std::string_view::npos || alt.size() > best))
                best = alt.size();
            if (end == std::string_view::npos)
                break;
            start = end + 1;
        }
        if (best == std::string_view::npos)
            return false;
        ni += best;
        pi = close + 1;
    }
    return ni == name.size();
}

std::vector<unsigned> ParseVersion(std::string_view v)
{
    std::vector<unsigned> fields;
    size_t i = 0;
    while (i <= v.size()) {
        size_t dot = v.find('.', i);
        std::string_view part = v.substr(i, dot == std::string_view::npos ? std::string_view::npos : dot - i);
        unsigned value = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                break;
            value = value > 100000000u ? value : value * 10 + static_cast<unsigned>(c - '0');
        }
        fields.push_back(value);
        if (dot == std::string_view::npos)
            break;
        i = dot + 1;
    }
    return fields;
}

} // namespace

int FirmwareReadHeader(const void* data, size_t size, FirmwareHeader* header)
{
    FirmwareHeader h;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (bytes && size >= kFirmwareHeaderSize && std::memcmp(bytes + kFirmwareMagicAt, "QTX", 3) == 0) {
        h.letter = static_cast<char>(bytes[kFirmwareKindAt]);
        h.kind = KindOfLetter(h.letter);
        h.date = Field(bytes, kFirmwareDateAt, kFirmwareDateWidth);
        std::string country = Field(bytes, kFirmwareCountryAt, kFirmwareCountryWidth);
        h.country = Digits(country) ? ParseDecimal(country) : 0;
        h.version = Field(bytes, kFirmwareVersionAt, kFirmwareVersionWidth);
        h.pattern = Field(bytes, kFirmwarePatternAt, kFirmwarePatternWidth);
        h.applies = Field(bytes, kFirmwareAppliesAt, kFirmwareAppliesWidth);
    }
    if (header)
        *header = h;
    return h.kind;
}

std::string FirmwareBuildHeader(const FirmwareHeader& header)
{
    std::string bytes(kFirmwareHeaderSize, ' ');
    auto put = [&](size_t at, size_t width, std::string_view text) {
        bytes.replace(at, std::min(width, text.size()), text.substr(0, width));
    };
    put(kFirmwareMagicAt, 3, "QTX");
    bytes[kFirmwareKindAt] = header.letter ? header.letter : 'F';
    put(kFirmwareDateAt, kFirmwareDateWidth, header.date);
    put(kFirmwareCountryAt, kFirmwareCountryWidth, StrFormat("%03d", header.country % 1000));
    put(kFirmwareVersionAt, kFirmwareVersionWidth, header.version);
    put(kFirmwarePatternAt, kFirmwarePatternWidth, header.pattern);
    put(kFirmwareAppliesAt, kFirmwareAppliesWidth, header.applies);
    return bytes;
}

int FirmwareReadFile(const std::string& path, FirmwareHeader* header)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    unsigned char bytes[kFirmwareHeaderSize];
    size_t got = file ? std::fread(bytes, 1, sizeof(bytes), file.get()) : 0;
    return FirmwareReadHeader(bytes, got, header);
}

std::string FirmwareCountryLanguage(int country)
{
    if (country <= 0)
        return {};
    std::string name = CurrentLocale().LanguageForCountry(country);
    size_t paren = name.find('(');
    if (paren != std::string::npos)
        name.erase(paren);
    return std::string(TrimRight(name));
}

std::string FirmwareDateText(std::string_view ddmmyyyy)
{
    LocaleDate date;
    if (!FirmwareParseDate(ddmmyyyy, &date))
        return std::string(ddmmyyyy);
    return LocaleShortDate(date);
}

std::string FirmwareDescribe(const FirmwareHeader& header, std::string_view version, std::string_view date)
{
    if (header.kind == FirmwareNone)
        return {};
    std::string v = version.empty() ? header.version : std::string(version);
    std::string d = date.empty() ? FirmwareDateText(header.date) : std::string(date);
    std::string text;
    switch (header.kind) {
    case FirmwareBootLoader:
        text = StrFormat(DeviceText(FwStrBootLoader).c_str(), v.c_str(), d.c_str());
        break;
    case FirmwareFull:
        text = StrFormat(DeviceText(FwStrFirmware).c_str(), v.c_str(), d.c_str());
        break;
    case FirmwareUpdate:
        text = header.applies.empty() ? StrFormat(DeviceText(FwStrUpdateAny).c_str(), v.c_str())
                                      : StrFormat(DeviceText(FwStrUpdate).c_str(), header.applies.c_str(), v.c_str());
        break;
    default:
        text = StrFormat(DeviceText(FwStrUnknownKind).c_str(), v.c_str(), d.c_str());
        break;
    }
    std::string language = FirmwareCountryLanguage(header.country);
    if (!language.empty())
        text += " (" + language + ")";
    return text;
}

bool FirmwarePatternMatch(std::string_view pattern, std::string_view name)
{
    return MatchFrom(pattern, name);
}

bool FirmwarePatternFits(std::string_view pattern, std::string_view deviceType, std::string_view hwRelease)
{
    if (pattern.empty())
        return false;
    std::string withRelease = std::string(deviceType) + "#" + std::string(hwRelease);
    return FirmwarePatternMatch(pattern, withRelease) || FirmwarePatternMatch(pattern, deviceType);
}

bool FirmwareParseDate(std::string_view text, LocaleDate* date)
{
    text = Trim(text);
    std::string digits;
    if (text.size() == 10 && text[2] == '.' && text[5] == '.')
        digits = std::string(text.substr(0, 2)) + std::string(text.substr(3, 2)) + std::string(text.substr(6, 4));
    else if (text.size() == 8)
        digits = std::string(text);
    if (!Digits(digits))
        return false;
    LocaleDate d;
    d.day = static_cast<uint16_t>(ParseDecimal(digits.substr(0, 2)));
    d.month = static_cast<uint16_t>(ParseDecimal(digits.substr(2, 2)));
    d.year = static_cast<uint16_t>(ParseDecimal(digits.substr(4, 4)));
    if (d.day < 1 || d.day > 31 || d.month < 1 || d.month > 12 || d.year == 0)
        return false;
    if (date)
        *date = d;
    return true;
}

int FirmwareVersionCompare(std::string_view a, std::string_view b)
{
    std::vector<unsigned> x = ParseVersion(a), y = ParseVersion(b);
    size_t n = std::max(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

bool FirmwareVersionIs(std::string_view deviceVersion, std::string_view fileVersion)
{
    if (Trim(deviceVersion).empty())
        return false;
    std::vector<unsigned> device = ParseVersion(deviceVersion), file = ParseVersion(fileVersion);
    for (size_t i = 0; i < file.size(); ++i)
        if ((i < device.size() ? device[i] : 0) != file[i])
            return false;
    return true;
}

int FirmwareMatch(const FirmwareHeader& header, std::string_view deviceType, std::string_view hwRelease,
    std::string_view deviceFwDate)
{
    if (header.kind == FirmwareNone || !FirmwarePatternFits(header.pattern, deviceType, hwRelease))
        return FirmwareNotForDevice;
    LocaleDate file, device;
    if (FirmwareParseDate(header.date, &file) && FirmwareParseDate(deviceFwDate, &device)
        && DateKey(file) < DateKey(device))
        return FirmwareOlder;
    return FirmwareSuitable;
}

int FirmwareMatch(const FirmwareHeader& header, const DeviceEntry& entry)
{
    return FirmwareMatch(header, entry.device_type.str(), entry.hw_release.str(), entry.fw_date.str());
}

const char* FirmwareMatchMeaning(int match)
{
    switch (match) {
    case FirmwareOlder:
        return "older than the device's firmware";
    case FirmwareSuitable:
        return "suitable";
    default:
        return "not for this device";
    }
}

std::vector<std::string> FirmwareUploadQuestions(
    const FirmwareHeader& header, const std::vector<const DeviceEntry*>& devices)
{
    std::vector<std::string> questions;
    int total = static_cast<int>(devices.size());
    int notMatching = 0, older = 0;
    for (const DeviceEntry* e : devices) {
        int m = FirmwareMatch(header, *e);
        notMatching += m == FirmwareNotForDevice;
        older += m == FirmwareOlder;
    }
    if (total > 1) {
        if (notMatching)
            questions.push_back(StrFormat(DeviceText(FwStrNotMatchingSome).c_str(), notMatching, total));
        if (older)
            questions.push_back(StrFormat(DeviceText(FwStrDowngradeSome).c_str(), older, total));
    } else if (total == 1) {
        const DeviceEntry& e = *devices.front();
        if (notMatching) {
            std::string type = e.device_type.str().empty() ? DeviceText(FwStrUnknownDeviceType) : e.device_type.str();
            questions.push_back(StrFormat(DeviceText(FwStrNotMatchingOne).c_str(), type.c_str()));
        }
        if (older)
            questions.push_back(DeviceText(FwStrDowngradeOne));
    }
    return questions;
}

uint32_t FirmwareImageParam(int image)
{
    return image < 0 ? 0u : static_cast<uint32_t>(image + 1) & 0xFFFFu;
}
