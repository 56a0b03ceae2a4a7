#include "config/description/cfg_load.h"

#include "common/diag.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/description/cfg_elements.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_pattern.h"

#include <algorithm>
#include <cstring>

bool CfgMaskApplies(const CfgArgList& args, uint32_t deviceMask)
{
    std::string_view a = args.At(0);
    bool negate = !a.empty() && a[0] == '!';
    uint32_t mask = ParseUnsigned(negate ? a.substr(1) : a);
    if (mask == 0)
        return true;
    bool common = (mask & deviceMask) != 0;
    return negate ? !common : common;
}

namespace {

bool IsHeaderKeyword(std::string_view keyword)
{
    return CfgHeaderKindOf(keyword) != CfgHeaderNone;
}

// The state of reading one taken "version" block: the conditions and the plug-in sections here, the
// element and attribute lines through the reader shared with wizard pages.
class BlockReader {
public:
    BlockReader(CfgDescription& desc, uint32_t featureMask, uint32_t hardwareMask, bool easy)
        : desc_(desc)
        , elements_(desc, false)
        , featureMask_(featureMask)
        , hardwareMask_(hardwareMask)
        , easy_(easy)
    {
    }

    void Line(std::string_view kw, const CfgArgList& args, int line)
    {
        // Conditions: each kind of condition line is seen only while the conditions before it apply.
        if (CfgIsKeyword(kw, "config_mode")) {
            uint32_t n = ParseUnsigned(args.At(0));
            modeOk_ = n == 0 || (n == 1 && easy_) || (n == 2 && !easy_);
            fullOnly_ = n == 2;
            return;
        }
        if (!modeOk_) {
            // A line the simplified mode leaves out: the user sees less than the whole configuration.
            if (easy_ && fullOnly_)
                desc_.flags |= CfgDescSimplified;
            return;
        }
        if (CfgIsKeyword(kw, "feature_mask")) {
            featureOk_ = CfgMaskApplies(args, featureMask_);
            return;
        }
        if (!featureOk_)
            return;
        if (CfgIsKeyword(kw, "hardware_mask")) {
            hardwareOk_ = CfgMaskApplies(args, hardwareMask_);
            return;
        }
        if (!hardwareOk_)
            return;

        if (CfgIsKeyword(kw, "section")) {
            std::optional<std::string> title;
            if (args.Count() >= 2)
                title = std::string(args.At(1));
            section_ = desc_.AddSection(std::string(args.At(0)), std::move(title));
            elements_.StartSection(section_);
            plugin_ = false;
            return;
        }
        if (CfgIsKeyword(kw, "section_plugin")) {
            std::optional<std::string> title;
            if (args.Count() >= 1)
                title = std::string(args.At(0));
            section_ = desc_.AddSection("section_plugin", std::move(title));
            section_->plugin = true;
            elements_.StartSection(section_);
            plugin_ = true;
            return;
        }
        if (plugin_) {
            PluginLine(kw, args, line);
            return;
        }
        elements_.Line(kw, args, line);
    }

    void Finish()
    {
        elements_.Finish();
    }

private:
    void PluginLine(std::string_view kw, const CfgArgList& args, int line)
    {
        if (CfgIsKeyword(kw, "module")) {
            section_->module.emplace(desc_.arena, args);
        } else if (CfgIsKeyword(kw, "multicfg")) {
            section_->multicfg = ParseUnsigned(args.At(0));
        } else if (CfgIsKeyword(kw, "uses")) {
            CfgItem* item = CfgAddItem(section_, CfgKindReadonlyText);
            item->name = std::string(args.At(0));
            CfgArgList description;
            description.Append(args.At(0));
            item->description = description;
            if (args.Count() >= 2) {
                CfgArgList alias;
                alias.Append(args.At(1));
                item->alias = alias;
                elements_.Aliased(item);
            }
            elements_.Index(item);
            elements_.SetLast(item);
        } else if (CfgIsKeyword(kw, "uses_table")) {
            int32_t count = ParseDecimal(args.At(1));
            if (count < 1)
                return;
            // A row has 64 cells: more columns could never hold a value.
            if (count > static_cast<int32_t>(CfgMaxColumns))
                count = static_cast<int32_t>(CfgMaxColumns);
            CfgItem* table = CfgAddItem(section_, CfgKindTable);
            table->name = std::string(args.At(0));
            CfgArgList menu;
            menu.Append("1");
            table->SetList(CfgAttrStaticTableMenu, menu);
            table->SetNumber(CfgAttrNumColumns, static_cast<uint32_t>(count));
            if (args.Count() >= 3) {
                CfgArgList alias;
                alias.Append(args.At(2));
                table->alias = alias;
                elements_.Aliased(table);
            }
            elements_.Index(table);
            for (int32_t c = 1; c <= count; ++c) {
                CfgItem* column = CfgAddColumn(table, CfgKindReadonlyText);
                column->name = std::to_string(c);
                elements_.SetLast(column);
            }
        } else if (CfgIsKeyword(kw, "module_param")) {
            if (args.Count() < 2)
                return;
            if (!section_->params)
                section_->params = CfgArgList();
            section_->params->Append(args.At(0));
            section_->params->Append(args.At(1));
        } else {
            elements_.Unexpected(line, kw);
        }
    }

    CfgDescription& desc_;
    CfgElementReader elements_;
    uint32_t featureMask_;
    uint32_t hardwareMask_;
    bool easy_;
    bool fullOnly_ = false; // the lines that follow are those of the full mode only
    bool modeOk_ = true;
    bool featureOk_ = true;
    bool hardwareOk_ = true;
    bool plugin_ = false;
    CfgSection* section_ = nullptr; // the section of the plug-in lines
};

} // namespace

CfgDescriptionPtr CfgLoadDescriptionFrom(CfgFile& file, const std::string& deviceKey, const char* language,
    uint32_t featureMask, uint32_t hardwareMask, bool easy)
{
    CfgDescriptionPtr desc;
    std::string_view kw; // a view into the line read
    CfgArgList args;
    std::unique_ptr<BlockReader> reader;
    for (int pass = 0; pass < 2 && !desc; ++pass) {
        // The second pass drops the language condition; it is needed only when a language was asked for.
        bool withLanguage = pass == 0 && language;
        if (pass == 1) {
            if (!language)
                break;
            file.Rewind();
        }
        CfgStringContext strings(language ? language : "", language != nullptr);
        int line = 0;
        // Before the block only headers matter: other lines are not split.
        while (CfgReadLineIf(file, kw, args, line, &strings, desc ? nullptr : IsHeaderKeyword)) {
            int header = CfgHeaderKindOf(kw);
            if (!desc) {
                if (header != CfgHeaderVersion || args.Empty())
                    continue;
                if (!CfgPatternMatch(args.At(0), deviceKey, featureMask))
                    continue;
                if (withLanguage && args.Count() >= 2 && args.At(1) != language)
                    continue;
                desc = std::make_unique<CfgDescription>();
                desc->pattern = std::string(args.At(0));
                reader = std::make_unique<BlockReader>(*desc, featureMask, hardwareMask, easy);
                continue;
            }
            if (header != CfgHeaderNone)
                break;
            reader->Line(kw, args, line);
        }
    }
    if (!desc)
        return nullptr;
    reader->Finish();
    CfgComputeMulticfg(*desc);
    return desc;
}

CfgDescriptionPtr CfgLoadDescription(std::string_view deviceType, std::string_view version, const char* language,
    uint32_t featureMask, uint32_t hardwareMask, bool easy)
{
    std::string key = CfgDeviceKey(deviceType, version);
    std::unique_ptr<CfgFile> file = CfgOpenDescription(key, language, CfgHeaderVersion, featureMask);
    if (!file)
        return nullptr;
    return CfgLoadDescriptionFrom(*file, key, language, featureMask, hardwareMask, easy);
}

std::vector<CfgFeatureChoice> CfgNewConfigFeatures(
    std::string_view deviceType, std::string_view version, const char* language)
{
    std::vector<CfgFeatureChoice> out;
    uint32_t mask = 0;
    std::string text;
    for (int n = 0; CfgGetFeature(deviceType, version, language, 0xFFFFFFFFu, n, &mask, &text); ++n) {
        if (!text.empty())
            out.push_back(CfgFeatureChoice { mask, text, true });
    }
    return out;
}

uint32_t CfgNewConfigFeatureMask(const std::vector<CfgFeatureChoice>& offered)
{
    uint32_t mask = 0xFFFFFFFFu;
    for (const CfgFeatureChoice& f : offered)
        mask &= ~f.mask;
    for (const CfgFeatureChoice& f : offered)
        if (f.checked)
            mask |= f.mask;
    return mask;
}

CfgDescriptionPtr CfgNewConfiguration(std::string_view deviceType, std::string_view version, std::string_view comment,
    const char* language, bool easy, uint32_t featureMask, uint32_t* hardwareMask, CfgTempStream* initialText)
{
    uint32_t hw = 0;
    if (!CfgReadHardwareBlock(deviceType, version, comment, featureMask, &hw, initialText))
        return nullptr;
    if (hardwareMask)
        *hardwareMask = hw;
    CfgDescriptionPtr desc = CfgLoadDescription(deviceType, version, language, featureMask, hw, easy);
    if (!desc)
        return nullptr;
    desc->flags |= CfgDescNew | CfgDescNotFromDevice;
    return desc;
}
