#include "common/strings.h"
#include "config/frontend/deviceinfo.h"
#include "device/sysinfo.h"

#include <gtest/gtest.h>

TEST(DeviceInfo, FeaturesAndImageStoreFromTheReportedFlags)
{
    StrSetLanguage(1033);
    DeviceEntry e;
    // A device with one image and no Solvane server: nothing to say.
    EXPECT_TRUE(DeviceInfoTexts(e).empty());
    EXPECT_EQ(DeviceImageStoreText(e), "");

    e.flags = DevFlagSolvane;
    EXPECT_EQ(DeviceInfoTexts(e), (std::vector<std::string> { "Solvane server" }));

    // Several images: the count of the line's parts, also those past the room of the version list.
    e.flags = DevFlagFirmwareImages;
    e.fw_status.image_count = 2;
    e.fw_status.versions = { "3.42", "3.50" };
    EXPECT_EQ(DeviceImageStoreText(e), "symmetric, 2 image(s)");
    e.fw_status.image_count = 9;
    EXPECT_EQ(DeviceImageStoreText(e), "symmetric, 9 image(s)");
    e.flags = DevFlagFirmwareImages | DevFlagAsymmetric | DevFlagSolvane;
    e.fw_status.image_count = 2;
    EXPECT_EQ(DeviceInfoTexts(e), (std::vector<std::string> { "Solvane server", "asymmetric, 2 image(s)" }));
    // The asymmetric bit alone (no FIRMWARE-STATUS line) says nothing about images.
    e.flags = DevFlagAsymmetric;
    EXPECT_TRUE(DeviceInfoTexts(e).empty());

    StrSetLanguage(1031);
    e.flags = DevFlagFirmwareImages | DevFlagAsymmetric;
    EXPECT_EQ(DeviceImageStoreText(e), "asymmetrisch, 2 Image(s)");
    StrSetLanguage(1033);
}
