#include "config/startup/cmdline.h"

#include "common/text.h"

namespace {
// The value after a verb's colon when `text` starts with `verb` (ignoring case).
std::optional<std::string> VerbValue(std::string_view text, std::string_view verb)
{
    if (!StrStartsWithNoCase(text, verb))
        return std::nullopt;
    return StripEnclosingQuotes(text.substr(verb.size()));
}
} // namespace

std::vector<std::string> SplitPrintTo(std::string_view value)
{
    std::vector<std::string> parts;
    std::string part;
    bool quoted = false;
    for (char c : value) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            parts.push_back(StripEnclosingQuotes(Trim(part)));
            part.clear();
            continue;
        }
        part += c;
    }
    parts.push_back(StripEnclosingQuotes(Trim(part)));
    return parts;
}

void ParseOptions(std::string_view line, StartupOptions* options)
{
    for (const std::string& token : SplitCommandLine(line)) {
        std::optional<std::string_view> text = OptionText(token);
        if (!text)
            continue;
        if (StrEqualNoCase(*text, "nortscts")) {
            options->noRtsCts = true;
        } else if (StrEqualNoCase(*text, "nocrypt")) {
            options->noCrypt = true;
        } else if (StrStartsWithNoCase(*text, "wizstyle:")) {
            options->wizardStyle = ParseDecimal(text->substr(9));
        } else if (StrStartsWithNoCase(*text, "testctl:")) {
            std::optional<uint32_t> port = ParseUnsignedStrict(text->substr(8));
            if (port && *port <= 65535)
                options->testControlPort = static_cast<uint16_t>(*port);
        } else if (std::optional<uint16_t> lang = LanguageOption(*text)) {
            options->language = *lang;
        }
    }
}

bool HandleShellVerbs(std::string_view line, const ShellVerbHooks& hooks)
{
    bool close = false;
    std::optional<uintptr_t> owner;
    uintptr_t dummy = 0;
    bool haveDummy = false;
    auto parent = [&]() -> uintptr_t {
        if (owner)
            return *owner;
        if (!haveDummy && hooks.createDummyOwner) {
            dummy = hooks.createDummyOwner();
            haveDummy = true;
        }
        return dummy;
    };
    auto locked = [&](const std::string& path, std::string_view suffix) {
        return hooks.isOtherInstance && hooks.isOtherInstance(path, suffix);
    };

    for (const std::string& token : SplitCommandLine(line)) {
        std::optional<std::string_view> text = OptionText(token);
        if (!text)
            continue;
        if (StrEqualNoCase(*text, "close")) {
            close = true;
        } else if (auto number = VerbValue(*text, "owner:")) {
            owner = static_cast<uintptr_t>(ParseUnsigned(*number));
        } else if (auto file = VerbValue(*text, "edit:")) {
            if (!locked(*file, "edit") && hooks.edit)
                hooks.edit(parent(), *file);
        } else if (auto spec = VerbValue(*text, "printto:")) {
            std::vector<std::string> parts = SplitPrintTo(*spec);
            parts.resize(4);
            if (!locked(parts[0], "print") && hooks.printTo)
                hooks.printTo(parent(), parts[0], parts[1], parts[2], parts[3]);
        } else if (auto printFile = VerbValue(*text, "print:")) {
            if (!locked(*printFile, "print") && hooks.print)
                hooks.print(parent(), *printFile);
        } else if (auto newFile = VerbValue(*text, "shellnew:")) {
            if (!hooks.createEmptyFile || !hooks.createEmptyFile(*newFile))
                continue;
            if (hooks.shellNotify)
                hooks.shellNotify(*newFile, true);
            bool made = hooks.newConfiguration && hooks.newConfiguration(parent(), *newFile);
            if (!made) {
                if (hooks.deleteFile)
                    hooks.deleteFile(*newFile);
                if (hooks.shellNotify)
                    hooks.shellNotify(*newFile, false);
            }
        } else if (auto value = VerbValue(*text, "autoupdate:")) {
            if (locked(*value, "autoupdate"))
                continue;
            if (value->size() >= 4 && StrEndsWithNoCase(*value, ".ini")) {
                if (hooks.autoUpdateFromFile)
                    hooks.autoUpdateFromFile(parent(), *value);
            } else if (hooks.autoUpdateDevice) {
                hooks.autoUpdateDevice(parent(), *value);
            }
        }
    }
    if (haveDummy && hooks.destroyDummyOwner)
        hooks.destroyDummyOwner(dummy);
    return close;
}
