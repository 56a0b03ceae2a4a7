// Printing a configuration: one renderer draws the printout's pages (config/frontend/printout.h) on a
// printer, in the print preview window and into enhanced metafiles. The print dialog carries the check
// box "&Hide passwords in printout" (on by default) and a preview button. File, Print prints the
// selected devices' configurations after the read job 1033; the "print:" and "printto:" verbs print a
// configuration file. Without a printer a message says so and nothing else happens.
#pragma once

#include "config/frontend/printout.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct CfgDescription;
struct DeviceJob;
class DeviceCommands;

// String ids of the printing texts.
enum : unsigned {
    PrintStrTitle = 2166, // "Print"
    PrintStrNoPrinter = 2167, // "No printer is installed. ..."
    PrintStrFailed = 2168, // "The configuration could not be printed on %s."
    PrintStrPreview = 2169, // "Pre&view"
    PrintStrPreviewTitle = 2170, // "Print preview - %s"
    PrintStrPrint = 2171, // "&Print"
    PrintStrPrevious = 2172, // "P&revious page"
    PrintStrNext = 2173, // "&Next page"
    PrintStrClose = 2174, // "&Close"
};

// One configuration to print: its values and its header.
struct PrintJobPart {
    const CfgDescription* desc = nullptr;
    PrintHeader header;
};

// How a DC's page is filled: the printout's columns and lines, the character cell, the printed area.
struct PrintPageMetrics {
    PrintOptions options;
    int charWidth = 1;
    int lineHeight = 1;
    RECT area {};
};

// The fixed-pitch fonts of the printout on a DC (10 points at the DC's resolution), regular and bold.
class PrintFonts {
public:
    explicit PrintFonts(HDC dc);
    ~PrintFonts();
    PrintFonts(const PrintFonts&) = delete;
    PrintFonts& operator=(const PrintFonts&) = delete;
    HFONT regular = nullptr;
    HFONT bold = nullptr;
};

// The metrics of a page `area` (in the DC's units) with `fonts`.
PrintPageMetrics CfgPrintMetrics(HDC dc, const RECT& area, const PrintFonts& fonts, bool hidePasswords);
// The printable area of a printer DC less a margin of half an inch.
RECT CfgPrinterArea(HDC dc);
// Draws page `page` of `printout` on `dc`.
void CfgDrawPrintPage(
    HDC dc, const Printout& printout, size_t page, const PrintPageMetrics& metrics, const PrintFonts& fonts);

// Writes every page of the configurations as enhanced metafiles `prefix`1.emf, `prefix`2.emf, ...
// (an A4 page on the screen's resolution). Returns the files written, none when one failed.
std::vector<std::string> CfgPrintToMetafiles(
    const std::vector<PrintJobPart>& parts, const std::string& prefix, bool hidePasswords);

// File, Print: the print dialog (with its hide-passwords box and preview), then the pages on the
// chosen printer. False when nothing was printed (no printer, cancelled, failed; messages shown).
bool CfgPrintWithDialog(HWND owner, const std::vector<PrintJobPart>& parts, const std::string& documentName);

// A configuration file printed: on the default printer (`printer` empty) or on the named printer
// with its driver and port. The file opens as for editing ("Can't open file.", string 1919).
bool CfgPrintFile(HWND owner, const std::string& path, const std::string& printer = std::string(),
    const std::string& driver = std::string(), const std::string& port = std::string());

// File, Print on devices: after the read job (1033) the print dialog and the printout of every device's
// configuration, then the release job. Returns true when it took the job's result.
bool CfgPrintFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job);

// The test control channel's printing command: "printemf LCFFILE PREFIX hide|show" lays a configuration
// file out into the metafiles PREFIX1.emf, PREFIX2.emf, ... "" for other commands.
std::string CfgPrintTestCommand(const std::string& verb, const std::string& rest);
