// Wizard scripts: the "wizard" blocks of the wizard files ("qorv????.wiz"), found through the description
// index, listed for a device and loaded into a WizScript whose pages are sections of a CfgDescription,
// so that the store's lookups (CfgFindItem, CfgResolveName) find the items on wizard pages.
#pragma once

#include "config/description/cfg_reader.h"
#include "config/description/cfg_types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A loaded wizard. Pages are the sections of `pages` in file order (each page's `owner` is `pages`,
// whose first section is the wizard's first page); a plug-in page has `plugin` set and keeps its module
// and parameters. Freeing the script frees everything it holds.
struct WizScript {
    std::string name; // the header's first argument
    std::string title; // the header's second argument
    int defaultFlag = 0; // 1 when requested under the name "DEFAULT" (ignoring case)
    CfgDescription pages;
    std::vector<WizAction> onInit; // "on_init": runs when the wizard is loaded
    std::vector<WizAction> onApply; // "on_apply": runs after Finish, in apply mode
};
using WizScriptPtr = std::unique_ptr<WizScript>;

// The file of the first wizard header (index entry of kind 4) with that name (ignoring case) whose
// language passes (a requested language and a language argument other than "*" must be equal) and
// whose device patterns, if any, match `deviceKey` under `featureMask`; searched again without the
// language test when none matches. Nullptr when there is none. Waits for the index as needed.
std::unique_ptr<CfgFile> WizOpenScript(
    std::string_view name, const std::string& deviceKey, const char* language, uint32_t featureMask);

// Loads the wizard `name` (nullptr: "DEFAULT") of the device from the file WizOpenScript finds, in
// `language` (nullptr: any), falling back to any language when the file has no block in that one.
// Nullptr when no matching block exists. Diagnostics go through Diag().
WizScriptPtr WizLoad(const char* name, std::string_view deviceType, std::string_view version, const char* language,
    uint32_t featureMask);
// The same from an open file (the index is not consulted).
WizScriptPtr WizLoadFrom(
    CfgFile& file, std::string_view name, const std::string& deviceKey, const char* language, uint32_t featureMask);

// One wizard of the list: name and title.
struct WizListEntry {
    std::string name;
    std::string title;
};
// Room of the wizard list of the selection page.
constexpr size_t WizListSize = 1024;

// The wizards available for a device, sorted by name: every wizard header of the index that matches
// the device, DEFAULT only with `includeDefault`; a header in the requested language replaces one of
// the same name found earlier. Listing stops at the first pair that no longer fits into `size` bytes
// (pairs of NUL-terminated name and title, ended by an empty text). Waits until the index is complete.
std::vector<WizListEntry> WizList(std::string_view deviceType, std::string_view version, const char* language,
    uint32_t featureMask, bool includeDefault, size_t size = WizListSize);
// The list written into `buffer` (cleared first) as such pairs; returns the number of pairs.
int WizListAvailable(std::string_view deviceType, std::string_view version, const char* language, uint32_t featureMask,
    bool includeDefault, char* buffer, size_t size);
