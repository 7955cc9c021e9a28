// The station's log: information lines on standard output as "[INFO] : message", errors on
// standard error as "[ERROR] file:line message", each flushed at once so that a host's own
// output and the station's lines keep their order.
#pragma once

#include <string>

void TarnLogInfo(const std::string& message);
void TarnLogError(const char* file, int line, const std::string& message);

#define TARN_LOG_INFO(message) TarnLogInfo(message)
#define TARN_LOG_ERROR(message) TarnLogError(__FILE__, __LINE__, message)
