// LogCapture: collects the SDK's log lines while it lives (one at a time per process).
#pragma once

#include <string>
#include <vector>

namespace qvsim {

class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const;
    // How many lines equal text exactly (format applied, line end included).
    int Count(const std::string& text) const;
    void Clear();
};

}  // namespace qvsim
