// What the plug-in's pages compute without windows: the texts they show in the user's language, the
// service presets, the proposed netmask, the input rules of the edit fields, the name checks and the
// filter wizard's page order and counters. The Win32 pages (filterplugin/ui/) only move these between
// controls and the rule model.
#pragma once

#include "common/strings.h"
#include "filterplugin/filter.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The library's string table (res/filterplugin/strings.<lang>).
const StrCatalog& filterplugin_Strings();
std::string FilterStr(unsigned id);

// String ids of the library's texts.
enum FilterStringId : unsigned {
    FilterStrError = 1,
    FilterStrWarning = 2,
    FilterStrColumnName = 10,
    FilterStrColumnAction = 11,
    FilterStrActionDrop = 20, // ... 23 Transfer
    FilterStrExplainDrop = 24, // ... 27 Transfer
    FilterStrStationLocal = 30, // ... 35 network
    FilterStrEnterName = 50,
    FilterStrDuplicateName = 51,
    FilterStrEnterStation = 52,
    FilterStrNotAllWritten = 53,
    FilterStrRuleCaption = 54,
    FilterStrDropUnreadable = 55,
    FilterStrCorrectRule = 56,
    FilterStrWhereProtocol = 57, // 58 source, 59 destination, 60 object %s
    FilterStrBadAddress = 61,
    FilterStrBadMac = 62,
    FilterStrWizardTitle = 70,
    FilterStrWizardSubtitle = 71,
    FilterStrAddTitle = 72,
    FilterStrNameSubtitle = 73,
    FilterStrStationSubtitle = 74,
    FilterStrSummarySubtitle = 75,
    FilterStrDeleteTitle = 76,
    FilterStrDeleteSubtitle = 77,
    FilterStrFinishNone = 80, // 81..88 the combinations of counts
    FilterStrFinishClose = 89,
    FilterStrFinishSave = 90,
    FilterStrFinishNextClose = 91, // 92: the same two with Next where the host's pages follow
    FilterStrSummaryName = 100, // ... 106 target ports
    FilterStrAllStations = 107,
    FilterStrAllProtocols = 108,
    FilterStrProtocolNumber = 120, // "Protocol %s", 121 from port, 122 to port, 123 from and to port
    FilterStrPresetFirst = 110, // 110 + FilterPreset
    FilterStrStationCaption = 224, // "Station": the station dialog's caption
    FilterStrPageNameAction = 232, // "Name and action": the rule editor's first page
    FilterStrPageStations = 233, // "Stations"
    FilterStrPageServices = 234, // "Services", also the services dialog's caption
    FilterStrCorrectCaption = 240, // "Correct filter rule"
    FilterStrSourceStations = 242, // "Source stations"
    FilterStrDestStations = 243, // "Destination stations"
    FilterStrPageTitle = 247, // "IP Filter": the configuration page's tab
};

// ---- correcting unreadable rows ----

// Offers each unreadable row of `list` for correction, in table order: `ask` shows the row with its
// error and returns true with the corrected text, false when the user cancels. The text replaces the
// object's definition or the rule's cell in the tables and the row is read again: a row that reads joins
// `list.rules` at its place in table order (after the rules of the rows before it), one still wrong is
// offered again where reading stopped now, a cancelled one (or one whose row or object went) stays in
// `list.unreadable`. Returns the number of rows corrected.
int FilterOfferCorrections(
    const FilterHost& host, FilterList& list, const std::function<bool(const FilterUnreadable&, std::string*)>& ask);

// ---- texts ----

std::string FilterActionName(uint32_t action);
std::string FilterActionExplanation(uint32_t action);
std::string FilterStationLabel(const FilterStation& station);
// Where a rule could not be read: "protocol", "source", "destination" or "object NAME".
std::string FilterWhereName(const FilterReadError& error);
// The protocol list as names: "TCP, UDP, Protocol 47"; "All" when empty. A rule's only protocol, when it
// has no name, names the rule's ports too: "Protocol 47 from port 5 to port 6".
std::string FilterProtocolNames(
    std::string_view protocols, std::string_view sourcePorts = {}, std::string_view destPorts = {});
// The summary page: one "Label:\tvalue" line per field, further stations on lines of their own after a
// tab, lines joined with CR LF.
std::string FilterSummaryText(const FilterRule& rule);
// The finish page's text for the rules added (a rule still to be added included) and deleted; its last
// sentence names the button that goes on: Finish on the sheet's last page, Next where pages of the
// host follow.
std::string FilterFinishText(int added, int deleted, bool finishButton = true);
// "Filter rule %s" for the rule editor's caption.
std::string FilterRuleCaption(std::string_view name);

// ---- services ----

enum FilterPreset : int32_t {
    FilterPresetAll = 0,
    FilterPresetWeb,
    FilterPresetMail,
    FilterPresetFileTransfer,
    FilterPresetTerminal,
    FilterPresetNames,
    FilterPresetUser,
    FilterPresetCount,
};
// The preset a rule's services match (all services when the protocols are empty; user-defined when no
// preset matches all three texts).
FilterPreset FilterPresetOf(const FilterRule& rule);
// Sets the rule's protocols and ports from a preset; user-defined keeps what was entered.
void FilterApplyPreset(FilterRule* rule, FilterPreset preset);
// The protocols of the services boxes: 6, 17, 1 for the checked boxes, then the other numbers.
std::string FilterProtocolsFromBoxes(bool tcp, bool udp, bool icmp, std::string_view other);
// The reverse: which boxes a protocol list checks, and the numbers left for the other field.
void FilterProtocolsToBoxes(std::string_view protocols, bool* tcp, bool* udp, bool* icmp, std::string* other);

// ---- stations ----

// The mask proposed for a network address, from its class.
uint32_t FilterProposedMask(uint32_t address);
// A dotted address typed into a field; false when it is not four numbers up to 255.
bool FilterParseAddress(std::string_view text, uint32_t* address);
// A MAC address of up to 12 hex digits, the missing leading bytes 0.
bool FilterParseMac(std::string_view text, uint8_t mac[6]);
std::string FilterMacText(const uint8_t mac[6]);

// ---- edit fields ----

enum FilterField : int32_t {
    FilterFieldRuleName,
    FilterFieldStationName,
    FilterFieldMac,
    FilterFieldAddress,
    FilterFieldProtocols,
    FilterFieldPorts,
};
// Whether a typed character is taken (others are refused with a beep). Station names also refuse ","
// and "+", which the rule language reads as separators.
bool FilterFieldAccepts(FilterField field, char c);
// The field's length limit (0: none beyond the control's).
size_t FilterFieldLimit(FilterField field);

// ---- names ----

// The rule editor's check: 0, or the id of the message (empty name; another rule of `rules` than
// `self` with the same name, ignoring case).
unsigned FilterCheckName(std::string_view name, const std::vector<FilterRule>& rules, const FilterRule* self);
// The wizard's check against the device's RuleTable.
unsigned FilterCheckNewName(const FilterHost& host, std::string_view name);

// ---- the filter wizard ----

enum FilterWizardPage : int32_t {
    FilterPageStart = 10200,
    FilterPageName = 10201,
    FilterPageSource = 10202,
    FilterPageDest = 10203,
    FilterPageService = 10204,
    FilterPageFinish = 10205,
    FilterPageDelete = 10206,
    FilterPageSummary = 10520,
};
constexpr int32_t FilterModeAdd = 1;
constexpr int32_t FilterModeDelete = 2;

// The pages in the order the wizard shows them.
extern const int32_t FilterWizardOrder[8];
// Whether `page` is shown in `mode`.
bool FilterWizardShows(int32_t page, int32_t mode);
// The page shown after (`forward`) or before `page` in `mode`; 0 past either end.
int32_t FilterWizardStep(int32_t page, int32_t mode, bool forward);

// The wizard's state, kept by its first page.
struct FilterWizardState {
    FilterHost host;
    int32_t mode = FilterModeAdd;
    FilterRule rule; // the rule being defined
    int added = 0;
    int deleted = 0;
    bool pending = false; // the rule on the summary page is added at Finish
    FilterList list; // the delete page's rules

    // Leaving the summary page with the box for another rule set: the rule is appended at once and
    // counted, a fresh rule started. False when it could not be written (the wizard stays).
    bool AddAnother();
    // Leaving the summary page without the box: the rule is added at Finish.
    void MarkPending();
    // Back from the summary page to edit the rule: it is no longer due at Finish.
    void Unmark();
    // The delete page: removes rule `index` of the list and counts it.
    bool DeleteAt(size_t index);
    // Leaving the delete page: writes the filter without the deleted rules. Returns the rules that
    // could not be written (FilterWrite).
    int WriteDeletions();
    // Finish: appends the pending rule. False when it could not be written (the wizard stays).
    bool Finish();
    // The finish page's text.
    std::string FinishText(bool finishButton = true) const;
};
