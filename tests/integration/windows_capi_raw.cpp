// Sends a file as one control request to the CAPI device, as the task's Win32 layer does, and prints
// "error N" (0 when the driver took it). For windows_capi_test.sh: malformed buffers must be refused.
//   windows_capi_raw.exe FILE [DEVICE]
#include "capictl/win32/capi_win.h"
#include "common/platform/file.h"

#include <cstdio>

int main(int argc, char** argv)
{
    std::string data;
    if (argc < 2 || !FileReadAll(argv[1], &data)) {
        std::fprintf(stderr, "usage: windows_capi_raw FILE [DEVICE]\n");
        return 2;
    }
    uint32_t error = 0;
    std::unique_ptr<CapiDevice> device
        = CapiOpenWin32Device(std::string("\\\\.\\") + (argc > 2 ? argv[2] : "CAPI201"), &error);
    if (device)
        error = device->Control(reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()));
    std::printf("error %u\n", error);
    return 0;
}
