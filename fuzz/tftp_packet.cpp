// Fuzz target: the TFTP client's packet handling. The input is a script of datagrams (2-byte length,
// 1-byte source selector, bytes) fed to a read and a write transfer; checks that the negotiated block
// size never exceeds what was asked for or 8192, that every packet the client sends fits the largest
// packet, and that the data written for a read never exceeds what the DATA packets carried.
#include "config/device/tftp.h"

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
    size_t carried = 0;
    uint32_t now = 0;
    size_t pos = 1;
    while (pos + 3 <= size && t.State() == TftpState::Running) {
        size_t len = static_cast<size_t>(data[pos] << 8 | data[pos + 1]) % (kTftpMaxPacket + 1);
        uint8_t source = data[pos + 2];
        pos += 3;
        len = std::min(len, size - pos);
        NetAddress from { 0x7f000001, static_cast<uint16_t>(source & 3 ? 40000 : 40001) };
        if (source & 0x80) {
            now += 1000;
            t.Idle(now);
        } else {
            if (len >= 4 && data[pos + 1] == 3)
                carried += len - 4;
            t.Receive(data + pos, len, from, now);
        }
        pos += len;
        for (const TftpTransfer::Datagram& d : t.Outbox())
            Check(d.bytes.size() <= kTftpMaxPacket);
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
