// What the installer's test plug-ins share: the export macro and the standard calling convention.
#pragma once

#ifdef _WIN32
#define TESTPLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTPLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define TESTPLUGIN_CALL __attribute__((stdcall))
#else
#define TESTPLUGIN_CALL
#endif
