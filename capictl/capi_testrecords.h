// Status records as a driver writes them, for the tests.
#pragma once

#include "capictl/capi_records.h"

#include <string>

inline std::string CapiTestDevice(uint32_t id, uint32_t attachment, uint32_t state, const std::string& location = "",
    const std::string& name = "", const std::string& numbers = "", uint32_t channels = 2, uint32_t freeChannels = 1,
    uint32_t profile = 0)
{
    std::string texts = location + '\0' + name + '\0' + numbers + '\0';
    std::string r;
    uint32_t fields[] = { kCapiDeviceKind, static_cast<uint32_t>(48 + texts.size()), id, attachment, state, channels,
        freeChannels, 0, 48, static_cast<uint32_t>(48 + location.size() + 1),
        static_cast<uint32_t>(48 + location.size() + 1 + name.size() + 1), profile };
    for (uint32_t f : fields)
        CapiAppendLe32(&r, f);
    return r + texts;
}

inline std::string CapiTestConnection(uint32_t id, uint32_t device, uint32_t connectedMs = 0,
    uint32_t lastTransferMs = 0, const std::string& number = "", uint32_t incoming = 0, uint32_t received = 0,
    uint32_t sent = 0)
{
    std::string r;
    uint32_t fields[] = { kCapiConnectionKind, static_cast<uint32_t>(48 + number.size() + 1), id, device, 0, 0,
        incoming, connectedMs, received, sent, lastTransferMs, 48 };
    for (uint32_t f : fields)
        CapiAppendLe32(&r, f);
    return r + number + '\0';
}

inline std::string CapiTestApplication()
{
    std::string r;
    CapiAppendLe32(&r, kCapiApplicationKind);
    CapiAppendLe32(&r, 8);
    return r;
}

inline const uint8_t* CapiBytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}
