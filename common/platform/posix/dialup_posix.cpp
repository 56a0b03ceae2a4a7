// No remote-access service outside Windows: every dial-up fails unless a substitute is put in place.
#include "common/platform/dialup.h"

namespace {
class NoDialup : public Dialup {
public:
    bool Available() override
    {
        return false;
    }
    int ValidateEntryName(const std::string&) override
    {
        return -1;
    }
    int GetEntryProperties(const std::string&, DialupEntryProperties*) override
    {
        return -1;
    }
    int SetEntryProperties(const std::string&, const DialupEntryProperties&) override
    {
        return -1;
    }
    int DeleteEntry(const std::string&) override
    {
        return -1;
    }
    std::vector<DialupDeviceInfo> Devices() override
    {
        return {};
    }
    int Dial(const std::string&, const std::string&, const std::string&, const std::string&, uintptr_t* c) override
    {
        *c = 0;
        return -1;
    }
    DialupOutcome Outcome(uintptr_t, int* error) override
    {
        *error = -1;
        return DialupOutcome::Failed;
    }
    bool IsConnected(uintptr_t) override
    {
        return false;
    }
    bool HasIp(uintptr_t) override
    {
        return false;
    }
    void HangUp(uintptr_t) override { }
    std::string ErrorText(int) override
    {
        return {};
    }
};
} // namespace

int DialupLoad()
{
    return 0;
}

void DialupUnload() { }

Dialup& DialupSystem()
{
    static NoDialup none;
    return none;
}
