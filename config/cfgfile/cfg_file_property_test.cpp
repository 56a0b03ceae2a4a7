// Round trips on whole descriptions: random values that configuration texts can hold, written and read
// back into a fresh description, give the same store; exported and imported, the writer's text.
#include "common/diag.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/cfgfile/cfg_line.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"
#include "config/store/cfg_store.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {

// A description built to cover the hard cases: bit fields, aliases, dotted tables, secrets, merges.
const char* kCoverage = R"(
version "Test 1.0", English
section one, "One"
entryfield_numeric flags, 0x0F
entryfield_numeric flags, 0xF0
entryfield_numeric flags, 0x80000000
entryfield_text user
entryfield_text password
hidden 1
entryfield_numbers pin
hidden 1
entryfield_hex key
hidden 1
readonly_text shown
hidden 1
entryfield_text same
entryfield_text same
entryfield_text first
entryfield_text other
alias first
entryfield_text with-dash
section two
group "Frame"
entryfield_ipaddress addr
group_end
table plain
num_columns 4
entryfield_text k
entryfield_text v
hidden 1
entryfield_numeric b, 0x3
entryfield_numeric b, 0xC
table ip.route
num_columns 3
entryfield_text 1
entryfield_text 2
entryfield_text 3
table x-y
num_columns 2
entryfield_text a
entryfield_text b
table merged
num_columns 2
merge_entrys 2
entryfield_text k
entryfield_text long
max_len 10
)";

std::string RandomText(std::mt19937& rng, size_t maxLen)
{
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::uniform_int_distribution<int> ch(0x20, 0x7E);
    std::uniform_int_distribution<int> high(0xA0, 0xFF);
    std::uniform_int_distribution<int> pick(0, 19);
    size_t n = len(rng);
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>(pick(rng) == 0 ? high(rng) : ch(rng)));
    // The format holds no blanks at either end of a value.
    return std::string(Trim(s));
}

std::optional<std::string> Opt(std::string s)
{
    if (s.empty())
        return std::nullopt;
    return s;
}

// Whether a line "name = v" would be read back into `item` as the first item of its name.
bool ItemHoldable(const CfgDescription& d, const CfgItem& item)
{
    const std::string& name = *item.name;
    std::string line = "    " + name + " = v";
    if (CfgLineKindOf(CfgTrimLine(line)) != CfgLineKind::Assign || name.find('=') != std::string::npos)
        return false;
    if (Trim(name).size() != name.size() || name.empty())
        return false;
    CfgTarget t = CfgClassifyName(d, name);
    return t.form == CfgTarget::Item && t.item == &item && CfgFindItem(d, name) == &item;
}

// Fills the description with random values that the format can hold.
void Randomise(CfgDescription& d, std::mt19937& rng)
{
    std::uniform_int_distribution<uint32_t> any;
    for (const auto& section : d.sections) {
        for (const auto& item : section->items) {
            if (!item->name || item->IsTable() || !ItemHoldable(d, *item))
                continue;
            // The group of items sharing the name, up to the first table among them.
            std::vector<CfgItem*> group;
            for (CfgItem* same : d.names.byName.at(StrLower(*item->name))) {
                if (same->IsTable())
                    break;
                group.push_back(same);
            }
            bool allIds = true, noIds = true;
            for (CfgItem* g : group) {
                allIds = allIds && g->id;
                noIds = noIds && !g->id;
            }
            if (allIds) {
                uint32_t value = any(rng);
                for (CfgItem* g : group)
                    g->value = StrFormat("%d", static_cast<int32_t>(value & g->id));
            } else if (noIds) {
                size_t maxLen = CfgIsSecret(*item) ? 127 : 40;
                std::optional<std::string> value = Opt(RandomText(rng, maxLen));
                for (CfgItem* g : group)
                    g->value = value;
            }
        }
    }
    for (const auto& section : d.sections) {
        for (const auto& item : section->items) {
            if (!item->IsTable() || !item->name || CfgFindItem(d, *item->name) != item.get())
                continue;
            CfgItem& table = *item;
            bool dotted = table.name->find('.') != std::string::npos;
            if (!dotted && CfgClassifyName(d, *table.name + "-01").item != &table)
                continue;
            size_t count = std::min(table.columns.size(), CfgMaxColumns);
            // Which columns can hold a value, and which share one bit-field value.
            std::vector<int> holder(count, -1);
            bool anyHolder = false;
            for (size_t c = 0; c < count; ++c) {
                const CfgItem& col = *table.columns[c];
                if (dotted && col.name) {
                    const std::string& n = *col.name;
                    bool digits = !n.empty() && n.find_first_not_of("0123456789") == std::string::npos;
                    uint32_t number = digits ? CfgLeadingDecimal(n) : 0;
                    bool unique = true;
                    for (size_t j = 0; j < count; ++j)
                        if (j != c && table.columns[j]->name && CfgLeadingDecimal(*table.columns[j]->name) == number)
                            unique = false;
                    if (!digits || number == 0 || number > 64 || !unique || n.size() > 2)
                        continue;
                }
                CfgItem* first = col.name ? CfgFindColumn(table, *col.name) : nullptr;
                if (!first || first == &col) {
                    holder[c] = static_cast<int>(c);
                } else if (first->id && col.id) {
                    bool allIds = true;
                    for (size_t j = 0; j < count; ++j)
                        if (table.columns[j]->name && StrEqualNoCase(*table.columns[j]->name, *col.name))
                            allIds = allIds && table.columns[j]->id;
                    size_t f = 0;
                    while (table.columns[f].get() != first)
                        ++f;
                    if (allIds)
                        holder[c] = static_cast<int>(f);
                }
                anyHolder = anyHolder || holder[c] >= 0;
            }
            if (!anyHolder)
                continue;
            std::uniform_int_distribution<int> rows(0, 3);
            int n = rows(rng);
            for (int r = 0; r < n; ++r) {
                CfgRow& row = table.rows.emplace_back();
                std::vector<uint32_t> bits(count);
                for (size_t c = 0; c < count; ++c)
                    bits[c] = any(rng);
                for (size_t c = 0; c < count; ++c) {
                    if (holder[c] < 0)
                        continue;
                    const CfgItem& col = *table.columns[c];
                    if (col.id && col.name) {
                        bool groupIds = true;
                        for (size_t j = 0; j < count; ++j)
                            if (table.columns[j]->name && StrEqualNoCase(*table.columns[j]->name, *col.name))
                                groupIds = groupIds && table.columns[j]->id;
                        if (groupIds)
                            row.cells[c]
                                = StrFormat("%d", static_cast<int32_t>(bits[static_cast<size_t>(holder[c])] & col.id));
                        continue;
                    }
                    if (holder[c] != static_cast<int>(c))
                        continue;
                    row.cells[c] = Opt(RandomText(rng, CfgIsSecret(col) ? 127 : 30));
                }
            }
        }
    }
}

// The store as comparable text: every item's value and every table's rows (empty counts as none).
std::string Dump(const CfgDescription& d)
{
    std::string out;
    auto val = [](const std::optional<std::string>& v) { return v && !v->empty() ? "=" + *v : std::string("-"); };
    for (const auto& section : d.sections) {
        for (const auto& item : section->items) {
            if (!item->name)
                continue;
            out += *item->name + val(item->value) + "\n";
            size_t count = std::min(item->columns.size(), CfgMaxColumns);
            for (const CfgRow& row : item->rows) {
                out += "  row";
                for (size_t c = 0; c < count; ++c)
                    out += " " + val(row.cells[c]);
                out += "\n";
            }
        }
    }
    return out;
}

CfgTempStream Stream(const std::string& text)
{
    CfgTempStream s;
    s.Open();
    s.Write(text);
    s.Rewind();
    return s;
}

struct Loaded {
    std::string label;
    std::function<CfgDescriptionPtr()> load;
};

void RoundTrips(const Loaded& source, int rounds)
{
    std::mt19937 rng(12345);
    std::string lcf = (std::filesystem::temp_directory_path() / "cfgfile_property.lcf").string();
    for (int round = 0; round < rounds; ++round) {
        CfgDescriptionPtr d = source.load();
        ASSERT_TRUE(d) << source.label;
        Randomise(*d, rng);
        CfgTempStream text = CfgWriteFile(Stream("[Device]\r\n"), *d);
        std::string written = text.Contents();
        CfgDescriptionPtr back = source.load();
        std::vector<std::string> diags;
        DiagSetSink([&](const std::string& s) { diags.push_back(s); });
        CfgReadFile(text, *back);
        DiagSetSink(nullptr);
        ASSERT_EQ(Dump(*back), Dump(*d)) << source.label << " round " << round << "\n" << written;
        EXPECT_TRUE(diags.empty()) << source.label << ": " << diags.front();
        for (bool noCrypt : { false, true }) {
            ASSERT_TRUE(CfgExportFileWith(text, d.get(), "Device", "1.0", 0xFFFFFFFFu, 0, lcf, "c", noCrypt));
            CfgTempStream imported = CfgImportFile(lcf);
            ASSERT_EQ(imported.Contents(), written) << source.label << " round " << round;
        }
        // A second write of the read store gives the same text.
        ASSERT_EQ(CfgWriteFile(Stream("[Device]\r\n"), *back).Contents(), written) << source.label;
    }
    std::remove(lcf.c_str());
}

TEST(CfgFileProperty, CoverageDescription)
{
    Loaded l { "coverage", [] {
                  auto file = CfgFile::FromText(kCoverage);
                  return CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false);
              } };
    RoundTrips(l, 60);
}

TEST(CfgFileProperty, ShippedDescriptions)
{
    const char* source = std::getenv("SUITE_SOURCE_DIR");
    std::filesystem::path data = std::filesystem::path(source ? source : ".") / "data";
    std::error_code ec;
    if (!std::filesystem::is_directory(data, ec))
        GTEST_SKIP() << "no shipped descriptions in " << data.string();
    std::string dir = data.string() + "/";
    CfgStartIndex(dir + "qorv????.dsc", dir + "qorv????.wiz");
    CfgWaitIndex();
    int loaded = 0;
    for (const std::string& type : CfgListDeviceTypes()) {
        for (const std::string& version : CfgListVersions(type)) {
            for (const char* lang : { "English", "German" }) {
                for (bool easy : { false, true }) {
                    Loaded l { type + " " + version + " " + lang + (easy ? " easy" : ""),
                        [=] { return CfgLoadDescription(type, version, lang, 0xFFFFFFFFu, 0xFFFFFFFFu, easy); } };
                    if (!l.load())
                        continue;
                    ++loaded;
                    RoundTrips(l, 3);
                }
            }
        }
    }
    CfgStopIndex();
    EXPECT_GT(loaded, 0);
}

} // namespace
