// The monitor's outside inputs: its command line, the "add:" records another instance sends, and the
// display window's saved strings. The first byte picks which; what is read back after writing must read
// the same again.
#include "fuzz/fuzz_check.h"
#include "monitor/startup/options.h"
#include "monitor/startup/rules.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t kind = data[0] % 4;
    ++data;
    --size;
    std::string text(reinterpret_cast<const char*>(data), size);
    switch (kind) {
    case 0: {
        TalvineOptions options = ParseTalvineOptions(text);
        std::vector<uint8_t> records = PackAddRecords(options.adds);
        Check(UnpackAddRecords(records.data(), records.size()) == options.adds);
        break;
    }
    case 1: {
        std::vector<TalvineAdd> adds = UnpackAddRecords(data, size);
        std::vector<uint8_t> records = PackAddRecords(adds);
        Check(UnpackAddRecords(records.data(), records.size()) == adds);
        break;
    }
    case 2:
        if (std::optional<DisplayOptions> o = ParseDisplayOptions(text))
            Check(ParseDisplayOptions(FormatDisplayOptions(*o)) == o);
        break;
    default: {
        LcdCustomColors colors = ParseLcdColors(text);
        Check(ParseLcdColors(FormatLcdColors(colors)) == colors);
        break;
    }
    }
    return 0;
}
