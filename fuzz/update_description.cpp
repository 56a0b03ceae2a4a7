// The update description on arbitrary text, and its chains evaluated for devices of every section's
// pattern at several versions and flags: every evaluation ends (a chain that comes back to a key is
// an error, never a loop), an evaluated chain names a file and visits each key once.
#include "device/deviceentry.h"
#include "device/sysinfo.h"
#include "device/update.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    UpdateDescription desc;
    UpdateParseDescription(std::string_view(reinterpret_cast<const char*>(data), size), "pkg", &desc);
    const char* versions[] = { "", "1.0", "2.5", "3.0", "3.22.0005", "99" };
    const uint32_t flags[] = { 0, DevFlagFirmwareImages, DevFlagAsymmetric, DevFlagFirmwareImages | DevFlagAsymmetric };
    for (const UpdateSection& section : desc.sections) {
        for (const char* v : versions) {
            for (uint32_t f : flags) {
                DeviceEntry e;
                e.device_type = section.pattern.substr(0, 63);
                e.fw_version = v;
                e.flags = f;
                UpdateChain chain = UpdateEvaluate(desc, section, e);
                Check(chain.ok != !chain.error.empty());
                Check(chain.keys.size() <= section.keys.size());
                if (chain.ok) {
                    Check(!chain.file.empty() && chain.path == "pkg/" + chain.file);
                    Check(chain.more == (chain.keys.size() > 1));
                }
                UpdateFindSection(desc, e);
            }
        }
    }
    return 0;
}
