// Lines of the test control channel: any text parses; escaping is undone by unescaping (with line ends
// made LF), an escaped text is one line, and a quoted name never grows.
#include "common/testctl.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    TestCtlCommand c = TestCtlParse(text);
    if (c.verb.size() + c.rest.size() > text.size())
        std::abort();
    for (const std::string& word : TestCtlWords(c.rest))
        if (word.size() > c.rest.size())
            std::abort();
    std::string escaped = TestCtlEscape(text);
    for (char ch : escaped)
        if (ch == '\n' || ch == '\r' || ch == '\0')
            std::abort();
    // The way back: line ends as LF, other control characters as blanks.
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '\r') {
            expected += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (ch != '\n' && static_cast<unsigned char>(ch) < 0x20) {
            expected += ' ';
        } else {
            expected += ch;
        }
    }
    if (TestCtlUnescape(escaped) != expected)
        std::abort();
    TestCtlLabel(text);
    TestCtlMenuText(text);
    TestCtlParseHandle(text);
    return 0;
}
