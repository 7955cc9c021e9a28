#include "TarnLog.h"

#include <cstdio>

namespace {

// One write per line: stdio locks the stream for the call, so lines of several threads never
// interleave.
void WriteLine(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void TarnLogInfo(const std::string& message) {
    WriteLine(stdout, "[INFO] : " + message + "\n");
}

void TarnLogError(const char* file, int line, const std::string& message) {
    WriteLine(stderr,
              "[ERROR] " + std::string(file) + ":" + std::to_string(line) + " " + message + "\n");
}
