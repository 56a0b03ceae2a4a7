// The records exchanged with the remote-CAPI driver. Every record starts with kind and length and the
// records of a buffer follow each other without padding; all numbers are 32-bit little-endian, "offset"
// fields count from the record's start, texts are NUL-terminated 8-bit strings.
//
// Buffers come from the driver (or a file): nothing in them is trusted. The walk ends at a record shorter
// than its header or reaching past the byte count; a field beyond its record's length reads 0; a text
// reads empty when its offset field is missing, points outside the record, or finds no NUL before the
// record's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Control codes: device type 0x8001, functions 0x886 and 0x887, buffered, any access.
constexpr uint32_t kCapiIoctlGetStatus = 0x80012218;
constexpr uint32_t kCapiIoctlControl = 0x8001221C;

constexpr uint32_t kCapiHeaderBytes = 8;

struct CapiRecordHeader {
    uint32_t kind;
    uint32_t length; // of the whole record, header included
};

// Status records (output of kCapiIoctlGetStatus).
enum : uint32_t { kCapiDeviceKind = 1, kCapiConnectionKind = 2, kCapiApplicationKind = 3 };

struct CapiDeviceRecord {
    uint32_t kind; // 1
    uint32_t length;
    uint32_t id; // unique within the buffer
    uint32_t attachment; // 1 local area network, 2 serial port, 3 USB
    uint32_t state; // 0 status unknown, 1 available, 2 access denied, 3 not compatible
    uint32_t channels;
    uint32_t freeChannels;
    uint32_t outgoingOnly; // non-zero: only outgoing calls allowed
    uint32_t locationOffset; // location text (shown after the name for attachments 1 and 2)
    uint32_t nameOffset;
    uint32_t numbersOffset; // calling numbers separated by "/" or ";"
    uint32_t profile; // value 2 fax group 3, value 8 analog modem
};

struct CapiConnectionRecord {
    uint32_t kind; // 2
    uint32_t length;
    uint32_t id;
    uint32_t device; // id of the device the call runs on
    uint32_t unused16;
    uint32_t unused20;
    uint32_t incoming; // non-zero: incoming call
    uint32_t connectedMs; // 0 while not yet established
    uint32_t received;
    uint32_t sent;
    uint32_t lastTransferMs; // connectedMs at the last data transfer
    uint32_t numberOffset; // remote party's number (empty when unknown)
};

struct CapiApplicationRecord {
    uint32_t kind; // 3; only counted
    uint32_t length;
};

// Control records (input of kCapiIoctlControl).
enum : uint32_t { kCapiSettingKind = 1, kCapiCommandKind = 2 };

struct CapiSettingRecord {
    uint32_t kind; // 1
    uint32_t length; // 24 + name length (with its NUL) + data length
    uint32_t type; // registry value type; 0 in a key-end record
    uint32_t nameOffset; // 24
    uint32_t dataLength; // 0 in a key-end record
    uint32_t dataOffset;
    // then the name (value path relative to "Parameters", or a key path ending in "\"), then the data
};

struct CapiCommandRecord {
    uint32_t kind; // 2
    uint32_t length; // 12
    uint32_t connection; // the call to drop
};

static_assert(sizeof(CapiRecordHeader) == 8);
static_assert(sizeof(CapiDeviceRecord) == 48);
static_assert(sizeof(CapiConnectionRecord) == 48);
static_assert(sizeof(CapiSettingRecord) == 24);
static_assert(sizeof(CapiCommandRecord) == 12);

// One record of a buffer as the walk hands it out: its bytes, the header's length apart.
struct CapiRecordView {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint32_t Kind() const;
    // The 32-bit field at `offset`; 0 when the record ends before the field does.
    uint32_t Field(uint32_t offset) const;
    // The text whose offset lies in the field at `offsetField` (empty when unreadable, see above).
    std::string_view Text(uint32_t offsetField) const;
};

// Walks a buffer record by record. `Next` gives false at the end or at the first record that is
// shorter than its header or reaches past the byte count; `Walked` tells how far the walk got.
class CapiWalker {
public:
    CapiWalker(const uint8_t* data, size_t bytes)
        : data_(data)
        , bytes_(bytes)
    {
    }
    bool Next(CapiRecordView* record);
    size_t Walked() const
    {
        return pos_;
    }

private:
    const uint8_t* data_;
    size_t bytes_;
    size_t pos_ = 0;
};

uint32_t CapiReadLe32(const uint8_t* p);
void CapiAppendLe32(std::string* out, uint32_t value);

// Decoded forms of the status records (every field, texts copied).
struct CapiDeviceInfo {
    uint32_t id = 0, attachment = 0, state = 0, channels = 0, freeChannels = 0, outgoingOnly = 0, profile = 0;
    std::string location, name, numbers;
};
struct CapiConnectionInfo {
    uint32_t id = 0, device = 0, incoming = 0, connectedMs = 0, received = 0, sent = 0, lastTransferMs = 0;
    std::string number;
};
CapiDeviceInfo CapiReadDevice(const CapiRecordView& record);
CapiConnectionInfo CapiReadConnection(const CapiRecordView& record);

// Control records, built as the driver receives them.
void CapiAppendSetting(std::string* out, std::string_view name, uint32_t type, std::string_view data);
// The key-end record of `path` (ends in "\", or empty for the parameters key); `dataOffset` is where the
// (empty) data would start: 24 + name length as the settings walk writes it, 0 in the suspend command.
void CapiAppendKeyEnd(std::string* out, std::string_view path, uint32_t dataOffset);
void CapiAppendCommand(std::string* out, uint32_t connection);
