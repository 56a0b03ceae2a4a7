// The scripts' small language: integer expressions over $-references, templates, and the formats that
// convert and reshape a referenced value. Values are SnmpValues (none, integer, ipAddress, string).
#pragma once

#include "monitor/snmp/snmp_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DeviceObject;
struct ItemObject;
struct OptionObject;

// One token: an operator (code 1 "(" to 20 "||"; the code is also the binding order, lower binds
// tighter) or an operand (op 0).
struct ExprToken {
    uint8_t op = 0;
    SnmpValue operand;
};
using ExprTokens = std::vector<ExprToken>;

enum ExprOp : uint8_t {
    kOpOpen = 1,
    kOpClose,
    kOpMul,
    kOpDiv,
    kOpMod,
    kOpAdd,
    kOpSub,
    kOpShl,
    kOpShr,
    kOpLt,
    kOpLe,
    kOpGt,
    kOpGe,
    kOpEq,
    kOpNe,
    kOpAnd,
    kOpXor,
    kOpOr,
    kOpLogAnd,
    kOpLogOr,
};

// What the evaluation reads of the running monitor: the cached SNMP values of the device and its
// run-time fields. The engine fills it from SnmpGetCached and its device records; tests and the
// command-line tool with given values.
class ScriptRuntime {
public:
    virtual ~ScriptRuntime() = default;
    // The cached value of `oid` at the device; false (none) when nothing is cached.
    virtual bool Cached(const SnmpOid& oid, SnmpValue* out) = 0;
    virtual uint32_t Address() = 0; // IPv4, network byte order
    virtual std::string Community() = 0;
    virtual bool Error() = 0; // no answer to the last poll, or registration not (yet) successful
    // The two causes of Error() apart: the device did not answer its last poll ("noanswer"); it answers,
    // but refused its last registration, a set with the community entered ("refused").
    virtual bool NoAnswer()
    {
        return Error();
    }
    virtual bool Refused()
    {
        return false;
    }
    virtual uint32_t Details() = 0; // the details mask of the main window
    virtual uint32_t OptionValue(const OptionObject& option) = 0;
    virtual uint32_t RowOffset(const ItemObject& item) = 0; // a clone's row offset, else 0
};

// The runtime of a device that was never polled: nothing cached, option defaults, all zero.
class ScriptNullRuntime : public ScriptRuntime {
public:
    bool Cached(const SnmpOid&, SnmpValue*) override
    {
        return false;
    }
    uint32_t Address() override
    {
        return 0;
    }
    std::string Community() override
    {
        return {};
    }
    bool Error() override
    {
        return false;
    }
    uint32_t Details() override
    {
        return 0;
    }
    uint32_t OptionValue(const OptionObject& option) override;
    uint32_t RowOffset(const ItemObject&) override
    {
        return 0;
    }
};

enum class ScriptContextKind : uint8_t { Item, Action, Map };

// Where a template is expanded: the item (may be null), its device, the runtime, and per kind the
// action's arguments or the value being mapped.
struct ScriptContext {
    ScriptContextKind kind = ScriptContextKind::Item;
    const ItemObject* item = nullptr;
    const DeviceObject* device = nullptr;
    ScriptRuntime* runtime = nullptr;
    const std::vector<SnmpValue>* args = nullptr; // action context
    const SnmpValue* from = nullptr; // map context
};

std::string ExprValueText(const SnmpValue& value); // "%lu", dotted, the text, ""
uint32_t ExprNumber(const SnmpValue& value); // numeric value (addresses in host order)
bool ExprEqual(const SnmpValue& a, const SnmpValue& b); // the "==" rules

ExprTokens ExprParse(std::string_view text);
// Evaluates in the item context of `context` (its kind is ignored). nullopt on failure: division by
// zero, a malformed expression, nesting too deep, a term that refers to itself.
std::optional<SnmpValue> ExprEvaluate(const ExprTokens& tokens, const ScriptContext& context);
// The template expanded in `context`; none when the expansion was abandoned (nesting too deep, a term
// that refers to itself, too many references), which `aborted` then reports when given.
SnmpValue TemplateExpand(std::string_view text, const ScriptContext& context, bool* aborted = nullptr);
SnmpValue ValueFormat(const SnmpValue& value, std::string_view format, const ScriptContext& context);

// The action's numbered references: the argument text split at ":", "$" parts resolved in the item
// context, whole numbers (but 4294967295) as integers, the rest as strings.
std::vector<SnmpValue> ActionArguments(std::string_view text, const ScriptContext& itemContext);

// The OID polled for the item's n-th `uses` entry (from 1): the entry's OID with its index template's
// value appended as the engine appends it (an integer; other kinds leave the OID). False when the entry
// is empty or beyond the list, or its index is missing (none or 0), which the engine does not poll.
bool ItemPolledOid(const ItemObject& item, size_t n, const ScriptContext& context, SnmpOid* out);
// The state of an item: the number of the first state expression that evaluates to non-zero (from 1),
// 0 when none does.
uint32_t ItemState(const ItemObject& item, const ScriptContext& context);
// The item's text for a state, expanded in the item context (at most kExprMaxText characters).
std::string ItemText(const ItemObject& item, uint32_t state, const ScriptContext& context);
// The instance number of an item (`$i`).
uint32_t ItemInstance(const ItemObject& item, const ScriptContext& context);

// The duration text of "as duration" (ExprStrOneSecond to ExprStrDaysHours in the language selected).
std::string ExprDuration(uint32_t seconds);

// Texts made by templates and formats are cut to this (the 256-byte buffers).
constexpr size_t kExprMaxText = 255;
// Nested evaluations (terms, instance texts, index templates, map to-values) deeper than this fail.
constexpr int kExprMaxDepth = 32;
