// The firmware file header on arbitrary bytes: every text stays within its field, a header rebuilt
// from what was read reads back the same, and the pattern matcher and the dialog text take any field.
#include "device/firmware.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FirmwareHeader h;
    int kind = FirmwareReadHeader(data, size, &h);
    Check(kind == h.kind && kind >= FirmwareNone && kind <= FirmwareKindD);
    Check(h.date.size() <= kFirmwareDateWidth && h.version.size() <= kFirmwareVersionWidth);
    Check(h.pattern.size() <= kFirmwarePatternWidth && h.applies.size() <= kFirmwareAppliesWidth);
    Check(h.country >= 0 && h.country <= 999);
    for (const std::string* field : { &h.date, &h.version, &h.pattern, &h.applies })
        Check(field->find('\0') == std::string::npos && (field->empty() || field->back() != ' '));
    if (kind == FirmwareNone) {
        Check(h.pattern.empty() && h.version.empty());
        return 0;
    }
    if (h.letter != '\0') {
        FirmwareHeader again;
        std::string rebuilt = FirmwareBuildHeader(h);
        Check(rebuilt.size() == kFirmwareHeaderSize);
        Check(FirmwareReadHeader(rebuilt.data(), rebuilt.size(), &again) == kind);
        Check(again.date == h.date && again.version == h.version && again.pattern == h.pattern
            && again.applies == h.applies && again.country == h.country && again.letter == h.letter);
    }
    // What follows the header serves as device names for the pattern.
    std::string rest(reinterpret_cast<const char*>(data) + kFirmwareHeaderSize, size - kFirmwareHeaderSize);
    std::string type = rest.substr(0, rest.find('\n'));
    FirmwarePatternMatch(h.pattern, type);
    Check(FirmwareMatch(h, type, "A", h.date) != FirmwareOlder); // the same date is never older
    FirmwareDescribe(h);
    return 0;
}
