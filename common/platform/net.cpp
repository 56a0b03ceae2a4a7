#include "common/platform/net.h"

#include "common/text.h"

std::string NetAddressText(uint32_t ip)
{
    return StrFormat("%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
}

std::optional<uint32_t> NetParseAddress(std::string_view text)
{
    uint32_t ip = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        size_t start = pos;
        uint32_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
            value = value * 10 + static_cast<uint32_t>(text[pos++] - '0');
        if (pos == start || value > 255)
            return std::nullopt;
        ip = ip << 8 | value;
    }
    if (pos != text.size())
        return std::nullopt;
    return ip;
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : handle_(other.handle_)
    , receiveTimeoutMs_(other.receiveTimeoutMs_)
{
    other.handle_ = kInvalid;
    other.receiveTimeoutMs_ = 0;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        receiveTimeoutMs_ = other.receiveTimeoutMs_;
        other.handle_ = kInvalid;
        other.receiveTimeoutMs_ = 0;
    }
    return *this;
}
