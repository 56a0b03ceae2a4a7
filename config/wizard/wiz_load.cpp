#include "common/diag.h"
#include "common/text.h"
#include "config/description/cfg_elements.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_pattern.h"
#include "config/wizard/wiz_script.h"

#include <cstring>

namespace {

// Test (c): a requested language and a header language other than "*" must be equal (case-sensitive).
bool LanguagePasses(const CfgArgList& header, const char* language)
{
    if (!language || header.Count() < 3)
        return true;
    std::string_view lang = header.At(2);
    return lang == "*" || lang == language;
}

// Test (d): a header with device patterns needs one that matches the device key.
bool DevicePasses(const CfgArgList& header, const std::string& deviceKey, uint32_t featureMask)
{
    if (header.Count() < 4)
        return true;
    for (size_t i = 3; i < header.Count(); ++i)
        if (CfgPatternMatch(header.At(i), deviceKey, featureMask))
            return true;
    return false;
}

bool IsActionKeyword(std::string_view kw)
{
    static constexpr const char* kActions[] = { "set", "setip", "cat", "cut", "del", "cpy", "enable", "disable" };
    for (const char* a : kActions)
        if (kw == a)
            return true;
    return false;
}

// The action blocks of a wizard.
enum class Block { None, Init, Apply, Show, Back, Next };

// The statements of one taken wizard block.
class WizardReader {
public:
    WizardReader(WizScript& wiz, uint32_t featureMask)
        : wiz_(wiz)
        , elements_(wiz.pages, true)
        , featureMask_(featureMask)
    {
    }

    void Line(std::string_view kw, const CfgArgList& args, int line)
    {
        if (kw == "feature_mask") {
            featureOk_ = CfgMaskApplies(args, featureMask_);
            return;
        }
        if (!featureOk_)
            return;
        if (kw == "section" || kw == "section_plugin") {
            bool plugin = kw == "section_plugin";
            std::optional<std::string> subtitle;
            if (!plugin && args.Count() >= 2)
                subtitle = std::string(args.At(1));
            page_ = wiz_.pages.AddSection(std::string(args.At(0)), std::move(subtitle));
            page_->plugin = plugin;
            elements_.StartSection(page_);
            plugin_ = plugin;
            CloseBlock();
            return;
        }
        if (kw == "on_init" || kw == "on_apply" || kw == "on_show" || kw == "on_back" || kw == "on_next") {
            CloseBlock();
            plugin_ = false;
            if (kw == "on_init" || kw == "on_apply") {
                block_ = kw == "on_init" ? Block::Init : Block::Apply;
                page_ = nullptr;
                elements_.EndSection();
            } else if (page_) {
                block_ = kw == "on_show" ? Block::Show : kw == "on_back" ? Block::Back : Block::Next;
            }
            return;
        }
        if (plugin_) {
            if (kw == "module") {
                page_->module.emplace(args);
            } else if (kw == "module_param") {
                if (args.Count() >= 2) {
                    if (!page_->params)
                        page_->params = CfgArgList();
                    page_->params->Append(args.At(0));
                    page_->params->Append(args.At(1));
                }
            } else {
                elements_.Unexpected(line, kw);
            }
            return;
        }
        if (IsActionKeyword(kw)) {
            std::vector<WizAction>* list = CurrentList();
            if (!list) {
                elements_.Unexpected(line, kw);
                return;
            }
            list->push_back(WizAction { std::string(kw), args, {} });
            lastAction_ = list->size();
            return;
        }
        if (kw == "skip_when") {
            SkipWhen(args, line, kw);
            return;
        }
        elements_.Line(kw, args, line);
    }

    void Finish()
    {
        elements_.Finish();
    }

private:
    void CloseBlock()
    {
        block_ = Block::None;
        lastAction_ = 0;
    }

    std::vector<WizAction>* CurrentList()
    {
        switch (block_) {
        case Block::Init:
            return &wiz_.onInit;
        case Block::Apply:
            return &wiz_.onApply;
        case Block::Show:
            return page_ ? &page_->onShow : nullptr;
        case Block::Back:
            return page_ ? &page_->onBack : nullptr;
        case Block::Next:
            return page_ ? &page_->onNext : nullptr;
        case Block::None:
            break;
        }
        return nullptr;
    }

    // "skip_when": on the last action of the open block; else a page condition while no page block is
    // open. Too few arguments, or an open page block before its first action: dropped without a word.
    void SkipWhen(const CfgArgList& args, int line, std::string_view kw)
    {
        std::vector<WizAction>* list = CurrentList();
        bool pageBlock = block_ == Block::Show || block_ == Block::Back || block_ == Block::Next;
        if (!(list && lastAction_) && !page_) {
            elements_.Unexpected(line, kw);
            return;
        }
        if (args.Count() < 3)
            return;
        WizCondition c { std::string(args.At(0)), std::string(args.At(1)), std::string(args.At(2)) };
        if (list && lastAction_) {
            (*list)[lastAction_ - 1].conditions.push_back(std::move(c));
            return;
        }
        if (pageBlock)
            return;
        if (block_ == Block::None)
            page_->conditions.push_back(std::move(c));
    }

    WizScript& wiz_;
    CfgElementReader elements_;
    uint32_t featureMask_;
    bool featureOk_ = true;
    bool plugin_ = false; // a plug-in page takes only its module lines
    CfgSection* page_ = nullptr; // the current page
    Block block_ = Block::None;
    size_t lastAction_ = 0; // 1-based position of the open block's last action, 0 when none
};

bool IsHeaderKeyword(std::string_view keyword)
{
    return CfgHeaderKindOf(keyword) != CfgHeaderNone;
}

} // namespace

std::unique_ptr<CfgFile> WizOpenScript(
    std::string_view name, const std::string& deviceKey, const char* language, uint32_t featureMask)
{
    auto find = [&](const char* lang) {
        return CfgFindIndexEntry([&](const CfgIndexEntry& e) {
            return e.kind == CfgHeaderWizard && StrEqualNoCase(e.args.At(0), name) && !e.args.Empty()
                && LanguagePasses(e.args, lang) && DevicePasses(e.args, deviceKey, featureMask);
        });
    };
    const CfgIndexEntry* entry = find(language);
    if (!entry && language)
        entry = find(nullptr);
    if (!entry)
        return nullptr;
    return CfgFile::Open(entry->path);
}

WizScriptPtr WizLoadFrom(
    CfgFile& file, std::string_view name, const std::string& deviceKey, const char* language, uint32_t featureMask)
{
    WizScriptPtr wiz;
    std::unique_ptr<WizardReader> reader;
    std::string_view kw;
    CfgArgList args;
    for (int pass = 0; pass < 2 && !wiz; ++pass) {
        const char* lang = pass == 0 ? language : nullptr;
        if (pass == 1) {
            if (!language)
                break;
            file.Rewind();
        }
        CfgStringContext strings(language ? language : "", language != nullptr);
        int line = 0;
        while (CfgReadLineIf(file, kw, args, line, &strings, wiz ? nullptr : IsHeaderKeyword)) {
            int header = CfgHeaderKindOf(kw);
            if (!wiz) {
                if (header != CfgHeaderWizard || args.Count() < 2 || !StrEqualNoCase(args.At(0), name)
                    || !LanguagePasses(args, lang) || !DevicePasses(args, deviceKey, featureMask))
                    continue;
                wiz = std::make_unique<WizScript>();
                wiz->name = std::string(args.At(0));
                wiz->title = std::string(args.At(1));
                wiz->defaultFlag = StrEqualNoCase(name, "DEFAULT") ? 1 : 0;
                reader = std::make_unique<WizardReader>(*wiz, featureMask);
                continue;
            }
            if (header != CfgHeaderNone)
                break;
            reader->Line(kw, args, line);
        }
    }
    if (!wiz)
        return nullptr;
    reader->Finish();
    return wiz;
}

WizScriptPtr WizLoad(
    const char* name, std::string_view deviceType, std::string_view version, const char* language, uint32_t featureMask)
{
    std::string_view wanted = name ? std::string_view(name) : std::string_view("DEFAULT");
    std::string key = CfgDeviceKey(deviceType, version);
    std::unique_ptr<CfgFile> file = WizOpenScript(wanted, key, language, featureMask);
    if (!file)
        return nullptr;
    return WizLoadFrom(*file, wanted, key, language, featureMask);
}

std::vector<WizListEntry> WizList(std::string_view deviceType, std::string_view version, const char* language,
    uint32_t featureMask, bool includeDefault, size_t size)
{
    std::vector<WizListEntry> list;
    std::string key = CfgDeviceKey(deviceType, version);
    CfgWaitIndex();
    size_t used = 0; // bytes the listed pairs take
    bool full = false;
    CfgFindIndexEntry([&](const CfgIndexEntry& e) {
        if (full || e.kind != CfgHeaderWizard || e.args.Count() < 2)
            return false;
        std::string_view name = e.args.At(0);
        std::string_view title = e.args.At(1);
        if (!includeDefault && StrEqualNoCase(name, "DEFAULT"))
            return false;
        if (!DevicePasses(e.args, key, featureMask))
            return false;
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].name != name)
                continue;
            if (!language || e.args.Count() < 3 || e.args.At(2) != language)
                return false;
            used -= list[i].name.size() + list[i].title.size() + 2;
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
        // The pair, its two NULs and the list's closing empty text must fit.
        if (size < used || size - used < name.size() + title.size() + 3) {
            full = true;
            return false;
        }
        size_t at = 0;
        while (at < list.size() && list[at].name.compare(name) <= 0)
            ++at;
        list.insert(
            list.begin() + static_cast<std::ptrdiff_t>(at), WizListEntry { std::string(name), std::string(title) });
        used += name.size() + title.size() + 2;
        return false;
    });
    return list;
}

int WizListAvailable(std::string_view deviceType, std::string_view version, const char* language, uint32_t featureMask,
    bool includeDefault, char* buffer, size_t size)
{
    if (buffer && size)
        std::memset(buffer, 0, size);
    if (!buffer || size == 0)
        return 0;
    std::vector<WizListEntry> list = WizList(deviceType, version, language, featureMask, includeDefault, size);
    size_t at = 0;
    for (const WizListEntry& e : list) {
        std::memcpy(buffer + at, e.name.c_str(), e.name.size() + 1);
        at += e.name.size() + 1;
        std::memcpy(buffer + at, e.title.c_str(), e.title.size() + 1);
        at += e.title.size() + 1;
    }
    return static_cast<int>(list.size());
}
