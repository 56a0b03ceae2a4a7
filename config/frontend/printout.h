// The printout of a configuration, laid out in character cells on pages of a given size: a header
// block (device name, type, firmware, where the configuration came from, the date printed), each
// section's title as a heading, items as "description  value unit" below their group captions,
// tables as grids whose column headers repeat on every page the table continues on, long texts
// wrapped (never cut) and "Page %d of %d" at the foot of every page. The same pages are written as
// text by the command-line tool and drawn by the Win32 renderer (config/ui/print_win.h), which picks
// the number of columns and lines from the printer's page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CfgDescription;
struct CfgItem;
struct CfgRow;

// String ids of the printout's texts.
enum : unsigned {
    PrintStrDeviceName = 2160, // "Device name:"
    PrintStrDeviceType = 2161, // "Device type:"
    PrintStrFirmware = 2162, // "Firmware version:"
    PrintStrSource = 2163, // "Source:"
    PrintStrPrinted = 2164, // "Printed:"
    PrintStrPage = 2165, // "Page %d of %d"
};

// What a line of the printout is.
enum class PrintStyle : uint8_t {
    Header, // a line of the header block (first page)
    Rule, // a horizontal line: below the header, below a table's column headers
    Heading, // a section's title
    Caption, // a group's caption, a table's description
    Item, // an item's description and value
    TableHeader, // a table's column headers
    TableRow, // a table row
    Footer, // "Page %d of %d"
};

// What a cell of a line shows.
enum class PrintPart : uint8_t {
    Text, // a title, caption, header label, rule or the footer
    Label, // an item's or a column's description (`item` the item or column)
    Value, // a value (`item` the item or column, `row` the table row)
    Grid, // a table's column separator
};

struct PrintCell {
    int x = 0; // first character column
    std::string text; // at most as long as the room from x to the line's end
    PrintPart part = PrintPart::Text;
    const CfgItem* item = nullptr;
    const CfgRow* row = nullptr;
};

struct PrintLine {
    PrintStyle style = PrintStyle::Item;
    std::vector<PrintCell> cells; // left to right, never overlapping
};

struct PrintPage {
    std::vector<PrintLine> lines; // blank lines are lines without cells
};

// The header block's values.
struct PrintHeader {
    std::string deviceName;
    std::string deviceType;
    std::string firmware;
    std::string source; // the device's address, or the file's path
    std::string date; // the date printed, in the user's format
};

constexpr int PrintMinColumns = 20;
constexpr int PrintMinLines = 12;

struct PrintOptions {
    int columns = 80; // characters a line (raised to PrintMinColumns)
    int lines = 66; // lines a page, the footer included (raised to PrintMinLines)
    bool hidePasswords = true; // "&Hide passwords in printout": secrets show as "*"
};

// Lays out the printout of every section of `desc` with its values as the display texts show them.
std::vector<PrintPage> CfgLayoutPrintout(const CfgDescription& desc, const PrintHeader& header, const PrintOptions& options);

// The pages as text: each line's cells at their columns, lines ended by "\n", pages separated by a form
// feed ("\f").
std::string CfgPrintoutText(const std::vector<PrintPage>& pages);

// `text` wrapped into lines of at most `width` (at least 1) characters: broken at blanks where a word
// fits, inside a word where it does not; the blanks at a break are dropped, others kept; control
// characters show as blanks. No line for an empty text.
std::vector<std::string> CfgWrapText(std::string_view text, int width);

// The header's values for a configuration: its device name ("/sys/name"), `type` and `firmware`,
// `source`, and today's date in the user's short-date format.
PrintHeader CfgPrintHeader(
    const CfgDescription& desc, const std::string& type, const std::string& firmware, const std::string& source);
