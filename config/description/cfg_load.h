// Loading the description of one device type and firmware version, and making a new configuration
// from a device's initial data.
#pragma once

#include "config/description/cfg_reader.h"
#include "config/description/cfg_types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CfgTempStream;

// One condition line ("feature_mask" / "hardware_mask", in descriptions and wizards): true when the
// mask (first argument) has a bit in common with `deviceMask`, or, written "!" directly before the
// mask, none; a mask of 0 (or text that is no number) applies always.
bool CfgMaskApplies(const CfgArgList& args, uint32_t deviceMask);

// Loads the description of the device in `language` (nullptr: any) from the file the index names.
// `easy` is the simplified configuration mode (settings Options/EasyConfig). Returns nullptr when no
// description block matches. Diagnostics go through Diag().
CfgDescriptionPtr CfgLoadDescription(std::string_view deviceType, std::string_view version, const char* language,
    uint32_t featureMask, uint32_t hardwareMask, bool easy);

// The same from an open file (the index is not consulted): the first "version" block of the file that
// matches the device key. Used by CfgLoadDescription and by tools that read one given file.
CfgDescriptionPtr CfgLoadDescriptionFrom(CfgFile& file, const std::string& deviceKey, const char* language,
    uint32_t featureMask, uint32_t hardwareMask, bool easy);

// A feature offered in the new-configuration dialog: mask, text and whether it is ticked.
struct CfgFeatureChoice {
    uint32_t mask = 0;
    std::string text;
    bool checked = true;
};

// The features of a device that have a text (CfgGetFeature with all feature bits), in list order.
std::vector<CfgFeatureChoice> CfgNewConfigFeatures(
    std::string_view deviceType, std::string_view version, const char* language);

// The feature mask of a new configuration: all bits set, the bits of every offered feature cleared,
// the bits of every ticked feature set again.
uint32_t CfgNewConfigFeatureMask(const std::vector<CfgFeatureChoice>& offered);

// A new configuration: the hardware block and initial text (into `initialText`, a temporary stream),
// the description loaded in `language` with `easy`, marked new and not from a device. `featureMask`
// is the mask chosen above; `hardwareMask` receives the hardware block's mask. The caller reads the
// initial text into the description (configuration file reader). Returns nullptr when there is no
// description or no temporary stream.
CfgDescriptionPtr CfgNewConfiguration(std::string_view deviceType, std::string_view version, std::string_view comment,
    const char* language, bool easy, uint32_t featureMask, uint32_t* hardwareMask, CfgTempStream* initialText);
