// Installer plug-in libraries: the 1552-byte `PluginStep` record they fill, and the loader that calls
// their exports (by full path from the installer's own directory, in the program's own word size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The record as the libraries know it, little-endian, fixed-width fields.
inline constexpr size_t kPluginStepSize = 1552;
inline constexpr size_t kPluginStepLevel = 0;
inline constexpr size_t kPluginStepEntry = 4; // 256 bytes
inline constexpr size_t kPluginStepText = 260; // 1024 bytes
inline constexpr size_t kPluginStepMaximum = 1284;
inline constexpr size_t kPluginStepLibrary = 1288; // 260 bytes, set by the installer
inline constexpr size_t kPluginStepNext = 1548; // set by the installer; a 4-byte link, never used as one

// One step as the installer keeps it (its own chain: the record's link cannot hold a 64-bit pointer).
struct PluginStepInfo {
    uint32_t level = 0;
    std::string entry;
    std::string text;
    uint32_t maximum = 0;
    std::string library; // full path
};

// Reads a record; a text without its NUL ends at the end of its field.
PluginStepInfo PluginStepDecode(const uint8_t* record);
// Writes a record's installer fields: the library path (cut to its field, NUL-terminated), link 0.
void PluginStepSetLibrary(uint8_t* record, std::string_view path);
// The message of `GetLastFailMessage`, read from a buffer larger than the 255 characters it may write.
std::string PluginFailMessage(const char* buffer, size_t size);

// Calls into plug-in libraries. Each call loads the library and frees it again.
class PluginLoader {
public:
    // `directory`: the installer's own directory; libraries are loaded from there by file name.
    explicit PluginLoader(std::string directory);
    // The condition function of the library; false also when the library cannot be loaded, is too new
    // or lacks the function. `message` receives the library's failure text (empty when there is none).
    bool CheckCondition(const std::string& library, const std::string& function, std::string* message);
    // The library's steps, in its own order; none when it cannot be used.
    std::vector<PluginStepInfo> CollectSteps(const std::string& library);
    // Loads the step's library and calls its entry point with the progress function; false when the
    // library or the entry point is missing (the step is skipped).
    bool RunStep(const PluginStepInfo& step, void (*progress)(int position));
    std::string LibraryPath(const std::string& library) const;

private:
    std::string directory_;
};
