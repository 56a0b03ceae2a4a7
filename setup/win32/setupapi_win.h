// Shared by the SetupAPI reader and setup.exe.
#pragma once

#include "setup/inf.h"

// One line at an INFCONTEXT (passed as void* so that this header needs no Win32 header).
InfLine SetupApiReadLine(void* infContext);
