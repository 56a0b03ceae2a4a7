// The about box's record and the texts built from it. The dialog itself is Win32 (common/ui/aboutbox.h).
#pragma once

#include "common/locale.h"
#include "common/placement.h"
#include "common/strings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Which texts come from string-table ids instead of the text fields, and what is built.
enum : uint32_t {
    kAboutTitleId = 2,
    kAboutProductId = 4,
    kAboutProduct2Id = 8,
    kAboutBuildVersion = 16, // the version line from the numbers and the build date
    kAboutBuildCopyright = 32, // the copyright line from the years
    kAboutCompanyId = 64,
    kAboutAdditionalId = 128,
    kAboutWebId = 256,
    kAboutCenterOnCursor = 512,
};

// The patterns of the built lines. Every program's string tables carry them under these ids.
inline constexpr unsigned kAboutVersionPatternId = 9000; // "Version %d.%02d.%04d (%s)"
inline constexpr unsigned kAboutCopyrightPatternId = 9001; // "Copyright (c) %s"

struct AboutBoxRecord {
    uint32_t flags = 0;
    void* instance = nullptr; // module whose string table supplies texts given by id
    // The program's string tables for texts given by id and for the patterns. Without them the dialog
    // loads the strings from the module's own string table.
    const StrCatalog* strings = nullptr;
    std::string title; // each text field holds at most 255 characters
    std::string product;
    std::string product2;
    std::string version;
    std::string copyright;
    std::string company;
    std::string additional;
    std::string web;
    // The string ids of the texts whose flag is set.
    uint16_t titleId = 0;
    uint16_t productId = 0;
    uint16_t product2Id = 0;
    uint16_t companyId = 0;
    uint16_t additionalId = 0;
    uint16_t webId = 0;
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    LocaleDate buildDate;
    uint16_t firstYear = 0;
    uint16_t lastYear = 0;
};

// Where the texts given by id come from: the catalog, or on Windows the module's string table.
using AboutStringSource = std::function<std::string(unsigned id)>;

// The version line: `pattern` (string kAboutVersionPatternId) with major, minor, build and the build date
// as a short date of the current locale. A pattern whose conversions are not %d %02d %04d %s in this
// order gives an empty line instead of reading arguments it was not given.
std::string AboutVersionLine(const AboutBoxRecord& record, std::string_view pattern);
// The copyright line: `pattern` (string kAboutCopyrightPatternId, one %s) with the first year alone, or
// "first-last" when the last year is greater. A first year of 0 takes the year of the build date when
// the version line is built.
std::string AboutCopyrightLine(const AboutBoxRecord& record, std::string_view pattern);
// The same with the patterns of the record's catalog.
std::string AboutVersionLine(const AboutBoxRecord& record);
std::string AboutCopyrightLine(const AboutBoxRecord& record);
// Fills the text fields the flags take from string ids, then builds the version and copyright lines
// the flags ask for (every field cut to 255 characters).
void AboutResolveTexts(AboutBoxRecord* record, const AboutStringSource& load);
// The same from the record's catalog.
void AboutBuildLines(AboutBoxRecord* record);

// A compiler's build date ("Mmm dd yyyy", the day padded with a blank) as a date; false for other text.
bool AboutParseCompilerDate(std::string_view text, LocaleDate* date);
// `window` moved so that its centre is at x, y, then pushed inside the work area (left and top edges
// win when it does not fit). The size is kept.
PlaceRect AboutRectOnPoint(const PlaceRect& window, int32_t x, int32_t y, const PlaceRect& workArea);
