// The simulator's MIB file reader on arbitrary text: it either refuses the text with a located message
// or gives objects whose values fit their sizes and whose identifiers encode and decode unchanged.
#include "sim/snmp/sim_mib.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto mib = SimMibParse(text, "f", "/nonexistent", &error);
    if (!mib) {
        if (error.compare(0, 2, "f:") != 0)
            std::abort();
        return 0;
    }
    for (const auto& [key, object] : mib->objects) {
        if (object.value.text.size() > kSnmpMaxText
            || (object.dynamic == SimObject::Dynamic::Cycle && object.cycle.empty()))
            std::abort();
        SnmpOid oid = SimOidFromKey(key);
        if (SimOidKeyFromOid(oid) != key)
            std::abort();
    }
    return 0;
}
