#include "common/platform/registry.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {
// Each test works below a key of its own: in memory, or (Windows) in the system registry of the current
// user, deleted afterwards.
class Registry : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        RegUseMemory(GetParam());
        if (GetParam())
            RegMemoryClear();
        base = "Software\\VelquinRegistryTest-" + std::to_string(getpid());
        RegKeyDeleteTree(root, base);
        ASSERT_EQ(top.Create(root, base), RegStatus::Ok);
    }
    void TearDown() override
    {
        top.Close();
        RegKeyDeleteTree(root, base);
        RegUseMemory(false);
    }
    bool Memory() const
    {
        return GetParam() || RegUsesMemory();
    }
    std::vector<std::string> Subkeys(const RegKey& key)
    {
        std::vector<std::string> names;
        std::string name;
        for (uint32_t i = 0; key.EnumKey(i, &name) == RegStatus::Ok; ++i)
            names.push_back(name);
        return names;
    }
    std::vector<std::string> Values(const RegKey& key)
    {
        std::vector<std::string> names;
        std::string name, data;
        uint32_t type = 0;
        for (uint32_t i = 0; key.EnumValue(i, &name, &type, &data) == RegStatus::Ok; ++i)
            names.push_back(name);
        return names;
    }

    RegRoot root = RegRoot::CurrentUser;
    std::string base;
    RegKey top;
};

TEST_P(Registry, KeysAreCreatedAlongThePathAndFoundIgnoringCase)
{
    RegKey key;
    bool created = false;
    ASSERT_EQ(key.Create(top, "Drv\\Parameters\\RCapi", &created), RegStatus::Ok);
    EXPECT_TRUE(created);
    ASSERT_EQ(key.Create(top, "drv\\PARAMETERS", &created), RegStatus::Ok);
    EXPECT_FALSE(created);

    RegKey opened;
    EXPECT_EQ(opened.Open(root, base + "\\DRV\\parameters\\rcapi"), RegStatus::Ok);
    EXPECT_EQ(opened.Open(top, "Drv\\Missing"), RegStatus::NotFound);
    EXPECT_FALSE(opened.IsOpen());
    // The empty path opens the key itself; a parent that is not open gives nothing.
    RegKey self, orphan;
    EXPECT_EQ(self.Open(top, ""), RegStatus::Ok);
    EXPECT_EQ(self.EnumKey(0, nullptr), RegStatus::Ok);
    EXPECT_EQ(opened.Open(orphan, "Drv"), RegStatus::NotFound);
    // Key names are limited to 255 characters.
    EXPECT_EQ(key.Create(top, std::string(255, 'k')), RegStatus::Ok);
    EXPECT_EQ(key.Create(top, std::string(256, 'k')), RegStatus::BadName);
}

TEST_P(Registry, ValuesKeepTypeAndBytes)
{
    const std::string binary("\x00\x01\xff\x00zz", 6);
    EXPECT_EQ(top.SetValue("Bin", kRegBinary, binary), RegStatus::Ok);
    EXPECT_EQ(top.SetValue("Empty", kRegBinary, ""), RegStatus::Ok);
    EXPECT_EQ(top.WriteString("", "default"), RegStatus::Ok);
    EXPECT_EQ(top.WriteDword("Flags", 0x01020304), RegStatus::Ok);
    EXPECT_EQ(top.SetValue("Multi", kRegMultiSz, std::string("a\0b\0\0", 5)), RegStatus::Ok);

    uint32_t type = 99;
    std::string data;
    ASSERT_EQ(top.QueryValue("bin", &type, &data), RegStatus::Ok);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(data, binary);
    ASSERT_EQ(top.QueryValue("Empty", &type, &data), RegStatus::Ok);
    EXPECT_EQ(data, "");
    ASSERT_EQ(top.QueryValue("Flags", &type, &data), RegStatus::Ok);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(data, std::string("\x04\x03\x02\x01", 4));
    ASSERT_EQ(top.QueryValue("Multi", &type, &data), RegStatus::Ok);
    EXPECT_EQ(data, std::string("a\0b\0\0", 5));
    EXPECT_EQ(top.QueryValue("Nothing", &type, &data), RegStatus::NotFound);

    // Typed reads refuse other types and sizes; strings end at their first NUL.
    EXPECT_EQ(top.ReadString(""), "default");
    EXPECT_EQ(top.ReadDword("FLAGS"), 0x01020304u);
    EXPECT_EQ(top.ReadString("Flags"), std::nullopt);
    EXPECT_EQ(top.ReadDword("Bin"), std::nullopt);
    top.SetValue("Short", kRegDword, "abc");
    EXPECT_EQ(top.ReadDword("Short"), std::nullopt);
    top.SetValue("Cut", kRegSz, std::string("ab\0cd", 5));
    EXPECT_EQ(top.ReadString("Cut"), "ab");
    top.SetValue("Expand", kRegExpandSz, std::string("%TEMP%\0", 7));
    EXPECT_EQ(top.ReadString("Expand"), "%TEMP%");

    // Writing again changes type and bytes; deleting removes the value only.
    EXPECT_EQ(top.WriteString("Flags", "now text"), RegStatus::Ok);
    EXPECT_EQ(top.ReadString("Flags"), "now text");
    EXPECT_EQ(top.DeleteValue("FLAGS"), RegStatus::Ok);
    EXPECT_EQ(top.DeleteValue("Flags"), RegStatus::NotFound);
    EXPECT_EQ(top.ReadString(""), "default");
}

TEST_P(Registry, ReadOnlyHandlesRefuseWrites)
{
    RegKey reader;
    ASSERT_EQ(reader.Open(root, base), RegStatus::Ok);
    EXPECT_NE(reader.WriteDword("X", 1), RegStatus::Ok);
    RegKey writer;
    ASSERT_EQ(writer.Open(root, base, RegAccess::ReadWrite), RegStatus::Ok);
    EXPECT_EQ(writer.WriteDword("X", 1), RegStatus::Ok);
    EXPECT_EQ(reader.ReadDword("X"), 1u);
}

TEST_P(Registry, EnumerationByIndex)
{
    RegKey key;
    for (const char* name : { "beta", "Alpha", "GAMMA", "alpha2" })
        ASSERT_EQ(key.Create(top, name), RegStatus::Ok);
    EXPECT_EQ(Subkeys(top), (std::vector<std::string> { "Alpha", "alpha2", "beta", "GAMMA" }));
    std::string name = "unchanged";
    EXPECT_EQ(top.EnumKey(4, &name), RegStatus::NoMoreItems);
    EXPECT_EQ(name, "unchanged");

    for (const char* value : { "Zeta", "alpha", "Mu" })
        top.WriteDword(value, 1);
    top.WriteDword("ZETA", 2); // written again: keeps its place
    std::vector<std::string> values = Values(top);
    if (Memory()) {
        EXPECT_EQ(values, (std::vector<std::string> { "Zeta", "alpha", "Mu" }));
    } else {
        // Wine sorts values by name; Windows keeps creation order. Both hold the same set.
        std::sort(values.begin(), values.end());
        EXPECT_EQ(values, (std::vector<std::string> { "Mu", "Zeta", "alpha" }));
    }
    EXPECT_EQ(top.EnumValue(3, nullptr, nullptr, nullptr), RegStatus::NoMoreItems);

    // Large data and long names come back whole.
    std::string big(70000, 'x');
    std::string longName(300, 'n');
    top.SetValue(longName, kRegBinary, big);
    std::string gotName, gotData;
    uint32_t type = 0;
    bool found = false;
    for (uint32_t i = 0; top.EnumValue(i, &gotName, &type, &gotData) == RegStatus::Ok; ++i)
        found |= gotName == longName && gotData == big && type == kRegBinary;
    EXPECT_TRUE(found);
}

TEST_P(Registry, SubkeysSortedByTheirUpperCaseForm)
{
    if (!Memory())
        GTEST_SKIP() << "the in-memory order only";
    RegKey key;
    for (const char* name : { "b", "_x", "A", "[y" })
        key.Create(top, name);
    // As the system compares: "[" and "_" come after the letters once those are upper case.
    EXPECT_EQ(Subkeys(top), (std::vector<std::string> { "A", "b", "[y", "_x" }));
}

TEST_P(Registry, DeletingKeys)
{
    RegKey key;
    ASSERT_EQ(key.Create(top, "Tree\\Branch\\Leaf"), RegStatus::Ok);
    key.WriteDword("V", 7);
    EXPECT_EQ(RegKeyDelete(root, base + "\\Tree"), RegStatus::HasSubkeys);
    EXPECT_EQ(RegKeyDelete(root, base + "\\Tree\\Branch\\Leaf"), RegStatus::Ok);
    // The handle of a deleted key reads nothing any more and writes nowhere.
    EXPECT_EQ(key.ReadDword("V"), std::nullopt);
    EXPECT_NE(key.WriteDword("V", 8), RegStatus::Ok);
    EXPECT_EQ(RegKeyDelete(root, base + "\\Tree\\Branch\\Leaf"), RegStatus::NotFound);

    ASSERT_EQ(key.Create(top, "Tree\\Branch\\Leaf2\\Deeper"), RegStatus::Ok);
    key.Create(top, "Tree\\Other");
    EXPECT_EQ(RegKeyDeleteTree(root, base + "\\Tree"), RegStatus::Ok);
    RegKey gone;
    EXPECT_EQ(gone.Open(top, "Tree"), RegStatus::NotFound);
    EXPECT_TRUE(Subkeys(top).empty());
    // A key made again after the deletion starts empty.
    ASSERT_EQ(key.Create(top, "Tree"), RegStatus::Ok);
    EXPECT_TRUE(Values(key).empty());
}

INSTANTIATE_TEST_SUITE_P(Memory, Registry, ::testing::Values(true));
#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(System, Registry, ::testing::Values(false));
#endif
} // namespace
