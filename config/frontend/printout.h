// The printout of a configuration, laid out in character cells on pages of a given size: a header
// block (device name, type, firmware, where the configuration came from, the date printed), each
// section's title as a heading, items as "description  value unit" below their group captions,
// tables as grids whose column headers repeat on every page the table continues on, long texts
// wrapped (never cut) and "Page %d of %d" at the foot of every page. The same pages are written as
// text by the command-line tool and drawn by the Win32 renderer (config/ui/print_win.h), which picks
// the number of columns and lines from the printer's page.
#pragma once

#include <cstdint>
#include <span>
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
    PrintStrRuleColumns = 2175, // "Name" ... "Option": the six columns of the IP filter's RuleTable
    PrintStrObjectColumns = 2181, // "Name", "Definition": the two columns of its ObjectTable
    PrintStrUnreadable = 2183, // "Could not be read (%s):": a filter rule's cell that does not parse
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

// A piece of a line: its text is `size` characters at `at` in the printout's texts.
struct PrintCell {
    int x = 0; // first character column
    uint32_t at = 0;
    uint32_t size = 0; // at most the room from x to the line's end
    PrintPart part = PrintPart::Text;
    const CfgItem* item = nullptr;
    const CfgRow* row = nullptr;
};

struct PrintLine {
    PrintStyle style = PrintStyle::Item;
    uint32_t firstCell = 0; // its cells, left to right and never overlapping, in the printout's cells
    uint32_t cellCount = 0; // 0: a blank line
};

struct PrintPage {
    std::vector<PrintLine> lines;
};

// Lines of the body that go on one page together when they fit on one (an item with its wrapped
// lines, a table row), the units the pages are made of.
struct PrintBlock {
    uint32_t first = 0; // the first of its lines in the body
    uint32_t count = 0;
    bool keepWithNext = false; // headings, captions, column headers: never last on a page
    bool gapBefore = false; // a blank line before it, unless it starts a page
    int32_t header = -1; // a table row: the block of its column headers, repeated on a new page
};

// The pages, with every cell and its text kept once (a table's column headers repeated on a later
// page are the same cells again). A layout into a record that held one before reuses its storage.
struct Printout {
    std::vector<PrintPage> pages;
    std::vector<PrintCell> cells;
    std::string texts;
    std::vector<PrintLine> body; // the lines in reading order, before the pages were made
    std::vector<PrintBlock> blocks;

    std::span<const PrintCell> Cells(const PrintLine& line) const
    {
        return std::span<const PrintCell>(cells.data() + line.firstCell, line.cellCount);
    }
    std::string_view Text(const PrintCell& cell) const
    {
        return std::string_view(texts.data() + cell.at, cell.size);
    }
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

// Lays out the printout of every section of `desc` with its values as the display texts show them. The
// IP filter's page prints its rules as the rule editor shows them (name, action, stations, protocol
// names, ports), one block a rule, instead of its two tables' cells.
Printout CfgLayoutPrintout(const CfgDescription& desc, const PrintHeader& header, const PrintOptions& options);
// The same into `out`, reusing its storage (a preview laid out again, a benchmark's rounds).
void CfgLayoutPrintout(
    const CfgDescription& desc, const PrintHeader& header, const PrintOptions& options, Printout* out);

// The pages as text: each line's cells at their columns, lines ended by "\n", pages separated by a form
// feed ("\f").
std::string CfgPrintoutText(const Printout& printout);
// The same into `out` (its storage reused).
void CfgPrintoutText(const Printout& printout, std::string* out);

// `text` wrapped into lines of at most `width` (at least 1) characters: broken at blanks where a word
// fits, inside a word where it does not; the blanks at a break are dropped, others kept; control
// characters show as blanks. No line for an empty text.
std::vector<std::string> CfgWrapText(std::string_view text, int width);

// The header of a table's column: its description; for a column a plug-in table declares by count only
// (named "1", "2", ...), the column's meaning in the program's language where the table is one the
// suite knows (the IP filter's RuleTable and ObjectTable), else its name.
std::string CfgColumnHeader(const CfgItem& table, size_t column);

// The header's values for a configuration: its device name ("/sys/name"), `type` and `firmware`,
// `source`, and today's date in the user's short-date format.
PrintHeader CfgPrintHeader(
    const CfgDescription& desc, const std::string& type, const std::string& firmware, const std::string& source);
