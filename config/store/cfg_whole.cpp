// Operations on whole descriptions: copies for the devices of a group, pruning, reports, the
// alternative addresses and the access password.
#include "common/diag.h"
#include "common/text.h"
#include "config/description/cfg_pattern.h"
#include "config/store/cfg_store.h"

void CfgCopyItem(CfgItem& target, const CfgItem& source)
{
    target.changed = source.changed;
    target.kind = source.kind;
    target.id = source.id;
    target.name = source.name;
    target.alias = source.alias;
    target.description = source.description;
    target.helpId = source.helpId;
    target.value = source.value;
    // multicfg is copied too, so that a clone's multi-configuration flags (computed afresh) agree with
    // the description it was made from.
    target.multicfg = source.multicfg;
    target.arrange = source.arrange;
    target.changeItem = source.changeItem;
    target.enableItem = source.enableItem;
    target.attrSet = source.attrSet;
    target.kindAttrs = source.kindAttrs;
    target.columns.clear();
    for (const auto& column : source.columns) {
        CfgItem* copy = CfgAddColumn(&target, column->kind);
        CfgCopyItem(*copy, *column);
    }
}

void CfgLinkCounterparts(CfgDescription& a, CfgDescription& b)
{
    size_t sections = std::min(a.sections.size(), b.sections.size());
    for (size_t s = 0; s < sections; ++s) {
        auto& ia = a.sections[s]->items;
        auto& ib = b.sections[s]->items;
        size_t items = std::min(ia.size(), ib.size());
        for (size_t i = 0; i < items; ++i) {
            ia[i]->counterpart = ib[i].get();
            size_t columns = std::min(ia[i]->columns.size(), ib[i]->columns.size());
            for (size_t c = 0; c < columns; ++c)
                ia[i]->columns[c]->counterpart = ib[i]->columns[c].get();
        }
    }
}

CfgDescriptionPtr CfgCloneDescription(
    const CfgDescription& source, std::string_view deviceType, std::string_view version, uint32_t featureMask)
{
    if (!CfgPatternMatch(source.pattern, CfgDeviceKey(deviceType, version), featureMask))
        return nullptr;
    auto copy = std::make_unique<CfgDescription>();
    copy->pattern = source.pattern;
    copy->flags = source.flags;
    for (const auto& section : source.sections) {
        CfgSection* s = copy->AddSection(section->name, section->title);
        s->plugin = section->plugin;
        for (const auto& item : section->items) {
            CfgItem* it = CfgAddItem(s, item->kind);
            CfgCopyItem(*it, *item);
        }
    }
    CfgComputeMulticfg(*copy);
    CfgIndexNames(*copy);
    return copy;
}

void CfgPruneForGroup(CfgDescription& desc)
{
    std::vector<bool> keep(desc.sections.size(), true);
    for (size_t s = 0; s < desc.sections.size(); ++s) {
        const CfgSection& section = *desc.sections[s];
        if (!section.title)
            continue;
        bool kept = false;
        for (const auto& other : desc.sections) {
            if (!other->title || (StrEqualNoCase(*other->title, *section.title) && other->multicfg)) {
                kept = true;
                break;
            }
        }
        keep[s] = kept;
    }
    std::vector<std::unique_ptr<CfgSection>> remaining;
    for (size_t s = 0; s < desc.sections.size(); ++s)
        if (keep[s])
            remaining.push_back(std::move(desc.sections[s]));
    desc.sections = std::move(remaining);
    CfgIndexNames(desc);
}

void CfgFreeDescription(CfgDescriptionPtr& desc)
{
    desc.reset();
}

namespace {

std::string FirstText(const CfgOptArgList& list)
{
    return list ? std::string(list->At(0)) : std::string();
}

void ReportLine(const CfgDescription& desc, const CfgItem& item, const CfgItem* column, std::string* out)
{
    const CfgSection* section = item.section;
    std::string title = section && section->title ? *section->title : std::string();
    std::string name = section ? section->name : std::string();
    std::string text = FirstText(item.description);
    const CfgItem* group = CfgGroupOf(desc, &item);
    std::string line = group ? StrFormat("  %s / %s / %s / %s", title.c_str(), name.c_str(),
                           FirstText(group->description).c_str(), text.c_str())
                             : StrFormat("  %s / %s / %s", title.c_str(), name.c_str(), text.c_str());
    if (column)
        line += " : " + FirstText(column->description);
    *out += line + "\r\n";
}

} // namespace

void CfgMissingItemsReport(const CfgDescription& a, const CfgDescription& b, std::string* out)
{
    for (const auto& section : a.sections) {
        for (const auto& item : section->items) {
            if (!item->name || item->kind <= CfgKindReadonlyText)
                continue;
            CfgItem* other = CfgFindItem(b, *item->name);
            if (!other) {
                ReportLine(a, *item, nullptr, out);
                continue;
            }
            if (!item->IsTable() || !other->IsTable())
                continue;
            for (const auto& column : item->columns)
                if (column->name && !CfgFindColumn(*other, *column->name))
                    ReportLine(a, *item, column.get(), out);
        }
    }
}

namespace {

// Number of equal leading bits of two addresses (0 to 32).
int CommonPrefix(uint32_t a, uint32_t b)
{
    uint32_t diff = a ^ b;
    int n = 0;
    for (uint32_t bit = 0x80000000u; bit && !(diff & bit); bit >>= 1)
        ++n;
    return n;
}

void Collect(const std::optional<std::string>& value, std::vector<uint32_t>* out)
{
    if (!value)
        return;
    std::optional<uint32_t> addr = CfgInetAddr(*value);
    // inet_addr gives 0 for "0.0.0.0" and INADDR_NONE for text that is no address: neither is a place
    // where the device can be reached.
    if (!addr || *addr == 0 || *addr == 0xFFFFFFFFu)
        return;
    if (out->size() >= CfgMaxAltAddresses) {
        Diag("warning: alternative ip address buffer to small, %s will be ignored\n", value->c_str());
        return;
    }
    out->push_back(*addr);
}

} // namespace

uint32_t CfgAlternativeAddresses(const CfgDescription& desc, uint32_t deviceAddress, std::vector<uint32_t>* addresses)
{
    std::vector<uint32_t> found;
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (item->kind == CfgKindEntryIpAddress && item->Number(CfgAttrVeryImportant))
                Collect(item->value, &found);
            if (!item->IsTable())
                continue;
            size_t count = std::min(item->columns.size(), CfgMaxColumns);
            for (size_t c = 0; c < count; ++c) {
                const CfgItem& column = *item->columns[c];
                if (column.kind != CfgKindEntryIpAddress || !column.Number(CfgAttrVeryImportant))
                    continue;
                for (const CfgRow& row : item->rows)
                    Collect(row.cells[c], &found);
            }
        }
    }
    for (size_t i = 0; i < found.size(); ++i)
        for (size_t j = i + 1; j < found.size(); ++j)
            if (CommonPrefix(found[j], deviceAddress) > CommonPrefix(found[i], deviceAddress))
                std::swap(found[i], found[j]);
    if (addresses)
        *addresses = found;
    return found.empty() ? deviceAddress : found[0];
}

std::optional<std::string> CfgGetAccessPassword(const CfgDescription& desc)
{
    for (const auto& section : desc.sections)
        for (const auto& item : section->items)
            if (item->kind == CfgKindEntryText && item->Number(CfgAttrVeryImportant))
                return item->value.value_or(std::string());
    return std::nullopt;
}
