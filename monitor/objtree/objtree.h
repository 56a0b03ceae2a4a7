// The objects built from the scripts for one device type: the tree the monitor engine runs.
#pragma once

#include "monitor/objtree/expr.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp_types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DeviceObject;
struct ItemObject;

// Item flags (`flags` words).
enum : uint32_t {
    kItemHide = 1,
    kItemClone = 2,
    kItemFlash = 4,
    kItemError = 8,
    kItemConnect = 16,
};

// Action kinds, from the function's action keyword.
enum class ActionKind : uint8_t { None, SetEvent, SnmpSet, Log, Infotip, Execute, ExecHidden, ExecPlugin };
const char* ActionKindText(ActionKind kind); // the action keyword ("setevent", "set", ...)

struct ActionObject {
    ScriptKeyword event = kKwNone; // kKwEnter, kKwLeave, kKwExit, kKwMenu, kKwMenudef, kKwMenuex or none
    ActionKind kind = ActionKind::None;
    std::string entry; // the entry as written: EVENT:FUNCTION[:ARGUMENTS]
    std::string function; // the function's name as written in the entry
    std::string arguments; // argument template (Part of the entry after the second ":")
    std::string text; // the function's `text` (a template in action context), empty when absent
    std::vector<std::string> values; // the function's action values after the keyword
    std::string setOid; // SnmpSet: the OID (N.rest resolved), dotted; empty when it does not resolve
    std::string setIndexTemplate; // SnmpSet: when present, its integer value is appended for each call
    std::string setValue; // SnmpSet: the value template
    uint32_t queryFlags = 0; // `query`: the flags number and up to three texts
    std::vector<std::string> queryTexts;
    bool hasQuery = false;
};
using ActionList = std::vector<ActionObject>;

struct ItemUse {
    std::string oidText; // dotted; empty when the entry does not resolve
    SnmpOid oid {}; // valid when `valid`
    bool valid = false;
    std::string indexTemplate; // when present: its integer value is appended before each poll
};

struct ItemRefresh {
    uint32_t interval = 0; // tenths of a second; 0 = none
    std::vector<std::string> events;
    std::string words; // as written (after "*"/"#")
};

struct ItemTerm {
    std::string name;
    std::string text;
    ExprTokens expr;
};

struct ItemObject {
    std::string ref; // the `childs`/`display` entry that made it
    ItemObject* parent = nullptr;
    DeviceObject* device = nullptr;
    int level = 1; // 1 for top-level items
    std::vector<ItemUse> uses;
    std::vector<std::string> stateTexts; // state expressions as written, state 1 first
    std::vector<ExprTokens> states;
    std::vector<std::string> texts; // templates as written ("*" and "#" resolved when shown)
    std::vector<int32_t> images;
    std::vector<uint32_t> flags;
    std::vector<std::string> flagWords;
    std::vector<ActionList> actions;
    std::vector<ItemRefresh> refresh;
    std::vector<ItemTerm> terms;
    std::vector<std::unique_ptr<ItemObject>> children;

    // Per-state entries: entry n for state n, entry 0 beyond the list (null/0 when the list is empty).
    int32_t Image(uint32_t state) const;
    uint32_t Flags(uint32_t state) const;
    const ActionList* Actions(uint32_t state) const;
    const ItemRefresh* Refresh(uint32_t state) const;
    // The text template for a state: entry n ("*" entry 0, "#" the one before); "" when none.
    const std::string& TextTemplate(uint32_t state) const;
    const ItemTerm* FindTerm(std::string_view name) const;
};

enum class OptionKind : uint8_t { None, Checkbox, Radiogroup };

struct OptionObject {
    OptionKind kind = OptionKind::None;
    std::string kindText; // as written
    std::string name;
    uint32_t defaultValue = 0;
    std::vector<std::string> values; // label, then (radio group) image number and choices
};

struct PluginObject {
    std::string name;
    std::vector<ItemUse> uses; // empty entries stay (their positions count)
};

struct MapObject {
    std::string name;
    std::vector<SnmpValue> from, to;
};

struct DeviceObject {
    std::string type;
    std::string name;
    std::string vendor;
    std::vector<std::string> roots;
    std::string detectOid; // dotted
    std::string detectValue;
    uint32_t registerInterval = 0; // tenths of a second
    ActionList registerActions;
    std::vector<std::unique_ptr<ItemObject>> items;
    std::vector<std::unique_ptr<ItemObject>> display;
    std::vector<PluginObject> plugins;
    std::vector<OptionObject> options;
    std::vector<MapObject> maps; // the constrained ones first, each name once

    const MapObject* FindMap(std::string_view name) const;
    const OptionObject* FindOption(std::string_view name) const;
};

// A copy of an item and its children (the engine's clones of table rows): same definitions, the copy's
// parent `parent`. Objects made from the scripts hold no run-time state, so nothing else is reset.
std::unique_ptr<ItemObject> ItemClone(const ItemObject& item, ItemObject* parent);

// Builds the objects of a device type from a library (the first device definition with that name).
std::unique_ptr<DeviceObject> ScriptInstantiateFrom(const ScriptLibrary& library, std::string_view type);
// The same over the program's scripts.
std::unique_ptr<DeviceObject> ScriptInstantiate(std::string_view type);

// Children are expanded at most this many levels deep.
constexpr int kScriptMaxDepth = 100;

// Splits a list by the "*" and "#" rules: "*" (above position 0) stands for entry 0, "#" for the nearest
// earlier entry that is not "#".
std::vector<std::string> ScriptResolveList(const ScriptValues& values);
