#include "common/scramble.h"

namespace {
constexpr char kKey[] = "Morgenlichtfeld";
constexpr size_t kKeyLength = sizeof kKey - 1;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::string CfgScramble(std::string_view plain)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(plain.size() * 2);
    for (size_t i = 0; i < plain.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(plain[i]) ^ static_cast<unsigned char>(kKey[i % kKeyLength]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string CfgUnscramble(std::string_view scrambled, size_t limit)
{
    std::string out;
    for (size_t i = 0; i + 1 < scrambled.size() && out.size() < limit; i += 2) {
        int hi = HexValue(scrambled[i]);
        int lo = HexValue(scrambled[i + 1]);
        if (hi < 0 || lo < 0)
            break;
        out += static_cast<char>((hi << 4 | lo) ^ static_cast<unsigned char>(kKey[out.size() % kKeyLength]));
    }
    return out;
}
