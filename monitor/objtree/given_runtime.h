// A runtime made of given values: the cached values by OID text, the device's fields and option
// values as set. The command-line tool and the tests evaluate scripts with it.
#pragma once

#include "common/text.h"
#include "monitor/objtree/expr.h"
#include "monitor/objtree/objtree.h"

#include <map>
#include <string>

class ScriptGivenRuntime : public ScriptRuntime {
public:
    std::map<std::string, SnmpValue> values; // dotted OID -> cached value
    uint32_t address = 0; // network byte order
    std::string community;
    bool error = false;
    bool noAnswer = false; // "noanswer" (with `error` set: the device did not answer)
    bool refused = false; // "refused" (with `error` set: the registration was refused)
    uint32_t details = 0;
    std::map<std::string, uint32_t> options; // lower-cased option name -> value (else its default)
    std::map<const ItemObject*, uint32_t> offsets; // clones' row offsets

    bool Cached(const SnmpOid& oid, SnmpValue* out) override
    {
        auto it = values.find(SnmpOidText(oid));
        if (it == values.end())
            return false;
        *out = it->second;
        return true;
    }
    uint32_t Address() override
    {
        return address;
    }
    std::string Community() override
    {
        return community;
    }
    bool Error() override
    {
        return error;
    }
    bool NoAnswer() override
    {
        return noAnswer;
    }
    bool Refused() override
    {
        return refused;
    }
    uint32_t Details() override
    {
        return details;
    }
    uint32_t OptionValue(const OptionObject& option) override
    {
        auto it = options.find(StrLower(option.name));
        return it == options.end() ? option.defaultValue : it->second;
    }
    uint32_t RowOffset(const ItemObject& item) override
    {
        auto it = offsets.find(&item);
        return it == offsets.end() ? 0 : it->second;
    }
};
