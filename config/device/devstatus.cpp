#include "config/device/devstatus.h"

#include "common/strings.h"

std::string DevStatusText(int32_t status)
{
    if (status < DevStatusChecking || status > DevStatusUnknown)
        return {};
    return StrLoad(qorvexal_Strings(), static_cast<unsigned>(status));
}

int32_t DevStatusFromTftp(int ok, int32_t lastError, bool withPassword, const std::atomic<int32_t>* cancel)
{
    if (ok)
        return DevStatusOk;
    if (lastError == 4 && withPassword)
        return DevStatusWrongPassword;
    if (lastError == -1)
        return DevStatusNoResponse;
    if (lastError == 2)
        return DevStatusAccessDenied;
    if (lastError != 0)
        return DevStatusUnknown;
    // No error from the device: a local failure, or the user's cancel.
    if (cancel && cancel->load() > 0)
        return DevStatusCancelled;
    return DevStatusIpError;
}
