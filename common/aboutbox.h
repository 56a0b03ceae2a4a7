// The about box's record and the texts built from it. The dialog itself is Win32 (common/ui/).
#pragma once

#include "common/locale.h"

#include <cstdint>
#include <string>

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

struct AboutBoxRecord {
    uint32_t flags = 0;
    void* instance = nullptr; // module whose string table supplies texts given by id
    std::string title; // each text field holds at most 255 characters
    std::string product;
    std::string product2;
    std::string version;
    std::string copyright;
    std::string company;
    std::string additional;
    std::string web;
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    LocaleDate buildDate;
    uint16_t firstYear = 0;
    uint16_t lastYear = 0;
};

// "Version %d.%02d.%04d (%s)" with the build date as a short date of the current locale.
std::string AboutVersionLine(const AboutBoxRecord& record);
// "Copyright (c) %s": the first year alone, or "first-last" when the last year is greater. A first year
// of 0 takes the year of the build date when the version line is built.
std::string AboutCopyrightLine(const AboutBoxRecord& record);
// Fills the version and copyright fields the flags ask to be built (cut to 255 characters).
void AboutBuildLines(AboutBoxRecord* record);
