// ostrel-cli decode FILE: a status buffer as the driver returns it, record by record.
#include "capictl/capi_format.h"
#include "capictl/capi_records.h"
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/text.h"

#include <cstdio>

namespace {
int RunDecode(std::vector<std::string>& args)
{
    CliArgs options(args);
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.size() != 1)
        return CliFail("usage: decode FILE", 2);
    std::string buffer;
    if (!FileReadAll(args[0], &buffer))
        return CliFail("cannot read " + args[0]);
    const auto* data = reinterpret_cast<const uint8_t*>(buffer.data());
    std::printf("%s\n", CapiFormatSummary(data, buffer.size()).c_str());
    CapiWalker walk(data, buffer.size());
    for (CapiRecordView record; walk.Next(&record);)
        std::printf("%s\n", CapiFormatStatusRecord(record).c_str());
    std::printf("walked %llu of %llu bytes\n", static_cast<unsigned long long>(walk.Walked()),
        static_cast<unsigned long long>(buffer.size()));
    // A record that does not fit stops the walk: what follows it was not decoded.
    if (walk.Walked() < buffer.size())
        return CliFail(
            StrFormat("a record at byte %llu does not fit the buffer", static_cast<unsigned long long>(walk.Walked())),
            1);
    return 0;
}

CliRegistrar reg { { "decode", "decode FILE              the records of a status buffer", RunDecode } };
} // namespace
