#include "TarnLog.h"

#include <cstdio>

namespace {

// One write per line: stdio locks the stream for the call, so lines of several threads never
// interleave.
void WriteLine(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

// A message that brings its own line end (OpenCV's exception texts end in one) would leave a
// blank line after its own.
std::string OneLine(const std::string& message) {
    const size_t end = message.find_last_not_of("\r\n");
    return end == std::string::npos ? std::string() : message.substr(0, end + 1);
}

}  // namespace

void TarnLogInfo(const std::string& message) {
    WriteLine(stdout, "[INFO] : " + OneLine(message) + "\n");
}

void TarnLogError(const char* file, int line, const std::string& message) {
    WriteLine(stderr, "[ERROR] " + std::string(file) + ":" + std::to_string(line) + " " +
                          OneLine(message) + "\n");
}
