// The XMODEM sender against scripted receiver bytes: the input is a file length and then a script of
// events (a byte from the receiver, or a time-out). Every packet is well formed with the block
// number that follows the last acknowledged one, a packet goes out at most ten times, and the
// transfer ends within the script or stays waiting.
#include "device/xmodem.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void CheckStep(const XmodemSender& s, const XmodemSender::Step& step, uint32_t* lastBlock, int* sends)
{
    if (step.send.empty())
        return;
    Check(step.discard);
    if (step.send.size() == 1) {
        Check(static_cast<uint8_t>(step.send[0]) == kXmEot);
        return;
    }
    Check(step.send.size() == kXmPacket && static_cast<uint8_t>(step.send[0]) == kXmSoh);
    uint8_t n = static_cast<uint8_t>(step.send[1]);
    Check(static_cast<uint8_t>(step.send[2]) == 0xff - n);
    Check(n == static_cast<uint8_t>(s.Blocks() + 1));
    uint8_t sum = 0;
    for (size_t i = 3; i < 3 + kXmBlock; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(step.send[i]));
    Check(sum == static_cast<uint8_t>(step.send[3 + kXmBlock]));
    *sends = *lastBlock == s.Blocks() + 1 ? *sends + 1 : 1;
    *lastBlock = s.Blocks() + 1;
    Check(*sends <= kXmTries);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t length = (static_cast<size_t>(data[0]) << 4 | data[1]) % 4096;
    size_t offset = 0;
    XmodemSender sender([&](void* out, size_t n) {
        n = std::min(n, length - offset);
        for (size_t i = 0; i < n; ++i)
            static_cast<uint8_t*>(out)[i] = static_cast<uint8_t>(offset + i);
        offset += n;
        return n;
    });
    uint32_t now = 0, lastBlock = 0;
    int sends = 0;
    CheckStep(sender, sender.Start(now), &lastBlock, &sends);
    for (size_t i = 2; i < size && sender.GetState() == XmodemSender::State::Sending; ++i) {
        uint8_t b = data[i];
        now += 10;
        XmodemSender::Step step;
        if (b == 0xff) {
            now = sender.Deadline();
            step = sender.OnTimeout(now);
        } else {
            step = sender.OnByte(b == 0xfe ? kXmAck : b == 0xfd ? kXmNak : b, now);
        }
        CheckStep(sender, step, &lastBlock, &sends);
        Check(sender.Acknowledged() <= length);
    }
    if (sender.GetState() == XmodemSender::State::Done)
        Check(sender.Acknowledged() == length);
    return 0;
}
