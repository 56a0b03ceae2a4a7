#include "monitor/views/table_rows.h"

#include "common/locale.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/objtree/expr.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/views/texts.h"

#include <algorithm>

namespace {

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

// Decimal digits up to the first other character, wrapping modulo 2^32 as the device's counters do.
uint32_t Decimal(std::string_view text)
{
    text = TrimLeft(text);
    uint32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    return n;
}

// A number with base prefixes and an optional sign, as strtoul reads it ("-1" is the largest value).
int32_t SignedWithBase(std::string_view text)
{
    text = TrimLeft(text);
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        text.remove_prefix(1);
    uint32_t n = ParseUnsigned(text);
    return static_cast<int32_t>(negative ? 0u - n : n);
}

std::string Number(uint64_t value)
{
    return LocaleInteger(static_cast<int64_t>(value));
}

// A text as a file field: ";" and line breaks would split the line, so they become blanks.
std::string Field(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c == ';' || c == '\r' || c == '\n')
            c = ' ';
    return out;
}

template<typename Row, typename Key> void SortBy(std::vector<Row>& rows, Key key)
{
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return key(a) < key(b); });
}

} // namespace

std::string ViewsFill(const std::string& pattern, std::initializer_list<std::string_view> args)
{
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            char c = pattern[i + 1];
            if ((c == 's' || c == 'd') && next != args.end()) {
                out += *next++;
                ++i;
                continue;
            }
            if (c == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

AccountingRow AccountingRowFromWalk(const SnmpWalkColumn* c)
{
    AccountingRow r;
    r.identifier = CutTo(c[0].text, kAccIdentifierMax);
    r.user = CutTo(c[1].text, kAccTextMax);
    r.remoteSite = CutTo(c[2].text, kAccTextMax);
    r.type = static_cast<int32_t>(Decimal(c[3].text));
    r.received = Decimal(c[4].text);
    r.transmitted = Decimal(c[5].text);
    r.onlineTime = Decimal(c[6].text);
    r.connections = Decimal(c[7].text);
    return r;
}

VpnRow VpnRowFromWalk(const SnmpWalkColumn* c)
{
    VpnRow r;
    r.name = CutTo(c[0].text, kVpnNameMax);
    r.connection = CutTo(c[1].text, kVpnAddressMax);
    r.gateway = CutTo(c[2].text, kVpnAddressMax);
    r.encryption = CutTo(c[3].text, kVpnEncryptionMax);
    r.encryptionBits = Decimal(c[4].text);
    r.hash = CutTo(c[5].text, kVpnAlgorithmMax);
    r.hashBits = Decimal(c[6].text);
    r.hmac = CutTo(c[7].text, kVpnAlgorithmMax);
    r.hmacBits = Decimal(c[8].text);
    r.state = Decimal(c[9].text);
    r.secondState = Decimal(c[10].text);
    r.shortHold = ParseUnsigned(c[11].text);
    return r;
}

std::vector<std::string> AccountingColumnTitles()
{
    std::vector<std::string> titles;
    for (unsigned id = ViewStrAccUser; id <= ViewStrAccOnlineTime; ++id)
        titles.push_back(Text(id));
    return titles;
}

std::vector<std::string> VpnColumnTitles()
{
    std::vector<std::string> titles;
    for (unsigned id = ViewStrVpnName; id <= ViewStrVpnHash; ++id)
        titles.push_back(Text(id));
    return titles;
}

std::string AccountingUserText(const AccountingRow& row)
{
    if (row.user.empty())
        return row.identifier;
    std::string_view user = row.user;
    if (user.starts_with("LANUSER-"))
        user.remove_prefix(8);
    return std::string(user);
}

std::string AccountingTypeText(int32_t type)
{
    return Text(type >= 1 && type <= 8 && type != 3
            ? ViewStrTypeUnknown + static_cast<unsigned>(type) - (type > 3 ? 1 : 0)
            : ViewStrTypeUnknown);
}

std::string AccountingSizeText(uint32_t kb)
{
    if (kb < (1u << 20))
        return ViewsFill(Text(ViewStrSizeKb), { Number(kb) });
    if (kb < (1u << 30))
        return ViewsFill(Text(ViewStrSizeMb), { Number((uint64_t { kb } + 1023) / 1024) });
    return ViewsFill(Text(ViewStrSizeGb), { Number((uint64_t { kb } + (1u << 20) - 1) >> 20) });
}

std::string VpnStateText(uint32_t state)
{
    return state >= 4 && state <= 8 ? Text(ViewStrStateOutgoing + state - 4) : std::string();
}

std::vector<std::string> AccountingRowTexts(const AccountingRow& row)
{
    return {
        AccountingUserText(row),
        row.remoteSite,
        AccountingTypeText(row.type),
        std::to_string(row.connections),
        AccountingSizeText(row.received),
        AccountingSizeText(row.transmitted),
        ExprDuration(row.onlineTime),
    };
}

std::vector<std::string> VpnRowTexts(const VpnRow& row)
{
    std::string bits = Text(ViewStrKeyBits);
    return {
        row.name,
        VpnStateText(row.state),
        ViewsFill(Text(ViewStrShortHoldSeconds), { std::to_string(row.shortHold) }),
        row.connection,
        row.gateway,
        ViewsFill(bits, { row.encryption, std::to_string(row.encryptionBits) }),
        ViewsFill(bits, { row.hmac, std::to_string(row.hmacBits) }),
        ViewsFill(bits, { row.hash, std::to_string(row.hashBits) }),
    };
}

int AccountingRowImage(const AccountingRow& row)
{
    return row.identifier.starts_with("000000") ? 2 : 14;
}

int VpnRowImage(const VpnRow& row)
{
    return (row.state == 7 ? 27 : 25) + (row.secondState == 0 ? 1 : 0);
}

bool AccountingSort(std::vector<AccountingRow>& rows, size_t column)
{
    switch (column) {
    case 0:
        SortBy(rows, [](const AccountingRow& r) { return AccountingUserText(r); });
        return true;
    case 1:
        SortBy(rows, [](const AccountingRow& r) { return r.remoteSite; });
        return true;
    case 2:
        SortBy(rows, [](const AccountingRow& r) { return AccountingTypeText(r.type); });
        return true;
    case 3:
        SortBy(rows, [](const AccountingRow& r) { return r.connections; });
        return true;
    case 4:
        SortBy(rows, [](const AccountingRow& r) { return r.received; });
        return true;
    case 5:
        SortBy(rows, [](const AccountingRow& r) { return r.transmitted; });
        return true;
    case 6:
        SortBy(rows, [](const AccountingRow& r) { return r.onlineTime; });
        return true;
    default:
        return false;
    }
}

bool VpnSort(std::vector<VpnRow>& rows, size_t column)
{
    if (column >= kVpnListColumns)
        return false;
    if (column == 1) {
        SortBy(rows, [](const VpnRow& r) { return r.state; });
        return true;
    }
    if (column == 2) {
        SortBy(rows, [](const VpnRow& r) { return r.shortHold; });
        return true;
    }
    // The other columns by their shown text; each row's texts are made once.
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        keys.emplace_back(VpnRowTexts(rows[i])[column], i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<VpnRow> sorted;
    sorted.reserve(rows.size());
    for (const auto& k : keys)
        sorted.push_back(std::move(rows[k.second]));
    rows = std::move(sorted);
    return true;
}

std::string AccountingFileText(const std::vector<AccountingRow>& rows, const AccountingVersion& v)
{
    std::string out = StrFormat("%s;%d.%02d.%04d\r\n", kAccountingFileTag, v.major, v.minor, v.build);
    // Texts are joined as they are (a NUL inside one would end a "%s" conversion).
    for (const AccountingRow& r : rows)
        out += Field(r.identifier) + ";" + Field(r.user) + ";" + Field(r.remoteSite) + ";"
            + StrFormat("%d;%lu;%lu;%lu;%lu\r\n", r.type, static_cast<unsigned long>(r.received),
                static_cast<unsigned long>(r.transmitted), static_cast<unsigned long>(r.onlineTime),
                static_cast<unsigned long>(r.connections));
    return out;
}

bool AccountingFileParse(std::string_view text, std::vector<AccountingRow>* rows)
{
    constexpr size_t kMaxLine = 1023;
    rows->clear();
    bool first = true;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = TrimLineEnd(text.substr(at, end - at));
        at = end + 1;
        if (line.size() > kMaxLine)
            line = line.substr(0, kMaxLine);
        if (first) {
            first = false;
            if (line.substr(0, line.find(';')) != kAccountingFileTag)
                return false;
            continue;
        }
        std::string_view fields[8];
        size_t count = 0, from = 0;
        while (count < 8) {
            size_t semi = line.find(';', from);
            fields[count++] = line.substr(from, semi == std::string_view::npos ? std::string_view::npos : semi - from);
            if (semi == std::string_view::npos)
                break;
            from = semi + 1;
        }
        if (count < 8)
            continue;
        AccountingRow r;
        r.identifier = CutTo(fields[0], kAccIdentifierMax);
        r.user = CutTo(fields[1], kAccTextMax);
        r.remoteSite = CutTo(fields[2], kAccTextMax);
        r.type = SignedWithBase(fields[3]);
        r.received = static_cast<uint32_t>(SignedWithBase(fields[4]));
        r.transmitted = static_cast<uint32_t>(SignedWithBase(fields[5]));
        r.onlineTime = static_cast<uint32_t>(SignedWithBase(fields[6]));
        r.connections = static_cast<uint32_t>(SignedWithBase(fields[7]));
        rows->push_back(std::move(r));
    }
    return !first;
}

int AccountingFileWrite(const std::string& path, const std::vector<AccountingRow>& rows, const AccountingVersion& v)
{
    return FileWriteAtomic(path, AccountingFileText(rows, v));
}

int AccountingFileRead(const std::string& path, std::vector<AccountingRow>* rows)
{
    std::string data;
    rows->clear();
    if (FileReadAll(path, &data) != 1)
        return 0;
    return AccountingFileParse(data, rows) ? 1 : 0;
}
