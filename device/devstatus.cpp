#include "device/devstatus.h"

#include "common/strings.h"
#include "common/text.h"
#include "device/texts.h"

#include <algorithm>

std::string DeviceText(unsigned id)
{
    return StrLoad(device_Strings(), id);
}

std::string DevStatusText(int32_t status)
{
    if (status < DevStatusChecking || status > DevStatusUnknown)
        return {};
    return DeviceText(static_cast<unsigned>(status));
}

namespace {
// The rate variants of the byte and per-cent texts, and the dialling text (kind 203 is taken by the
// byte rate's text, so the dialling text has an id of its own).
constexpr unsigned kIdBytesRate = 203;
constexpr unsigned kIdPercentRate = 204;
constexpr unsigned kIdDialing = 205;
} // namespace

std::string DevProgressText(int32_t kind, int32_t count, int32_t total, int32_t rate, std::string_view dialled)
{
    switch (kind) {
    case DevProgressLines:
        return StrFormat(DeviceText(DevProgressLines).c_str(), count);
    case DevProgressBytes:
        return rate > 0 ? StrFormat(DeviceText(kIdBytesRate).c_str(), count, rate)
                        : StrFormat(DeviceText(DevProgressBytes).c_str(), count);
    case DevProgressPercent: {
        if (total <= 0)
            return DevProgressText(DevProgressBytes, count, 0, rate, dialled);
        int32_t percent = static_cast<int32_t>(std::min<int64_t>(100, int64_t { 100 } * std::max(count, 0) / total));
        return rate > 0 ? StrFormat(DeviceText(kIdPercentRate).c_str(), percent, rate)
                        : StrFormat(DeviceText(DevProgressPercent).c_str(), percent);
    }
    case DevProgressDialing:
        return StrFormat(DeviceText(kIdDialing).c_str(), std::string(dialled).c_str());
    default:
        return {};
    }
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
