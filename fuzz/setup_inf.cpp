// INF scripts: any text is read or refused with an error line inside the text; what is read gives
// fields no longer than SetupAPI's bound, before and after string substitution, and the installer's
// own reading of it (sections, products, the plan of steps, the files it copies) takes any script.
#include "common/text.h"
#include "setup/setup_plan.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    InfText inf;
    unsigned line = 0;
    if (!inf.Parse(text, nullptr, &line)) {
        if (line < 1 || line > static_cast<unsigned>(std::count(text.begin(), text.end(), '\n')) + 1) {
            std::abort();
        }
        return 0;
    }
    std::vector<std::string> names = inf.SectionNames();
    for (const std::string& name : names) {
        if (name.size() > 255 || !inf.HasSection(name)) {
            std::abort();
        }
        for (const InfLine& line : inf.Lines(name)) {
            if (line.key.size() > kInfMaxField) {
                std::abort();
            }
            for (const std::string& field : line.fields) {
                if (field.size() > kInfMaxField) {
                    std::abort();
                }
            }
        }
        for (const InfLine& raw : *inf.RawLines(name)) {
            if (raw.key.size() > kInfMaxField) {
                std::abort();
            }
            for (const std::string& field : raw.fields) {
                if (field.size() > kInfMaxField) {
                    std::abort();
                }
            }
        }
    }
    // A script that reads is opened only with its [Version] section, and refused at line 0 without.
    InfText opened;
    unsigned openLine = 1;
    if (opened.Open(text, nullptr, &openLine) ? !inf.HasSection("Version") : openLine != 0) {
        std::abort();
    }
    for (bool nt : { true, false }) {
        SetupOs os;
        os.nt = nt;
        os.major = nt ? 5 : 4;
        os.minor = nt ? 0 : 90;
        SetupSections sections = SetupChooseSections(inf, os);
        std::vector<ProductLine> products = SetupReadProducts(inf, sections.products);
        std::vector<std::string> list = { sections.install, sections.remove };
        for (const ProductLine& product : products) {
            list.push_back(product.installSection);
        }
        for (const SetupStep& step : SetupBuildPlan(inf, list, nt)) {
            SetupStepText(step);
        }
        // The files a distribution must carry: each once (ignoring case), none empty.
        std::vector<std::string> files = SetupCopiedFiles(inf, list);
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i].empty()) {
                std::abort();
            }
            for (size_t j = 0; j < i; ++j) {
                if (StrEqualNoCase(files[i], files[j])) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
