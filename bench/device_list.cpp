// Loading and saving a device list of 20,000 devices in 5,000 folders from and to the settings file,
// against reading the same file and splitting it into its lines in the same run.
#include "common/ini.h"
#include "common/platform/file.h"
#include "common/text.h"
#include "device/devicelist.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kDevices = 20000;
constexpr int kFolders = 5000;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string SettingsText()
{
    std::string t = "[Options]\r\nCurrentFolder=Site 17/Rack\r\nSearchAtStartup=0\r\n";
    int perFolder = kDevices / kFolders;
    for (int f = 0; f < kFolders; ++f) {
        t += StrFormat("[DeviceList/Site %d/Rack]\r\nCount=%d\r\n", f, perFolder);
        for (int i = 1; i <= perFolder; ++i) {
            int n = f * perFolder + i;
            t += StrFormat("%d_Name=router %d\r\n%d_Description=branch office %d\r\n"
                           "%d_Parameters=0;;IP;10.%d.%d.%d;10;\r\n",
                i, n, i, n, i, (n >> 16) & 255, (n >> 8) & 255, n & 255);
        }
    }
    return t;
}

} // namespace

int main()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path
        = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_device_list" + std::to_string(std::rand()) + ".ini";
    std::string text = SettingsText();
    if (!FileWriteAtomic(path, text)) {
        std::fprintf(stderr, "device_list: cannot write %s\n", path.c_str());
        return 1;
    }
    double bestLines = 1e9, bestLoad = 1e9, bestSave = 1e9;
    size_t lines = 0, loaded = 0;
    for (int round = 0; round < 5; ++round) {
        // The peer: the file read whole and cut into its lines.
        {
            auto t0 = std::chrono::steady_clock::now();
            std::string data;
            FileReadAll(path, &data);
            std::vector<std::string> split;
            for (size_t pos = 0; pos < data.size();) {
                size_t end = data.find('\n', pos);
                end = end == std::string::npos ? data.size() : end;
                split.emplace_back(data, pos, end - pos);
                pos = end + 1;
            }
            bestLines = std::min(bestLines, Seconds(std::chrono::steady_clock::now() - t0));
            lines = split.size();
        }
        DeviceList list;
        {
            auto t0 = std::chrono::steady_clock::now();
            IniFile ini;
            ini.Load(path);
            loaded = static_cast<size_t>(DeviceListLoad(list, ini));
            bestLoad = std::min(bestLoad, Seconds(std::chrono::steady_clock::now() - t0));
        }
        {
            auto t0 = std::chrono::steady_clock::now();
            if (!DeviceListSave(list, path))
                return 1;
            bestSave = std::min(bestSave, Seconds(std::chrono::steady_clock::now() - t0));
        }
    }
    std::remove(path.c_str());
    if (loaded != static_cast<size_t>(kDevices)) {
        std::fprintf(stderr, "device_list: %zu of %d devices loaded\n", loaded, kDevices);
        return 1;
    }
    std::printf(
        "device_list: %d devices in %d folders, %zu lines, %zu bytes\n", kDevices, kFolders, lines, text.size());
    std::printf("  read and split the lines: %.2f ms\n", bestLines * 1e3);
    std::printf("  load the list:            %.2f ms (ratio %.1f)\n", bestLoad * 1e3, bestLoad / bestLines);
    std::printf("  save the list:            %.2f ms (ratio %.1f)\n", bestSave * 1e3, bestSave / bestLines);
    return 0;
}
