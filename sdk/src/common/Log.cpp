#include "common/Log.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace qv {
namespace {
std::atomic<LogSink> g_sink{nullptr};
}

void LogV(const char* fmt, va_list args) {
    LogSink sink = g_sink.load(std::memory_order_acquire);
    if (sink != nullptr) {
        va_list copy;
        va_copy(copy, args);
        char text[1024];
        std::vsnprintf(text, sizeof text, fmt, copy);
        va_end(copy);
        sink(text);
    }
    vsyslog(LOG_INFO, fmt, args);
}

void Log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    LogV(fmt, args);
    va_end(args);
}

void SetLogSink(LogSink sink) {
    g_sink.store(sink, std::memory_order_release);
}

void AssertFailed(const char* expr, const char* file, int line) {
    Log("%s:%d: assertion \"%s\" failed\n", file, line, expr);
    std::fprintf(stderr, "%s:%d: assertion \"%s\" failed\n", file, line, expr);
    std::abort();
}

}  // namespace qv
