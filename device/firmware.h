// Firmware files (".upx"): the 128-byte header that says what a file is for, the device type pattern it
// names, the version rules that decide whether a file suits a device, the texts the file dialog shows
// and the questions asked before a manual upload.
#pragma once

#include "common/locale.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct DeviceEntry;

// Firmware file kinds: 0 not a firmware file, 1 unknown, 2 boot loader, 3 firmware, 4 update firmware,
// 5 "D" (shown as unknown).
enum FirmwareKind : int {
    FirmwareNone = 0,
    FirmwareUnknown = 1,
    FirmwareBootLoader = 2,
    FirmwareFull = 3,
    FirmwareUpdate = 4,
    FirmwareKindD = 5,
};

// Header layout: offsets and widths of the fixed fields (texts are not terminated).
constexpr size_t kFirmwareHeaderSize = 128;
constexpr size_t kFirmwareMagicAt = 62; // "QTX"
constexpr size_t kFirmwareKindAt = 65; // kind letter
constexpr size_t kFirmwareDateAt = 69, kFirmwareDateWidth = 8; // "DDMMYYYY"
constexpr size_t kFirmwareCountryAt = 77, kFirmwareCountryWidth = 3; // decimal, "000" none
constexpr size_t kFirmwareVersionAt = 80, kFirmwareVersionWidth = 4;
constexpr size_t kFirmwarePatternAt = 84, kFirmwarePatternWidth = 39; // "_" stands for a blank
constexpr size_t kFirmwareAppliesAt = 123, kFirmwareAppliesWidth = 4; // kind "U": highest version it updates

// What the header says. Texts are the fields without their padding (trailing blanks and NULs; a field
// ends at its first NUL); the pattern keeps its "_".
struct FirmwareHeader {
    int kind = FirmwareNone;
    char letter = 0; // the kind letter as found
    std::string date; // "DDMMYYYY" as written
    int country = 0; // 0: none
    std::string version;
    std::string pattern;
    std::string applies; // kind 4: empty when the update applies to any version
};

// Reads a header from the first bytes of a file. Returns the kind (0 when shorter than 128 bytes or
// without the magic; `header` then holds kind 0 only).
int FirmwareReadHeader(const void* data, size_t size, FirmwareHeader* header);
// The 128 header bytes of `header` (the letter gives the kind; texts cut to their widths, padded with
// blanks; the pattern as given, "_" for blanks). The rest of the first bytes is blank.
std::string FirmwareBuildHeader(const FirmwareHeader& header);
// Reads the header of the file at `path` (0 when it cannot be read).
int FirmwareReadFile(const std::string& path, FirmwareHeader* header);

// The name of the language of the first installed locale whose country code is `country`, up to any
// parenthesis ("German"); "" when none is.
std::string FirmwareCountryLanguage(int country);
// The file dialog's description of a file: "Firmware update, version %s of %s", with " (language)"
// for a country. `version`/`date` replace the header's when not empty (an update description's
// "Version" key). "" for kind 0.
std::string FirmwareDescribe(const FirmwareHeader& header, std::string_view version = {}, std::string_view date = {});
// The header's date for display (the locale's short date), or the text as written when it is no date.
std::string FirmwareDateText(std::string_view ddmmyyyy);

// Device type patterns: literal text ("_" a blank, letters ignoring case) in which "[a;b;...]" stands
// for one of the alternatives, the longest that matches at that point; the pattern must match the
// whole name.
bool FirmwarePatternMatch(std::string_view pattern, std::string_view name);
// Whether a pattern is meant for a device: it matches "type#hardware release" or the type alone.
bool FirmwarePatternFits(std::string_view pattern, std::string_view deviceType, std::string_view hwRelease);

// Dates: "DD.MM.YYYY" (the system information's form) or "DDMMYYYY". False when unreadable.
bool FirmwareParseDate(std::string_view text, LocaleDate* date);
// Versions compared as numbers field by field ("3.22.0005" > "3.3"; missing fields are 0). -1, 0, 1.
int FirmwareVersionCompare(std::string_view a, std::string_view b);

// Whether a device's version is the file's: the file's fields equal the device's first fields
// ("3.30" is "3.30.0012"). An empty device version is none.
bool FirmwareVersionIs(std::string_view deviceVersion, std::string_view fileVersion);

// Matching a file to a device.
enum FirmwareMatchResult : int {
    FirmwareNotForDevice = 0,
    FirmwareOlder = 1, // the file's date is before the device's firmware date
    FirmwareSuitable = 2,
};
// 0, 1 or 2. An unreadable date (of the file or the device) never counts as older.
int FirmwareMatch(const FirmwareHeader& header, std::string_view deviceType, std::string_view hwRelease,
    std::string_view deviceFwDate);
int FirmwareMatch(const FirmwareHeader& header, const DeviceEntry& entry);
// The meaning of a match result as a short English line (command-line output).
const char* FirmwareMatchMeaning(int match);

// The questions before a manual upload of `header` to the selected devices, in the order they are
// asked: the mismatch question when some (or the one) device does not match, the downgrade question
// when some (or the one) would get an older firmware. Only "Yes" to each continues.
std::vector<std::string> FirmwareUploadQuestions(
    const FirmwareHeader& header, const std::vector<const DeviceEntry*>& devices);

// The image parameter of "writeflash": the low half is 1 + the image slot to write (0: the device writes
// the image that is not running), the high half is reserved (0).
uint32_t FirmwareImageParam(int image);

// The texts of this area (ids of the device layer's table, read with DeviceText).
constexpr unsigned FwStrBootLoader = 1760;
constexpr unsigned FwStrFirmware = 1761;
constexpr unsigned FwStrUpdate = 1762;
constexpr unsigned FwStrUpdateAny = 1763;
constexpr unsigned FwStrUnknownKind = 1764;
constexpr unsigned FwStrNotMatchingSome = 1765;
constexpr unsigned FwStrDowngradeSome = 1766;
constexpr unsigned FwStrNotMatchingOne = 1767;
constexpr unsigned FwStrDowngradeOne = 1768;
constexpr unsigned FwStrUnknownDeviceType = 1769;
constexpr unsigned FwStrActivateTestMode = 1770;
constexpr unsigned FwStrFailedToStart = 1771;
constexpr unsigned FwStrFileFilter = 1772;
constexpr unsigned FwStrVersion = 1125; // "Ver. %s (%s)": a version and its date
