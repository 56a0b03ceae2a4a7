// The wizard sheet without its windows: which wizards are offered, which is loaded, which page is
// shown, which buttons are offered, what Next, Back and Finish do to the pages' items and to the
// configuration. The Win32 sheet draws what this decides; qorvexal-cli's "wizard run" drives it with
// answers instead of a user.
//
// The sheet holds the selection page, an empty placeholder page that refuses every activation, then
// one page per wizard page. A page whose conditions hold refuses its activation, so the sheet passes
// over it in the direction of travel.
#pragma once

#include "config/frontend/valuerules.h"
#include "config/wizard/wiz_actions.h"
#include "config/wizard/wiz_script.h"

#include <functional>
#include <string>
#include <vector>

struct DeviceEntry;

// String id of "No setup wizard available for this device type."
constexpr unsigned WizStrNoWizard = 1711;

// One control of the page shown: the item it edits and what it holds.
struct WizControl {
    CfgItem* item = nullptr;
    CfgControlState state;
    bool disabled = false; // the item's disabled flag (greyed)
};

// The buttons after a move.
struct WizButtons {
    bool back = false; // enabled
    bool finish = false; // Finish instead of Next
};

// Asked when the value rules have a question (Ask, AskRepeat): fill in the answer and return true, or
// false to leave the page open.
using WizAskFn = std::function<bool(const CfgTakeResult& question, CfgAnswers& answers)>;

// The state of one running wizard sheet for one device.
class WizRunner {
public:
    // `language`: the description language ("" none). `entry.config` is the configuration the wizard
    // edits (may be null: configuration targets are then not found).
    WizRunner(DeviceEntry& entry, std::string language);
    ~WizRunner();
    WizRunner(const WizRunner&) = delete;
    WizRunner& operator=(const WizRunner&) = delete;

    enum class Opened {
        NoWizard, // nothing listed: show WizStrNoWizard, the sheet returns 0
        MarkCleared, // nothing listed, but the default wizard had completed: the mark is cleared silently
        Selection, // the selection page is shown
        Running, // an unconfigured device: DEFAULT is loaded and its first page shown
    };
    // Opens the sheet: lists the wizards (DEFAULT included for an unconfigured device) and, for an
    // unconfigured device, loads DEFAULT at once and moves past the selection page (`enter` false: a
    // sheet that moves by itself enters the first page; only the wizard is loaded).
    Opened Open(bool enter = true);
    const std::vector<WizListEntry>& List() const
    {
        return list_;
    }

    // Next on the selection page with `name` selected: keeps the loaded wizard of that name
    // (case-sensitive), else loads it (and runs its on_init). False when loading failed: the sheet stays.
    bool Choose(const std::string& name);

    // The loaded wizard (nullptr on the selection page before a choice).
    WizScript* Wizard() const;
    // The page shown: an index into the wizard's pages, or -1 for the selection page.
    int Page() const
    {
        return page_;
    }
    const CfgSection* PageSection() const;
    // The controls of the page shown (not for plug-in pages, which draw their own).
    std::vector<WizControl>& Controls()
    {
        return controls_;
    }
    // The control of an item on the page shown, or nullptr.
    WizControl* ControlOf(const CfgItem* item);
    // The buttons, computed afresh from the conditions.
    WizButtons Buttons();
    // The pages passed over by the last move (their conditions held), in the order met.
    const std::vector<int>& Skipped() const
    {
        return skipped_;
    }

    // Next: takes every control of the page into its item (a rejection keeps the page: `*rejected`
    // gets the message), runs the page's Next list and moves to the next page that takes the
    // activation. False when the page stays.
    bool Next(const WizAskFn& ask, CfgTakeResult* rejected = nullptr);
    // Back: runs the page's Back list and moves to the previous page that takes the activation (the
    // selection page when no wizard page does, unless the wizard is DEFAULT). False when nothing moved.
    bool Back();
    // Finish: a page with controls is taken and its Next list run first, as Next would; then on_apply
    // runs in apply mode, the wizard is freed and the default-wizard-completed mark set (DEFAULT) or
    // cleared. Returns 1, or 0 when the page rejected its values (the sheet stays open).
    int Finish(const WizAskFn& ask, CfgTakeResult* rejected = nullptr);
    // Cancel: the wizard is freed and the mark cleared. Returns 0.
    int Cancel();

    // ---- for a sheet that moves over its pages itself (the Win32 sheet: a page refuses its
    // activation, the sheet passes on in the direction of travel; the page builder takes the controls)
    // Next on the selection page without moving: keeps or loads the wizard `name`. False when loading
    // failed or no page of it would take the activation (the selection page stays).
    bool Select(const std::string& name);
    // The activation of page `index`: false (refused) when one of its conditions holds; otherwise it
    // becomes the page shown, its show list runs and the controls hold the items' values.
    bool Enter(int index);
    // The selection page is shown again.
    void EnterSelection();
    // Leaving the page shown with Next (its Next list) or Back (its Back list), its controls already
    // taken when forwards.
    void Leave(bool forward);
    // After Finish (the page shown already left forwards): on_apply in apply mode, the wizard freed,
    // the default-wizard-completed mark set (DEFAULT) or cleared. Returns 1, 0 without a wizard.
    int Complete();

    // The header of a non-plug-in page: page name and subtitle when there is a subtitle; else the
    // wizard's title and the page name when the page has a name; else the device name and the title.
    static void PageHeader(const WizScript& wiz, const CfgSection& page, const std::string& deviceName,
        std::string* title, std::string* subtitle);

private:
    bool Load(const std::string& name);
    uint32_t LoadFeatureMask() const;
    const char* Language() const;
    // The activation of page `index`: false when one of its conditions holds. Runs the show list
    // and refreshes the controls otherwise.
    bool Activate(int index);
    bool Refused(int index);
    bool MoveFrom(int index, int direction);
    bool TakePage(const WizAskFn& ask, CfgTakeResult* rejected);
    void Free();

    DeviceEntry& entry_;
    std::string language_;
    std::vector<WizListEntry> list_;
    int page_ = -1;
    std::vector<WizControl> controls_;
    std::vector<int> skipped_;
};

// The control state that shows an item's value (the page builder's refresh).
CfgControlState WizControlFromItem(const CfgItem& item);
// What a user types or chooses for an item, as the control would hold it: an edit's text, a choice's
// text (or value), a date or time as typed, 0/1/2 for a switch. False when the text is no choice of
// the item (or no time).
bool WizControlFromAnswer(const CfgItem& item, const std::string& answer, CfgControlState* state);
