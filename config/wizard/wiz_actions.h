// Wizard actions and conditions: the operands they read (wizard and configuration items, device and
// host variables), the action lists that change items, and the "skip_when" conditions. Every problem
// is a diagnostic line (Diag) and the next action runs: nothing here stops a wizard.
#pragma once

#include "config/description/cfg_types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DeviceEntry;
struct WizScript;

// Page mode: the lists run while the user moves through the pages (on_init, on_show, on_back,
// on_next); targets are wizard items only. Apply mode: on_apply after Finish; targets are wizard and
// configuration items.
enum class WizMode { Page, Apply };

// Working texts of "cat" and "cut" hold at most this many bytes with their terminating NUL.
constexpr size_t WizWorkText = 1024;

// The value an operand stands for: a list of texts (the first is what actions store). `own` is set
// when the operand stands for its own text (a literal, or a reference that found nothing).
struct WizValue {
    std::vector<std::string> texts;
    bool own = false;
    std::string First() const
    {
        return texts.empty() ? std::string() : texts.front();
    }
};

// Resolves an operand (none or "*": the empty text; "device.", "host.", "wizard.", "config." names;
// anything else: itself). `wizard` and `config` may be null.
WizValue WizResolveOperand(CfgDescription* wizard, CfgDescription* config,
    const std::optional<std::string_view>& operand, const DeviceEntry* entry);

// Runs the actions in order (each skipped at the first of its conditions that holds).
void WizRunActions(WizScript& wiz, CfgDescription* config, const std::vector<WizAction>& actions,
    const DeviceEntry* entry, WizMode mode);

// True when the condition holds (an unknown operator never holds).
bool WizTestCondition(WizScript& wiz, CfgDescription* config, const WizCondition& condition, const DeviceEntry* entry);
// True when one of the conditions holds (tested in order up to the first that holds).
bool WizAnyConditionHolds(
    WizScript& wiz, CfgDescription* config, const std::vector<WizCondition>& conditions, const DeviceEntry* entry);

// The host variables: the computer's own IPv4 addresses (host order) of "host.ipaddr". By default
// NetHostAddresses (common/platform/netif.h); tests install a fixed list (an empty function restores
// the default). Language and country names come from common/locale.h (InstallLocale in tests).
void WizSetHostAddressSource(std::function<std::vector<uint32_t>()> source);
