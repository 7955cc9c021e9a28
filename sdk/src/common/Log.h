// Logging and invariant checks of the camera SDK.
#pragma once

#include <cstdarg>

namespace qv {

// Every message of the SDK goes through here: syslog at informational priority, with the
// printf-style texts that are part of the interface (many end in "\r\n").
void Log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogV(const char* fmt, va_list args);

// Receives every formatted message in addition to syslog. Only tests install one, to check
// the texts; nullptr removes it.
using LogSink = void (*)(const char* message);
void SetLogSink(LogSink sink);

[[noreturn]] void AssertFailed(const char* expr, const char* file, int line);

}  // namespace qv

// Broken internal invariants (never reachable from ordinary input) end the process with the
// source file and line in the log.
#define QV_ASSERT(expr) ((expr) ? (void)0 : ::qv::AssertFailed(#expr, __FILE__, __LINE__))
