// The index of every block header in the description and wizard files, built once by a background
// thread, and the per-device blocks found through it: features, hardware block and initial data.
#pragma once

#include "config/description/cfg_reader.h"
#include "config/description/cfg_types.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CfgTempStream;

// Block header kinds.
enum CfgHeaderKind : int {
    CfgHeaderNone = 0,
    CfgHeaderVersion = 1, // "version" pattern, language
    CfgHeaderFeatures = 2, // "features" pattern
    CfgHeaderInitData = 3, // "init_data" pattern
    CfgHeaderWizard = 4, // "wizard" name, title, language, patterns...
    CfgHeaderHardware = 5, // "hardware" pattern
};
// The header kind of a keyword (exact comparison), or CfgHeaderNone.
int CfgHeaderKindOf(std::string_view keyword);

// One feature of a device: its mask and its display text (at most 255 characters).
struct CfgFeature {
    uint32_t mask = 0;
    std::string text;
};

// One block header found in a description or wizard file. Entries are linked in the order found; an
// entry is complete before it is linked, and never changes afterwards (except the feature cache,
// which has a lock of its own).
struct CfgIndexEntry {
    int kind = CfgHeaderNone; // CfgHeaderKind
    CfgArgList args; // the header's arguments ("str." already replaced)
    std::string path; // the file that holds the block
    std::atomic<CfgIndexEntry*> next { nullptr };
};

// Starts the index thread over the files matching the two patterns (full paths whose file name part
// may hold "?" and "*", e.g. "/opt/velquin/qorv????.dsc"). A second start while an index exists does
// nothing. Files are taken in name order (description files first).
void CfgStartIndex(const std::string& descriptionPattern, const std::string& wizardPattern);
// Stops the thread (clears its run flag and waits) and frees every entry.
void CfgStopIndex();
// True while the index thread is still scanning.
bool CfgIndexBusy();
// Waits until the index is complete.
void CfgWaitIndex();

// The first entry for which `pred` holds, waiting for the index thread when the list is exhausted but
// the thread still runs; nullptr when none.
const CfgIndexEntry* CfgFindIndexEntry(const std::function<bool(const CfgIndexEntry&)>& pred);

// Test hook: called by the index thread before it opens each file (may block to hold the thread).
void CfgSetIndexFileHook(std::function<void(const std::string& path)> hook);

// The first entry of `kind` whose pattern matches the device key under the feature mask and whose
// language (second header argument) equals `language` exactly; without such an entry (or without a
// language), any language. Nullptr when nothing matches.
const CfgIndexEntry* CfgFindBlock(const std::string& deviceKey, const char* language, int kind, uint32_t featureMask);

// Opens the file of the entry CfgFindBlock finds; nullptr when none or when it cannot be opened.
std::unique_ptr<CfgFile> CfgOpenDescription(
    const std::string& deviceKey, const char* language, int kind, uint32_t featureMask);

// The n-th (0-based) feature of the device whose mask has a bit in common with `featureMask`.
// Returns 1 and fills `mask` and `text`, or 0 when there is no such feature.
int CfgGetFeature(std::string_view deviceType, std::string_view version, const char* language, uint32_t featureMask,
    int n, uint32_t* mask, std::string* text);

// Builds the initial configuration text of a new configuration: the hardware block sets environment
// strings and the hardware mask (`hardwareMask`, in/out), then the matching "init_data" block is
// written, behind the three header lines of a configuration file, into a temporary stream (rewound).
// Without an init_data block the stream is empty. Returns 0 when no temporary stream can be made.
int CfgReadHardwareBlock(std::string_view deviceType, std::string_view version, std::string_view comment,
    uint32_t featureMask, uint32_t* hardwareMask, CfgTempStream* out);

// After the index is complete: the distinct device types of all hardware blocks (each block's pattern
// up to its last blank), in index order. Writes NUL-terminated texts ended by an empty text into
// `buffer`, as many as fit; returns their count. The vector forms return all of them.
int CfgListDeviceTypes(char* buffer, size_t size);
std::vector<std::string> CfgListDeviceTypes();
// The distinct versions of the hardware blocks whose pattern begins with `deviceType`: the pattern
// after its last blank, cut at "#", padded with "0" to at least 4 characters.
int CfgListVersions(std::string_view deviceType, char* buffer, size_t size);
std::vector<std::string> CfgListVersions(std::string_view deviceType);

// Environment strings of the hardware block ("_putenv" semantics: an empty value removes the name).
// Returns 0 on success, else an error code.
int CfgPutEnv(std::string_view name, std::string_view value);
// The value of an environment string, or false when it is not set.
bool CfgGetEnv(std::string_view name, std::string* value);
