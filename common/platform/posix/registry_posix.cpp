// Linux has no system registry: every key lives in the in-memory registry.
#include "common/platform/registry_backend.h"

RegBackend* RegSystemBackend()
{
    return nullptr;
}
