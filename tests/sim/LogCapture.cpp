#include "LogCapture.h"

#include <algorithm>
#include <mutex>

#include "common/Log.h"

namespace qvsim {

namespace {
std::mutex g_mutex;  // guards g_lines
std::vector<std::string> g_lines;
void Sink(const char* message) {
    std::lock_guard lock(g_mutex);
    g_lines.emplace_back(message);
}
}  // namespace

LogCapture::LogCapture() {
    Clear();
    qv::SetLogSink(&Sink);
}

LogCapture::~LogCapture() {
    qv::SetLogSink(nullptr);
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard lock(g_mutex);
    return g_lines;
}

int LogCapture::Count(const std::string& text) const {
    std::lock_guard lock(g_mutex);
    return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}

void LogCapture::Clear() {
    std::lock_guard lock(g_mutex);
    g_lines.clear();
}

}  // namespace qvsim
