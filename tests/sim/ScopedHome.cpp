#include "ScopedHome.h"

#include <stdlib.h>

#include <filesystem>

namespace qvsim {

ScopedHome::ScopedHome() {
    char pattern[] = "/tmp/qv-home-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    m_path = pattern;
    if (const char* old = getenv("HOME")) {
        m_hadOld = true;
        m_old = old;
    }
    setenv("HOME", m_path.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    if (!Made()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    if (m_hadOld)
        setenv("HOME", m_old.c_str(), 1);
    else
        unsetenv("HOME");
}

}  // namespace qvsim
