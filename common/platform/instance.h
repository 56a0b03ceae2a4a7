// The single-instance test: a named lock that the process takes and keeps until it ends.
#pragma once

#include <string>
#include <string_view>

// The lock name: the path with the suffix appended, every "\" replaced by "_", all letters lowered.
std::string InstanceLockName(std::string_view path, std::string_view suffix);

// Takes the lock named after path + suffix for the rest of the process's life. Returns true when the
// lock already existed (another instance, or an earlier call of this process, holds it). Windows: a
// named mutex created with ownership; elsewhere an exclusively locked file in the temporary folder.
bool IsOtherInstance(std::string_view path, std::string_view suffix = {});
