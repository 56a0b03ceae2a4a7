// A scripted TFTP peer for the client's tests: it sits where the UDP socket would be, answers every
// datagram the client sends at once, logs what it received, and lets the manual clock run while the
// client waits for an answer, so time-outs and retransmissions happen in simulated time.
#pragma once

#include "common/clock.h"
#include "device/tftp.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct TestDatagram {
    std::vector<uint8_t> bytes;
    NetAddress address; // destination (client sent) or source (peer sent)
    uint32_t at = 0;
    uint16_t Opcode() const
    {
        return bytes.size() >= 2 ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1]) : 0;
    }
    uint16_t Number() const
    {
        return bytes.size() >= 4 ? static_cast<uint16_t>(bytes[2] << 8 | bytes[3]) : 0;
    }
};

// The packets are sized once and filled in place. g++ 12 at -O3 (the Windows build) still reports
// copies into these short vectors as out of bounds where they are inlined; those reports are false
// and are silenced for these two functions only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
inline std::vector<uint8_t> TestPacket(uint16_t opcode, uint16_t number, const std::string& payload = {})
{
    std::vector<uint8_t> p(4 + payload.size());
    p[0] = static_cast<uint8_t>(opcode >> 8);
    p[1] = static_cast<uint8_t>(opcode);
    p[2] = static_cast<uint8_t>(number >> 8);
    p[3] = static_cast<uint8_t>(number);
    if (!payload.empty())
        std::memcpy(p.data() + 4, payload.data(), payload.size());
    return p;
}

inline std::vector<uint8_t> TestOack(const std::string& options)
{
    std::vector<uint8_t> p(2 + options.size());
    p[1] = kTftpOack;
    if (!options.empty())
        std::memcpy(p.data() + 2, options.data(), options.size());
    return p;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

class ScriptedLink : public TftpLink {
public:
    explicit ScriptedLink(ManualClock& clock)
        : clock_(clock)
    {
    }
    std::function<void(ScriptedLink&, const TestDatagram&)> onSend;
    std::vector<TestDatagram> sent;
    int failWait = 0; // Wait fails (a broken socket) when set

    void Reply(std::vector<uint8_t> bytes, NetAddress from)
    {
        inbox_.push_back({ std::move(bytes), from, clock_.TickMs() });
    }
    // A datagram that arrives at the simulated moment `at`, whatever the client does (a stranger's flood).
    void ArriveAt(std::vector<uint8_t> bytes, NetAddress from, uint32_t at)
    {
        auto pos = std::find_if(later_.begin(), later_.end(), [&](const TestDatagram& d) { return d.at > at; });
        later_.insert(pos, { std::move(bytes), from, at });
    }
    int Send(const uint8_t* data, size_t size, NetAddress to) override
    {
        sent.push_back({ std::vector<uint8_t>(data, data + size), to, clock_.TickMs() });
        if (onSend)
            onSend(*this, sent.back());
        return static_cast<int>(size);
    }
    int Wait(uint32_t timeoutMs) override
    {
        if (failWait)
            return -1;
        if (!inbox_.empty())
            return 1;
        int32_t until = later_.empty() ? 0 : static_cast<int32_t>(later_.front().at - clock_.TickMs());
        if (!later_.empty() && until <= static_cast<int32_t>(timeoutMs)) {
            if (until > 0)
                clock_.Advance(static_cast<uint32_t>(until));
            inbox_.push_back(std::move(later_.front()));
            later_.pop_front();
            return 1;
        }
        clock_.Advance(timeoutMs);
        return 0;
    }
    int Receive(uint8_t* data, size_t size, NetAddress* from) override
    {
        if (inbox_.empty())
            return -1;
        TestDatagram d = std::move(inbox_.front());
        inbox_.pop_front();
        size_t n = std::min(size, d.bytes.size());
        if (n)
            std::memcpy(data, d.bytes.data(), n);
        *from = d.address;
        return static_cast<int>(n);
    }

private:
    ManualClock& clock_;
    std::deque<TestDatagram> inbox_;
    std::deque<TestDatagram> later_; // ArriveAt datagrams by time
};

// A lock-step TFTP server model on a ScriptedLink: serves `content` to a read, collects a write in
// `received`, and can be told to answer without options, with a block size, with the truncated "bl",
// or to stay silent for a while.
struct TestServer {
    enum class Options { None, Blksize, Truncated };
    std::string content;
    std::string received;
    Options options = Options::Blksize;
    uint32_t maxBlock = 8192; // the largest block size it agrees to
    NetAddress tid { 0x7f000001, 40001 }; // where its answers come from
    int ignoreFrom = -1; // counting received datagrams from 0: ignore those from this one on...
    int ignoreCount = 0; // ...this many (-1: for ever)
    std::string errorMessage; // answer the request with ERROR errorCode
    uint16_t errorCode = 0;

    // Lock-step state.
    uint32_t blockSize = 512;
    uint32_t block = 0; // read: last block sent; write: last block received
    size_t offset = 0; // read: bytes sent up to the current block
    bool lastSent = false;
    int seen = 0;
    bool finished = false;

    void Attach(ScriptedLink& link)
    {
        link.onSend = [this](ScriptedLink& l, const TestDatagram& d) { Handle(l, d); };
    }

    void SendBlock(ScriptedLink& link)
    {
        size_t n = std::min<size_t>(blockSize, content.size() - offset);
        link.Reply(TestPacket(3, static_cast<uint16_t>(block), content.substr(offset, n)), tid);
        lastSent = n < blockSize;
    }

    void Handle(ScriptedLink& link, const TestDatagram& d)
    {
        int index = seen++;
        if (ignoreFrom >= 0 && index >= ignoreFrom && (ignoreCount < 0 || index < ignoreFrom + ignoreCount))
            return;
        uint16_t op = d.Opcode();
        if (op == 1 || op == 2) {
            if (!errorMessage.empty() || errorCode) {
                std::vector<uint8_t> e = TestPacket(5, errorCode, errorMessage);
                e.push_back(0);
                link.Reply(e, tid);
                return;
            }
            // Request: file, mode, options.
            std::vector<std::string> fields;
            std::string cur;
            for (size_t i = 2; i < d.bytes.size(); ++i) {
                if (d.bytes[i] == 0) {
                    fields.push_back(cur);
                    cur.clear();
                } else {
                    cur += static_cast<char>(d.bytes[i]);
                }
            }
            uint32_t asked = 0;
            for (size_t i = 2; i + 1 < fields.size(); i += 2)
                if (fields[i] == "blksize")
                    asked = static_cast<uint32_t>(std::stoul(fields[i + 1]));
            block = 0;
            offset = 0;
            if (options == Options::None || asked == 0) {
                blockSize = 512;
                if (op == 1) {
                    block = 1;
                    SendBlock(link);
                } else {
                    link.Reply(TestPacket(4, 0), tid);
                }
                return;
            }
            if (options == Options::Truncated) {
                blockSize = std::min<uint32_t>(asked, 1432);
                link.Reply(TestOack("bl"), tid);
            } else {
                blockSize = std::min(asked, maxBlock);
                std::string o = "blksize";
                o += '\0';
                o += std::to_string(blockSize);
                o += '\0';
                link.Reply(TestOack(o), tid);
            }
            return;
        }
        if (op == 4) { // ACK to a read
            uint16_t n = d.Number();
            if (n == static_cast<uint16_t>(block)) {
                if (block > 0 && lastSent) {
                    finished = true;
                    return;
                }
                if (block > 0)
                    offset += blockSize;
                ++block;
            }
            SendBlock(link);
            return;
        }
        if (op == 3) { // DATA of a write
            uint16_t n = d.Number();
            if (n == static_cast<uint16_t>(block + 1)) {
                ++block;
                received.append(d.bytes.begin() + 4, d.bytes.end());
                if (d.bytes.size() - 4 < blockSize)
                    finished = true;
            }
            link.Reply(TestPacket(4, static_cast<uint16_t>(block)), tid);
            return;
        }
    }
};
