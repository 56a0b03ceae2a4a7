// Configuration files on arbitrary bytes: the header reader keeps its fields within a header line, the
// import never fails on content, and a text exported by the export comes back unchanged from the import.
#include "config/cfgfile/cfg_file.h"

#include "cfg_text_desc.h"
#include "common/diag.h"
#include "common/platform/file.h"
#include "fuzz/fuzz_check.h"
#include "fuzz_scratch.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string TempPath(const char* name)
{
    return FuzzScratchDir() + "/" + name;
}

// True when every line of the text is plain: no control characters but the line ends.
bool Plain(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = (DiagSetSink([](const std::string&) {}), true);
    (void)quiet;
    if (size > 1 << 16)
        return 0;
    static const std::string in = TempPath("_in.lcf");
    static const std::string out = TempPath("_out.lcf");
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FILE* f = std::fopen(in.c_str(), "wb");
    Check(f != nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    CfgFileHeader header;
    if (CfgReadFileHeader(in.c_str(), &header)) {
        Check(header.comment.size() < CfgMaxHeaderLine);
        Check(header.version.size() < CfgMaxHeaderLine && !header.version.empty());
        Check(header.deviceType.size() < CfgMaxHeaderLine && !header.deviceType.empty());
        Check(header.comment.find(')') == std::string::npos);
        Check(header.deviceType.find(']') == std::string::npos);
    }
    CfgTempStream text = CfgImportFile(in);
    Check(text.IsOpen());
    std::string imported = text.Contents();
    // Export then import gives back the text when it is made of plain lines in the writer's form.
    CfgDescriptionPtr desc = FuzzDescription();
    CfgTempStream rewritten = CfgWriteFile(std::move(text), *desc);
    std::string written = rewritten.Contents();
    if (Plain(written)) {
        Check(CfgExportFileWith(rewritten, desc.get(), "Fuzz", "1.0", 0xFFFFFFFFu, 0, out, "c", false));
        CfgFileHeader back;
        Check(CfgReadFileHeader(out, &back) && back.deviceType == "Fuzz" && back.version == "1.0");
        CfgTempStream again = CfgImportFile(out);
        std::string reimported = again.Contents();
        // The export leaves out every section line of the text; the import starts with the header's.
        size_t b = reimported.find("\r\n");
        Check(b != std::string::npos);
        std::string expected;
        for (size_t at = 0; at < written.size();) {
            size_t end = written.find("\r\n", at);
            end = end == std::string::npos ? written.size() : end + 2;
            std::string line = written.substr(at, end - at);
            size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] != '[' || line.find(']') == std::string::npos)
                expected += line;
            at = end;
        }
        Check(reimported.substr(b + 2) == expected);
    }
    return 0;
}
