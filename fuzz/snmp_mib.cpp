// The simulator's MIB file reader on arbitrary text, and the agent on its objects: the text up to the
// first NUL byte is the MIB, the rest a script of requests (2-byte length, bytes) handled at moments far
// apart. The reader either refuses the text with a located message or gives objects whose values fit
// their sizes and whose identifiers encode and decode unchanged; the agent answers every request with a
// message that decodes, or not at all, whatever its time values.
#include "fuzz/fuzz_check.h"
#include "monitor/snmp/snmp_ber.h"
#include "sim/snmp/sim_mib.h"
#include "sim/snmp/sim_snmp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    size_t textSize = nul ? static_cast<size_t>(nul - data) : size;
    std::string text(reinterpret_cast<const char*>(data), textSize);
    std::string error;
    auto mib = SimMibParse(text, "f", "/nonexistent", &error);
    if (!mib) {
        Check(error.compare(0, 2, "f:") == 0);
        return 0;
    }
    for (const auto& [key, object] : mib->objects) {
        Check(object.value.text.size() <= kSnmpMaxText);
        Check(object.dynamic != SimObject::Dynamic::Cycle || (!object.cycle.empty() && object.periodMs > 0));
        SnmpOid oid = SimOidFromKey(key);
        Check(SimOidKeyFromOid(oid) == key);
    }
    SimSnmpDeviceConfig config;
    SimSnmpAgent agent(config, mib, 0);
    static const uint32_t kMoments[] = { 0, 999, 86400000u, 0x7FFFFFFFu, 0xFFFFFFFFu };
    size_t pos = textSize + 1;
    for (uint32_t now : kMoments) {
        (void)agent.DueTraps(now);
        if (pos + 2 > size)
            continue;
        size_t len = std::min<size_t>(static_cast<size_t>(data[pos] << 8 | data[pos + 1]), size - pos - 2);
        pos += 2;
        std::vector<uint8_t> answer = agent.Handle(data + pos, len, now);
        pos += len;
        if (answer.empty())
            continue;
        SnmpMessage m;
        Check(SnmpDecodeMessage(answer.data(), answer.size(), &m) == kSnmpDecodeOk);
        Check(m.pdu == kPduResponse);
    }
    return 0;
}
