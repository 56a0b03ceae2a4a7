// Installs a PostScript printer printing to a file in the Wine prefix it runs in, so that the print
// dialog and its preview can be driven in a test: the driver with the given PPD file as its data, the
// printer "Preview Printer" on port "FILE:", made the default. Prints "printer: NAME WIDTHxHEIGHT" (the
// printable area of a DC on it) and exits 0, or a reason and exits 1.
//   windows_addprinter.exe PPDFILE
#include <windows.h>

#include <cstdio>
#include <winspool.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: windows_addprinter PPDFILE\n");
        return 2;
    }
    char name[] = "Preview Printer";
    char driver[] = "Wine PostScript Driver";
#ifdef _WIN64
    char environment[] = "Windows x64";
#else
    char environment[] = "Windows NT x86";
#endif
    char module[] = "wineps.drv";
    char raw[] = "RAW";
    char port[] = "FILE:";
    char processor[] = "WinPrint";
    DRIVER_INFO_3A di {};
    di.cVersion = 3;
    di.pName = driver;
    di.pEnvironment = environment;
    di.pDriverPath = module;
    di.pDataFile = argv[1];
    di.pConfigFile = module;
    di.pDefaultDataType = raw;
    if (!AddPrinterDriverExA(nullptr, 3, reinterpret_cast<LPBYTE>(&di), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY)) {
        std::printf("AddPrinterDriverEx failed: %lu\n", GetLastError());
        return 1;
    }
    PRINTER_INFO_2A pi {};
    pi.pPrinterName = name;
    pi.pPortName = port;
    pi.pDriverName = driver;
    pi.pPrintProcessor = processor;
    pi.pDatatype = raw;
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&pi));
    if (!printer && GetLastError() != ERROR_PRINTER_ALREADY_EXISTS) {
        std::printf("AddPrinter failed: %lu\n", GetLastError());
        return 1;
    }
    if (printer)
        ClosePrinter(printer);
    if (!SetDefaultPrinterA(name)) {
        std::printf("SetDefaultPrinter failed: %lu\n", GetLastError());
        return 1;
    }
    HDC dc = CreateDCA("WINSPOOL", name, nullptr, nullptr);
    if (!dc) {
        std::printf("no DC on %s\n", name);
        return 1;
    }
    std::printf("printer: %s %dx%d\n", name, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES));
    DeleteDC(dc);
    return 0;
}
