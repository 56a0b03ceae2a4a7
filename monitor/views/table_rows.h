// The rows of the accounting and VPN views: records built from a table walk's columns, the texts and
// images of their list lines, sorting by a list column, and the accounting file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct SnmpWalkColumn;

// Field widths: longer texts from a walk or a file are cut.
constexpr size_t kAccIdentifierMax = 15;
constexpr size_t kAccTextMax = 255;
constexpr size_t kVpnNameMax = 63;
constexpr size_t kVpnAddressMax = 24;
constexpr size_t kVpnEncryptionMax = 65;
constexpr size_t kVpnAlgorithmMax = 63;

struct AccountingRow {
    std::string identifier; // at most 15 characters; "000000..." marks a row of its own image
    std::string user;
    std::string remoteSite;
    int32_t type = 0; // 1..8, anything else "Unknown"
    uint32_t received = 0; // kilobytes
    uint32_t transmitted = 0; // kilobytes
    uint32_t onlineTime = 0; // seconds
    uint32_t connections = 0;
    bool operator==(const AccountingRow&) const = default;
};

struct VpnRow {
    std::string name, connection, gateway;
    std::string encryption; // algorithm texts with their key bits
    uint32_t encryptionBits = 0;
    std::string hash;
    uint32_t hashBits = 0;
    std::string hmac;
    uint32_t hmacBits = 0;
    uint32_t state = 0; // 4..8 have texts; 7 is connected
    uint32_t secondState = 0; // 0 picks the image after the state's
    uint32_t shortHold = 0; // seconds
};

// The columns a walk asks for, in the order the row builders take them.
constexpr uint32_t kAccountingColumns[] = { 2, 1, 3, 4, 5, 6, 8, 9 };
constexpr uint32_t kVpnColumns[] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13 };
constexpr size_t kAccountingColumnCount = 8;
constexpr size_t kVpnColumnCount = 12;

// A row from the walk's column texts (in the orders above; numbers decimal, the short hold with base
// prefixes), texts cut to their widths.
AccountingRow AccountingRowFromWalk(const SnmpWalkColumn* columns);
VpnRow VpnRowFromWalk(const SnmpWalkColumn* columns);

// List columns: accounting User, Remote Site, Type, Connections, Received, Transmitted, Total Online Time
// (titles ViewStrAccUser to ViewStrAccOnlineTime); VPN Name, State, Short Hold, Connection, Gateway, Encryption, Hmac
// and Hash Algorithm (titles ViewStrVpnName to ViewStrVpnHash).
constexpr size_t kAccountingListColumns = 7;
constexpr size_t kVpnListColumns = 8;
std::vector<std::string> AccountingColumnTitles();
std::vector<std::string> VpnColumnTitles();

// The texts of a list line in the language selected (StrSetLanguage) and the user's digit grouping.
std::vector<std::string> AccountingRowTexts(const AccountingRow& row);
std::vector<std::string> VpnRowTexts(const VpnRow& row);
// Image numbers of the monitor's strip: 2 or 14 (accounting), 25 to 28 (VPN).
int AccountingRowImage(const AccountingRow& row);
int VpnRowImage(const VpnRow& row);

// The single texts, for the window's own use.
std::string AccountingUserText(const AccountingRow& row); // without "LANUSER-"; the identifier when empty
std::string AccountingTypeText(int32_t type);
std::string AccountingSizeText(uint32_t kilobytes); // "%s KB", "%s MB", "%s GB", rounded up
std::string VpnStateText(uint32_t state);

// Sorts ascending by a list column (from 0), stable: texts compare exactly, numbers (connections,
// sizes, online time, VPN state and short hold) by value. False for a column that does not exist.
bool AccountingSort(std::vector<AccountingRow>& rows, size_t column);
bool VpnSort(std::vector<VpnRow>& rows, size_t column);

// The accounting file. The first line is the tag and the program's version; then one line per row:
// identifier;user;remote site;type;received;transmitted;online time;connections, CR LF line ends.
constexpr const char* kAccountingFileTag = "TravikAccountingFile";
struct AccountingVersion {
    int major = 0, minor = 0, build = 0;
};
std::string AccountingFileText(const std::vector<AccountingRow>& rows, const AccountingVersion& version);
// Reads file text: false (and no rows) when the first line's text up to ";" is not the tag. Fields are
// taken by position, an empty field an empty text; a line with fewer than eight fields is skipped;
// lines longer than 1023 characters are cut there; numbers are read with base prefixes.
bool AccountingFileParse(std::string_view text, std::vector<AccountingRow>* rows);
// The same on a file: 0 when it cannot be read or is no accounting file; 1 when written/read.
int AccountingFileWrite(
    const std::string& path, const std::vector<AccountingRow>& rows, const AccountingVersion& version);
int AccountingFileRead(const std::string& path, std::vector<AccountingRow>* rows);

// A translated pattern filled safely: each "%s" or "%d" takes the next argument text in turn, "%%" is
// one "%", anything else stays (a faulty translation never reads arguments that are not there).
std::string ViewsFill(const std::string& pattern, std::initializer_list<std::string_view> args);
