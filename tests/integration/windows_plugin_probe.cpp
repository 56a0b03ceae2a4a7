// A test plug-in: binds the host's nine exports by name on the instance handle of its call record, as
// a real plug-in does, calls each one and reports what it got in the page title (a text that lives
// as long as the library).
#include "config/plugin/plugin.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string g_report;

template<typename F> F Bind(void* instance, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(instance), name)));
}

} // namespace

extern "C" __declspec(dllexport) int32_t WINAPI
    PluginProbe(PluginContext* context, int32_t kind, PluginCallRecord* record)
{
    auto getDeviceInfo
        = Bind<int32_t(WINAPI*)(PluginContext*, int32_t, char*, int32_t)>(record->instance, "VelquinCfgGetDeviceInfo");
    auto getPluginParam = Bind<int32_t(WINAPI*)(PluginContext*, const char*, char*, int32_t)>(
        record->instance, "VelquinCfgGetPluginParam");
    auto getValue
        = Bind<int32_t(WINAPI*)(PluginContext*, const char*, char*, int32_t)>(record->instance, "VelquinCfgGetValue");
    auto setValue
        = Bind<int32_t(WINAPI*)(PluginContext*, const char*, const char*)>(record->instance, "VelquinCfgSetValue");
    auto getTabRow
        = Bind<int32_t(WINAPI*)(PluginContext*, const char*, int32_t, int32_t, char* const*, const int32_t*)>(
            record->instance, "VelquinCfgGetTabRow");
    auto setTabRow = Bind<int32_t(WINAPI*)(PluginContext*, const char*, int32_t, int32_t, const char* const*)>(
        record->instance, "VelquinCfgSetTabRow");
    auto addTabRow
        = Bind<int32_t(WINAPI*)(PluginContext*, const char*, int32_t)>(record->instance, "VelquinCfgAddTabRow");
    auto delTabRow
        = Bind<int32_t(WINAPI*)(PluginContext*, const char*, int32_t)>(record->instance, "VelquinCfgDelTabRow");
    auto findTabRow = Bind<int32_t(WINAPI*)(PluginContext*, const char*, int32_t, const char*)>(
        record->instance, "VelquinCfgFindTabRow");
    char line[512];
    if (!getDeviceInfo || !getPluginParam || !getValue || !setValue || !getTabRow || !setTabRow || !addTabRow
        || !delTabRow || !findTabRow) {
        g_report = "missing export";
    } else {
        char type[32], small[4];
        uint32_t word = 0;
        int32_t r1 = getDeviceInfo(context, 1, type, sizeof type);
        int32_t r5 = getDeviceInfo(context, 5, reinterpret_cast<char*>(&word), 4);
        int32_t r0 = getDeviceInfo(context, 9, type, sizeof type);
        int32_t p = getPluginParam(context, "MACFILTER", nullptr, 0);
        int32_t v = getValue(context, "counter", small, sizeof small);
        std::string value = small;
        int32_t s = setValue(context, "counter", "42");
        int32_t a0 = addTabRow(context, "RuleTable", 0);
        int32_t a1 = addTabRow(context, "RuleTable", 99);
        const char* cells[3] = { "r1", "TCP", "x" };
        int32_t st = setTabRow(context, "RuleTable", 1, 1, cells);
        char c0[8], c1[8], c2[8] = "?";
        char* buffers[3] = { c0, c1, c2 };
        int32_t sizes[3] = { sizeof c0, sizeof c1, sizeof c2 };
        int32_t gt = getTabRow(context, "RuleTable", 1, 1, buffers, sizes);
        int32_t f = findTabRow(context, "RuleTable", 0, "R1");
        int32_t d = delTabRow(context, "RuleTable", 0);
        int32_t dn = delTabRow(context, "RuleTable", 5);
        std::snprintf(line, sizeof line,
            "size=%u kind=%d mode=%d info=%d:%s word=%d:%08x bad=%d param=%d value=%d:'%s' set=%d add=%d,%d setrow=%d "
            "getrow=%d:%s,%s,%s find=%d del=%d,%d",
            record->page->size, kind, record->mode, r1, type, r5, word, r0, p, v, value.c_str(), s, a0, a1, st, gt, c0,
            c1, c2, f, d, dn);
        g_report = line;
    }
    record->page->dialogTemplate = MAKEINTRESOURCEA(100);
    record->page->title = g_report.c_str();
    return 1;
}
