#include "common/testctl.h"

#include <atomic>
#include <gtest/gtest.h>

TEST(TestCtl, TextsSurviveTheLineFormat)
{
    // Message box texts break lines with CR; a Windows path keeps its backslashes.
    std::string text = "Are you sure?\r\rC:\\cfg\\a.lcf\r\nend";
    std::string wire = TestCtlEscape(text);
    EXPECT_EQ(wire, "Are you sure?\\n\\nC:\\\\cfg\\\\a.lcf\\nend");
    EXPECT_EQ(wire.find('\r'), std::string::npos);
    EXPECT_EQ(TestCtlUnescape(wire), "Are you sure?\n\nC:\\cfg\\a.lcf\nend");
    // A backslash before anything else stays as it is.
    EXPECT_EQ(TestCtlUnescape("a\\tb\\"), "a\\tb\\");
    EXPECT_EQ(TestCtlLabel("&Don't show && ask"), "Don't show & ask");
    EXPECT_EQ(TestCtlMenuText("&New device...\tIns"), "New device");
    EXPECT_EQ(TestCtlMenuText("Check &all\tF5"), "Check all");
}

TEST(TestCtl, CommandsAndQuotedNames)
{
    TestCtlCommand c = TestCtlParse("  select   \"Office 1\" gw2  ");
    EXPECT_EQ(c.verb, "select");
    EXPECT_EQ(TestCtlWords(c.rest), (std::vector<std::string> { "Office 1", "gw2" }));
    // "set ID" with nothing after it sets an empty text; the rest keeps inner blanks.
    c = TestCtlParse("set 1001 a  b");
    EXPECT_EQ(c.rest, "1001 a  b");
    EXPECT_EQ(TestCtlParse("idle").rest, "");
    EXPECT_EQ(TestCtlWords("\"unterminated name"), (std::vector<std::string> { "unterminated name" }));
    EXPECT_EQ(TestCtlParseHandle("0x1A0"), 0x1A0u);
    EXPECT_EQ(TestCtlParseHandle("window"), 0u);
    EXPECT_EQ(TestCtlHandle(0x2c), "0x2C");
}

TEST(TestCtl, ServerAnswersLineByLineAndWaitsForIdle)
{
    TestCtlServer server;
    std::atomic<int> idleAsks { 0 };
    uint16_t port = server.Start(
        0,
        [](const TestCtlCommand& c) {
            if (c.verb == "windows")
                return TestCtlOkLines({ "0x10\tVelquinWindowClass\tVelquin", "." });
            return TestCtlError("unknown command " + c.verb + "\r\nsee help");
        },
        [&] { return ++idleAsks >= 3; }, 2000);
    ASSERT_NE(port, 0);

    TcpLineClient client;
    ASSERT_TRUE(client.Connect(port));
    std::string line;
    ASSERT_TRUE(client.SendLine("windows\r"));
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "ok");
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "0x10\tVelquinWindowClass\tVelquin");
    // A data line that is a lone "." cannot end the answer early.
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "\\.");
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, ".");

    ASSERT_TRUE(client.SendLine("bogus"));
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "error unknown command bogus\\nsee help");

    ASSERT_TRUE(client.SendLine("idle"));
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "ok");
    EXPECT_GE(idleAsks.load(), 3);

    // One client at a time: after the first leaves, the next is served.
    client.Close();
    TcpLineClient second;
    ASSERT_TRUE(second.Connect(port));
    ASSERT_TRUE(second.SendLine(""));
    ASSERT_TRUE(second.ReadLine(&line, 5000));
    EXPECT_EQ(line, "error empty command");
    server.Stop();
}

TEST(TestCtl, IdleGivesUpAfterItsLimit)
{
    TestCtlServer server;
    uint16_t port = server.Start(
        0, [](const TestCtlCommand&) { return TestCtlOk(); }, [] { return false; }, 100);
    ASSERT_NE(port, 0);
    TcpLineClient client;
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(client.SendLine("idle"));
    std::string line;
    ASSERT_TRUE(client.ReadLine(&line, 5000));
    EXPECT_EQ(line, "error still busy");
}
