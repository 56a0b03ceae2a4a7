// The device layer's texts come from its own table: every id the layer loads has a text in each of the
// table's languages, so no status, progress or firmware message shows up empty.
#include "common/strings.h"
#include "device/devstatus.h"
#include "device/firmware.h"
#include "device/search.h"
#include "device/texts.h"
#include "device/update.h"

#include <gtest/gtest.h>
#include <vector>

TEST(DeviceTexts, EveryIdTheLayerLoadsHasATextInEachLanguage)
{
    std::vector<unsigned> ids
        = { DevProgressLines, DevProgressBytes, DevProgressPercent, 203, 204, 205, SearchPhaseSerial, SearchPhaseLocal,
              SearchPhaseRemote, 2300, 2301, 2302, UpdStrNoSection, UpdStrNoFile, FwStrVersion };
    for (unsigned id = DevStatusChecking; id <= DevStatusUnknown; ++id)
        if (id != 101 && id != 108)
            ids.push_back(id);
    for (unsigned id = FwStrBootLoader; id <= FwStrFileFilter; ++id)
        ids.push_back(id);
    for (unsigned id = 1740; id <= 1743; ++id) // the dial-up failures
        ids.push_back(id);
    for (uint16_t lang : { 1033, 1031, 1036 }) {
        ASSERT_TRUE(StrHasLanguage(device_Strings(), lang)) << lang;
        StrSetLanguage(lang);
        for (unsigned id : ids)
            EXPECT_FALSE(DeviceText(id).empty()) << "language " << lang << ", id " << id;
    }
    StrSetLanguage(1033);
    EXPECT_EQ(DevStatusText(DevStatusOk), "Ok");
    EXPECT_EQ(DevProgressText(DevProgressPercent, 5, 10, 0, ""), "50% finished");
}
