// DeviceStatus: the state of a device shown in the device list, kept in `DeviceEntry::status`. The
// display texts come from the string table (the status code is the string id).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

enum DeviceStatus : int32_t {
    DevStatusCancelled = 0, // the user cancelled the operation (empty text)
    DevStatusChecking = 100, // "Checking ..."
    DevStatusReadingConfig = 102, // "Reading config ..."
    DevStatusWritingConfig = 103, // "Writing config ..."
    DevStatusUploading = 104, // "Uploading UPX ..."
    DevStatusUpdateRunning = 105, // "Update running ..."
    DevStatusActivating = 106, // "Activating image ..."
    DevStatusSettingClock = 107, // "Setting clock ..."
    DevStatusRestarting = 109, // "Restarting ..."
    DevStatusOk = 110, // "Ok"
    DevStatusNoInterface = 111, // "No interface": unknown link type, or no such operation for it
    DevStatusSerialError = 112, // "Serial error"
    DevStatusIpError = 113, // "IP error": no network stack, or a local socket or file failure
    DevStatusDialUpError = 114, // "Dial-Up error"
    DevStatusNoResponse = 115, // "No response"
    DevStatusWrongPassword = 116, // "Wrong password"
    DevStatusAccessDenied = 117, // "Access denied"
    DevStatusUnknown = 118, // "Status unknown": any other failure, also an unusable answer
};

// The display text of a status in the current language ("" for 0 and for codes without a text).
std::string DevStatusText(int32_t status);

// The one translation from the outcome of a TFTP transfer to a DeviceStatus. `ok`: the transfer's
// result; `lastError`: TftpLastError after it; `withPassword`: the command carried a password (ERROR 4
// then means a wrong password); `cancel`: the cancel flag the caller passed, or nullptr; `fromServer`:
// TftpLastErrorFromServer (the code came in the server's ERROR packet, not from the client's refusal).
int32_t DevStatusFromTftp(
    int ok, int32_t lastError, bool withPassword, const std::atomic<int32_t>* cancel, bool fromServer);
