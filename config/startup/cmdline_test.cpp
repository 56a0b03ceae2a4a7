#include "config/startup/cmdline.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

TEST(CommandLine, SplitsAtWhiteSpaceOutsideQuotes)
{
    struct Row {
        const char* line;
        std::vector<std::string> tokens;
    } rows[] = {
        { "", {} },
        { "  a\tb  ", { "a", "b" } },
        { "\"/lang:ger\" x", { "/lang:ger", "x" } },
        { "/edit:\"C:\\My Files\\a.lcf\" next", { "/edit:\"C:\\My Files\\a.lcf\"", "next" } },
        { "\"a b\"c", { "\"a b\"c" } }, // begins with a quote but does not end with one
        { "\"", { "\"" } }, // one quote alone is not enclosed
        { "\"unterminated rest", { "\"unterminated rest" } },
        { "\"\"", { "" } },
    };
    for (const Row& r : rows)
        EXPECT_EQ(SplitCommandLine(r.line), r.tokens) << r.line;
}

TEST(CommandLine, OptionPass)
{
    struct Row {
        const char* line;
        bool noRtsCts, noCrypt;
        std::optional<int32_t> wizardStyle;
        std::optional<uint16_t> language;
    } rows[] = {
        { "/LANG:GER", false, false, {}, 1031 }, // capitals after a slash
        { "-lang:ger", false, false, {}, 1031 }, { "-lang:0x409", false, false, {}, 1033 }, // hexadecimal
        { "/lang:010", false, false, {}, 8 }, // octal
        { "/lang:1036", false, false, {}, 1036 }, { "\"/lang:fre\"", false, false, {}, 1036 }, // a quoted option
        { "/lang:eng /lang:ita", false, false, {}, 1040 }, // the last one wins
        { "/lang:dut", false, false, {}, 1043 }, { "/lang:spa", false, false, {}, 10 },
        { "/lang:english", false, false, {}, {} }, // neither a name nor a number
        { "lang:ger", false, false, {}, {} }, // no option character
        { "/NoRtsCts -nocrypt", true, true, {}, {} }, { "/nortscts2", false, false, {}, {} },
        { "/wizstyle:2", false, false, 2, {} }, { "/wizstyle:-1x", false, false, -1, {} },
        { "/wizstyle:", false, false, 0, {} }, { "/edit:x.lcf /close", false, false, {}, {} }, // verbs are not options
    };
    for (const Row& r : rows) {
        StartupOptions o;
        ParseOptions(r.line, &o);
        EXPECT_EQ(o.noRtsCts, r.noRtsCts) << r.line;
        EXPECT_EQ(o.noCrypt, r.noCrypt) << r.line;
        EXPECT_EQ(o.wizardStyle, r.wizardStyle) << r.line;
        EXPECT_EQ(o.language, r.language) << r.line;
    }
}

TEST(CommandLine, TestControlPort)
{
    StartupOptions o;
    ParseOptions("/testctl:40123 /lang:ger", &o);
    EXPECT_EQ(o.testControlPort, 40123);
    EXPECT_EQ(o.language, 1031);
    // A port out of range or not a number leaves the channel off; 0 asks for a free port.
    for (const char* line : { "/testctl:70000", "/testctl:", "/testctl:12ab", "testctl:1" }) {
        StartupOptions none;
        ParseOptions(line, &none);
        EXPECT_FALSE(none.testControlPort) << line;
    }
    StartupOptions any;
    ParseOptions("-TESTCTL:0", &any);
    EXPECT_EQ(any.testControlPort, 0);
}

TEST(CommandLine, PrintToSplitsAtCommasOutsideQuotes)
{
    EXPECT_EQ(SplitPrintTo("\"C:\\a,b.lcf\",\"HP, 4\",drv,LPT1:"),
        std::vector<std::string>({ "C:\\a,b.lcf", "HP, 4", "drv", "LPT1:" }));
    EXPECT_EQ(SplitPrintTo("only"), std::vector<std::string>({ "only" }));
}

namespace {
// Records every call of the verb hooks as one line.
struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::string> heldLocks; // "path|suffix" held by another instance
    bool dialogSucceeds = true;

    ShellVerbHooks Hooks()
    {
        ShellVerbHooks h;
        h.isOtherInstance = [this](std::string_view path, std::string_view suffix) {
            std::string lock = std::string(path) + "|" + std::string(suffix);
            calls.push_back("lock " + lock);
            for (const std::string& held : heldLocks)
                if (held == lock)
                    return true;
            return false;
        };
        h.createDummyOwner = [this] {
            calls.push_back("dummy");
            return uintptr_t { 77 };
        };
        h.destroyDummyOwner = [this](uintptr_t w) { calls.push_back("destroy " + std::to_string(w)); };
        h.edit = [this](uintptr_t o, const std::string& f) { calls.push_back("edit " + std::to_string(o) + " " + f); };
        h.print
            = [this](uintptr_t o, const std::string& f) { calls.push_back("print " + std::to_string(o) + " " + f); };
        h.printTo = [this](uintptr_t o, const std::string& f, const std::string& p, const std::string& d,
                        const std::string& port) {
            calls.push_back("printto " + std::to_string(o) + " " + f + "|" + p + "|" + d + "|" + port);
        };
        h.createEmptyFile = [this](const std::string& f) {
            calls.push_back("create " + f);
            return true;
        };
        h.deleteFile = [this](const std::string& f) { calls.push_back("delete " + f); };
        h.shellNotify = [this](const std::string& f, bool created) {
            calls.push_back(std::string(created ? "notify+ " : "notify- ") + f);
        };
        h.newConfiguration = [this](uintptr_t o, const std::string& f) {
            calls.push_back("new " + std::to_string(o) + " " + f);
            return dialogSucceeds;
        };
        h.autoUpdateFromFile = [this](uintptr_t o, const std::string& f) { calls.push_back("update-file " + f); };
        h.autoUpdateDevice = [this](uintptr_t o, const std::string& d) { calls.push_back("update-device " + d); };
        return h;
    }
};
} // namespace

TEST(ShellVerbs, RunInOrderWithLocksAndOwner)
{
    struct Row {
        const char* line;
        bool close;
        std::vector<std::string> calls;
        std::vector<std::string> held = {};
        bool dialogSucceeds = true;
    } rows[] = {
        { "", false, {} },
        { "/close /print:\"C:\\cfg\\a.lcf\"", true,
            { "lock C:\\cfg\\a.lcf|print", "dummy", "print 77 C:\\cfg\\a.lcf", "destroy 77" } },
        { "-edit:a.lcf", false, { "lock a.lcf|edit", "dummy", "edit 77 a.lcf", "destroy 77" } },
        // Another instance edits the file: the verb does nothing.
        { "-edit:a.lcf", false, { "lock a.lcf|edit" }, { "a.lcf|edit" } },
        { "/owner:0x10 /edit:a.lcf /OWNER:12 /print:b.lcf", false,
            { "lock a.lcf|edit", "edit 16 a.lcf", "lock b.lcf|print", "print 12 b.lcf" } },
        { "/printto:\"a.lcf\",\"Laser 1\",drv,LPT1: /close", true,
            { "lock a.lcf|print", "dummy", "printto 77 a.lcf|Laser 1|drv|LPT1:", "destroy 77" } },
        { "/autoupdate:X.INI", false, { "lock X.INI|autoupdate", "dummy", "update-file X.INI", "destroy 77" } },
        { "/autoupdate:.ini", false, { "lock .ini|autoupdate", "dummy", "update-file .ini", "destroy 77" } },
        { "/autoupdate:abc", false, { "lock abc|autoupdate", "dummy", "update-device abc", "destroy 77" } },
        { "/autoupdate:ini", false, { "lock ini|autoupdate", "dummy", "update-device ini", "destroy 77" } },
        { "/autoupdate:X.INI", false, { "lock X.INI|autoupdate" }, { "X.INI|autoupdate" } },
        { "/shellnew:\"n.lcf\"", false, { "create n.lcf", "notify+ n.lcf", "dummy", "new 77 n.lcf", "destroy 77" } },
        { "/shellnew:n.lcf", false,
            { "create n.lcf", "notify+ n.lcf", "dummy", "new 77 n.lcf", "delete n.lcf", "notify- n.lcf", "destroy 77" },
            {}, false },
        { "/lang:ger nocrypt /unknown:x", false, {} },
    };
    for (const Row& r : rows) {
        Recorder rec;
        rec.heldLocks = r.held;
        rec.dialogSucceeds = r.dialogSucceeds;
        EXPECT_EQ(HandleShellVerbs(r.line, rec.Hooks()), r.close) << r.line;
        EXPECT_EQ(rec.calls, r.calls) << r.line;
    }
}
