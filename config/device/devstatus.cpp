#include "config/device/devstatus.h"

#include "common/strings.h"

std::string DevStatusText(int32_t status)
{
    if (status < DevStatusChecking || status > DevStatusUnknown)
        return {};
    return StrLoad(qorvexal_Strings(), static_cast<unsigned>(status));
}

int32_t DevStatusFromTftp(
    int ok, int32_t lastError, bool withPassword, const std::atomic<int32_t>* cancel, bool fromServer)
{
    if (ok)
        return DevStatusOk;
    if (lastError == -1)
        return DevStatusNoResponse;
    // Password and access errors only as the server's own words: the client refuses an oversized block
    // with ERROR 4 itself, which says nothing about the password.
    if (fromServer && lastError == 4 && withPassword)
        return DevStatusWrongPassword;
    if (fromServer && lastError == 2)
        return DevStatusAccessDenied;
    // Any other ERROR from the server, also one with code 0, is the device's answer, not a local failure.
    if (lastError != 0 || fromServer)
        return DevStatusUnknown;
    // No error from the device: a local failure, or the user's cancel.
    if (cancel && cancel->load() > 0)
        return DevStatusCancelled;
    return DevStatusIpError;
}
