#include "common/diag.h"

#include <cstdarg>
#include <mutex>

namespace {
std::mutex g_diagLock;
FILE* g_diagStream = nullptr; // nullptr: stdout
std::function<void(const std::string&)> g_diagSink;
} // namespace

void DiagToStream(FILE* stream)
{
    std::lock_guard<std::mutex> lock(g_diagLock);
    g_diagStream = stream;
}

void DiagSetSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard<std::mutex> lock(g_diagLock);
    g_diagSink = std::move(sink);
}

void Diag(const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_diagLock);
    if (g_diagSink) {
        g_diagSink(buffer);
        return;
    }
    FILE* out = g_diagStream ? g_diagStream : stdout;
    std::fputs(buffer, out);
    std::fflush(out);
}
