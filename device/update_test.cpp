#include "device/deviceentry.h"
#include "device/sysinfo.h"
#include "device/update.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
DeviceEntry Device(const char* type, const char* version, uint32_t flags = 0)
{
    DeviceEntry e;
    e.device_type = type;
    e.hw_release = "A";
    e.fw_version = version;
    e.fw_date = "01.01.2020";
    e.flags = flags;
    return e;
}

UpdateDescription Parse(const char* text)
{
    UpdateDescription d;
    UpdateParseDescription(text, "pkg", &d);
    return d;
}
} // namespace

TEST(UpdateDescription, SectionsKeysAndConditions)
{
    UpdateDescription d
        = Parse("[Morvak_1100[_Plus;]]\r\nUpxFile=m1100.upx, 3.0\r\nUpx.3.0 = m1100_30.upx\r\n"
                "Version=3.30.0001, 01.02.2024\r\nFeature=0x10, 010\r\n[Morvak_2400]\r\nUpxFile=m2400.upx\r\n");
    ASSERT_EQ(d.sections.size(), 2u);
    EXPECT_EQ(d.sections[0].version, "3.30.0001");
    EXPECT_EQ(d.sections[0].date, "01.02.2024");
    EXPECT_EQ(d.sections[0].feature_mask, 0x10u);
    EXPECT_EQ(d.sections[0].feature_value, 8u); // octal
    EXPECT_EQ(UpdateFindSection(d, Device("Morvak 1100 Plus", "3.1")), &d.sections[0]);
    EXPECT_EQ(UpdateFindSection(d, Device("Morvak 2400", "3.1")), &d.sections[1]);
    EXPECT_EQ(UpdateFindSection(d, Device("Morvak 5000", "3.1")), nullptr);

    EXPECT_TRUE(UpdateConditionHolds("3.0", Device("x", "2.5")));
    EXPECT_FALSE(UpdateConditionHolds("3.0", Device("x", "3.0.0001")));
    EXPECT_TRUE(UpdateConditionHolds("3.10", Device("x", "3.9"))); // fields as numbers
    EXPECT_TRUE(UpdateConditionHolds("AFS", Device("x", "1", DevFlagFirmwareImages)));
    EXPECT_FALSE(UpdateConditionHolds("afs", Device("x", "1", DevFlagAsymmetric)));
    EXPECT_TRUE(UpdateConditionHolds("SFS", Device("x", "1", DevFlagAsymmetric)));
    EXPECT_FALSE(UpdateConditionHolds("SFS", Device("x", "1", DevFlagFirmwareImages)));
}

TEST(UpdateDescription, ChainsTheirEndAndTheirFaults)
{
    UpdateDescription d
        = Parse("[Morvak_1100]\nUpxFile=final.upx, 3.0\nUpx.3.0=step.upx, SFS, 2.0\nUpx.2.0=first.upx\n");
    const UpdateSection& s = d.sections[0];
    // Condition 3.0 on a 2.5 device (with several images, so SFS does not hold): Upx.3.0's file first.
    UpdateChain c = UpdateEvaluate(d, s, Device("Morvak 1100", "2.5", DevFlagFirmwareImages));
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.file, "step.upx");
    EXPECT_EQ(c.path, "pkg/step.upx");
    EXPECT_TRUE(c.more);
    // After that restart the device reports 3.0: the file of "UpxFile" itself, the last of the chain.
    c = UpdateEvaluate(d, s, Device("Morvak 1100", "3.0", DevFlagFirmwareImages));
    EXPECT_EQ(c.file, "final.upx");
    EXPECT_FALSE(c.more);
    // The first condition that holds (left to right) decides: SFS before 2.0.
    c = UpdateEvaluate(d, s, Device("Morvak 1100", "1.0"));
    EXPECT_EQ(c.keys, (std::vector<std::string> { "UpxFile", "Upx.3.0" }));
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.error.find("no key Upx.SFS"), std::string::npos);
    c = UpdateEvaluate(d, s, Device("Morvak 1100", "1.0", DevFlagFirmwareImages));
    EXPECT_EQ(c.file, "first.upx");
    EXPECT_EQ(c.keys.size(), 3u);

    // A chain that comes back to a key it visited ends with a report.
    UpdateDescription loop = Parse("[Morvak_1100]\nUpxFile=a.upx, 3.0\nUpx.3.0=b.upx, 4.0\nUpx.4.0=c.upx, 3.0\n");
    c = UpdateEvaluate(loop, loop.sections[0], Device("Morvak 1100", "2.5"));
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.error.find("comes back to the key Upx.3.0"), std::string::npos) << c.error;
    UpdateDescription empty = Parse("[Morvak_1100]\nUpxFile=, 3.0\n");
    EXPECT_FALSE(UpdateEvaluate(empty, empty.sections[0], Device("Morvak 1100", "2.5")).ok);
}

TEST(UpdateDescription, ListOfFilesKeepsThirtyTwoAndPicksTheFirstSuitable)
{
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / ("update_list_" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    auto write = [&](const std::string& name, const char* pattern, const char* date) {
        FirmwareHeader h;
        h.letter = 'F';
        h.pattern = pattern;
        h.version = "3.30";
        h.date = date;
        std::ofstream(dir + "/" + name, std::ios::binary) << FirmwareBuildHeader(h);
        return dir + "/" + name;
    };
    std::string list = write("other.upx", "Morvak_2400", "01012030") + "," + write("old.upx", "Morvak_1100", "01012001")
        + ", " + dir + "/missing.upx," + write("good.upx", "Morvak_1100", "01012030");
    std::vector<std::string> skipped;
    std::vector<UpdateFile> files = UpdateReadFileList(list, &skipped);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(skipped, std::vector<std::string> { dir + "/missing.upx" });
    const UpdateFile* f = UpdatePickFile(files, Device("Morvak 1100", "3.10"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->path, dir + "/good.upx");
    EXPECT_EQ(UpdatePickFile(files, Device("Morvak 5000", "3.10")), nullptr);

    std::string many;
    for (int i = 0; i < 40; ++i)
        many += (i ? "," : "") + dir + "/good.upx";
    skipped.clear();
    EXPECT_EQ(UpdateReadFileList(many, &skipped).size(), kUpdateMaxFiles);
    EXPECT_EQ(skipped.size(), 8u);
    fs::remove_all(dir);
}

TEST(UpdateDescription, OffersToTheDevicesOfASearch)
{
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / ("update_offer_" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    FirmwareHeader h;
    h.letter = 'F';
    h.pattern = "Morvak_2400";
    h.version = "4.10";
    h.date = "15032030";
    std::ofstream(dir + "/m2400.upx", std::ios::binary) << FirmwareBuildHeader(h);
    UpdateDescription d;
    UpdateParseDescription("[Morvak_1100]\nUpxFile=final.upx, 3.0\nUpx.3.0=step.upx\nVersion=3.30, 01.02.2030\n"
                           "[Morvak_2400]\nUpxFile=m2400.upx\n[Morvak_5000]\nUpxFile=, 3.0\n",
        dir, &d);

    // The "Version" key tells what the device ends up with, also when the chain starts elsewhere.
    UpdateOffer o = UpdateOfferFor(d, Device("Morvak 1100", "2.5"));
    ASSERT_EQ(o.section, &d.sections[0]);
    EXPECT_EQ(o.chain.file, "step.upx");
    EXPECT_EQ(o.version, "3.30");
    EXPECT_TRUE(o.suggested);
    EXPECT_EQ(UpdateOfferText(o).rfind("Ver. 3.30 (", 0), 0u) << UpdateOfferText(o);
    // A device at that version already (or above it) is offered the update but not chosen for it.
    EXPECT_FALSE(UpdateOfferFor(d, Device("Morvak 1100", "3.30.0012")).suggested);
    EXPECT_FALSE(UpdateOfferFor(d, Device("Morvak 1100", "3.31")).suggested);
    EXPECT_TRUE(UpdateOfferFor(d, Device("Morvak 1100", "3.29.0099")).suggested);

    // Without "Version": the header of the file "UpxFile" names.
    o = UpdateOfferFor(d, Device("Morvak 2400", "4.0"));
    EXPECT_EQ(o.version, "4.10");
    EXPECT_EQ(o.date, "15032030");
    EXPECT_TRUE(o.suggested);
    // ... and when that file is missing, no version is known: the file's name is shown, still chosen.
    fs::remove(dir + "/m2400.upx");
    o = UpdateOfferFor(d, Device("Morvak 2400", "4.0"));
    EXPECT_TRUE(o.version.empty());
    EXPECT_TRUE(o.suggested);
    EXPECT_EQ(UpdateOfferText(o), "m2400.upx");

    // No section, or a section that names no file: nothing chosen, and the reason shown.
    o = UpdateOfferFor(d, Device("Morvak 9000", "1.0"));
    EXPECT_EQ(o.section, nullptr);
    EXPECT_FALSE(o.suggested);
    EXPECT_EQ(UpdateOfferText(o), "No update for this device type");
    o = UpdateOfferFor(d, Device("Morvak 5000", "2.0"));
    EXPECT_FALSE(o.chain.ok);
    EXPECT_FALSE(o.suggested);
    EXPECT_EQ(UpdateOfferText(o), "The update package names no usable firmware file for this device.");
    fs::remove_all(dir);
}
