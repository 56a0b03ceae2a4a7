#include "common/ini.h"
#include "common/platform/file.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {
std::string TestDir()
{
#ifdef _WIN32
    const char* tmp = std::getenv("TEMP");
    return tmp ? tmp : ".";
#else
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
#endif
}

// A settings file of its own per test (named at random: test programs of other builds may run at the
// same moment), removed afterwards.
struct ScratchFile {
    std::string path;
    explicit ScratchFile(const char* name)
        : path(TestDir() + "/" + name + std::to_string(std::random_device {}()) + ".ini")
    {
        std::remove(path.c_str());
    }
    ~ScratchFile()
    {
        std::remove(path.c_str());
    }
    void Put(const std::string& text) const
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::string Get() const
    {
        std::string data;
        FileReadAll(path, &data);
        return data;
    }
};

const char* kSample = "; settings\r\n"
                      "[Options]\r\n"
                      "DontAskForExit=1\r\n"
                      "  SearchTimeoutLAN = 7  \r\n"
                      "Quoted=\"  padded  \"\r\n"
                      "Single='x'\r\n"
                      "Half=\"abc\r\n"
                      "Empty=\r\n"
                      "no equals sign here\r\n"
                      "; trailing comment\r\n"
                      "\r\n"
                      "[ Window ]\r\n"
                      "ShowToolBar=0\r\n"
                      "[options]\r\n"
                      "Late=late\r\n"
                      "DontAskForExit=2\r\n";
} // namespace

TEST(IniFile, ReadsLikeTheProfileFunctions)
{
    IniFile ini;
    ini.Parse(kSample);
    struct Row {
        const char* section;
        const char* key;
        const char* def;
        const char* expected;
    } rows[] = {
        { "Options", "DontAskForExit", "d", "1" }, // the first of two equal keys wins
        { "OPTIONS", "dontaskforexit", "d", "1" }, // sections and keys ignore case
        { "Options", "SearchTimeoutLAN", "d", "7" }, // blanks around key and value dropped
        { "Options", "Quoted", "d", "  padded  " }, // enclosing quotes removed, inner blanks kept
        { "Options", "Single", "d", "x" },
        { "Options", "Half", "d", "\"abc" }, // an unmatched quote stays
        { "Options", "Empty", "d", "" }, // present but empty is not the default
        { "Options", "no equals sign here", "d", "d" },
        { "Options", "Late", "d", "late" }, // the section's second part is searched too
        { "Window", "ShowToolBar", "d", "0" }, // blanks inside the brackets ignored
        { "Window", "Missing", "dflt  ", "dflt" }, // the default loses its trailing blanks
        { "Nowhere", "x", "", "" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(ini.GetString(r.section, r.key, r.def), r.expected) << r.section << "/" << r.key;
    EXPECT_EQ(ini.GetString("Options", "Late", "", 2), "la");
    EXPECT_EQ(ini.GetString("Options", "Late", "", 0), "");
}

TEST(IniFile, ReadsIntegersLikeGetPrivateProfileInt)
{
    struct Row {
        const char* value; // null: key absent
        int32_t expected;
    } rows[] = {
        { nullptr, 42 },
        { "", 42 },
        { "0", 0 },
        { "15", 15 },
        { "  3", 3 },
        { "3x", 3 },
        { "x3", 0 },
        { "-5", -5 },
        { "+9", 9 },
        { "0x1F", 31 },
        { "0o17", 15 },
        { "0b101", 5 },
        { "010", 10 }, // a leading zero is not octal here
        { "\"12\"", 12 },
        { "4294967295", -1 },
        { "0x", 0 },
    };
    for (const Row& r : rows) {
        IniFile ini; // the value as it stands in the file
        ini.Parse(r.value ? std::string("[S]\r\nK=") + r.value + "\r\n" : std::string("[S]\r\n"));
        EXPECT_EQ(ini.GetInt("S", "K", 42), r.expected) << (r.value ? r.value : "(absent)");
    }
}

TEST(IniFile, WritesKeepTheRestOfTheFile)
{
    IniFile ini;
    ini.Parse("; head\r\n[A]\r\nx=1\r\n; about A\r\n\r\n[B]\r\ny=2\r\n");
    ini.SetString("a", "X", "10"); // replaces in place, keeps the file's spelling of the key
    ini.SetString("A", "z", "3"); // after the last key of A, before its comment
    ini.SetString("C", "w", "4"); // a new section at the end
    EXPECT_EQ(ini.Text(), "; head\r\n[A]\r\nx=10\r\nz=3\r\n; about A\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");

    ini.Write("B", "y", nullptr); // null value: key deleted
    EXPECT_EQ(ini.Keys("B").size(), 0u);
    EXPECT_TRUE(ini.HasSection("B"));
    ini.Write("a", nullptr, nullptr); // null key: section deleted with its comments
    EXPECT_EQ(ini.Text(), "; head\r\n[B]\r\n[C]\r\nw=4\r\n");
    ini.Write("Nowhere", "k", nullptr); // deleting what is absent changes nothing
    EXPECT_EQ(ini.Text(), "; head\r\n[B]\r\n[C]\r\nw=4\r\n");
}

TEST(IniFile, EveryWrittenValueReadsBackUnchanged)
{
    // Reading drops surrounding blanks and one pair of enclosing quotes: such values are written quoted.
    const struct {
        const char* value;
        const char* line;
    } rows[] = {
        { "plain", "k=plain" },
        { "", "k=" },
        { " lead", "k=\" lead\"" },
        { "trail\t", "k=\"trail\t\"" },
        { "\"quoted\"", "k=\"\"quoted\"\"" },
        { "'single'", "k=\"'single'\"" },
        { "a\"b", "k=a\"b" },
        { "\"", "k=\"" },
    };
    for (const auto& row : rows) {
        IniFile ini;
        ini.SetString("S", "k", row.value);
        EXPECT_EQ(ini.Text(), std::string("[S]\r\n") + row.line + "\r\n") << row.value;
        IniFile again;
        again.Parse(ini.Text());
        EXPECT_EQ(again.GetString("S", "k", "-"), row.value) << row.value;
    }
}

TEST(IniFile, DeletingAKeyRemovesEveryCopy)
{
    IniFile ini;
    ini.Parse(kSample);
    ini.DeleteKey("Options", "DontAskForExit");
    EXPECT_FALSE(ini.Find("Options", "DontAskForExit"));
    ini.DeleteSection("OPTIONS");
    EXPECT_EQ(ini.SectionNames(), std::vector<std::string>({ "Window" }));
}

TEST(IniFile, ListsSectionsAndKeys)
{
    IniFile ini;
    ini.Parse(kSample);
    EXPECT_EQ(ini.SectionNames(), std::vector<std::string>({ "Options", "Window" }));
    EXPECT_EQ(ini.Keys("options"),
        std::vector<std::string>(
            { "DontAskForExit", "SearchTimeoutLAN", "Quoted", "Single", "Half", "Empty", "Late" }));
    EXPECT_TRUE(ini.Keys("Nowhere").empty());
}

TEST(IniFile, LineEndsBecomeCrLfAndUnknownLinesSurvive)
{
    IniFile ini;
    ini.Parse("junk before\n[S]\nk=v\n[broken\nlast");
    EXPECT_EQ(ini.Text(), "junk before\r\n[S]\r\nk=v\r\n[broken\r\nlast\r\n");
    EXPECT_EQ(ini.GetString("S", "k", ""), "v");
    IniFile again;
    again.Parse(ini.Text());
    EXPECT_EQ(again.Text(), ini.Text());
}

TEST(IniFunctions, WorkOnFilesAndCreateThem)
{
    ScratchFile f("ini_funcs");
    EXPECT_EQ(IniGetString(f.path, "Options", "CFGPath", "none"), "none"); // a missing file is empty
    EXPECT_EQ(IniWriteString(f.path, "Options", "CFGPath", "C:\\cfg"), 1);
    EXPECT_EQ(IniWriteInt(f.path, "Options", "SearchTimeoutLAN", 5), 1);
    EXPECT_EQ(f.Get(), "[Options]\r\nCFGPath=C:\\cfg\r\nSearchTimeoutLAN=5\r\n");
    EXPECT_EQ(IniGetInt(f.path, "options", "searchtimeoutlan", 3), 5);
    EXPECT_EQ(IniSectionNames(f.path), std::vector<std::string>({ "Options" }));
    EXPECT_EQ(IniKeys(f.path, "Options").size(), 2u);
    EXPECT_EQ(IniWriteString(f.path, "Options", nullptr, nullptr), 1);
    EXPECT_EQ(f.Get(), "");
}

TEST(IniFunctions, TransactionWritesOnceAndOnlyOnCommit)
{
    ScratchFile f("ini_batch");
    f.Put("[Devices]\r\n");
    {
        IniTransaction t(f.path);
        for (int i = 0; i < 50; ++i)
            t->SetInt("Devices", "Dev" + std::to_string(i), i);
        // Not yet written: a reader still sees the old file.
        EXPECT_EQ(IniGetString(f.path, "Devices", "Dev0", "none"), "none");
        EXPECT_EQ(t.Commit(), 1);
    }
    EXPECT_EQ(IniGetInt(f.path, "Devices", "Dev49", -1), 49);
    {
        IniTransaction t(f.path);
        t->SetInt("Devices", "Dev0", 100);
        // dropped without Commit
    }
    EXPECT_EQ(IniGetInt(f.path, "Devices", "Dev0", -1), 0);
}

TEST(IniFunctions, WriteFailsWithoutTouchingTheFileWhenTheFolderIsMissing)
{
    std::string path = TestDir() + "/no_such_folder_9431/x.ini";
    EXPECT_EQ(IniWriteString(path, "S", "k", "v"), 0);
    EXPECT_FALSE(FileExists(path));
}

namespace {
// UTF-16 LE bytes of a text, byte-order mark first.
std::string Utf16File(const std::u16string& text)
{
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

void MakeReadOnly(const std::string& path)
{
#ifdef _WIN32
    _chmod(path.c_str(), _S_IREAD); // the read-only attribute
#else
    chmod(path.c_str(), 0444);
#endif
}
} // namespace

TEST(IniFile, ByteOrderMarksAreReadAndWrittenBack)
{
    // UTF-8: the mark hides no section and is written once; the functions see ANSI text.
    IniFile u8;
    u8.Parse("\xEF\xBB\xBF[S]\r\nname=caf\xC3\xA9\r\ncheck=\xE2\x9C\x93\r\n");
    EXPECT_EQ(u8.SectionNames(), std::vector<std::string>({ "S" }));
    EXPECT_EQ(u8.GetString("S", "name", ""), "caf\xE9");
    EXPECT_EQ(u8.GetString("S", "check", ""), "?"); // no ANSI character for it
    u8.SetString("S", "euro", "\x80");
    EXPECT_EQ(u8.Text(), "\xEF\xBB\xBF[S]\r\nname=caf\xC3\xA9\r\ncheck=\xE2\x9C\x93\r\neuro=\xE2\x82\xAC\r\n");

    // UTF-16 LE: U+0A0A holds line-feed bytes and U+0D0D carriage-return bytes; a pair of surrogates
    // and a lone one are kept as they stand.
    std::u16string text = u"; \u0A0A\u0D0D\r\n[S]\r\nname=caf\u00E9\r\npair=\U0001F600\r\nlone=\xD800x\r\n";
    IniFile u16;
    u16.Parse(Utf16File(text));
    EXPECT_EQ(u16.Text(), Utf16File(text)); // unchanged, byte for byte
    EXPECT_EQ(u16.GetString("s", "NAME", ""), "caf\xE9");
    EXPECT_EQ(u16.GetString("S", "lone", ""), "?x");
    u16.SetString("S", "new", "\xE9t\xE9");
    u16.SetString("T", "k", "v");
    EXPECT_EQ(u16.Text(), Utf16File(text + u"new=\u00E9t\u00E9\r\n[T]\r\nk=v\r\n"));
    u16.DeleteSection("S");
    EXPECT_EQ(u16.Text(), Utf16File(u"; \u0A0A\u0D0D\r\n[T]\r\nk=v\r\n"));
}

TEST(IniFile, CarriageReturnsEndLinesAndCtrlZEndsTheFile)
{
    IniFile ini;
    ini.Parse("[A]\rx=1\r\r\n[B]\ny=2\x1A");
    EXPECT_EQ(ini.GetString("A", "x", ""), "1");
    EXPECT_EQ(ini.GetString("B", "y", ""), "2");
    EXPECT_EQ(ini.Text(), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
}

TEST(IniFunctions, FileTheUserMayNotWriteIsNeverReplaced)
{
    ScratchFile f("ini_readonly");
    f.Put("[S]\r\nk=old\r\n");
    MakeReadOnly(f.path);
    EXPECT_EQ(IniWriteString(f.path, "S", "k", "new"), 0);
    EXPECT_EQ(IniWriteString(f.path, "S", nullptr, nullptr), 0);
    EXPECT_EQ(f.Get(), "[S]\r\nk=old\r\n");
    IniFile ini;
    ASSERT_EQ(ini.Load(f.path), 1);
    ini.SetString("S", "k", "new");
    EXPECT_EQ(ini.Save(), 0);
    EXPECT_EQ(f.Get(), "[S]\r\nk=old\r\n");
#ifdef _WIN32
    _chmod(f.path.c_str(), _S_IREAD | _S_IWRITE);
#endif
}

#ifndef _WIN32
namespace {
// The names beside `path` that start with its name and ".~".
std::vector<std::string> Unfinished(const std::string& path)
{
    std::string dir = path.substr(0, path.find_last_of('/'));
    std::string base = path.substr(dir.size() + 1) + ".~";
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(base, 0) == 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

void RemoveUnfinished(const std::string& path)
{
    std::string dir = path.substr(0, path.find_last_of('/'));
    for (const std::string& name : Unfinished(path))
        std::remove((dir + "/" + name).c_str());
}
} // namespace

// As root the test also runs the write as an ordinary user, for whom the folder allows the rename.
TEST(IniFunctions, OrdinaryUserDoesNotReplaceAnotherUsersFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    std::string dir = TestDir() + "/ini_owner" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    chmod(dir.c_str(), 0777);
    std::string path = dir + "/other.ini";
    ASSERT_EQ(IniWriteString(path, "S", "k", "old"), 1);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        _exit(IniWriteString(path, "S", "k", "new") == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(IniGetString(path, "S", "k", ""), "old");
    RemoveUnfinished(path);
    std::remove(path.c_str());
    rmdir(dir.c_str());
}

// A writer killed at any moment leaves the old file or the new one, never a broken one, and the next
// save removes what it left. The parent kills the writer as soon as the folder reports the writer's new
// file, mostly while it is still being written.
TEST(IniFunctions, KilledWriterLeavesOldOrNewFile)
{
    ScratchFile f("ini_kill");
    auto version = [](char tag) {
        IniFile ini;
        for (int i = 0; i < 4000; ++i)
            ini.SetString("Devices", "Device" + std::to_string(i), std::string(40, tag));
        return ini;
    };
    IniFile a = version('a');
    IniFile b = version('b');
    std::string textA = a.Text(), textB = b.Text();
    ASSERT_EQ(a.SaveAs(f.path), 1);
    std::string dir = f.path.substr(0, f.path.find_last_of('/'));
    std::string base = f.path.substr(dir.size() + 1);
    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);

    int partialSeen = 0;
    int cutShort = 0; // rounds in which the kill left an unfinished new file behind
    int rounds = 0;
    // A bounded number of rounds gathers a few kills that landed during a save.
    for (; rounds < 100 && cutShort < 3; ++rounds) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                b.SaveAs(f.path);
                a.SaveAs(f.path);
            }
        }
        std::string mine = base + ".~" + std::to_string(child) + "-";
        bool created = false;
        alignas(inotify_event) char events[4096];
        while (!created) {
            pollfd p { watch, POLLIN, 0 };
            if (poll(&p, 1, 60000) != 1)
                break; // the writer never began: reported below
            ssize_t n = read(watch, events, sizeof events);
            for (ssize_t at = 0; at < n;) {
                auto* e = reinterpret_cast<inotify_event*>(events + at);
                created = created || (e->len > 0 && std::string(e->name).rfind(mine, 0) == 0);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(created) << "round " << rounds << ": the writer made no file";
        std::string now = f.Get();
        bool whole = now == textA || now == textB;
        EXPECT_TRUE(whole) << "round " << rounds << ": " << now.size() << " bytes";
        partialSeen += whole ? 0 : 1;
        // The next writer's save removes this one's file: count it now.
        for (const std::string& name : Unfinished(f.path))
            cutShort += name.rfind(mine, 0) == 0 ? 1 : 0;
    }
    close(watch);
    EXPECT_EQ(partialSeen, 0);
    // Otherwise the test proves nothing.
    EXPECT_GT(cutShort, 0) << "after " << rounds << " rounds";
    // The next save takes the files of the killed writers away.
    ASSERT_EQ(a.SaveAs(f.path), 1);
    EXPECT_EQ(Unfinished(f.path), std::vector<std::string>());
}

TEST(IniFunctions, SaveKeepsTheNewFilesOfRunningWriters)
{
    ScratchFile f("ini_running");
    std::string mine = f.path + ".~" + std::to_string(getpid()) + "-77";
    FILE* keep = std::fopen(mine.c_str(), "wb");
    ASSERT_NE(keep, nullptr);
    std::fclose(keep);
    EXPECT_EQ(IniWriteString(f.path, "S", "k", "v"), 1);
    EXPECT_TRUE(FileExists(mine));
    std::remove(mine.c_str());
}
#endif
