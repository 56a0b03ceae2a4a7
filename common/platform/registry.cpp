#include "common/platform/registry.h"

#include "common/platform/registry_backend.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace {
std::atomic<bool> g_useMemory { false };

RegBackend& BackendOf(bool memory)
{
    RegBackend* system = RegSystemBackend();
    return (memory || !system) ? RegMemoryBackend() : *system;
}
} // namespace

const char* RegStatusText(RegStatus status)
{
    switch (status) {
    case RegStatus::Ok:
        return "ok";
    case RegStatus::NotFound:
        return "not found";
    case RegStatus::NoMoreItems:
        return "no more items";
    case RegStatus::KeyDeleted:
        return "key deleted";
    case RegStatus::HasSubkeys:
        return "key has subkeys";
    case RegStatus::AccessDenied:
        return "access denied";
    case RegStatus::BadName:
        return "bad key name";
    case RegStatus::Failed:
        break;
    }
    return "failed";
}

void RegUseMemory(bool on)
{
    g_useMemory = on;
}

bool RegUsesMemory()
{
    return g_useMemory || RegSystemBackend() == nullptr;
}

RegKey::~RegKey()
{
    Close();
}

RegKey::RegKey(RegKey&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr))
    , memory_(other.memory_)
{
}

RegKey& RegKey::operator=(RegKey&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        memory_ = other.memory_;
    }
    return *this;
}

void RegKey::Close()
{
    if (handle_)
        BackendOf(memory_).Close(std::exchange(handle_, nullptr));
}

RegStatus RegKey::Open(RegRoot root, std::string_view path, RegAccess access)
{
    Close();
    memory_ = RegUsesMemory();
    return BackendOf(memory_).Open(nullptr, root, path, access == RegAccess::ReadWrite, false, nullptr, &handle_);
}

RegStatus RegKey::Open(const RegKey& parent, std::string_view path, RegAccess access)
{
    Close();
    if (!parent.handle_)
        return RegStatus::NotFound;
    memory_ = parent.memory_;
    return BackendOf(memory_).Open(
        parent.handle_, RegRoot::LocalMachine, path, access == RegAccess::ReadWrite, false, nullptr, &handle_);
}

RegStatus RegKey::Create(RegRoot root, std::string_view path, bool* created)
{
    Close();
    memory_ = RegUsesMemory();
    return BackendOf(memory_).Open(nullptr, root, path, true, true, created, &handle_);
}

RegStatus RegKey::Create(const RegKey& parent, std::string_view path, bool* created)
{
    Close();
    if (!parent.handle_)
        return RegStatus::NotFound;
    memory_ = parent.memory_;
    return BackendOf(memory_).Open(parent.handle_, RegRoot::LocalMachine, path, true, true, created, &handle_);
}

RegStatus RegKey::QueryValue(std::string_view name, uint32_t* type, std::string* data) const
{
    if (!handle_)
        return RegStatus::NotFound;
    uint32_t ignoredType = 0;
    std::string ignoredData;
    return BackendOf(memory_).Query(handle_, name, type ? type : &ignoredType, data ? data : &ignoredData);
}

RegStatus RegKey::SetValue(std::string_view name, uint32_t type, std::string_view data)
{
    if (!handle_)
        return RegStatus::NotFound;
    return BackendOf(memory_).Set(handle_, name, type, data);
}

RegStatus RegKey::DeleteValue(std::string_view name)
{
    if (!handle_)
        return RegStatus::NotFound;
    return BackendOf(memory_).DeleteValue(handle_, name);
}

RegStatus RegKey::EnumValue(uint32_t index, std::string* name, uint32_t* type, std::string* data) const
{
    if (!handle_)
        return RegStatus::NotFound;
    std::string ignoredName, ignoredData;
    uint32_t ignoredType = 0;
    return BackendOf(memory_).EnumValue(
        handle_, index, name ? name : &ignoredName, type ? type : &ignoredType, data ? data : &ignoredData);
}

RegStatus RegKey::EnumKey(uint32_t index, std::string* name) const
{
    if (!handle_)
        return RegStatus::NotFound;
    std::string ignored;
    return BackendOf(memory_).EnumKey(handle_, index, name ? name : &ignored);
}

std::optional<std::string> RegKey::ReadString(std::string_view name) const
{
    uint32_t type = 0;
    std::string data;
    if (QueryValue(name, &type, &data) != RegStatus::Ok || (type != kRegSz && type != kRegExpandSz))
        return std::nullopt;
    size_t nul = data.find('\0');
    if (nul != std::string::npos)
        data.resize(nul);
    return data;
}

std::optional<uint32_t> RegKey::ReadDword(std::string_view name) const
{
    uint32_t type = 0;
    std::string data;
    if (QueryValue(name, &type, &data) != RegStatus::Ok || type != kRegDword || data.size() != 4)
        return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

RegStatus RegKey::WriteString(std::string_view name, std::string_view text, uint32_t type)
{
    std::string data(text);
    data.push_back('\0');
    return SetValue(name, type, data);
}

RegStatus RegKey::WriteDword(std::string_view name, uint32_t value)
{
    char b[4] = { static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
        static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF) };
    return SetValue(name, kRegDword, std::string_view(b, 4));
}

RegStatus RegKeyDelete(RegRoot root, std::string_view path)
{
    return BackendOf(RegUsesMemory()).DeleteKey(root, path, false);
}

RegStatus RegKeyDeleteTree(RegRoot root, std::string_view path)
{
    return BackendOf(RegUsesMemory()).DeleteKey(root, path, true);
}
