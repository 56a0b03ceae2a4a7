// DeviceEntry: one managed device of the configuration tool. How it is reached (IP address and port,
// dial-up, serial port), its password and time-out, what the device last reported about itself, and
// the state of the operation running on it. The device list holds one per device; a search builds
// them in an array of 1024; a job chains the entries it works on through `next`.
#pragma once

#include "device/sysinfo.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// How a device is reached (`link`, the first field of DeviceEntry).
enum LinkType : int32_t {
    LinkIp = 0, // TFTP over IP
    LinkDialUp = 1, // a dial-up connection is made, then IP is used
    LinkSerial = 2, // the serial console
};

// A text field of N bytes: holds at most N - 1 characters. Whatever is assigned is cut to that, so a
// field can never hold more than its room (a 24-character serial number ends up as 15 characters).
template<size_t N> class FixedText {
public:
    static constexpr size_t kMax = N - 1;

    FixedText() = default;
    FixedText(std::string_view text)
        : text_(Cut(text))
    {
    }
    FixedText(const char* text)
        : FixedText(std::string_view(text))
    {
    }
    FixedText(const std::string& text)
        : FixedText(std::string_view(text))
    {
    }
    FixedText& operator=(std::string_view text)
    {
        text_.assign(Cut(text));
        return *this;
    }
    FixedText& operator=(const char* text)
    {
        return *this = std::string_view(text);
    }
    FixedText& operator=(const std::string& text)
    {
        return *this = std::string_view(text);
    }

    const std::string& str() const
    {
        return text_;
    }
    const char* c_str() const
    {
        return text_.c_str();
    }
    size_t size() const
    {
        return text_.size();
    }
    bool empty() const
    {
        return text_.empty();
    }
    void clear()
    {
        text_.clear();
    }
    operator std::string_view() const
    {
        return text_;
    }
    bool operator==(const FixedText&) const = default;
    bool operator==(std::string_view other) const
    {
        return text_ == other;
    }

private:
    // A field holds a C text: it ends at the first NUL, and at its room.
    static std::string_view Cut(std::string_view text)
    {
        return text.substr(0, std::min(kMax, text.find('\0')));
    }

    std::string text_;
};

// A 32-bit word shared between the window thread and the device worker (status, progress, cancel):
// atomic, yet copyable with the entry. `&entry.cancel` is a std::atomic<int32_t>*.
struct SharedWord : std::atomic<int32_t> {
    SharedWord(int32_t value = 0)
        : std::atomic<int32_t>(value)
    {
    }
    SharedWord(const SharedWord& other)
        : std::atomic<int32_t>(other.load())
    {
    }
    SharedWord& operator=(const SharedWord& other)
    {
        store(other.load());
        return *this;
    }
    SharedWord& operator=(int32_t value)
    {
        store(value);
        return *this;
    }
};

// Loaded configuration, its stream in transit and a running wizard belong to other modules; the entry
// owns them (the pointers only share so that this header needs none of their definitions).
struct CfgDescription;
class CfgTempStream;
struct WizScript;

// An entry of the settings file that could not be read whole (a field longer than the list reads): its
// fields as the file held them, and what the list made of them. A save writes the file's fields back
// while the entry is still as it was loaded, so that nothing the list could not read is lost.
struct DeviceStoredFields {
    std::string name, description, parameters; // as in the file
    std::string loadedName, loadedDescription, loadedParameters; // as loaded
};

struct DeviceEntry {
    static constexpr size_t kAddressListSize = 32;

    int32_t link = LinkIp; // LinkType; other values make every operation fail with "No interface"
    int32_t local = 0; // 1: found by a local-network or serial search; checked automatically at start-up
    uint32_t address = 0; // IP and dial-up: device address, host byte order (as NetAddress.ip)
    // Addresses taken from a written configuration: [0] is the address itself, the others are tried
    // in order after a restart; the list ends at the first 0.
    uint32_t address_list[kAddressListSize] = {};
    int32_t timeout_s = 10; // time-out of one TFTP transfer, seconds (search results get 10)
    uint16_t port = 0; // TFTP port; 0 means 69
    FixedText<64> phone_number; // dial-up: number to dial
    FixedText<66> ras_entry; // dial-up: name of the phone-book entry
    int32_t ras_idle_s = 20; // dial-up: seconds the connection stays up after the last operation
    int32_t ras_error = 0; // dial-up: last dial-up error code
    uintptr_t ras_connection = 0; // dial-up: handle of the active connection, 0 when not connected
    FixedText<16> line_name; // serial: port name, such as COM1
    FixedText<256> description; // the user's description
    FixedText<64> password; // device password, OEM code page; may be empty
    int32_t password_unsaved = 0; // 1: taken over from a written configuration, not stored in settings
    SharedWord status = 0; // DeviceStatus of the last or running operation
    // What the device said about a failed operation (its TFTP error message and code), empty when it
    // said nothing; written by the worker during a job, read by the window after it.
    std::string status_text;
    uint32_t flags = 0; // DeviceFlags from the system information
    uint32_t feature_word = 0; // FEATUREWORD, valid with DevFlagFeatureWord
    uint32_t hw_mask = 0; // HW-MASK, valid with DevFlagHwMask
    FixedText<64> name; // device name
    FixedText<64> device_type; // device type ("DEVICE:")
    FixedText<10> fw_version; // firmware version
    FixedText<12> fw_date; // firmware date
    FixedText<16> serial_no; // serial number
    FixedText<14> mac_address; // MAC address as 12 hex digits
    FixedText<5> hw_release; // hardware release
    FixedText<16> cSysTime; // device clock "hhmmssDDMMYYYY"; also the time text a set-time job sends
    FirmwareStatusInfo fw_status; // firmware images
    std::string reserved_text; // reserved text reference, kept for the user interface
    std::shared_ptr<CfgTempStream> config_stream; // configuration read from or to be written to the device
    std::shared_ptr<CfgDescription> config; // the loaded configuration of the device, none when not loaded
    // The set-up wizard running on this device, none when no wizard runs; `wizard_done` marks that the
    // default wizard has completed. While either is set, a read job keeps the loaded configuration.
    std::shared_ptr<WizScript> wizard_config;
    int32_t wizard_done = 0;
    std::string file_name; // configuration or firmware file of the job
    std::optional<std::string> file_comment; // comment line of the file a save job writes; none: the entry's name
    int32_t reserved = 0; // reserved word, written by the user interface
    int32_t image_number = 0; // argument of an activate-image job
    SharedWord progress_kind = 0; // 0 none, 200 lines, 201 bytes, 202 per cent of progress_total
    SharedWord progress = 0; // count so far
    SharedWord progress_total = 0; // bytes in all, for kind 202
    SharedWord cancel = 0; // nonzero: the user asked to stop (or the operation must not be interrupted)
    SharedWord uploading = 0; // 1 while a firmware upload runs
    DeviceEntry* next = nullptr; // next entry of a job's chain
    std::shared_ptr<const DeviceStoredFields> stored_fields; // set by the list's load only

    // The address the device is reached at as text: "a.b.c.d", with ":port" when the port is not 0.
    std::string AddressText() const;
    // The MAC address as users read it: twelve hex digits in pairs separated by ":" (any other text
    // as it stands).
    std::string MacText() const;
    // Copies what the device reported about itself (system information fields) from `other`.
    void TakeSysInfo(const DeviceEntry& other);
};

// A job handed to the device worker: the entries chained through `next`.
struct DeviceJob {
    int32_t count = 0;
    DeviceEntry* first = nullptr;
};
