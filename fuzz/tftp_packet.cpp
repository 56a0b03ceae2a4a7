// Fuzz target: the TFTP client's packet handling. The input is a script of datagrams (2-byte length,
// 1-byte source selector, bytes) fed to a read and a write transfer; checks that the negotiated block
// size never exceeds what was asked for or 8192, that every packet the client sends fits the largest
// packet, and that the data written for a read never exceeds what the DATA packets carried. A scripted
// peer's hostile moves are checked too: a stranger's datagram (another address) gets at most an ERROR 5
// and changes nothing; a write sends a block again only when its timer runs out (a duplicate ACK never
// makes it send DATA), and each new block follows the last one.
#include "device/tftp.h"

#include <cstdint>
#include <cstdlib>

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void RunScript(bool write, const uint8_t* data, size_t size)
{
    TftpMemoryStream stream(write ? std::string(5000, 'x') : std::string());
    int32_t requested = size > 0 ? (data[0] & 1 ? 1024 : 512) : 512;
    TftpTransfer t(write, { 0x7f000001, 69 }, "fuzz", 5000, requested, stream);
    t.Start(0);
    for (const TftpTransfer::Datagram& d : t.Outbox())
        Check(d.bytes.size() <= kTftpMaxPacket);
    t.Outbox().clear(); // the request
    size_t carried = 0;
    uint32_t now = 0;
    uint16_t lastData = 0; // the number of the last DATA block the client sent
    size_t pos = 1;
    while (pos + 3 <= size && t.State() == TftpState::Running) {
        size_t len = static_cast<size_t>(data[pos] << 8 | data[pos + 1]) % (kTftpMaxPacket + 1);
        uint8_t source = data[pos + 2];
        pos += 3;
        len = std::min(len, size - pos);
        NetAddress from { source & 0x40 ? 0x7f000002u : 0x7f000001u,
            static_cast<uint16_t>(source & 3 ? 40000 : 40001) };
        bool idle = (source & 0x80) != 0;
        bool stranger = !idle && (source & 0x40) != 0;
        TftpState before = t.State();
        int64_t progressBefore = t.Progress();
        if (idle) {
            now += 1000;
            t.Idle(now);
        } else {
            if (len >= 4 && data[pos + 1] == 3 && !stranger)
                carried += len - 4;
            t.Receive(data + pos, len, from, now);
        }
        pos += len;
        int dataSent = 0;
        for (const TftpTransfer::Datagram& d : t.Outbox()) {
            Check(d.bytes.size() <= kTftpMaxPacket);
            uint16_t op = d.bytes.size() >= 2 ? static_cast<uint16_t>(d.bytes[0] << 8 | d.bytes[1]) : 0;
            if (stranger)
                Check(op == kTftpError && d.bytes.size() == 5 && d.bytes[3] == 5 && d.to == from);
            if (op == kTftpData && d.bytes.size() >= 4) {
                ++dataSent;
                uint16_t block = static_cast<uint16_t>(d.bytes[2] << 8 | d.bytes[3]);
                // A received datagram may only move on to the next block; the timer repeats the last.
                Check(idle ? block == lastData : block == static_cast<uint16_t>(lastData + 1));
                lastData = block;
            }
        }
        Check(dataSent <= 1);
        if (stranger)
            Check(t.State() == before && t.Progress() == progressBefore);
        t.Outbox().clear();
        Check(t.BlockSize() <= static_cast<uint32_t>(requested) && t.BlockSize() >= 8);
    }
    if (!write)
        Check(stream.Data().size() <= carried);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RunScript(false, data, size);
    RunScript(true, data, size);
    return 0;
}
