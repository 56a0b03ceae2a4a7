// The option parser of the command-line programs (the tools of cli/ and the simulator): options taken
// from an argument list by name, wherever they stand before "--".
#pragma once

#include <optional>
#include <string>
#include <vector>

// Option parsing over the argument list: each call removes what it takes. Options may stand anywhere
// before "--"; the remaining words are the positional arguments.
class CliArgs {
public:
    explicit CliArgs(std::vector<std::string>& args)
        : args_(args)
    {
    }
    // A flag without value: true when present (removed).
    bool Flag(const char* name, const char* alias = nullptr);
    // An option with a value ("-t 5", "--dir=X" or "--dir X"); the last one given wins.
    std::optional<std::string> Value(const char* name, const char* alias = nullptr);
    // Every value of a repeatable option, in order.
    std::vector<std::string> Values(const char* name, const char* alias = nullptr);
    // After all options are taken: an error text for any word left that looks like an option.
    std::optional<std::string> UnknownOption() const;
    std::vector<std::string>& Rest()
    {
        return args_;
    }

private:
    std::vector<std::string>& args_;
};
