// SetupAPI's INF reader behind InfSource. The handle is opened by full path: SetupAPI looks a bare
// name up in the system's INF folder.
#include "setup/inf_setupapi.h"
#include "setup/win32/setupapi_win.h"

#include <windows.h>

#include <setupapi.h>
#include <vector>

namespace {

bool Field(INFCONTEXT* context, DWORD index, std::string* out)
{
    DWORD size = 0;
    if (!SetupGetStringFieldA(context, index, nullptr, 0, &size) || size == 0)
        return false;
    std::vector<char> buffer(size);
    if (!SetupGetStringFieldA(context, index, buffer.data(), size, nullptr))
        return false;
    out->assign(buffer.data());
    return true;
}

class SetupApiInf : public InfSource {
public:
    explicit SetupApiInf(HINF inf)
        : inf_(inf)
    {
    }
    ~SetupApiInf() override
    {
        SetupCloseInfFile(inf_);
    }
    SetupApiInf(const SetupApiInf&) = delete;
    SetupApiInf& operator=(const SetupApiInf&) = delete;

    bool HasSection(std::string_view section) const override
    {
        return SetupGetLineCountA(inf_, std::string(section).c_str()) >= 0;
    }
    std::vector<InfLine> Lines(std::string_view section) const override
    {
        std::vector<InfLine> lines;
        std::string name(section);
        LONG count = SetupGetLineCountA(inf_, name.c_str());
        for (LONG i = 0; i < count; ++i) {
            INFCONTEXT context;
            if (!SetupGetLineByIndexA(inf_, name.c_str(), static_cast<DWORD>(i), &context))
                continue;
            lines.push_back(SetupApiReadLine(&context));
        }
        return lines;
    }

private:
    HINF inf_;
};

} // namespace

InfLine SetupApiReadLine(void* infContext)
{
    INFCONTEXT* context = static_cast<INFCONTEXT*>(infContext);
    InfLine line;
    DWORD count = SetupGetFieldCount(context);
    for (DWORD f = 1; f <= count; ++f) {
        std::string value;
        Field(context, f, &value);
        line.fields.push_back(std::move(value));
    }
    // A line without key answers field 0 with its first field (or not at all).
    std::string key;
    if (Field(context, 0, &key)) {
        bool sameAsFirst = !line.fields.empty() && key == line.fields[0];
        // SetupAPI gives no way to tell "a = a" from "a": both read as key "a" here.
        line.hasKey = !sameAsFirst;
        if (line.hasKey)
            line.key = key;
    }
    return line;
}

std::unique_ptr<InfSource> InfOpenSetupApi(const std::string& path, unsigned* errorLine)
{
    UINT line = 0;
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, &line);
    if (inf == INVALID_HANDLE_VALUE) {
        *errorLine = line;
        return nullptr;
    }
    return std::make_unique<SetupApiInf>(inf);
}
