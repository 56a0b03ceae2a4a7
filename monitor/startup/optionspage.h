// The options page of a device's properties: the script's options of the device as a tree of entries (a
// check entry per checkbox option; per radio group an entry with its label and image and a radio entry
// per choice below it), what a click or the space key on an entry does, and saving the values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct OptionObject;
struct EngineDevice;
class Engine;

struct OptionsPageEntry {
    enum class Kind : uint8_t { Check, Group, Radio };
    Kind kind = Kind::Check;
    size_t option = 0; // index in the device's options (and in the values)
    uint32_t choice = 0; // a radio entry's position in its group, from 0
    std::string label;
    int image = -1; // a group's image number (-1: none given)
};

// The entries in tree order: a group's radio entries follow it. Options of no known kind have none.
std::vector<OptionsPageEntry> OptionsPageEntries(const std::vector<OptionObject>& options);
// Whether the entry shows as checked (a check entry: value not 0; a radio entry: its choice is the value).
bool OptionsPageChecked(const OptionsPageEntry& entry, const std::vector<uint32_t>& values);
// A click or the space key: a check entry toggles, a radio entry chooses; a group does nothing. True
// when a value changed.
bool OptionsPageActivate(const OptionsPageEntry& entry, std::vector<uint32_t>& values);

// The device's current values, one per option; and saving those that changed through the engine
// (written to the settings, the items evaluated again). Returns the number saved.
std::vector<uint32_t> OptionsPageValues(EngineDevice& device);
size_t OptionsPageSave(Engine& engine, EngineDevice& device, const std::vector<uint32_t>& values);
