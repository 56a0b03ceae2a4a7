#include "cli/cli.h"

#include "common/datafolder.h"
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {
std::vector<CliCommand>& Commands()
{
    static std::vector<CliCommand> commands;
    return commands;
}

const char* g_program = "";

void PrintHelp(const char* program, const char* summary)
{
    std::vector<CliCommand> sorted = Commands();
    std::sort(sorted.begin(), sorted.end(),
        [](const CliCommand& a, const CliCommand& b) { return std::string(a.name) < b.name; });
    std::printf("%s - %s\n\nUsage:\n", program, summary);
    for (const CliCommand& command : sorted)
        std::printf("  %s %s\n", program, command.synopsis);
    std::printf("\n  %s --help    this text\n", program);
}
} // namespace

CliRegistrar::CliRegistrar(const CliCommand& command)
{
    Commands().push_back(command);
}

const char* CliProgramName()
{
    return g_program;
}

std::string CliText(std::string_view ansi)
{
#ifdef _WIN32
    return std::string(ansi);
#else
    return Utf8FromAnsi(ansi);
#endif
}

void CliPrint(std::FILE* to, std::string_view ansi)
{
    std::string text = CliText(ansi);
    std::fwrite(text.data(), 1, text.size(), to);
}

int CliFail(const std::string& message, int code)
{
    std::fprintf(stderr, "%s: %s\n", g_program, message.c_str());
    return code;
}

bool CliNumber(
    const std::optional<std::string>& text, unsigned long long maxValue, unsigned long long* out, const char* what)
{
    if (!text)
        return true;
    std::optional<uint32_t> value = ParseUnsignedStrict(*text);
    if (!value || *value > maxValue) {
        CliFail(StrFormat("invalid %s: %s", what, text->c_str()), 2);
        return false;
    }
    *out = *value;
    return true;
}

bool CliParseNetwork(const std::string& text, uint32_t* address, uint32_t* mask)
{
    size_t slash = text.find('/');
    if (slash == std::string::npos)
        return false;
    std::optional<uint32_t> a = NetParseAddress(text.substr(0, slash));
    std::string m = text.substr(slash + 1);
    if (!a)
        return false;
    if (std::optional<uint32_t> dotted = NetParseAddress(m)) {
        *mask = *dotted;
    } else {
        std::optional<uint32_t> bits = ParseUnsignedStrict(m);
        if (!bits || *bits > 32 || m.find_first_not_of("0123456789") != std::string::npos)
            return false;
        *mask = *bits == 0 ? 0 : 0xFFFFFFFFu << (32 - *bits);
    }
    *address = *a;
    return true;
}

CliSearchOptions::CliSearchOptions(CliArgs& a, unsigned long long defaultTimeout, unsigned long long defaultPort)
    : noLocal(a.Flag("--no-local"))
    , timeoutText(a.Value("-t", "--timeout"))
    , timeout(defaultTimeout)
    , port(defaultPort)
    , portText_(a.Value("--port"))
    , nets_(a.Values("--net"))
{
}

bool CliSearchOptions::Check(bool other, const char* otherName)
{
    if (!CliNumber(timeoutText, 3600, &timeout, "time-out") || !CliNumber(portText_, 65535, &port, "port"))
        return false;
    remote.clear();
    for (const std::string& n : nets_) {
        uint32_t address = 0, mask = 0;
        if (!CliParseNetwork(n, &address, &mask)) {
            CliFail("not a network (ADDRESS/NETMASK or ADDRESS/BITS): " + n, 2);
            return false;
        }
        remote.emplace_back(address, mask);
    }
    if (noLocal && remote.empty() && !other) {
        CliFail(std::string("nothing to search: --no-local without --net") + (otherName ? " or " : "")
                + (otherName ? otherName : ""),
            2);
        return false;
    }
    return true;
}

int CliMain(const char* program, const char* summary, int argc, char** argv,
    const std::function<bool(std::vector<std::string>& args, std::string& error)>& globals)
{
    g_program = program;
    DiagToStream(stderr);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (globals) {
        std::string error;
        if (!globals(args, error))
            return CliFail(error, 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp(program, summary);
        return args.empty() ? 2 : 0;
    }
    // Two-word commands ("tftp get") take precedence over one-word ones.
    for (int words = 2; words >= 1; --words) {
        if (args.size() < static_cast<size_t>(words))
            continue;
        std::string name = args[0];
        if (words == 2)
            name += " " + args[1];
        for (const CliCommand& command : Commands()) {
            if (name == command.name) {
                args.erase(args.begin(), args.begin() + words);
                if (std::find(args.begin(), args.end(), "--help") != args.end()) {
                    std::printf("Usage: %s %s\n", program, command.synopsis);
                    return 0;
                }
                return command.run(args);
            }
        }
    }
    return CliFail("unknown command '" + args[0] + "' (see --help)", 2);
}

std::string CliShippedDirectory(std::string_view prefix, std::string_view suffix)
{
    auto holds = [&](const std::filesystem::path& dir) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            if (name.size() >= prefix.size() + suffix.size() && StrStartsWithNoCase(name, prefix)
                && StrEqualNoCase(std::string_view(name).substr(name.size() - suffix.size()), suffix))
                return true;
        }
        return false;
    };
    std::string own = FileProgramDirectory();
    std::filesystem::path parent = std::filesystem::path(own).parent_path();
    if (!holds(own) && !parent.empty() && parent != std::filesystem::path(own) && holds(parent))
        return parent.string();
    return own;
}

CliFolders CliDataFolders(const std::optional<std::string>& given, std::string_view product, const std::string& seed,
    std::string_view prefix, std::string_view suffix)
{
    if (given)
        return { *given, *given };
    CliFolders folders;
    folders.read = CliShippedDirectory(prefix, suffix);
    folders.write = ChooseDataFolder(FileProgramDirectory(), product, { seed }).folder;
    while (folders.write.size() > 1 && (folders.write.back() == '/' || folders.write.back() == '\\'))
        folders.write.pop_back();
    return folders;
}
