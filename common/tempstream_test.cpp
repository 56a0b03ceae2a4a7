#include "common/platform/file.h"
#include "common/tempstream.h"

#include <gtest/gtest.h>
#include <string>

TEST(CfgTempStream, WritesRewindsAndReadsLines)
{
    CfgTempStream s;
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.Write("first\r\nsecond\n\r\n"), 16u);
    EXPECT_EQ(s.Print("%s=%d", "last", 7), 1);
    EXPECT_EQ(s.Size(), 22u);
    ASSERT_EQ(s.Rewind(), 1);
    std::string line;
    const char* expected[] = { "first", "second", "", "last=7" };
    for (const char* e : expected) {
        ASSERT_EQ(s.ReadLine(&line), 1);
        EXPECT_EQ(line, e);
    }
    EXPECT_EQ(s.ReadLine(&line), 0);
    EXPECT_EQ(s.ReadLine(&line), 0);
    EXPECT_FALSE(s.Failed());
}

TEST(CfgTempStream, KeepsBinaryBytesAndMixesReadingAndWriting)
{
    CfgTempStream s;
    ASSERT_EQ(s.Open(), 1);
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    bytes += std::string(70000, '\x1a'); // Ctrl-Z and a size beyond any internal buffer
    EXPECT_EQ(s.Write(bytes), bytes.size());
    EXPECT_EQ(s.Size(), bytes.size());
    EXPECT_EQ(s.Contents(), bytes);
    s.Rewind();
    char head[4] = {};
    EXPECT_EQ(s.Read(head, 4), 4u);
    EXPECT_EQ(head[3], 3);
    s.Write("XY", 2); // writing right after reading continues at the read position
    s.Rewind();
    std::string again(8, '\0');
    EXPECT_EQ(s.Read(again.data(), 8), 8u);
    EXPECT_EQ(again.substr(4, 2), "XY");
    EXPECT_EQ(again[6], 6);
    EXPECT_EQ(s.Size(), bytes.size()); // the size is kept after Size/Contents moved around
    EXPECT_EQ(s.Clear(), 1);
    EXPECT_EQ(s.Size(), 0u);
}

TEST(CfgTempStream, LivesInTheTemporaryFolderAndIsGoneWhenClosed)
{
    std::string path;
    {
        CfgTempStream s;
        ASSERT_EQ(s.Open(), 1);
        path = s.Path();
        std::string name = path.substr(path.find_last_of("/\\") + 1);
        EXPECT_EQ(name.substr(0, 3), "LCF");
        s.Write("data");
        CfgTempStream moved = std::move(s);
        EXPECT_FALSE(s.IsOpen());
        EXPECT_TRUE(moved.IsOpen());
        EXPECT_EQ(moved.Contents(), "data");
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(CfgTempStream, ClosedStreamReportsFailure)
{
    CfgTempStream s;
    EXPECT_EQ(s.Write("x"), 0u);
    EXPECT_TRUE(s.Failed());
    std::string line;
    EXPECT_EQ(s.ReadLine(&line), 0);
    EXPECT_EQ(s.Size(), 0u);
}

TEST(FileProgramDirectory, NamesTheFolderOfTheRunningProgram)
{
    std::string dir = FileProgramDirectory();
    EXPECT_TRUE(FileExists(dir + "/common_test") || FileExists(dir + "\\common_test.exe")) << dir;
}
