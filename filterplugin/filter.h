// The IP filter's rule and object model. A device keeps its filter in two tables of the configuration:
// "RuleTable" (name, protocol, source, destination, action, option) and "ObjectTable" (name,
// definition), whose cells are texts in a small definition language. Reading expands every rule row
// into a flat FilterRule; writing packs rules back into the shortest cells that fit, creating objects
// where a text is too long. The tables are reached only through the host's nine exported functions.
#pragma once

#include "config/plugin/plugin.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The nine exported functions of the host, bound by name in the library (or directly in the command
// line tool and the tests), with the context of the page.
struct FilterHost {
    PluginContext* context = nullptr;
    int32_t(PLUGIN_CALL* getDeviceInfo)(PluginContext*, int32_t, char*, int32_t) = nullptr;
    int32_t(PLUGIN_CALL* getPluginParam)(PluginContext*, const char*, char*, int32_t) = nullptr;
    int32_t(PLUGIN_CALL* getValue)(PluginContext*, const char*, char*, int32_t) = nullptr;
    int32_t(PLUGIN_CALL* setValue)(PluginContext*, const char*, const char*) = nullptr;
    int32_t(PLUGIN_CALL* getTabRow)(PluginContext*, const char*, int32_t, int32_t, char* const*, const int32_t*)
        = nullptr;
    int32_t(PLUGIN_CALL* setTabRow)(PluginContext*, const char*, int32_t, int32_t, const char* const*) = nullptr;
    int32_t(PLUGIN_CALL* addTabRow)(PluginContext*, const char*, int32_t) = nullptr;
    int32_t(PLUGIN_CALL* delTabRow)(PluginContext*, const char*, int32_t) = nullptr;
    int32_t(PLUGIN_CALL* findTabRow)(PluginContext*, const char*, int32_t, const char*) = nullptr;

    // True when all nine are bound.
    bool Complete() const;
};

// The host's functions called directly (the command-line tool and the tests link the host's code).
FilterHost FilterHostDirect(PluginContext* context);

// Rule actions.
constexpr uint32_t FilterActionDrop = 256;
constexpr uint32_t FilterActionDropNotConnected = 512;
constexpr uint32_t FilterActionDropDefaultRoute = 1024;
constexpr uint32_t FilterActionTransfer = 1;

// Cell capacities (characters, without the terminator).
constexpr size_t FilterRuleNameMax = 10;
constexpr size_t FilterProtocolCellMax = 10;
constexpr size_t FilterStationCellMax = 40;
constexpr size_t FilterNumberCellMax = 10;
constexpr size_t FilterObjectNameMax = 10;
constexpr size_t FilterDefinitionMax = 64;
// Capacity of a rule's protocol and port lists.
constexpr size_t FilterListMax = 62;
// Longest station name.
constexpr size_t FilterStationNameMax = 63;
// How deep object references nest.
constexpr int FilterMaxNesting = 16;

enum FilterStationKind : int32_t {
    FilterStationLocal = 0, // all stations of the local network
    FilterStationName = 1, // a station by name
    FilterStationMac = 2, // a physical address
    FilterStationRange = 3, // one IP address (first == last) or a range
    FilterStationNetwork = 4, // address and netmask
};

struct FilterStation {
    int32_t kind = FilterStationLocal;
    std::string name; // kind 1, up to 63 characters
    uint8_t mac[6] = {}; // kind 2
    uint32_t first = 0; // kind 3: first address; kind 4: the network's address (host order)
    uint32_t last = 0; // kind 3: last address (equal to first for one); kind 4: the mask

    bool operator==(const FilterStation& other) const;
};

struct FilterRule {
    std::string name; // unique in the list, ignoring case
    uint32_t action = FilterActionDrop;
    uint32_t option = 0; // the sixth column, carried through
    std::vector<FilterStation> sources; // none: all stations
    std::vector<FilterStation> dests;
    std::string protocols; // "6,17"; empty: all protocols
    std::string source_ports; // "20-22,25"; empty: all ports
    std::string dest_ports;

    bool operator==(const FilterRule& other) const = default;
};

// Where reading a rule stopped.
enum FilterWhere : int32_t {
    FilterInProtocol = 1,
    FilterInSource = 2,
    FilterInDestination = 3,
    FilterInObject = 4,
};

// The first error of a rule row.
struct FilterReadError {
    int32_t where = 0; // FilterWhere
    std::string object; // FilterInObject: the object's name
    std::string text; // the cell's text or the object's definition
    size_t position = 0; // where in `text` reading stopped
};

// A rule row that could not be read.
struct FilterUnreadable {
    int32_t row = 0; // row index in RuleTable
    std::string name; // the row's first cell
    FilterReadError error;
};

// The filter as read: the readable rules in table order and the rows that were not.
struct FilterList {
    std::vector<FilterRule> rules;
    std::vector<FilterUnreadable> unreadable;
};

// ---- reading ----

// Reads one row of RuleTable: 1 and the rule (normalised), 0 and the first error, -1 when there is no
// such row.
int FilterReadRow(const FilterHost& host, int32_t row, FilterRule* rule, FilterReadError* error);
// Reads every row until there is none.
FilterList FilterRead(const FilterHost& host);
// Parses one cell (1 protocol, 2 source, 3 destination) into `rule`, following object references
// through the host. Returns true, or false with the first error.
bool FilterParseCell(
    const FilterHost& host, int32_t cell, std::string_view text, FilterRule* rule, FilterReadError* error);
// The correction step: `text` replaces the object's definition (error inside an object) or the rule's
// cell, and the row is read again. Returns what FilterReadRow returns after the change; 0 when the
// row or the object to correct is not there any more.
int FilterCorrectRow(const FilterHost& host, int32_t row, const FilterReadError& error, std::string_view text,
    FilterRule* rule, FilterReadError* newError);

// ---- normalisation ----

void FilterNormalize(FilterRule* rule);

// ---- writing ----

// Limits from the plug-in parameters "maxrules" and "maxobjects" (decimal; absent: none, -1).
struct FilterLimits {
    int32_t maxRules = -1;
    int32_t maxObjects = -1;
};
FilterLimits FilterReadLimits(const FilterHost& host);

// Appends one rule (objects and row) without emptying the tables. True when all of it was written;
// on failure the rows this rule appended are removed again, so earlier rules stay intact.
bool FilterAppendRule(const FilterHost& host, const FilterRule& rule, const FilterLimits& limits);
// Empties both tables and appends every rule. Returns the number of rules that could not be written,
// or -1 without touching the tables when unreadable rows exist and `dropUnreadable` is false (writing
// would lose them).
int FilterWrite(const FilterHost& host, const std::vector<FilterRule>& rules, size_t unreadableCount,
    bool dropUnreadable, const FilterLimits& limits);

// The plug-in parameter "macfilter": true when not 0.
bool FilterMacEnabled(const FilterHost& host);

// ---- texts ----

std::string FilterAddressText(uint32_t address); // dotted, host order
std::string FilterStationText(const FilterStation& station);
std::string FilterActionText(uint32_t action);
std::string FilterWhereText(const FilterReadError& error); // "protocol", ..., "object NAME"
// A station given as "local", "host:NAME", "mac:HEX", "ip:A[-B]" or "net:A/MASK"; false when unreadable.
bool FilterParseStationArg(std::string_view text, FilterStation* station);

// The messages the user sees.
extern const char* const FilterMsgNotAllWritten;
extern const char* const FilterMsgDuplicateName;
