#include "monitor/startup/optionspage.h"

#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/objtree.h"

std::vector<OptionsPageEntry> OptionsPageEntries(const std::vector<OptionObject>& options)
{
    std::vector<OptionsPageEntry> entries;
    for (size_t i = 0; i < options.size(); ++i) {
        const OptionObject& o = options[i];
        OptionsPageEntry e;
        e.option = i;
        e.label = o.values.empty() ? o.name : o.values[0];
        if (o.kind == OptionKind::Checkbox) {
            e.kind = OptionsPageEntry::Kind::Check;
            entries.push_back(e);
        } else if (o.kind == OptionKind::Radiogroup) {
            e.kind = OptionsPageEntry::Kind::Group;
            if (o.values.size() > 1)
                if (std::optional<uint32_t> image = ParseUnsignedStrict(Trim(o.values[1])))
                    e.image = static_cast<int>(*image);
            entries.push_back(e);
            for (size_t c = 2; c < o.values.size(); ++c) {
                OptionsPageEntry r;
                r.kind = OptionsPageEntry::Kind::Radio;
                r.option = i;
                r.choice = static_cast<uint32_t>(c - 2);
                r.label = o.values[c];
                entries.push_back(r);
            }
        }
    }
    return entries;
}

bool OptionsPageChecked(const OptionsPageEntry& entry, const std::vector<uint32_t>& values)
{
    if (entry.option >= values.size())
        return false;
    switch (entry.kind) {
    case OptionsPageEntry::Kind::Check:
        return values[entry.option] != 0;
    case OptionsPageEntry::Kind::Radio:
        return values[entry.option] == entry.choice;
    case OptionsPageEntry::Kind::Group:
        break;
    }
    return false;
}

bool OptionsPageActivate(const OptionsPageEntry& entry, std::vector<uint32_t>& values)
{
    if (entry.option >= values.size())
        return false;
    uint32_t& v = values[entry.option];
    switch (entry.kind) {
    case OptionsPageEntry::Kind::Check:
        v = v ? 0 : 1;
        return true;
    case OptionsPageEntry::Kind::Radio:
        if (v == entry.choice)
            return false;
        v = entry.choice;
        return true;
    case OptionsPageEntry::Kind::Group:
        break;
    }
    return false;
}

std::vector<uint32_t> OptionsPageValues(EngineDevice& device)
{
    std::vector<uint32_t> values;
    for (const OptionObject& o : device.object->options)
        values.push_back(device.OptionValue(o));
    return values;
}

size_t OptionsPageSave(Engine& engine, EngineDevice& device, const std::vector<uint32_t>& values)
{
    size_t saved = 0;
    const std::vector<OptionObject>& options = device.object->options;
    for (size_t i = 0; i < options.size() && i < values.size(); ++i) {
        if (options[i].kind == OptionKind::None || device.OptionValue(options[i]) == values[i])
            continue;
        engine.SetOption(device, options[i].name, values[i]);
        ++saved;
    }
    return saved;
}
