#include "common/cliargs.h"

namespace {
bool Matches(const std::string& word, const char* name, const char* alias)
{
    return word == name || (alias && word == alias);
}
} // namespace

bool CliArgs::Flag(const char* name, const char* alias)
{
    bool found = false;
    for (size_t i = 0; i < args_.size();) {
        if (args_[i] == "--")
            break;
        if (Matches(args_[i], name, alias)) {
            args_.erase(args_.begin() + static_cast<long>(i));
            found = true;
        } else {
            ++i;
        }
    }
    return found;
}

std::vector<std::string> CliArgs::Values(const char* name, const char* alias)
{
    std::vector<std::string> values;
    for (size_t i = 0; i < args_.size();) {
        const std::string& word = args_[i];
        if (word == "--")
            break;
        std::string prefix = std::string(name) + "=";
        if (name[0] == '-' && name[1] == '-' && word.compare(0, prefix.size(), prefix) == 0) {
            values.push_back(word.substr(prefix.size()));
            args_.erase(args_.begin() + static_cast<long>(i));
        } else if (Matches(word, name, alias) && i + 1 < args_.size()) {
            values.push_back(args_[i + 1]);
            args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
        } else {
            ++i;
        }
    }
    return values;
}

std::optional<std::string> CliArgs::Value(const char* name, const char* alias)
{
    std::vector<std::string> values = Values(name, alias);
    if (values.empty())
        return std::nullopt;
    return values.back();
}

std::optional<std::string> CliArgs::UnknownOption() const
{
    for (const std::string& word : args_) {
        if (word == "--")
            break;
        // A minus before a digit is a negative number (a value such as "set ... i -5"), not an option.
        if (word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9'))
            return "unknown option " + word;
    }
    return std::nullopt;
}
