// The command line of a program with windows, as the configuration tool and the monitor read it: words
// separated by white space outside double quotes, options after "/" or "-", the "lang:" option.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Tokens: separated by white space outside double quotes; a token that begins and ends with a double
// quote loses both.
std::vector<std::string> SplitCommandLine(std::string_view line);
// The text of an option token after its "-" or "/", or none for every other token.
std::optional<std::string_view> OptionText(std::string_view token);
// A value without enclosing double quotes.
std::string StripEnclosingQuotes(std::string_view value);
// The language of an option text that starts with "lang:" (any case): "lang:eng", "lang:ger", "lang:fre",
// "lang:ita", "lang:dut", "lang:spa", or a number with base prefixes. None for other options and for a
// value without any digit.
std::optional<uint16_t> LanguageOption(std::string_view text);
