#include "common/platform/net.h"

#include <gtest/gtest.h>
#include <string>

TEST(NetAddress, ParsesOnlyFourDecimalNumbers)
{
    EXPECT_EQ(NetParseAddress("127.0.0.1"), 0x7f000001u);
    EXPECT_EQ(NetParseAddress("255.255.255.255"), 0xffffffffu);
    for (const char* bad : { "256.0.0.1", "1.2.3", "1.2.3.4.5", "1.2.3.", "a.b.c.d", "1.2.3.4 ", "", "1..2.3" })
        EXPECT_FALSE(NetParseAddress(bad)) << bad;
    EXPECT_EQ(NetAddressText(0xc0a805fe), "192.168.5.254");
}

// Two sockets bound on loopback: `a` sends to `to`, where `b` receives.
class LoopbackPair : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(NetStartup(), 1);
        ASSERT_EQ(a.Open(), 1);
        ASSERT_EQ(b.Open(), 1);
        ASSERT_EQ(a.Bind(0x7f000001, 0), 1);
        ASSERT_EQ(b.Bind(0x7f000001, 0), 1);
        to = *b.LocalAddress();
    }
    void TearDown() override
    {
        a.Close();
        b.Close();
        NetCleanup();
    }
    UdpSocket a, b;
    NetAddress to;
};

TEST_F(LoopbackPair, ExchangesDatagrams)
{
    EXPECT_EQ(b.WaitReadable(10), 0);
    ASSERT_EQ(a.SendTo("hello", 5, to), 5);
    ASSERT_EQ(b.WaitReadable(2000), 1);
    char buffer[3];
    NetAddress from;
    EXPECT_EQ(b.ReceiveFrom(buffer, sizeof buffer, &from), 3); // cut to the buffer
    EXPECT_EQ(from, *a.LocalAddress());
}

TEST_F(LoopbackPair, ReceivesWithinATimeOut)
{
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
}

TEST_F(LoopbackPair, SendsAndReceivesInBatches)
{
    char buffers[5][8];
    NetDatagram in[5];
    auto reset = [&] {
        for (int i = 0; i < 5; ++i)
            in[i] = NetDatagram { buffers[i], sizeof buffers[i], {} };
    };
    reset();
    // Nothing there: a time-out, waiting or not.
    EXPECT_EQ(b.ReceiveMany(in, 5, 10), -2);
    EXPECT_EQ(b.ReceiveMany(in, 5, 0), -2);

    // Three datagrams in one batch, one of them to a port nobody can send to (passed over), one longer
    // than the receiving buffer (cut).
    char one[] = "one", two[] = "two-and-more", three[] = "three";
    NetDatagram out[4]
        = { { one, 3, to }, { two, 12, to }, { three, 5, NetAddress { 0x7f000001, 0 } }, { three, 5, to } };
    EXPECT_EQ(a.SendMany(out, 4), 3u);
    EXPECT_EQ(a.SendMany(out, 0), 0u);

    // All three arrive, in order, each with its sender (several a call where they are already waiting).
    std::string got;
    int received = 0;
    while (received < 3) {
        int n = b.ReceiveMany(in, 5, 2000);
        ASSERT_GT(n, 0);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(in[i].peer, *a.LocalAddress());
            got += std::string(static_cast<char*>(in[i].data), in[i].size) + "|";
            // The cut one tells that it was cut (and, where the platform knows, by how much).
            EXPECT_EQ(in[i].whole > in[i].size, in[i].size == 8) << in[i].whole;
#ifndef _WIN32
            EXPECT_EQ(in[i].whole, in[i].size == 8 ? 12u : in[i].size);
#endif
        }
        received += n;
        reset();
    }
    EXPECT_EQ(got, "one|two-and-|three|");
    // Taking at most as many as asked for; the rest stays for the next call.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(a.SendTo("x", 1, to), 1);
    ASSERT_EQ(b.WaitReadable(2000), 1);
    int first = b.ReceiveMany(in, 2, 2000);
    ASSERT_GE(first, 1);
    EXPECT_LE(first, 2);
    int total = first;
    while (total < 3) {
        reset();
        int n = b.ReceiveMany(in, 5, 2000);
        ASSERT_GT(n, 0);
        total += n;
    }
    EXPECT_EQ(total, 3);
    reset();
    EXPECT_EQ(b.ReceiveMany(in, 5, 0), -2);
}
