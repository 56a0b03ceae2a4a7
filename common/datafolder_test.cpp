#include "common/datafolder.h"
#include "common/ini.h"
#include "common/platform/file.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace {
// A scratch tree with a program folder and a user root, removed afterwards.
struct Scratch {
    std::filesystem::path root;
    std::string program;
    std::string user;
    DataFolderSystem system = DataFolderSystemDefault();
    Scratch()
    {
        const char* tmp = std::getenv("TEMP");
        if (!tmp)
            tmp = std::getenv("TMPDIR");
        root = std::filesystem::path(tmp && *tmp ? tmp : "/tmp")
            / ("datafolder" + std::to_string(std::random_device {}()));
        std::filesystem::create_directories(root / "program");
        program = (root / "program").string();
        user = (root / "user").string();
        system.userDataRoot = [this] { return user; };
    }
    ~Scratch()
    {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
    std::string Sep() const
    {
        return std::string(1, system.separator);
    }
};
} // namespace

TEST(DataFolder, AWritableProgramFolderKeepsEverythingBesideTheProgram)
{
    Scratch s;
    ASSERT_TRUE(FileWriteAtomic(s.program + s.Sep() + "qorvexal.ini", "[Options]\r\nEasyConfig=0\r\n"));
    DataFolderChoice choice = ChooseDataFolder(s.program, "Velquin", { "qorvexal.ini" }, s.system);
    EXPECT_TRUE(choice.ownFolder);
    EXPECT_EQ(choice.folder, s.program + s.Sep());
    EXPECT_TRUE(choice.seeded.empty());
    // The probe leaves nothing behind, and no user folder is made.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.program), {}), 1);
    EXPECT_FALSE(std::filesystem::exists(s.user));
    // A trailing separator on the way in gives the same folder.
    EXPECT_EQ(ChooseDataFolder(s.program + s.Sep(), "Velquin", {}, s.system).folder, choice.folder);
}

TEST(DataFolder, AReadOnlyProgramFolderSendsWritesToTheUsersFolderSeededOnce)
{
    Scratch s;
    s.system.takesFiles = [](const std::string&) { return false; }; // a CD, Program Files for a standard user
    ASSERT_TRUE(FileWriteAtomic(s.program + s.Sep() + "talvine.ini", "[Options]\r\nDontAskForExit=1\r\n"));
    DataFolderChoice first = ChooseDataFolder(s.program, "Travik", { "talvine.ini", "talvine.lst" }, s.system);
    EXPECT_FALSE(first.ownFolder);
    EXPECT_EQ(first.folder, s.user + s.Sep() + "Zevra" + s.Sep() + "Travik" + s.Sep());
    EXPECT_EQ(first.seeded, std::vector<std::string> { "talvine.ini" }); // no list shipped: none copied
    EXPECT_EQ(IniGetInt(first.folder + "talvine.ini", "Options", "DontAskForExit", 0), 1);

    // The user's changes stay: a later start does not copy the shipped file over them.
    ASSERT_EQ(IniWriteString(first.folder + "talvine.ini", "Options", "DontAskForExit", "0"), 1);
    DataFolderChoice second = ChooseDataFolder(s.program, "Travik", { "talvine.ini" }, s.system);
    EXPECT_EQ(second.folder, first.folder);
    EXPECT_TRUE(second.seeded.empty());
    EXPECT_EQ(IniGetInt(first.folder + "talvine.ini", "Options", "DontAskForExit", 1), 0);
}

TEST(DataFolder, WithoutAUserFolderTheProgramFolderStays)
{
    Scratch s;
    s.system.takesFiles = [](const std::string&) { return false; };
    s.system.userDataRoot = [] { return std::string(); };
    DataFolderChoice choice = ChooseDataFolder(s.program, "Velquin", { "qorvexal.ini" }, s.system);
    EXPECT_TRUE(choice.ownFolder);
    EXPECT_EQ(choice.folder, s.program + s.Sep());
    // A user root that cannot be made (a file stands in its place) counts the same.
    ASSERT_TRUE(FileWriteAtomic(s.user, "not a folder"));
    s.system.userDataRoot = [&] { return s.user; };
    EXPECT_TRUE(ChooseDataFolder(s.program, "Velquin", {}, s.system).ownFolder);
}

TEST(DataFolder, TheProbeMakesANewFile)
{
    Scratch s;
    DataFolderSystem real = DataFolderSystemDefault();
    EXPECT_TRUE(real.takesFiles(s.program));
    EXPECT_FALSE(real.takesFiles(s.program + s.Sep() + "missing"));
    EXPECT_TRUE(std::filesystem::is_empty(s.program));
}
