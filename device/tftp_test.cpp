#include "common/diag.h"
#include "device/tftp.h"
#include "device/tftp_testpeer.h"

#include <gtest/gtest.h>

namespace {
constexpr NetAddress kServer { 0x7f000001, 69 };

struct Exchange {
    ManualClock clock { 1000 };
    ScriptedLink link { clock };
    TestServer server;
    TftpMemoryStream stream;
    std::atomic<int32_t> progress { 0 };
    std::atomic<int32_t> cancel { 0 };
    int ok = -1;
    uint32_t blockSize = 0;
    int32_t error = 0;

    Exchange()
    {
        server.Attach(link);
    }
    void Go(bool write, int32_t requested = 512, uint32_t timeoutMs = 5000)
    {
        TftpTransfer t(write, kServer, "file", timeoutMs, requested, stream);
        ok = TftpRun(t, link, clock, &progress, &cancel);
        blockSize = t.BlockSize();
        error = t.Error();
    }
    // The opcodes and numbers the client sent, "RRQ ACK0 ACK1 ...".
    std::string Trace() const
    {
        static const char* names[] = { "?", "RRQ", "WRQ", "DATA", "ACK", "ERROR", "OACK" };
        std::string out;
        for (const TestDatagram& d : link.sent) {
            if (!out.empty())
                out += ' ';
            out += names[d.Opcode() < 7 ? d.Opcode() : 0];
            if (d.Opcode() >= 3 && d.Opcode() <= 5)
                out += std::to_string(d.Number());
        }
        return out;
    }
};

std::string Bytes(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i % 23);
    return s;
}
} // namespace

TEST(TftpRequest, CarriesOctetModeAndBlockSize)
{
    struct {
        int32_t requested;
        const char* value;
    } rows[] = { { 512, "512" }, { 0, "8192" }, { 9000, "8192" }, { 1432, "1432" } };
    for (auto& row : rows) {
        Exchange r;
        r.server.content = "x";
        r.Go(false, row.requested);
        ASSERT_FALSE(r.link.sent.empty());
        std::string expected("\0\1file\0octet\0blksize\0", 21);
        expected += row.value;
        expected += '\0';
        EXPECT_EQ(std::string(r.link.sent[0].bytes.begin(), r.link.sent[0].bytes.end()), expected) << row.value;
        EXPECT_EQ(r.link.sent[0].address, kServer);
    }
}

TEST(TftpGet, NegotiatesBlockSizeAsTheServerAnswers)
{
    struct {
        TestServer::Options options;
        int32_t requested;
        uint32_t serverMax;
        uint32_t expectedBlock;
        const char* trace;
    } rows[] = {
        // DATA 1 straight away: no OACK, the block size stays 512.
        { TestServer::Options::None, 1024, 8192, 512, "RRQ ACK1 ACK2 ACK3" },
        // OACK first: acknowledged with ACK 0.
        { TestServer::Options::Blksize, 1024, 8192, 1024, "RRQ ACK0 ACK1 ACK2" },
        { TestServer::Options::Blksize, 1024, 512, 512, "RRQ ACK0 ACK1 ACK2 ACK3" },
        // The truncated "bl" answer: the requested size, at most 1432.
        { TestServer::Options::Truncated, 8192, 8192, 1432, "RRQ ACK0 ACK1" },
        { TestServer::Options::Truncated, 1024, 8192, 1024, "RRQ ACK0 ACK1 ACK2" },
    };
    for (auto& row : rows) {
        Exchange r;
        r.server.options = row.options;
        r.server.maxBlock = row.serverMax;
        r.server.content = Bytes(1100);
        r.Go(false, row.requested);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.blockSize, row.expectedBlock);
        EXPECT_EQ(r.stream.Data(), r.server.content);
        EXPECT_EQ(r.Trace(), row.trace);
        EXPECT_EQ(r.progress.load(), 1100);
        // Every answer goes to the port the server answered from.
        for (size_t i = 1; i < r.link.sent.size(); ++i)
            EXPECT_EQ(r.link.sent[i].address, r.server.tid);
    }
}

TEST(TftpGet, FileOfWholeBlocksEndsWithEmptyData)
{
    Exchange r;
    r.server.options = TestServer::Options::None;
    r.server.content = Bytes(1024);
    r.Go(false);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.Trace(), "RRQ ACK1 ACK2 ACK3");
    EXPECT_EQ(r.stream.Data().size(), 1024u);
}

TEST(TftpPut, FileOfWholeBlocksEndsWithEmptyData)
{
    for (auto options : { TestServer::Options::None, TestServer::Options::Blksize }) {
        Exchange r;
        r.server.options = options;
        r.stream = TftpMemoryStream(Bytes(1024));
        r.Go(true);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.Trace(), "WRQ DATA1 DATA2 DATA3");
        EXPECT_EQ(r.link.sent[3].bytes.size(), 4u);
        EXPECT_EQ(r.server.received, Bytes(1024));
        EXPECT_EQ(r.progress.load(), 1024);
    }
}

TEST(TftpPut, SendsInNegotiatedBlocks)
{
    struct {
        TestServer::Options options;
        int32_t requested;
        size_t size;
        uint32_t expectedBlock;
    } rows[] = {
        { TestServer::Options::Blksize, 1432, 5000, 1432 },
        { TestServer::Options::Truncated, 8192, 3000, 1432 },
        { TestServer::Options::None, 8192, 3000, 512 },
        { TestServer::Options::Blksize, 8192, 0, 8192 },
    };
    for (auto& row : rows) {
        Exchange r;
        r.server.options = row.options;
        r.stream = TftpMemoryStream(Bytes(row.size));
        r.Go(true, row.requested);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.blockSize, row.expectedBlock);
        EXPECT_EQ(r.server.received, Bytes(row.size));
        for (const TestDatagram& d : r.link.sent) {
            if (d.Opcode() == 3) {
                EXPECT_LE(d.bytes.size() - 4, row.expectedBlock);
            }
        }
    }
}

TEST(TftpGet, DuplicateDataIsAcknowledgedAgainAndWrittenOnce)
{
    Exchange r;
    r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
        if (d.Opcode() == 1) {
            l.Reply(TestPacket(3, 1, Bytes(512)), r.server.tid);
            l.Reply(TestPacket(3, 1, Bytes(512)), r.server.tid); // the duplicate
        } else if (d.Opcode() == 4 && d.Number() == 1 && r.link.sent.size() == 3) {
            l.Reply(TestPacket(3, 2, "end"), r.server.tid);
        }
    };
    r.Go(false);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.Trace(), "RRQ ACK1 ACK1 ACK2");
    EXPECT_EQ(r.stream.Data(), Bytes(512) + "end");
}

TEST(TftpTransfer, BlockNumbersWrapAt65535)
{
    // 65536 full blocks of 8 bytes and a short one: the last block number is 0 again.
    std::string content = Bytes(65536 * 8 + 3);
    {
        Exchange r;
        r.server.content = content;
        r.Go(false, 8);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.stream.Data(), content);
        EXPECT_EQ(r.link.sent.back().Number(), 1);
        EXPECT_EQ(r.link.sent[r.link.sent.size() - 2].Number(), 0);
    }
    {
        // A write whose last, short block is block 0 after the wrap ends when that block is acknowledged.
        Exchange r;
        r.stream = TftpMemoryStream(Bytes(65535 * 8 + 5));
        r.Go(true, 8);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.server.received, r.stream.Data());
        EXPECT_EQ(r.link.sent.back().Number(), 0);
        EXPECT_EQ(r.link.sent.back().bytes.size(), 4u + 5);
    }
}

TEST(TftpTransfer, StrangerGetsError5AndTransferGoesOn)
{
    for (bool write : { false, true }) {
        Exchange r;
        r.server.content = Bytes(700);
        r.stream = TftpMemoryStream(write ? Bytes(700) : std::string());
        NetAddress stranger { 0x7f000001, 40999 };
        NetAddress strangerHost { 0x7f000002, r.server.tid.port };
        bool meddled = false;
        r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
            if (!meddled && d.Opcode() != 1 && d.Opcode() != 2) {
                meddled = true;
                l.Reply(TestPacket(3, 2, "bogus"), stranger);
                l.Reply(TestPacket(4, 2), strangerHost);
                l.Reply(TestPacket(5, 1, std::string("go away\0", 8)), stranger); // not answered
            }
            r.server.Handle(l, d);
        };
        r.Go(write);
        EXPECT_EQ(r.ok, 1);
        int errors = 0;
        for (const TestDatagram& d : r.link.sent) {
            if (d.Opcode() == 5) {
                ++errors;
                EXPECT_EQ(d.Number(), 5);
                EXPECT_EQ(d.bytes.size(), 5u);
                EXPECT_TRUE(d.address == stranger || d.address == strangerHost);
            }
        }
        EXPECT_EQ(errors, 2);
        EXPECT_EQ(write ? r.server.received : r.stream.Data(), Bytes(700));
    }
}

TEST(TftpTransfer, ErrorFromServerEndsWithItsCode)
{
    std::vector<std::string> lines;
    DiagSetSink([&](const std::string& line) { lines.push_back(line); });
    struct {
        bool write;
        uint16_t code;
        const char* line;
    } rows[] = { { false, 4, "tftp read error: 'wrong password' [4]\n" },
        { true, 2, "tftp write error: 'wrong password' [2]\n" },
        { false, 0, "tftp read error: 'wrong password' [0]\n" } };
    for (auto& row : rows) {
        lines.clear();
        Exchange r;
        r.server.errorCode = row.code;
        r.server.errorMessage = "wrong password";
        r.Go(row.write);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.error, row.code);
        EXPECT_EQ(r.link.sent.size(), 1u); // the ERROR is not answered
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], row.line);
    }
    DiagSetSink(nullptr);
}

TEST(TftpTransfer, UnusableAnswersFail)
{
    struct {
        const char* name;
        bool write;
        std::vector<uint8_t> answer;
        int32_t error;
        int errorSent; // code of the ERROR the client sends, -1 none
    } rows[] = {
        { "ACK to a read", false, TestPacket(4, 0), -1, -1 },
        { "DATA to a write", true, TestPacket(3, 1, "x"), -1, -1 },
        { "unknown opcode", false, TestPacket(9, 1), -1, -1 },
        { "one byte", false, { 3 }, -1, -1 },
        { "short DATA", false, { 0, 3, 0 }, -1, -1 },
        // Option answers the buffers cannot hold or the client did not ask for: ERROR 8.
        { "block size above request", false,
            TestOack(std::string("blksize\0"
                                 "1024\0",
                13)),
            8, 8 },
        { "block size above 8192", true,
            TestOack(std::string("BLKSIZE\0"
                                 "65464\0",
                14)),
            8, 8 },
        { "block size below 8", false,
            TestOack(std::string("blksize\0"
                                 "4\0",
                10)),
            8, 8 },
        { "block size not a number", false,
            TestOack(std::string("blksize\0"
                                 "x\0",
                10)),
            8, 8 },
        { "block size without value", false, TestOack(std::string("blksize", 7)), 8, 8 },
        // Only plain decimal sizes the client asked for, each option once, nothing cut short.
        { "hexadecimal block size", false,
            TestOack(std::string("blksize\0"
                                 "0x200\0",
                14)),
            8, 8 },
        { "signed block size", false,
            TestOack(std::string("blksize\0"
                                 "+512\0",
                13)),
            8, 8 },
        { "block size with a blank", false,
            TestOack(std::string("blksize\0"
                                 " 512\0",
                13)),
            8, 8 },
        { "block size above 65464", false,
            TestOack(std::string("blksize\0"
                                 "4294967808\0",
                19)),
            8, 8 },
        { "block size twice", false,
            TestOack(std::string("blksize\0"
                                 "512\0"
                                 "blksize\0"
                                 "256\0",
                24)),
            8, 8 },
        { "option not asked for", false,
            TestOack(std::string("tsize\0"
                                 "1500\0"
                                 "blksize\0"
                                 "512\0",
                23)),
            8, 8 },
        { "value cut short", false,
            TestOack(std::string("blksize\0"
                                 "512",
                11)),
            8, 8 },
        { "name cut short", true, TestOack(std::string("blksi", 5)), 8, 8 },
        { "bl after an option", false,
            TestOack(std::string("blksize\0"
                                 "512\0"
                                 "bl",
                14)),
            8, 8 },
        // More data than the agreed block: refused with ERROR 4, never written as a cut file.
        { "DATA above 512 without options", false, TestPacket(3, 1, std::string(513, 'x')), 4, 4 },
        { "DATA above the largest block", false, TestPacket(3, 1, std::string(kTftpMaxBlockSize + 1, 'x')), 4, 4 },
    };
    for (auto& row : rows) {
        Exchange r;
        r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
            if (d.Opcode() <= 2)
                l.Reply(row.answer, r.server.tid);
        };
        r.Go(row.write, 512);
        EXPECT_EQ(r.ok, 0) << row.name;
        EXPECT_EQ(r.error, row.error) << row.name;
        EXPECT_EQ(r.stream.Data(), "") << row.name;
        const TestDatagram& last = r.link.sent.back();
        if (row.errorSent < 0) {
            EXPECT_EQ(r.link.sent.size(), 1u) << row.name;
        } else {
            EXPECT_TRUE(last.Opcode() == 5 && last.Number() == row.errorSent) << row.name;
        }
    }
}

TEST(TftpTransfer, SilenceAtEachPointEndsAfterTimeOut)
{
    // The server stops answering after its n-th datagram: the client repeats its last packet once a
    // second until 5 s have passed since the last answer, then sends ERROR 0.
    for (bool write : { false, true }) {
        for (int point = 0; point < 5; ++point) {
            Exchange r;
            r.server.content = Bytes(2000);
            r.stream = TftpMemoryStream(write ? Bytes(2000) : std::string());
            r.server.ignoreFrom = point;
            r.server.ignoreCount = -1;
            r.Go(write, 512, 5000);
            SCOPED_TRACE(testing::Message() << (write ? "put" : "get") << " point " << point);
            EXPECT_EQ(r.ok, 0);
            EXPECT_EQ(r.error, -1);
            const TestDatagram& last = r.link.sent.back();
            EXPECT_EQ(last.Opcode(), 5);
            EXPECT_EQ(last.Number(), 0);
            EXPECT_EQ(last.bytes.size(), 5u);
            // Four repeats of the packet the server did not answer, each exactly as first sent.
            const TestDatagram& unanswered = r.link.sent[static_cast<size_t>(point)];
            for (size_t i = 1; i <= 4; ++i) {
                const TestDatagram& again = r.link.sent[static_cast<size_t>(point) + i];
                EXPECT_EQ(again.bytes, unanswered.bytes);
                EXPECT_EQ(again.at - unanswered.at, 1000 * i);
            }
            EXPECT_EQ(r.link.sent.size(), static_cast<size_t>(point) + 6);
        }
    }
}

TEST(TftpTransfer, PeerRecoveringBeforeTimeOutCompletes)
{
    for (bool write : { false, true }) {
        for (int point = 0; point < 4; ++point) {
            Exchange r;
            r.server.content = Bytes(2000);
            r.stream = TftpMemoryStream(write ? Bytes(2000) : std::string());
            r.server.ignoreFrom = point;
            r.server.ignoreCount = 4; // silent for four seconds of a five-second time-out
            r.Go(write, 512, 5000);
            SCOPED_TRACE(testing::Message() << (write ? "put" : "get") << " point " << point);
            EXPECT_EQ(r.ok, 1);
            EXPECT_EQ(write ? r.server.received : r.stream.Data(), Bytes(2000));
        }
    }
}

TEST(TftpTransfer, CancelSendsError0)
{
    Exchange r;
    r.server.content = Bytes(2000);
    r.server.ignoreFrom = 2;
    r.server.ignoreCount = -1;
    r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
        r.server.Handle(l, d);
        if (r.link.sent.size() == 4) // the first repeat: the user gives up
            r.cancel = 1;
    };
    r.Go(false, 512, 60000);
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.Trace(), "RRQ ACK0 ACK1 ACK1 ERROR0");
}

TEST(TftpTransfer, LocalFailuresLeaveErrorZero)
{
    {
        // The local stream cannot be written: ERROR 3 to the server.
        Exchange r;
        r.server.content = Bytes(2000);
        r.stream.limit = 600;
        r.Go(false);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.Trace(), "RRQ ACK0 ACK1 ERROR3");
    }
    {
        Exchange r;
        r.link.failWait = 1;
        r.Go(false);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.Trace(), "RRQ");
    }
}

TEST(TftpTransfer, ShortDataWithWrongNumberDoesNotEndTransfer)
{
    // A stray short block with the wrong number must not pass for the end of the file.
    Exchange r;
    r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
        if (d.Opcode() == 1)
            l.Reply(TestPacket(3, 1, Bytes(512)), r.server.tid);
        else if (d.Opcode() == 4 && d.Number() == 1 && r.link.sent.size() == 2)
            l.Reply(TestPacket(3, 7, "x"), r.server.tid);
        else if (d.Opcode() == 4 && d.Number() == 1)
            l.Reply(TestPacket(3, 2, "tail"), r.server.tid);
    };
    r.Go(false);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.stream.Data(), Bytes(512) + "tail");
}

TEST(TftpGet, PortZeroMeans69AndLastErrorIsKept)
{
    ManualClock clock(0);
    // Each transfer owns its link and frees it at the end: keep where each request went.
    std::vector<NetAddress> requestTo;
    TestServer server;
    server.content = "hello";
    server.tid = { 0x7f000005, 40001 };
    TftpSetEnvironment({ &clock, [&]() {
                            auto l = std::make_unique<ScriptedLink>(clock);
                            server.Attach(*l);
                            auto serve = l->onSend;
                            l->onSend = [&requestTo, serve](ScriptedLink& link, const TestDatagram& d) {
                                if (link.sent.size() == 1)
                                    requestTo.push_back(d.address);
                                serve(link, d);
                            };
                            return std::unique_ptr<TftpLink>(std::move(l));
                        } });
    TftpMemoryStream stream;
    TftpLastError = 77;
    EXPECT_EQ(TftpGet(0x7f000005, 0, "sysinfo", stream, 3000, 512), 1);
    EXPECT_EQ(TftpLastError, 0);
    ASSERT_EQ(requestTo.size(), 1u);
    EXPECT_EQ(requestTo[0], (NetAddress { 0x7f000005, 69 }));
    EXPECT_EQ(stream.Data(), "hello");

    server.errorCode = 2;
    TftpMemoryStream other;
    EXPECT_EQ(TftpPut(0x7f000005, 8069, "x", other, 3000, 512), 0);
    EXPECT_EQ(TftpLastError, 2);
    ASSERT_EQ(requestTo.size(), 2u);
    EXPECT_EQ(requestTo[1], (NetAddress { 0x7f000005, 8069 }));

    TftpSetEnvironment({ &clock, [] { return std::unique_ptr<TftpLink>(); } });
    EXPECT_EQ(TftpGet(0x7f000005, 0, "sysinfo", other, 3000, 512), 0);
    EXPECT_EQ(TftpLastError, 0);
    TftpSetEnvironment({});
}

TEST(TftpGet, RealSocketOnLoopback)
{
    // The UDP driver against a tiny in-test server thread-free exchange: one-block file.
    ASSERT_EQ(NetStartup(), 1);
    UdpSocket server;
    ASSERT_EQ(server.Open(), 1);
    ASSERT_EQ(server.Bind(0x7f000001, 0), 1);
    NetAddress at = *server.LocalAddress();
    TftpUdpLink link;
    ASSERT_EQ(link.Open(), 1);
    TftpMemoryStream stream;
    TftpTransfer t(false, at, "sysinfo", 3000, 512, stream);
    t.Start(0);
    for (auto& d : t.Outbox())
        link.Send(d.bytes.data(), d.bytes.size(), d.to);
    t.Outbox().clear();
    uint8_t buf[600];
    NetAddress client;
    ASSERT_EQ(server.WaitReadable(2000), 1);
    ASSERT_GT(server.ReceiveFrom(buf, sizeof buf, &client), 0);
    std::vector<uint8_t> data = TestPacket(3, 1, "DEVICE: x");
    server.SendTo(data.data(), data.size(), client);
    ASSERT_EQ(link.Wait(2000), 1);
    NetAddress from;
    int n = link.Receive(buf, sizeof buf, &from);
    t.Receive(buf, static_cast<size_t>(n), from, 10);
    EXPECT_EQ(t.State(), TftpState::Done);
    EXPECT_EQ(stream.Data(), "DEVICE: x");
}

TEST(TftpTransfer, StrangersNeitherFeedNorPinNorKeepAliveTheTransfer)
{
    NetAddress otherHost { 0x7f000002, 40001 };
    {
        // A stranger floods a silent transfer every half second: the client still repeats its request
        // once a second and gives up when the time-out has passed since the server's last word.
        Exchange r;
        r.link.onSend = nullptr; // the server never answers
        for (uint32_t at = 1500; at < 60000; at += 500)
            r.link.ArriveAt(TestPacket(3, 1, "x"), otherHost, at);
        r.Go(false, 512, 5000);
        EXPECT_EQ(r.ok, 0);
        EXPECT_EQ(r.error, -1);
        int requests = 0;
        for (const TestDatagram& d : r.link.sent)
            requests += d.Opcode() == 1;
        EXPECT_EQ(requests, 5);
        EXPECT_EQ(r.link.sent.back().at, 6000u);
        EXPECT_EQ(r.stream.Data(), "");
    }
    {
        // Another host answers first: it is a stranger (ERROR 5), it fixes no port, and the server's
        // own answer from its transfer port is taken afterwards.
        Exchange r;
        r.server.content = Bytes(700);
        r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
            if (d.Opcode() == 1) {
                l.Reply(TestPacket(3, 1, "forged end"), otherHost);
                l.Reply(TestOack(std::string("blksize\0"
                                             "512\0",
                            12)),
                    otherHost);
            }
            r.server.Handle(l, d);
        };
        r.Go(false);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.stream.Data(), Bytes(700));
        EXPECT_EQ(r.Trace(), "RRQ ERROR5 ERROR5 ACK0 ACK1 ACK2");
        EXPECT_EQ(r.link.sent[1].address, otherHost);
    }
    {
        // A server that answers from the request's own port is pinned to it: a later datagram from
        // another port of the same host is a stranger's and does not end the transfer.
        Exchange r;
        r.server.content = Bytes(700);
        r.server.tid = kServer;
        NetAddress otherPort { kServer.ip, 41000 };
        r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
            if (d.Opcode() == 4 && d.Number() == 0)
                l.Reply(TestPacket(3, 1, "short"), otherPort);
            r.server.Handle(l, d);
        };
        r.Go(false);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.stream.Data(), Bytes(700));
    }
}

TEST(TftpPut, DuplicatedAcksNeverSendABlockTwice)
{
    // The server (or the network) repeats every ACK. Answering each with DATA would double every
    // later block; each block goes out once, and a lost block is repeated only by the timer.
    for (int loseAck : { -1, 3 }) {
        Exchange r;
        r.stream = TftpMemoryStream(Bytes(512 * 6 + 10));
        int acks = 0;
        r.link.onSend = [&](ScriptedLink& l, const TestDatagram& d) {
            size_t before = r.link.sent.size();
            (void)before;
            if (d.Opcode() == 3 && d.Number() == loseAck && acks++ == 0)
                return; // this DATA is lost once
            r.server.Handle(l, d);
            // Repeat what the server just answered.
            r.server.Handle(l, d);
        };
        r.server.options = TestServer::Options::None;
        r.Go(true);
        SCOPED_TRACE(loseAck);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.server.received, Bytes(512 * 6 + 10));
        std::string expected = loseAck < 0 ? "WRQ DATA1 DATA2 DATA3 DATA4 DATA5 DATA6 DATA7"
                                           : "WRQ DATA1 DATA2 DATA3 DATA3 DATA4 DATA5 DATA6 DATA7";
        EXPECT_EQ(r.Trace(), expected);
    }
}

TEST(TftpTransfer, FailuresCarryTheServersWordsOrTheClientsReason)
{
    struct {
        uint16_t code;
        std::string message;
        const char* text; // TftpLastFailureText
    } rows[] = {
        { 1, "File not found", "File not found (1)" },
        { 0, "Permission denied", "Permission denied (0)" },
        { 2, std::string("bad\x1b[2J\nname\\", 14), "bad\\x1B[2J\\nname\\\\ (2)" },
        { 7, "", "error 7 from the server" },
    };
    ManualClock clock(0);
    TestServer server;
    TftpSetEnvironment({ &clock, [&]() {
                            auto l = std::make_unique<ScriptedLink>(clock);
                            server.Attach(*l);
                            return std::unique_ptr<TftpLink>(std::move(l));
                        } });
    for (auto& row : rows) {
        server.errorCode = row.code;
        server.errorMessage = row.message;
        TftpMemoryStream stream;
        EXPECT_EQ(TftpGet(0x7f000001, 0, "x", stream, 3000, 512), 0);
        EXPECT_EQ(TftpLastError, row.code);
        EXPECT_EQ(TftpLastErrorFromServer, 1);
        EXPECT_EQ(TftpLastFailureText(), row.text);
    }
    // The client's own refusals say why; a time-out says nothing beyond its code.
    server.errorCode = 0;
    server.errorMessage.clear();
    server.options = TestServer::Options::None;
    server.content = Bytes(100);
    TftpMemoryStream stream;
    int seen = server.seen;
    EXPECT_EQ(TftpGet(0x7f000001, 0, std::string(kTftpMaxPacket, 'f').c_str(), stream, 3000, 512), 0);
    EXPECT_EQ(TftpLastError, 0);
    EXPECT_EQ(TftpLastErrorFromServer, 0);
    EXPECT_NE(TftpLastFailureText().find("request too long"), std::string::npos);
    EXPECT_EQ(server.seen, seen); // nothing was sent
    EXPECT_EQ(TftpGet(0x7f000001, 0, std::string(kTftpMaxPacket - 40, 'f').c_str(), stream, 3000, 512), 1);
    server.ignoreFrom = 0;
    server.ignoreCount = -1;
    EXPECT_EQ(TftpGet(0x7f000001, 0, "x", stream, 3000, 512), 0);
    EXPECT_EQ(TftpLastError, -1);
    EXPECT_EQ(TftpLastFailureText(), "");
    TftpSetEnvironment({});
}
