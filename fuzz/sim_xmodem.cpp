// morvaksim's XMODEM receiver on arbitrary sender bytes and time steps: it stores only whole blocks
// that passed their checks, answers within the protocol's bytes, and its counters stay consistent.
#include "fuzz/fuzz_check.h"
#include "sim/xmodem_rx.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    SimXmodemFaults faults;
    faults.naksPerBlock = data[0] % 3;
    faults.cancelAfter = data[1] % 8 == 0 ? static_cast<int>(data[1] / 8) : -1;
    uint32_t now = 0;
    SimXmodemReceiver r(faults, now);
    r.accept = [](const std::string& block) { return block.size() == 128 && block[0] != 'X'; };
    // The rest: chunks of bytes, each preceded by a time step.
    size_t i = 2;
    while (i < size) {
        now += data[i++] * 20u;
        std::string out = r.Tick(now);
        size_t n = i < size ? data[i++] % 140 : 0;
        n = std::min(n, size - i);
        out += r.Input(std::string_view(reinterpret_cast<const char*>(data + i), n), now);
        i += n;
        for (char c : out)
            Check(c == 0x06 || c == 0x15 || c == 0x18);
        Check(r.Data().size() == r.stored * 128u);
    }
    return 0;
}
