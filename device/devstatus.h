// DeviceStatus: the state of a device shown in the device list, kept in `DeviceEntry::status`. The
// display texts come from the string table (the status code is the string id).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

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

// Progress kinds of `DeviceEntry::progress_kind`; the display texts come from the string table.
enum DeviceProgressKind : int32_t {
    DevProgressNone = 0,
    DevProgressLines = 200, // "Line %d"
    DevProgressBytes = 201, // "%d bytes", with a rate "%d bytes (%d bytes/sec)"
    DevProgressPercent = 202, // "%d%% finished", with a rate "%d%% finished (%d bytes/sec)"
    DevProgressDialing = 203, // "Dialing %s ..." (the number dialled)
};

// The text a progress display shows for an entry's progress: `count` is `progress`, `total`
// `progress_total`, `rate` bytes per second (0: not known yet), `dialled` the number being dialled.
// "" for no progress and for kinds without a text.
std::string DevProgressText(int32_t kind, int32_t count, int32_t total, int32_t rate, std::string_view dialled);

// The one translation from the outcome of a TFTP transfer to a DeviceStatus. `ok`: the transfer's
// result; `lastError`: TftpLastError after it; `withPassword`: the command carried a password (ERROR 4
// then means a wrong password); `cancel`: the cancel flag the caller passed, or nullptr; `fromServer`:
// TftpLastErrorFromServer (the code came in the server's ERROR packet, not from the client's refusal).
int32_t DevStatusFromTftp(
    int ok, int32_t lastError, bool withPassword, const std::atomic<int32_t>* cancel, bool fromServer);
