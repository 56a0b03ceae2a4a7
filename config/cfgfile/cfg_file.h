// The configuration text (what a device sends and takes back) and configuration files (".lcf": three
// header lines, then the text with secret values scrambled). The reader fills a description's values
// from a text, the writer produces a new text from an old one and the description.
#pragma once

#include "common/tempstream.h"
#include "config/description/cfg_types.h"

#include <cstdint>
#include <string>
#include <string_view>

// Longest line of a configuration text.
constexpr size_t CfgMaxTextLine = 1023;
// Longest header line a configuration file's header reader takes.
constexpr size_t CfgMaxHeaderLine = 255;

// Fills the store from configuration text; bad lines are reported (Diag) and skipped. Changed flags
// stay as they are. The stream is rewound at the end.
void CfgReadFile(CfgTempStream& text, CfgDescription& desc);

// Writes a new configuration text: the lines of `old` that the store does not own, "{Changed}", then
// every value of the store. Returns the new stream (rewound); `old` is closed. When no temporary file
// can be made, returns `old` itself, rewound and unchanged.
CfgTempStream CfgWriteFile(CfgTempStream old, CfgDescription& desc);

// The three header lines of a configuration file.
int CfgWriteFileHeader(CfgTempStream& out, std::string_view comment, std::string_view deviceType,
    std::string_view version, uint32_t featureMask, uint32_t hardwareMask);
std::string CfgFileHeaderText(std::string_view comment, std::string_view deviceType, std::string_view version,
    uint32_t featureMask, uint32_t hardwareMask);

// What the three header lines of a configuration file say.
struct CfgFileHeader {
    std::string comment;
    std::string deviceType;
    std::string version;
    uint32_t featureMask = 0xFFFFFFFFu; // all features when the header has no masks
    uint32_t hardwareMask = 0;
    bool masksGiven = false;
};
// Parses the header of the file at `path`; false unless all three lines parse.
bool CfgReadFileHeader(const std::string& path, CfgFileHeader* header);
// The same on the first lines of a text already in memory.
bool CfgParseFileHeader(std::string_view text, CfgFileHeader* header);

// Writes a configuration file at `path`: the header, then the text (every section line left out) with
// the values of secret items scrambled unless `noCrypt`. The description of the device (loaded through
// the description index, no language, full mode) tells which items are secret; without one the text
// is written as it stands. False when the file cannot be written.
bool CfgExportFile(CfgTempStream& text, std::string_view deviceType, std::string_view version, uint32_t featureMask,
    uint32_t hardwareMask, const std::string& path, std::string_view comment, bool noCrypt = false);
// The same with the description given (nullptr: none).
bool CfgExportFileWith(CfgTempStream& text, const CfgDescription* desc, std::string_view deviceType,
    std::string_view version, uint32_t featureMask, uint32_t hardwareMask, const std::string& path,
    std::string_view comment, bool noCrypt);

// Reads a configuration file into a temporary text stream (rewound): the header dropped, scrambled
// values restored. Returns a closed stream when the file cannot be opened.
CfgTempStream CfgImportFile(const std::string& path);

// True when an item's values are secret in configuration files: text, digit and hex fields with hidden.
bool CfgIsSecret(const CfgItem& item);
