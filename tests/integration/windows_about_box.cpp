// Shows the about box the way a program does, for the about-box test under Wine:
//   windows_about_box [/lang:<id>] [/cursor] [/plain] [/owner] [/log:<file>]
// Texts come from qorvexal's string tables; /plain gives every line as a text field instead of by id;
// /owner centres the box on a small owner window, /cursor on the mouse cursor. Prints the dialog's
// result ("result 1" for OK, "result 2" for Escape) and every link it was asked to open, each line
// as it happens, to <file> (read by the test while the box runs) or standard output.
#include "common/aboutbox.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/aboutbox.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
FILE* g_log = stdout;

void PrintLink(HWND, const char* address)
{
    std::fprintf(g_log, "open link %s\n", address);
    std::fflush(g_log);
}
} // namespace

int main(int argc, char** argv)
{
    AboutBoxRecord r;
    r.instance = GetModuleHandleA(nullptr);
    r.strings = &qorvexal_Strings();
    r.flags
        = kAboutTitleId | kAboutProductId | kAboutProduct2Id | kAboutBuildVersion | kAboutBuildCopyright | kAboutWebId;
    r.titleId = 1613;
    r.productId = 1612;
    r.product2Id = 1614;
    r.webId = 1615;
    r.company = "Office Router Tools";
    r.additional = "Test build";
    r.major = 3;
    r.minor = 5;
    r.build = 42;
    r.buildDate = { 2001, 6, 30 };
    r.firstYear = 1998;
    r.lastYear = 2001;
    bool withOwner = false;
    for (int i = 1; i < argc; ++i) {
        if (StrStartsWithNoCase(argv[i], "/lang:"))
            StrSetLanguage(static_cast<uint16_t>(ParseDecimal(argv[i] + 6)));
        else if (StrEqualNoCase(argv[i], "/cursor"))
            r.flags |= kAboutCenterOnCursor;
        else if (StrStartsWithNoCase(argv[i], "/log:")) {
            if (FILE* f = std::fopen(argv[i] + 5, "w"))
                g_log = f;
        } else if (StrEqualNoCase(argv[i], "/owner"))
            withOwner = true;
        else if (StrEqualNoCase(argv[i], "/plain")) {
            r.flags &= ~(kAboutTitleId | kAboutProductId | kAboutProduct2Id | kAboutWebId);
            r.title = "About Plain";
            r.product = "Plain";
            r.web = "http://plain.example/";
        }
    }
    SetAboutLinkHandler(PrintLink);
    HWND owner = nullptr;
    if (withOwner)
        owner = CreateWindowA("STATIC", "About test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 300, nullptr,
            nullptr, GetModuleHandleA(nullptr), nullptr);
    INT_PTR result = ShowAboutBox(owner, r);
    std::fprintf(g_log, "result %d\n", static_cast<int>(result));
    std::fflush(g_log);
    if (owner)
        DestroyWindow(owner);
    return result == IDOK || result == IDCANCEL ? 0 : 1;
}
