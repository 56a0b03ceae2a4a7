// The configuration history's readers on arbitrary input: a version's file name parses only to fields
// that make the same name again, and a device folder's "device.txt" of any content is read without
// harm.
#include "common/platform/file.h"
#include "config/frontend/history.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_scratch.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    HistVersion v;
    if (HistParseFileName(text, &v)) {
        Check(v.number != 0);
        HistVersion again;
        std::string name = HistFileName(v.number, v.time, v.source);
        Check(HistParseFileName(name, &again));
        Check(again.number == v.number && again.time == v.time && again.source == v.source);
    }
    static const std::string root = FuzzScratchDir() + "/History";
    std::filesystem::create_directories(root + "/SN-X");
    FileWriteAtomic(root + "/SN-X/device.txt", text);
    std::string found = HistFolderByNote(root, "office", "127.0.0.1:69");
    Check(found.empty() || found == root + "/SN-X");
    return 0;
}
