#include "common/platform/net.h"

#include <gtest/gtest.h>

TEST(NetAddress, ParsesOnlyFourDecimalNumbers)
{
    EXPECT_EQ(NetParseAddress("127.0.0.1"), 0x7f000001u);
    EXPECT_EQ(NetParseAddress("255.255.255.255"), 0xffffffffu);
    for (const char* bad : { "256.0.0.1", "1.2.3", "1.2.3.4.5", "1.2.3.", "a.b.c.d", "1.2.3.4 ", "", "1..2.3" })
        EXPECT_FALSE(NetParseAddress(bad)) << bad;
    EXPECT_EQ(NetAddressText(0xc0a805fe), "192.168.5.254");
}

TEST(UdpSocket, ExchangesDatagramsOnLoopback)
{
    ASSERT_EQ(NetStartup(), 1);
    UdpSocket a, b;
    ASSERT_EQ(a.Open(), 1);
    ASSERT_EQ(b.Open(), 1);
    ASSERT_EQ(a.Bind(0x7f000001, 0), 1);
    ASSERT_EQ(b.Bind(0x7f000001, 0), 1);
    NetAddress to = *b.LocalAddress();
    EXPECT_EQ(b.WaitReadable(10), 0);
    ASSERT_EQ(a.SendTo("hello", 5, to), 5);
    ASSERT_EQ(b.WaitReadable(2000), 1);
    char buffer[3];
    NetAddress from;
    EXPECT_EQ(b.ReceiveFrom(buffer, sizeof buffer, &from), 3); // cut to the buffer
    EXPECT_EQ(from, *a.LocalAddress());
    NetCleanup();
}

TEST(UdpSocket, ReceivesWithinATimeOut)
{
    ASSERT_EQ(NetStartup(), 1);
    UdpSocket a, b;
    ASSERT_EQ(a.Open(), 1);
    ASSERT_EQ(b.Open(), 1);
    ASSERT_EQ(a.Bind(0x7f000001, 0), 1);
    ASSERT_EQ(b.Bind(0x7f000001, 0), 1);
    NetAddress to = *b.LocalAddress();
    char buffer[3];
    NetAddress from;
    // Nothing there: a time-out (also with no time at all), not an error.
    EXPECT_EQ(b.ReceiveFrom(buffer, sizeof buffer, &from, 10), -2);
    EXPECT_EQ(b.ReceiveFrom(buffer, sizeof buffer, &from, 0), -2);
    for (uint32_t timeoutMs : { 2000u, 0u, 1500u }) {
        ASSERT_EQ(a.SendTo("hello", 5, to), 5);
        if (timeoutMs == 0) {
            ASSERT_EQ(b.WaitReadable(2000), 1);
        }
        EXPECT_EQ(b.ReceiveFrom(buffer, sizeof buffer, &from, timeoutMs), 3) << timeoutMs; // cut to the buffer
        EXPECT_EQ(from, *a.LocalAddress());
    }
    // A moved socket keeps receiving with its time-out.
    UdpSocket c(std::move(b));
    EXPECT_EQ(c.ReceiveFrom(buffer, sizeof buffer, &from, 20), -2);
    NetCleanup();
}
