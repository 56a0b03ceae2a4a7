// The settings-file functions against the Windows profile functions on the same files: every read the
// same, and after the same writes, the same reads again. Cases where the two knowingly differ are not
// here (docs/ARCHITECTURE.md lists them).
#include "common/ini.h"
#include "common/platform/file.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::string Scratch(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId()) + ".ini";
}

// A list of names as the profile functions give it: each ended by a NUL, an empty one ends the list.
std::vector<std::string> NameList(const std::vector<char>& buffer, DWORD length)
{
    std::vector<std::string> names;
    for (DWORD i = 0; i < length && buffer[i];) {
        std::string name(&buffer[i]);
        i += static_cast<DWORD>(name.size()) + 1;
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> WinSections(const std::string& path)
{
    std::vector<char> buffer(1 << 16);
    DWORD n = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    return NameList(buffer, n);
}

std::vector<std::string> WinKeys(const std::string& path, const std::string& section)
{
    std::vector<char> buffer(1 << 16);
    DWORD n = GetPrivateProfileStringA(
        section.c_str(), nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    return NameList(buffer, n);
}

std::string WinString(const std::string& path, const std::string& section, const std::string& key)
{
    std::vector<char> buffer(4096);
    DWORD n = GetPrivateProfileStringA(
        section.c_str(), key.c_str(), "(none)", buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    return std::string(buffer.data(), n);
}

// Every section, key and value the Windows functions see in one file, and what IniFile sees in another.
std::string WinPicture(const std::string& path)
{
    std::string out;
    for (const std::string& s : WinSections(path)) {
        out += "[" + s + "]\n";
        for (const std::string& k : WinKeys(path, s))
            out += k + "=" + WinString(path, s, k) + "|"
                + std::to_string(static_cast<int32_t>(GetPrivateProfileIntA(s.c_str(), k.c_str(), 42, path.c_str())))
                + "\n";
    }
    return out;
}

std::string IniPicture(const std::string& path)
{
    std::string out;
    for (const std::string& s : IniSectionNames(path)) {
        out += "[" + s + "]\n";
        for (const std::string& k : IniKeys(path, s))
            out += k + "=" + IniGetString(path, s, k, "(none)") + "|" + std::to_string(IniGetInt(path, s, k, 42))
                + "\n";
    }
    return out;
}

std::string Utf16(const std::wstring& text)
{
    std::string out = "\xFF\xFE";
    for (wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
    }
    return out;
}

struct Case {
    const char* name;
    std::string text;
};

std::vector<Case> Cases()
{
    return {
        { "plain",
            "; c\r\n[Options]\r\nA=1\r\n  B = two words  \r\nC=\"quoted \"\r\nD=0x1F\r\nE=-7x\r\n[Other]\r\nF=\r\n" },
        { "lf", "[S]\nA=1\nB=2\n" },
        { "cr", "[S]\rA=1\rB=2\r[T]\rC=3" },
        { "ctrlz", "[S]\r\nA=1\r\nB=2\x1A" },
        { "utf8bom", "\xEF\xBB\xBF[S]\r\nA=caf\xC3\xA9\r\nB=2\r\n" },
        { "utf16", Utf16(L"[S]\r\nA=caf\u00E9\r\nB=\u0A0A\r\n[T]\r\nC=3\r\n") },
        { "blanks", "  [ S ]  \r\n  A  =  1  \r\n\t[T]\r\n\tB\t=\t2\r\n" },
        { "junk", "junk\r\n[S]\r\nno equals\r\nA=1\r\n;A=2\r\n[broken\r\nB=3\r\n" },
        { "empty", "" },
        { "quotes", "[S]\r\nA=' x '\r\nB=\"a\"b\"\r\nC=\"\r\n" },
    };
}
} // namespace

TEST(IniAgainstWindows, ReadsAsTheProfileFunctionsRead)
{
    for (const Case& c : Cases()) {
        std::string win = Scratch((std::string("w") + c.name).c_str());
        std::string ours = Scratch((std::string("o") + c.name).c_str());
        ASSERT_EQ(FileWriteAtomic(win, c.text), 1);
        ASSERT_EQ(FileWriteAtomic(ours, c.text), 1);
        EXPECT_EQ(IniPicture(ours), WinPicture(win)) << c.name;
        DeleteFileA(win.c_str());
        DeleteFileA(ours.c_str());
    }
}

TEST(IniAgainstWindows, WritesAsTheProfileFunctionsWrite)
{
    for (const Case& c : Cases()) {
        std::string win = Scratch((std::string("w") + c.name).c_str());
        std::string ours = Scratch((std::string("o") + c.name).c_str());
        ASSERT_EQ(FileWriteAtomic(win, c.text), 1);
        ASSERT_EQ(FileWriteAtomic(ours, c.text), 1);
        struct Write {
            const char* section;
            const char* key;
            const char* value;
        } writes[] = {
            { "S", "A", "new" },
            { "S", "Added", "caf\xE9" },
            { "New", "K", "v" },
            { "T", "C", nullptr },
            { "Other", nullptr, nullptr },
        };
        for (const Write& w : writes) {
            EXPECT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value, win.c_str()));
            EXPECT_EQ(IniWriteString(ours, w.section, w.key, w.value), 1);
        }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, win.c_str()); // flush
        EXPECT_EQ(IniPicture(ours), WinPicture(win)) << c.name;
        std::string a, b;
        FileReadAll(win, &a);
        FileReadAll(ours, &b);
        EXPECT_EQ(a.substr(0, 2) == "\xFF\xFE", b.substr(0, 2) == "\xFF\xFE") << c.name;
        EXPECT_EQ(a.substr(0, 3) == "\xEF\xBB\xBF", b.substr(0, 3) == "\xEF\xBB\xBF") << c.name;
        DeleteFileA(win.c_str());
        DeleteFileA(ours.c_str());
    }
}

// Windows refuses to write a file with the read-only attribute; Wine run as root writes through it, so
// only the settings functions are tried here.
TEST(IniAgainstWindows, ReadOnlyFilesAreNotWritten)
{
    std::string path = Scratch("readonly");
    ASSERT_EQ(FileWriteAtomic(path, "[S]\r\nA=1\r\n"), 1);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(IniWriteString(path, "S", "A", "2"), 0);
    EXPECT_EQ(IniGetString(path, "S", "A", ""), "1");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(IniWriteString(path, "S", "A", "2"), 1);
    DeleteFileA(path.c_str());
}
