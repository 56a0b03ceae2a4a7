// The simulated devices' MIB: objects read from a data file per device type, with values that can
// change over time (up time, counters growing at a rate, states cycling through a list).
//
// File format, one object a line ('#' starts a comment):
//     OID TYPE ACCESS VALUE [trap] [clears PREFIX] [present FROM,TO PERIOD]
//   TYPE   i INTEGER, s OCTET STRING, o OBJECT IDENTIFIER, a IpAddress, c Counter, g Gauge, t TimeTicks
//   ACCESS ro or rw
//   VALUE  a literal ("quoted text" for strings; $name and $address are replaced per device), or
//          uptime                 time ticks since the device started
//          rate START PER_SECOND  a number growing by PER_SECOND every second
//          cycle V1,V2,... SECONDS the values in turn, each for SECONDS (phase differs per device)
//   trap   an enterprise trap (generic 6, specific 1) carries the object whenever its value changes
//   clears setting the object clears every object under PREFIX (a table's rows)
//   present FROM,TO PERIOD  the object exists only from second FROM to before second TO of every PERIOD
//          seconds since the device started (rows that come and go, the same on every run)
//   include FILE   reads another file (relative to this one) first; later lines replace earlier ones.
#pragma once

#include "monitor/snmp/snmp_types.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

using SimOidKey = std::vector<uint32_t>; // subidentifiers with the first two arcs apart

struct SimObject {
    enum class Dynamic { Fixed, Uptime, Rate, Cycle };
    uint8_t tag = 0x04; // BER tag of the value
    bool writable = false;
    Dynamic dynamic = Dynamic::Fixed;
    SnmpValue value; // Fixed: the value (strings and OIDs as text)
    uint32_t start = 0; // Rate
    uint32_t perSecond = 0;
    std::vector<SnmpValue> cycle; // Cycle
    uint32_t periodMs = 1000;
    bool trap = false;
    std::vector<SimOidKey> clears;
    // present FROM,TO PERIOD: the object exists only from second FROM to before second TO of every
    // PERIOD seconds since the device started (the same on every run and every device); 0 = always.
    uint32_t presentFrom = 0, presentTo = 0, presentPeriod = 0;

    bool PresentAt(uint32_t elapsedMs) const
    {
        if (presentPeriod == 0)
            return true;
        uint32_t second = (elapsedMs / 1000) % presentPeriod;
        return second >= presentFrom && second < presentTo;
    }
};

struct SimMib {
    std::map<SimOidKey, SimObject> objects;
};

// Loads a MIB file. Null with a message ("file:line: ...") in `error` when it cannot be read.
std::shared_ptr<SimMib> SimMibLoad(const std::string& path, std::string* error);
// Parses MIB text (`name` for messages; includes are read relative to `directory`).
std::shared_ptr<SimMib> SimMibParse(
    const std::string& text, const std::string& name, const std::string& directory, std::string* error);

bool SimOidKeyFromText(const std::string& text, SimOidKey* key);
SimOidKey SimOidKeyFromOid(const SnmpOid& oid); // empty when the OID is malformed
SnmpOid SimOidFromKey(const SimOidKey& key);
std::string SimOidKeyText(const SimOidKey& key);

// The accounting table's generated rows (morvaksim --accounting-rows): replaces the rows of the table
// 1.3.6.1.4.1.58127.3.1.1 by `rows` fixed ones that cover what a viewer must show: every type (1 to 8
// and the unknown 9), users with "LANUSER-", plain and empty, identifiers with and without "000000",
// empty remote sites, counters past 2^20 and 2^30 kilobytes.
void SimMibGenerateAccounting(SimMib& mib, uint32_t rows);
