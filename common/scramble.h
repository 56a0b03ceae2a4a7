// Password scrambling shared by the device list, the configuration files and the monitor's device list:
// each byte XORed with the next letter of a fixed 15-letter key, written as two lower-case hex digits.
#pragma once

#include <string>
#include <string_view>

std::string CfgScramble(std::string_view plain);
// Reads hex pairs until the first incomplete or non-hex pair; at most `limit` characters result.
std::string CfgUnscramble(std::string_view scrambled, size_t limit = 255);
