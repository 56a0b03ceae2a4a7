// The layout of a configuration page (or a wizard page) made from a section's items: which control
// each item gets, and where the labels, controls, units, group frames and table buttons sit, in dialog
// units. Nothing here needs a window: the Win32 page builder (config/ui/cfgpage_win.h) creates what the
// layout lists, in the layout's order, which is also the tab order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CfgItem;
struct CfgMoment;
struct CfgSection;

// The controls the pages are made of.
enum class CfgCtl : uint8_t {
    None,
    GroupBox, // frame with caption (group, group_logo)
    Logo, // the logo in a group_logo frame
    Separator, // etched horizontal line
    Text, // wrapped static text (static_text; labels; units; a slider's value)
    Icon, // the information icon of static_icon
    Edit, // one-line edit
    IpAddress, // address control
    UpDown, // up-down buddy of a numeric edit
    Date, // date picker
    Time, // time picker
    TrackBar, // slider
    Radio, // one radio button
    DropList, // drop-down list without edit
    Combo, // drop-down combo box with edit
    CheckBox, // check box (two or three states)
    ListView, // report list of a table
    Button, // push button (a table's Add, Edit, Copy, Delete)
};

// Properties of a control beyond its class.
constexpr uint32_t CfgCtlReadOnly = 0x1; // edit that cannot be typed into
constexpr uint32_t CfgCtlPassword = 0x2; // edit showing its characters as stars
constexpr uint32_t CfgCtlUpper = 0x4; // edit turning letters to capitals
constexpr uint32_t CfgCtlFiltered = 0x8; // typed characters checked against the item's character set (beep on refusal)
constexpr uint32_t CfgCtlRightAlign = 0x10; // numbers
constexpr uint32_t CfgCtlSorted = 0x20; // combo box list sorted
constexpr uint32_t CfgCtlNoDuplicates = 0x40; // combo box list without repeated texts
constexpr uint32_t CfgCtlThreeState = 0x80; // check box with an undetermined state
constexpr uint32_t CfgCtlBold = 0x100; // label of a very important item
constexpr uint32_t CfgCtlWrapped = 0x200; // static text wrapped over several lines
constexpr uint32_t CfgCtlGroupStart = 0x400; // first of a group of radio buttons (arrow keys move inside the group)
constexpr uint32_t CfgCtlTabStop = 0x800; // reached with Tab
constexpr uint32_t CfgCtlShowSeconds = 0x1000; // time picker with seconds
constexpr uint32_t CfgCtlEveryYear = 0x2000; // date picker whose year may be "(Every year)"

// The control an item's value is edited with, chosen by kind and attributes.
struct CfgControlChoice {
    CfgCtl control = CfgCtl::None; // the main control; None for kinds without one (group_end)
    uint32_t flags = 0; // CfgCtl* properties of the main control
    uint32_t maxLength = 0; // edit's text limit (0: the value rules' 255)
    bool label = false; // the description stands left of the control
    bool unit = false; // the unit stands right of the control
    bool upDown = false; // numeric edit with up-down buddy
    bool secondControl = false; // date-and-time: a time picker beside the date picker
    bool valueText = false; // slider: its value shown beside it
    int buttons = 0; // radio buttons: their number
};
CfgControlChoice CfgChooseControl(const CfgItem& item);

// The buttons of a table (static_table_menu lists them by number: 1 Add, 2 Edit, 3 Delete, 4 Copy;
// without the attribute all four).
enum CfgTableButton : int { CfgTableAdd = 1, CfgTableEdit = 2, CfgTableDelete = 3, CfgTableCopy = 4 };
std::vector<int> CfgTableButtons(const CfgItem& table);

// What a control of the layout is for.
enum class CfgRole : uint8_t {
    Decoration, // group frame, logo, separator, static text, icon (no value)
    Label, // an item's description
    Main, // the control holding the item's value (a radio button: one of several, `index` 0, 1, ...)
    Second, // date-and-time's time picker
    Buddy, // up-down of a numeric edit
    Unit, // the unit after the control
    Value, // a slider's value text
    TableButton, // `index` is the CfgTableButton
    EveryYear, // check box under a date whose year may be a wildcard: ticked, the date recurs every year
};

struct CfgLayoutControl {
    const CfgItem* item = nullptr; // the item it belongs to
    CfgRole role = CfgRole::Decoration;
    CfgCtl control = CfgCtl::None;
    uint32_t flags = 0;
    int index = 0; // radio button number, table button
    int x = 0, y = 0, width = 0, height = 0; // dialog units on the page
    std::string text; // label, caption, button text, static text
};

struct CfgLayoutOptions {
    int width = 252; // the page's client width in dialog units
    int height = 190; // the page's visible height; a taller layout scrolls
    int top = 0; // where the first item goes (a wizard page's header above it)
    int margin = 7;
    int firstId = 3000; // control id of the first control; the others follow in layout order
};

struct CfgPageLayout {
    std::vector<CfgLayoutControl> controls; // creation and tab order
    int height = 0; // bottom of the last control plus the margin
    bool scrolls = false; // taller than the visible height
};

// Lays out the items of `section` (group_end closes the innermost frame; consecutive items with the
// same non-zero `arrange` share a row). Texts of buttons come from `buttonTexts` (Add, Edit, Delete,
// Copy, in CfgTableButton order from index 1; empty: the English words).
CfgPageLayout CfgLayoutPage(
    const CfgSection& section, const CfgLayoutOptions& options, const std::vector<std::string>& buttonTexts = {});
// The same for a list of items (a table's columns in its entry dialog).
CfgPageLayout CfgLayoutItems(const std::vector<const CfgItem*>& items, const CfgLayoutOptions& options,
    const std::vector<std::string>& buttonTexts = {});

// True when an item holding `value` enables the items its enable_item names: a switch that is not
// off (the first entry of its value_list, else "0"), any other item whose value is neither empty nor "0".
bool CfgValueEnables(const CfgItem& item, const std::string& value);

// Number of lines `text` takes wrapped at `columns` characters (words kept whole where they fit; a
// word longer than a line is broken). At least 1.
int CfgWrappedLines(const std::string& text, int columns);

// The text a decoration (kinds 1 to 6) shows: its description texts joined by ", ".
std::string CfgDecorationText(const CfgItem& item);

// A date-and-time item that holds no value (none stored, no default) shows the device's own clock:
// a device keeps its clock apart from its configuration, so the value read from it has none, and the
// item is taken only when the user sets a moment.
bool CfgShowsDeviceClock(const CfgItem& item);
// The moment the device clock text ("hhmmssDDMMYYYY", as the device reports it) names, moved on by
// `seconds`. False when the text names no valid moment (a device without a clock reports zeros).
bool CfgDeviceClockMoment(const std::string& clockText, int64_t seconds, CfgMoment* moment);
