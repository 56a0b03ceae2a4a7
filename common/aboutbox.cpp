#include "common/aboutbox.h"

#include "common/text.h"

std::string AboutVersionLine(const AboutBoxRecord& r)
{
    return StrFormat("Version %d.%02d.%04d (%s)", r.major, r.minor, r.build, LocaleShortDate(r.buildDate).c_str());
}

std::string AboutCopyrightLine(const AboutBoxRecord& r)
{
    unsigned first = r.firstYear;
    if (first == 0 && (r.flags & kAboutBuildVersion))
        first = r.buildDate.year;
    std::string years = StrFormat("%u", first);
    if (r.lastYear > first)
        years += StrFormat("-%hu", r.lastYear);
    return StrFormat("Copyright (c) %s", years.c_str());
}

void AboutBuildLines(AboutBoxRecord* r)
{
    if (r->flags & kAboutBuildVersion)
        r->version = CutTo(AboutVersionLine(*r), 255);
    if (r->flags & kAboutBuildCopyright)
        r->copyright = CutTo(AboutCopyrightLine(*r), 255);
}
