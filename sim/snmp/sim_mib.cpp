#include "sim/snmp/sim_mib.h"

#include "common/platform/net.h"
#include "common/text.h"
#include "monitor/snmp/snmp_ber.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

bool SimOidKeyFromText(const std::string& text, SimOidKey* key)
{
    key->clear();
    size_t pos = text.size() > 0 && text[0] == '.' ? 1 : 0;
    while (pos <= text.size()) {
        size_t dot = text.find('.', pos);
        std::string part = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        auto value = ParseUnsignedStrict(part);
        if (part.empty() || !value || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        key->push_back(*value);
        if (dot == std::string::npos)
            break;
        pos = dot + 1;
    }
    // The first two arcs share one subidentifier: 0 and 1 take a second arc below 40.
    return key->size() >= 2 && (*key)[0] <= 2 && ((*key)[0] == 2 ? (*key)[1] <= 0xFFFFFFFFu - 80 : (*key)[1] < 40);
}

SimOidKey SimOidKeyFromOid(const SnmpOid& oid)
{
    SimOidKey key;
    uint32_t value = 0;
    bool pending = false;
    for (uint32_t i = 0; i < oid.length; ++i) {
        value = value << 7 | (oid.bytes[i] & 0x7Fu);
        pending = true;
        if (oid.bytes[i] & 0x80)
            continue;
        if (key.empty()) {
            uint32_t first = value < 40 ? 0 : value < 80 ? 1 : 2;
            key.push_back(first);
            key.push_back(value - 40 * first);
        } else {
            key.push_back(value);
        }
        value = 0;
        pending = false;
    }
    if (pending)
        key.clear();
    return key;
}

SnmpOid SimOidFromKey(const SimOidKey& key)
{
    SnmpOid oid;
    if (key.size() < 2)
        return oid;
    SnmpOidAppend(&oid, key[0] * 40 + key[1]);
    for (size_t i = 2; i < key.size(); ++i)
        SnmpOidAppend(&oid, key[i]);
    return oid;
}

std::string SimOidKeyText(const SimOidKey& key)
{
    std::string text;
    for (size_t i = 0; i < key.size(); ++i)
        text += (i ? "." : "") + std::to_string(key[i]);
    return text;
}

namespace {
// Splits a line into words; "quoted text" is one word (\" and \\ escaped), its quotes removed.
bool Words(const std::string& line, std::vector<std::string>* words, std::string* error)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        std::string word;
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    word += line[i + 1];
                    i += 2;
                    continue;
                }
                if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                word += line[i++];
            }
            if (!closed) {
                *error = "unterminated quote";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        }
        words->push_back(word);
    }
    return true;
}

bool TagOf(const std::string& type, uint8_t* tag)
{
    static const struct {
        const char* name;
        uint8_t tag;
    } kTypes[]
        = { { "i", 0x02 }, { "s", 0x04 }, { "o", 0x06 }, { "a", 0x40 }, { "c", 0x41 }, { "g", 0x42 }, { "t", 0x43 } };
    for (const auto& t : kTypes)
        if (type == t.name) {
            *tag = t.tag;
            return true;
        }
    return false;
}

bool IsNumberTag(uint8_t tag)
{
    return tag == 0x02 || tag == 0x41 || tag == 0x42 || tag == 0x43;
}

// A literal of the object's type.
bool Literal(uint8_t tag, const std::string& word, SnmpValue* value, std::string* error)
{
    if (IsNumberTag(tag)) {
        bool negative = tag == 0x02 && !word.empty() && word[0] == '-';
        auto n = ParseUnsignedStrict(negative ? word.substr(1) : word);
        if (!n) {
            *error = "not a number: " + word;
            return false;
        }
        *value = SnmpValue::Integer(negative ? 0u - *n : *n);
        return true;
    }
    if (tag == 0x40) {
        if (word == "$address") {
            *value = SnmpValue::String(word); // filled in per device
            return true;
        }
        auto ip = NetParseAddress(word);
        if (!ip) {
            *error = "not an address: " + word;
            return false;
        }
        *value = SnmpValue::Address(SnmpAddressFromHost(*ip));
        return true;
    }
    if (tag == 0x06) {
        SimOidKey key;
        if (!SimOidKeyFromText(word, &key)) {
            *error = "not an object identifier: " + word;
            return false;
        }
    }
    if (word.size() > kSnmpMaxText) {
        *error = "text longer than 255 characters";
        return false;
    }
    *value = SnmpValue::String(word);
    return true;
}

bool ParseLine(const std::vector<std::string>& w, SimMib* mib, std::string* error)
{
    SimOidKey key;
    if (!SimOidKeyFromText(w[0], &key)) {
        *error = "bad object identifier: " + w[0];
        return false;
    }
    if (w.size() < 4) {
        *error = "expected OID TYPE ACCESS VALUE";
        return false;
    }
    SimObject o;
    if (!TagOf(w[1], &o.tag)) {
        *error = "unknown type: " + w[1];
        return false;
    }
    if (w[2] != "ro" && w[2] != "rw") {
        *error = "access must be ro or rw: " + w[2];
        return false;
    }
    o.writable = w[2] == "rw";
    size_t i = 3;
    if (w[i] == "uptime") {
        if (o.tag != 0x43) {
            *error = "uptime needs type t";
            return false;
        }
        o.dynamic = SimObject::Dynamic::Uptime;
        ++i;
    } else if (w[i] == "rate") {
        auto start = i + 2 < w.size() ? ParseUnsignedStrict(w[i + 1]) : std::nullopt;
        auto rate = i + 2 < w.size() ? ParseUnsignedStrict(w[i + 2]) : std::nullopt;
        if (!IsNumberTag(o.tag) || !start || !rate) {
            *error = "rate needs a number type, a start and a rate";
            return false;
        }
        o.dynamic = SimObject::Dynamic::Rate;
        o.start = *start;
        o.perSecond = *rate;
        i += 3;
    } else if (w[i] == "cycle") {
        auto seconds = i + 2 < w.size() ? ParseUnsignedStrict(w[i + 2]) : std::nullopt;
        if (!seconds || *seconds == 0) {
            *error = "cycle needs values and a period in seconds";
            return false;
        }
        std::stringstream list(w[i + 1]);
        std::string item;
        while (std::getline(list, item, ',')) {
            SnmpValue v;
            if (!Literal(o.tag, item, &v, error))
                return false;
            o.cycle.push_back(v);
        }
        if (o.cycle.empty()) {
            *error = "cycle without values";
            return false;
        }
        // The whole cycle in milliseconds must fit 32 bits: the agent divides by the period and takes
        // the phase modulo the cycle's span.
        if (static_cast<uint64_t>(*seconds) * 1000u * o.cycle.size() > UINT32_MAX) {
            *error = "cycle period too long (the whole cycle must stay below 4294967 seconds)";
            return false;
        }
        o.dynamic = SimObject::Dynamic::Cycle;
        o.periodMs = *seconds * 1000;
        i += 3;
    } else {
        if (!Literal(o.tag, w[i], &o.value, error))
            return false;
        ++i;
    }
    while (i < w.size()) {
        if (w[i] == "trap") {
            o.trap = true;
            ++i;
        } else if (w[i] == "clears" && i + 1 < w.size()) {
            SimOidKey prefix;
            if (!SimOidKeyFromText(w[i + 1], &prefix)) {
                *error = "bad prefix: " + w[i + 1];
                return false;
            }
            o.clears.push_back(prefix);
            i += 2;
        } else if (w[i] == "present" && i + 2 < w.size()) {
            // (Plain numbers with a flag: g++ 12 sees optionals here as maybe uninitialised.)
            size_t comma = w[i + 1].find(',');
            bool ok = comma != std::string::npos;
            uint32_t from = 0, to = 0, period = 0;
            if (ok) {
                auto f = ParseUnsignedStrict(w[i + 1].substr(0, comma));
                auto t = ParseUnsignedStrict(w[i + 1].substr(comma + 1));
                auto p = ParseUnsignedStrict(w[i + 2]);
                ok = f && t && p;
                from = f.value_or(0);
                to = t.value_or(0);
                period = p.value_or(0);
            }
            if (!ok || period == 0 || period > 4000000 || from >= to || to > period) {
                *error = "present needs FROM,TO and a period in seconds (FROM < TO <= PERIOD)";
                return false;
            }
            o.presentFrom = from;
            o.presentTo = to;
            o.presentPeriod = period;
            i += 3;
        } else {
            *error = "unexpected word: " + w[i];
            return false;
        }
    }
    mib->objects[key] = std::move(o);
    return true;
}

bool ParseInto(const std::string& text, const std::string& name, const std::string& directory, SimMib* mib,
    std::string* error, int depth)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::string> words;
        std::string message;
        bool ok = Words(line, &words, &message);
        if (ok && words.empty())
            continue;
        if (ok && words[0] == "include") {
            std::ifstream file(directory + "/" + (words.size() > 1 ? words[1] : std::string()), std::ios::binary);
            std::stringstream content;
            if (words.size() != 2 || depth > 8 || !file) {
                message = "cannot include " + (words.size() > 1 ? words[1] : std::string());
                ok = false;
            } else {
                content << file.rdbuf();
                if (!ParseInto(content.str(), words[1], directory, mib, error, depth + 1))
                    return false;
                continue;
            }
        }
        if (ok)
            ok = ParseLine(words, mib, &message);
        if (!ok) {
            *error = StrFormat("%s:%d: %s", name.c_str(), number, message.c_str());
            return false;
        }
    }
    return true;
}
} // namespace

std::shared_ptr<SimMib> SimMibParse(
    const std::string& text, const std::string& name, const std::string& directory, std::string* error)
{
    auto mib = std::make_shared<SimMib>();
    if (!ParseInto(text, name, directory, mib.get(), error, 0))
        return nullptr;
    return mib;
}

std::shared_ptr<SimMib> SimMibLoad(const std::string& path, std::string* error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": cannot open";
        return nullptr;
    }
    std::stringstream content;
    content << file.rdbuf();
    size_t slash = path.find_last_of('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    return SimMibParse(content.str(), path, directory, error);
}

void SimMibGenerateAccounting(SimMib& mib, uint32_t rows)
{
    const SimOidKey table { 1, 3, 6, 1, 4, 1, 58127, 3, 1, 1 };
    for (auto it = mib.objects.lower_bound(table); it != mib.objects.end() && it->first.size() > table.size()
         && std::equal(table.begin(), table.end(), it->first.begin());)
        it = mib.objects.erase(it);
    auto put = [&](uint32_t column, uint32_t row, uint8_t tag, const SnmpValue& value) {
        SimOidKey key = table;
        key.push_back(column);
        key.push_back(row);
        SimObject o;
        o.tag = tag;
        o.value = value;
        mib.objects[key] = o;
    };
    // Received counts: small, just below and at 2^20 KB (the MB step), past 2^30 KB (the GB step).
    const uint32_t sizes[] = { 0, 1048575, 1048576, (1u << 30) + 1 };
    for (uint32_t i = 1; i <= rows; ++i) {
        std::string user = i % 3 == 0 ? "LANUSER-user" + std::to_string(i)
            : i % 3 == 1              ? "user" + std::to_string(i)
                                      : std::string();
        char identifier[16];
        std::snprintf(identifier, sizeof identifier, i % 2 ? "000000%06X" : "0A%010X", i);
        put(1, i, kBerOctetString, SnmpValue::String(user));
        put(2, i, kBerOctetString, SnmpValue::String(identifier));
        put(3, i, kBerOctetString, SnmpValue::String(i % 4 == 0 ? std::string() : "Site " + std::to_string(i)));
        put(4, i, kBerInteger, SnmpValue::Integer((i - 1) % 9 + 1));
        put(5, i, kBerGauge, SnmpValue::Integer(sizes[i % 4] + i));
        put(6, i, kBerGauge, SnmpValue::Integer(sizes[(i + 1) % 4] + 2 * i));
        put(8, i, kBerGauge, SnmpValue::Integer(i * 37));
        put(9, i, kBerInteger, SnmpValue::Integer(i % 50));
    }
}
