// Dialog templates rebuilt with header texts: any bytes give a template that reads back with two more
// controls, or nothing; never a read past the input.
#include "filterplugin/filter_template.h"

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FilterHeaderControls header;
    header.title = u"Title";
    header.subtitle = u"Subtitle";
    std::vector<uint8_t> copy(data, data + size); // exactly the input's bytes, so ASan sees overreads
    std::vector<uint8_t> out = FilterTemplateWithHeader(copy.data(), copy.size(), header);
    FilterTemplateInfo before, after;
    bool readable = FilterTemplateRead(copy.data(), copy.size(), &before);
    Check(readable == !out.empty());
    Check(!readable || (FilterTemplateRead(out.data(), out.size(), &after) && after.count == before.count + 2));
    return 0;
}
