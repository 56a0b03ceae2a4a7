// Value editing rules of the configuration dialogs: how a value is taken from a control back into the
// store, with every check in its order, and the checks of the table-entry dialog. The dialogs describe
// what a control holds (CfgControlState), call CfgTakeValue, show what it asks for and call it again
// with the user's answer until it is done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CfgItem;
struct CfgDescription;
struct CfgRow;

// String ids of the messages (titles: CfgStrWarning or CfgStrError).
enum : unsigned {
    CfgStrWarning = 1950, // "Warning"
    CfgStrError = 1951, // "Error"
    CfgStrDevicesDiffer = 1952, // "The selected devices have different settings for the '%s' parameter. ..."
    CfgStrPeriodInvalid = 1953, // "The time period between '%s' and '%s' is invalid. ..."
    CfgStrEnterValue = 1954, // "Please enter a value for '%s'!"
    CfgStrEnterAddress = 1955, // "Please enter a valid ip address for '%s'!"
    CfgStrNotInList = 1956, // "The input value '%s' is not contained in the selection list for '%s'. ..."
    CfgStrInvalidChars = 1957, // "You have entered invalid characters for '%s'. Please retype your entry."
    CfgStrRepeatWrong = 1958, // "You haven't repeated your entry correctly!"
    CfgStrDuplicateEntry = 1959, // "An entry with this name already exists in this table."
    CfgStrTableFull = 1960, // "This table does not contain enough free entries to hold a value of this length. ..."
};

// What a control holds when its value is taken.
struct CfgControlState {
    bool changed = false; // the user changed the control since the dialog filled it
    std::string text; // edit fields and combo boxes (8 to 12, 19); the typed date (13, 15)
    int selection = -1; // index of the checked button (17) or the selected entry (18); -1 none
    int check = 0; // check box (20): 0 off, 1 on, 2 undetermined
    uint32_t position = 0; // slider position (16)
    // Time controls (14, 15): the time the control shows.
    uint32_t hour = 0;
    uint32_t minute = 0;
    uint32_t second = 0;
};

// The value a control holds, in the item's text form (no checks): see CfgTakeValue.
std::string CfgControlValue(const CfgItem& item, const CfgControlState& control);

// The user's answers to what an earlier call asked; the dialog fills them in and calls again.
struct CfgAnswers {
    std::optional<bool> changeAll; // the several-devices question: Yes (true) or No
    std::optional<bool> keepInput; // the not-in-selection-list question: Yes (true) or No
    std::optional<std::string> repeated; // the text typed in the repetition dialog (OK)
    bool repeatCancelled = false; // the repetition dialog was cancelled
};

enum class CfgTakeStatus {
    Taken, // the value is stored (for every device of a group)
    Kept, // nothing taken and nothing to say: the devices keep their own values
    Reset, // No to the several-devices question: reset the control (empty, nothing checked or selected)
    Rejected, // show `message` under `title`; focus and text selection go to `focus`; nothing taken
    Ask, // ask `message` (Yes/No) under `title`, set the answer and call again
    AskRepeat, // open the repetition dialog titled `caption`, set `repeated` (or cancelled), call again
    RepeatWrong, // show `message` under `title`; the repetition dialog stays open for another try
};

struct CfgTakeResult {
    CfgTakeStatus status = CfgTakeStatus::Kept;
    unsigned messageId = 0; // string id of `message`, 0 when there is none
    std::string message;
    std::string title;
    std::string caption; // AskRepeat: the repetition dialog's caption
    const CfgItem* focus = nullptr; // the item whose control gets the focus after a message
    std::string value; // the value taken (Taken)
};

// Optional context of a take: the partner of a time period when its control is still open.
struct CfgTakeContext {
    const CfgControlState* periodPartner = nullptr; // the upper time's control when taking the lower
};

// Takes the control's value for `item` (and, through the counterparts, for every device configured
// together) after the checks: several devices, time periods, mandatory values, addresses, selection
// from a table, secret values with repetition. `desc` is the item's description (tables of a
// selection; the group of a secret's caption). A taken value is stored with CfgSetItemValue in every
// device whose value differs from it.
CfgTakeResult CfgTakeValue(CfgDescription& desc, CfgItem& item, const CfgControlState& control,
    const CfgAnswers& answers, const CfgTakeContext& context = {});

// The checks of the table-entry dialog on OK: `texts` are the entered column texts (column 1 first),
// `editing` the row being edited (nullptr when adding or copying). Rejected with the message when the
// key is already another row's, or when the long value of a merged column needs more rows than the
// table has free; Taken otherwise (nothing is stored: the dialog stores the row).
CfgTakeResult CfgCheckTableEntry(const CfgItem& table, const CfgRow* editing, const std::vector<std::string>& texts);

// The item's description as the messages name it (its first description text, else its name).
std::string CfgItemLabel(const CfgItem& item);
