// The XMODEM sender and the serial upload in simulated time, against a scripted receiver on a port
// substitute: what the receiver answers to each packet decides the test.
#include "device/console.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/serial_testport.h"
#include "device/tftp.h"
#include "device/xmodem.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace {
// A port whose peer answers each write; answers arrive `delayMs` after the write.
class ScriptedPort : public TimedTestPort {
public:
    using TimedTestPort::TimedTestPort;
    // The peer: gets every write, returns its answer.
    std::function<std::string(const std::string& written)> peer;
    uint32_t delayMs = 5;
    std::vector<std::pair<uint32_t, std::string>> writes; // moment and bytes
    int discards = 0;

    int Write(const void* data, size_t size) override
    {
        std::string text(static_cast<const char*>(data), size);
        writes.push_back({ clock_.TickMs(), text });
        if (peer)
            Arrive(peer(text), delayMs);
        return 1;
    }
    void Discard() override
    {
        ++discards;
        TimedTestPort::Discard();
    }
};

// A receiver that checks each packet as a device does: NAK to a bad one, ACK to a duplicate without
// storing it. `answer` may override the answer to the n-th packet received (1-based).
struct Receiver {
    std::string data;
    int expected = 1; // next block number (wrapping)
    int packets = 0;
    int duplicates = 0;
    int eots = 0;
    int corruptPacket = 0; // this packet arrives with one bit flipped
    std::function<std::string(int packet, const std::string& written)> answer;

    std::string operator()(const std::string& sent)
    {
        ++packets;
        std::string w = sent;
        if (packets == corruptPacket && w.size() > 50)
            w[50] ^= 1;
        if (answer) {
            std::string a = answer(packets, w);
            if (a != "-")
                return a;
        }
        if (w.size() == 1 && static_cast<uint8_t>(w[0]) == kXmEot) {
            ++eots;
            return std::string(1, static_cast<char>(kXmAck));
        }
        if (w.size() != kXmPacket || static_cast<uint8_t>(w[0]) != kXmSoh)
            return std::string(1, static_cast<char>(kXmNak));
        uint8_t n = static_cast<uint8_t>(w[1]);
        uint8_t sum = 0;
        for (size_t i = 3; i < 3 + kXmBlock; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(w[i]));
        if (static_cast<uint8_t>(w[2]) != 0xff - n || sum != static_cast<uint8_t>(w[3 + kXmBlock]))
            return std::string(1, static_cast<char>(kXmNak));
        if (n == static_cast<uint8_t>(expected - 1)) {
            ++duplicates;
            return std::string(1, static_cast<char>(kXmAck));
        }
        if (n != static_cast<uint8_t>(expected))
            return std::string(1, static_cast<char>(kXmNak));
        data.append(w, 3, kXmBlock);
        ++expected;
        return std::string(1, static_cast<char>(kXmAck));
    }
};

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return s;
}

struct XmRun {
    ManualClock clock;
    ScriptedPort port { clock };
    Receiver receiver;
    std::string file;
    size_t offset = 0;
    std::atomic<int32_t> progress { 0 };
    bool portFailed = false;

    XmodemSender::State Send()
    {
        port.peer = [this](const std::string& w) { return receiver(w); };
        XmodemSender sender([this](void* out, size_t n) {
            n = std::min(n, file.size() - offset);
            std::memcpy(out, file.data() + offset, n);
            offset += n;
            return n;
        });
        return XmodemSend(sender, port, clock, &progress, &portFailed);
    }
};
} // namespace

TEST(Xmodem, PacketsPaddingAndTheBlockNumberWrappingFrom255To0)
{
    std::string p = XmodemPacket(1, "AB", 2);
    ASSERT_EQ(p.size(), 132u);
    EXPECT_EQ(p[0], '\x01');
    EXPECT_EQ(p[1], '\x01');
    EXPECT_EQ(static_cast<uint8_t>(p[2]), 0xfe);
    EXPECT_EQ(p.substr(3, 4), std::string("AB\0\0", 4)); // padded with 0
    EXPECT_EQ(static_cast<uint8_t>(p[131]), ('A' + 'B') & 0xff);

    // 300 blocks: numbers 1..255, then 0, 1, ...; the last block padded; every byte arrives once.
    XmRun r;
    r.file = Pattern(300 * 128 - 27);
    EXPECT_EQ(r.Send(), XmodemSender::State::Done);
    ASSERT_EQ(r.receiver.data.size(), 300u * 128);
    EXPECT_EQ(r.receiver.data.substr(0, r.file.size()), r.file);
    EXPECT_EQ(r.receiver.data.substr(r.file.size()), std::string(27, '\0'));
    EXPECT_EQ(static_cast<uint8_t>(r.port.writes[254].second[1]), 255);
    EXPECT_EQ(static_cast<uint8_t>(r.port.writes[255].second[1]), 0);
    EXPECT_EQ(static_cast<uint8_t>(r.port.writes[255].second[2]), 255);
    EXPECT_EQ(static_cast<uint8_t>(r.port.writes[256].second[1]), 1);
    EXPECT_EQ(r.port.writes.back().second, "\x04"); // EOT alone
    EXPECT_EQ(r.progress.load(), static_cast<int32_t>(r.file.size()));

    // A 127-byte file: one block, padded by one byte.
    XmRun small;
    small.file = Pattern(127);
    EXPECT_EQ(small.Send(), XmodemSender::State::Done);
    EXPECT_EQ(small.receiver.data, small.file + std::string(1, '\0'));
    EXPECT_EQ(small.port.writes.size(), 2u);
}

TEST(Xmodem, AnswersOtherThanAckResendAndTenTriesEnd)
{
    // NAK after EOT sends the EOT again; the second is acknowledged.
    XmRun nakEot;
    nakEot.file = Pattern(200);
    nakEot.receiver.answer = [](int packet, const std::string& w) {
        return packet == 3 && w == "\x04" ? std::string("\x15") : std::string("-");
    };
    EXPECT_EQ(nakEot.Send(), XmodemSender::State::Done);
    ASSERT_EQ(nakEot.port.writes.size(), 4u);
    EXPECT_EQ(nakEot.port.writes[2].second, "\x04");
    EXPECT_EQ(nakEot.port.writes[3].second, "\x04");

    // A stray byte before the first answer sends the packet again; the receiver ACKs the duplicate
    // and stores it once.
    XmRun stray;
    stray.file = Pattern(300);
    stray.receiver.answer
        = [](int packet, const std::string&) { return packet == 1 ? std::string("x") : std::string("-"); };
    EXPECT_EQ(stray.Send(), XmodemSender::State::Done);
    EXPECT_EQ(stray.receiver.data.substr(0, 300), stray.file);
    EXPECT_EQ(stray.port.writes[0].second, stray.port.writes[1].second);

    // A corrupted packet is answered with NAK and sent again.
    XmRun corrupt;
    corrupt.file = Pattern(1000);
    corrupt.receiver.corruptPacket = 4;
    EXPECT_EQ(corrupt.Send(), XmodemSender::State::Done);
    EXPECT_EQ(corrupt.receiver.data.substr(0, 1000), corrupt.file);
    EXPECT_EQ(corrupt.port.writes[3].second, corrupt.port.writes[4].second);

    // NAK storm: ten NAKs to the same packet end with no answer.
    XmRun storm;
    storm.file = Pattern(1000);
    storm.receiver.answer
        = [](int packet, const std::string&) { return packet >= 3 ? std::string("\x15") : std::string("-"); };
    EXPECT_EQ(storm.Send(), XmodemSender::State::NoAnswer);
    EXPECT_EQ(storm.port.writes.size(), 2u + 10u);
    EXPECT_EQ(storm.progress.load(), 256);
}

TEST(Xmodem, SilenceMidFileAndCancel)
{
    // The receiver falls silent after block 5: ten sends of block 6, each awaited 5 s.
    XmRun silent;
    silent.file = Pattern(20 * 128);
    silent.receiver.answer
        = [](int packet, const std::string&) { return packet > 5 ? std::string() : std::string("-"); };
    EXPECT_EQ(silent.Send(), XmodemSender::State::NoAnswer);
    ASSERT_EQ(silent.port.writes.size(), 15u);
    for (size_t i = 6; i < 15; ++i) {
        EXPECT_EQ(silent.port.writes[i].second, silent.port.writes[5].second);
        EXPECT_EQ(silent.port.writes[i].first - silent.port.writes[i - 1].first, kXmAnswerMs);
    }
    EXPECT_EQ(silent.clock.TickMs() - silent.port.writes[5].first, 10 * kXmAnswerMs);

    // CAN ends at once.
    XmRun cancel;
    cancel.file = Pattern(20 * 128);
    cancel.receiver.answer
        = [](int packet, const std::string&) { return packet == 3 ? std::string("\x18\x18") : std::string("-"); };
    EXPECT_EQ(cancel.Send(), XmodemSender::State::Cancelled);
    EXPECT_EQ(cancel.port.writes.size(), 3u);
}

TEST(Xmodem, InputBeforeThePacketIsNeverItsAnswer)
{
    // The receiver NAKs while waiting for the start; those NAKs are there before the first packet and
    // must not make it go out twice. Then ACKs arriving late (4.9 s) still count.
    XmRun r;
    r.file = Pattern(256);
    r.port.Arrive("\x15\x15\x15", 0);
    r.port.delayMs = 4900;
    EXPECT_EQ(r.Send(), XmodemSender::State::Done);
    ASSERT_EQ(r.port.writes.size(), 3u);
    EXPECT_GE(r.port.discards, 1);
    EXPECT_EQ(r.receiver.duplicates, 0);
}

namespace {
// The console's side of a serial upload: "do f/f" after the login, or the boot loader's prompt.
struct FlashConsole {
    bool bootLoader = false;
    int wakesNeeded = 3; // boot loader: the prompt after this many wake sequences
    Receiver receiver;
    bool inUpload = false;
    int wakes = 0;
    ScriptedPort* port = nullptr;

    std::string operator()(const std::string& w)
    {
        if (inUpload)
            return receiver(w);
        if (bootLoader) {
            if (port->baud != kConsoleBootLoaderBaud)
                return {};
            if (w == std::string(kConsoleBootLoaderWake, sizeof kConsoleBootLoaderWake) && ++wakes == wakesNeeded) {
                inUpload = true;
                return "FLASHROM-Upload\r\n";
            }
            return {};
        }
        if (port->baud != 115200)
            return {};
        if (w == "\x1a")
            return "\r\nOutband\r\n";
        if (w == "\r")
            return "\r\n| Zevra Morvak 1100\r\n| Ver. 3.10.0012 / 01.01.2020\r\n\r\nConnected to "
                   "\"x\"\r\n\r\npassword:";
        if (w == "secret\r")
            return "\r\nx:/\r\n> ";
        if (w == "do f/f\r") {
            inUpload = true;
            return "\r\nFLASHROM-Upload ...\r\n";
        }
        return {};
    }
};

struct SerialUpload {
    ManualClock clock;
    std::vector<std::pair<uint32_t, std::string>> writes; // every write on every port, with its moment
    FlashConsole console;
    DeviceEntry entry;
    std::string path;

    SerialUpload()
    {
        TftpSetEnvironment({ &clock, nullptr });
        ConsoleSetEnvironment({ [this](std::string_view, const SerialOptions&, std::string*) {
            auto port = std::make_unique<ScriptedPort>(clock);
            port->peer = [this](const std::string& w) {
                writes.push_back({ clock.TickMs(), w });
                return console(w);
            };
            console.port = port.get();
            return std::unique_ptr<SerialPort>(std::move(port));
        } });
        entry.link = LinkSerial;
        entry.line_name = "ttyTEST";
        entry.password = "secret";
        path = std::tmpnam(nullptr);
    }
    ~SerialUpload()
    {
        ConsoleSetEnvironment({});
        TftpSetEnvironment({});
        std::remove(path.c_str());
    }
    int Upload(const std::string& content)
    {
        std::FILE* f = std::fopen(path.c_str(), "w+b");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fseek(f, 0, SEEK_SET);
        int ok = DevOpUploadFirmware(entry, f, 0);
        std::fclose(f);
        return ok;
    }
};
} // namespace

TEST(SerialUpload, ConsoleAndBootLoaderPaths)
{
    {
        SerialUpload u;
        std::string file = Pattern(1000);
        EXPECT_EQ(u.Upload(file), 1);
        EXPECT_EQ(u.entry.status.load(), DevStatusOk);
        EXPECT_EQ(u.console.receiver.data.substr(0, 1000), file);
        EXPECT_EQ(u.entry.progress_total.load(), 1000);
        EXPECT_EQ(u.entry.progress.load(), 1000);
        // Two seconds between the prompt and the first packet, two after the EOT's ACK.
        auto& writes = u.writes;
        auto first = std::find_if(writes.begin(), writes.end(), [](auto& w) { return w.second.size() == 132; });
        ASSERT_NE(first, writes.end());
        EXPECT_GE(first->first - (first - 1)->first, 2000u);
        EXPECT_GE(u.clock.TickMs() - writes.back().first, 2000u);
    }
    {
        // The boot loader: the console stays silent at every speed of the probe, the prompt comes at
        // 38400 baud after the third wake sequence.
        SerialUpload u;
        u.console.bootLoader = true;
        std::string file = Pattern(300);
        EXPECT_EQ(u.Upload(file), 1);
        EXPECT_EQ(u.console.receiver.data.substr(0, 300), file);
        EXPECT_EQ(u.console.wakes, 3);
    }
    {
        // A boot loader that never answers: 11 wake sequences, 12 seconds, then "No response".
        SerialUpload u;
        u.console.bootLoader = true;
        u.console.wakesNeeded = 100;
        EXPECT_EQ(u.Upload(Pattern(300)), 0);
        EXPECT_EQ(u.entry.status.load(), DevStatusNoResponse);
        EXPECT_EQ(u.console.wakes, 11);
    }
    {
        // CAN from the device: "Status unknown".
        SerialUpload u;
        u.console.receiver.answer
            = [](int packet, const std::string&) { return packet == 2 ? std::string("\x18") : std::string("-"); };
        EXPECT_EQ(u.Upload(Pattern(1000)), 0);
        EXPECT_EQ(u.entry.status.load(), DevStatusUnknown);
        EXPECT_EQ(u.entry.progress.load(), 128); // data went to the device
    }
    {
        // The device falls silent after the third block: ten 5-s waits for the fourth, "No response".
        SerialUpload u;
        u.console.receiver.answer
            = [](int packet, const std::string&) { return packet > 3 ? std::string() : std::string("-"); };
        EXPECT_EQ(u.Upload(Pattern(1000)), 0);
        EXPECT_EQ(u.entry.status.load(), DevStatusNoResponse);
        EXPECT_EQ(u.console.receiver.packets, 13);
        EXPECT_EQ(u.entry.progress.load(), 3 * 128);
    }
    {
        // A wrong password ends before anything is sent.
        SerialUpload u;
        u.entry.password = "wrong";
        EXPECT_EQ(u.Upload(Pattern(1000)), 0);
        EXPECT_NE(u.entry.status.load(), DevStatusOk);
        EXPECT_TRUE(u.console.receiver.data.empty());
    }
}
