// The whole-section read of settings files (IniFile::SectionLines).
#include "common/ini.h"
#include "common/text.h"

std::vector<std::string> IniFile::SectionLines(std::string_view section) const
{
    std::string buffer;
    section = Inner(section, buffer); // the lines of a file with a byte-order mark are UTF-8
    std::vector<std::string> out;
    for (size_t s = FindSection(section); s != std::string::npos; s = FindSection(section, s + 1)) {
        size_t end = SectionEnd(s);
        for (size_t i = s + 1; i < end; ++i) {
            const Line& line = lines_[i];
            if (line.kind == LineKind::Key) {
                out.push_back(Outer(line.name + "=" + std::string(RawValue(line))));
                continue;
            }
            std::string_view t = Trim(line.text);
            if (!t.empty() && t.front() != ';')
                out.push_back(Outer(std::string(t)));
        }
    }
    return out;
}
