// The platform's own INF reader (SetupAPI) behind the same interface as the native one: Windows only;
// elsewhere opening always fails.
#pragma once

#include "setup/inf.h"

#include <memory>
#include <string>

// Opens the script by full path; nullptr with the error line on failure (or off Windows).
std::unique_ptr<InfSource> InfOpenSetupApi(const std::string& path, unsigned* errorLine);
