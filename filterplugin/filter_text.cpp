// Display texts of rules and stations, and the station arguments of the command-line tool.
#include "common/text.h"
#include "filterplugin/filter.h"

#include <cstdio>

const char* const FilterMsgNotAllWritten
    = "Not all filter rules could be created. You may have entered too many rule definitions, or the definitions "
      "may have been too complex.\r\rPlease delete a number of rules or simplify the rule definitions.";
const char* const FilterMsgDuplicateName = "A rule with this name already exists.";

std::string FilterAddressText(uint32_t a)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

std::string FilterStationText(const FilterStation& s)
{
    char mac[13];
    switch (s.kind) {
    case FilterStationLocal:
        return "All stations in local network";
    case FilterStationName:
        return "Station " + s.name;
    case FilterStationMac:
        std::snprintf(
            mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", s.mac[0], s.mac[1], s.mac[2], s.mac[3], s.mac[4], s.mac[5]);
        return std::string("Physical address ") + mac;
    case FilterStationRange:
        if (s.first == s.last)
            return "IP address " + FilterAddressText(s.first);
        return "IP addresses " + FilterAddressText(s.first) + " - " + FilterAddressText(s.last);
    default:
        return "IP network " + FilterAddressText(s.first) + " / " + FilterAddressText(s.last);
    }
}

std::string FilterActionText(uint32_t action)
{
    switch (action) {
    case FilterActionDrop:
        return "Drop";
    case FilterActionDropNotConnected:
        return "Drop if not connected";
    case FilterActionDropDefaultRoute:
        return "Drop if default route";
    case FilterActionTransfer:
        return "Transfer";
    default:
        return std::to_string(action);
    }
}

std::string FilterWhereText(const FilterReadError& error)
{
    switch (error.where) {
    case FilterInProtocol:
        return "protocol";
    case FilterInSource:
        return "source";
    case FilterInDestination:
        return "destination";
    default:
        return "object " + error.object;
    }
}

namespace {

bool ParseDotted(std::string_view text, uint32_t* out)
{
    uint32_t value = 0;
    int parts = 0;
    size_t at = 0;
    while (parts < 4) {
        size_t used = 0;
        if (at >= text.size() || text[at] < '0' || text[at] > '9')
            return false;
        uint32_t n = ParseUnsigned(text.substr(at), &used);
        if (n > 255 || used > 3)
            return false;
        value = value << 8 | n;
        at += used;
        ++parts;
        if (parts < 4 && (at >= text.size() || text[at] != '.'))
            return false;
        if (parts < 4)
            ++at;
    }
    *out = value;
    return at == text.size();
}

} // namespace

bool FilterParseStationArg(std::string_view text, FilterStation* station)
{
    FilterStation s;
    if (text == "local") {
        *station = s;
        return true;
    }
    size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view kind = text.substr(0, colon);
    std::string_view value = text.substr(colon + 1);
    if (kind == "host") {
        // A name the definition language reads back as one name.
        if (value.empty() || value.size() > FilterStationNameMax || value.find_first_of(",+ \t") != std::string::npos
            || value[0] == '%')
            return false;
        s.kind = FilterStationName;
        s.name = std::string(value);
    } else if (kind == "mac") {
        if (value.empty() || value.size() > 12)
            return false;
        uint64_t v = 0;
        for (char c : value) {
            int d = (c >= '0' && c <= '9')                       ? c - '0'
                : (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') ? AsciiLower(c) - 'a' + 10
                                                                 : -1;
            if (d < 0)
                return false;
            v = v << 4 | static_cast<uint64_t>(d);
        }
        s.kind = FilterStationMac;
        for (int i = 5; i >= 0; --i, v >>= 8)
            s.mac[i] = static_cast<uint8_t>(v & 0xFF);
    } else if (kind == "ip") {
        size_t dash = value.find('-');
        s.kind = FilterStationRange;
        if (!ParseDotted(value.substr(0, dash), &s.first))
            return false;
        s.last = s.first;
        if (dash != std::string_view::npos && !ParseDotted(value.substr(dash + 1), &s.last))
            return false;
    } else if (kind == "net") {
        size_t slash = value.find('/');
        if (slash == std::string_view::npos)
            return false;
        s.kind = FilterStationNetwork;
        if (!ParseDotted(value.substr(0, slash), &s.first) || !ParseDotted(value.substr(slash + 1), &s.last))
            return false;
    } else {
        return false;
    }
    *station = s;
    return true;
}
