#include "imagefile/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace qv::imagefile {

namespace {

// Distinguishes temporary names of concurrent saves in one process; the pid separates
// processes. A name that exists anyway (a leftover of a killed process) is skipped.
std::atomic<unsigned> g_tempCounter{0};
constexpr int kNameAttempts = 100;

}  // namespace

CAtomicFile::~CAtomicFile() {
    Discard();
}

bool CAtomicFile::Create(const char* finalPath) {
    Discard();
    if (!m_target.Locate(finalPath)) return false;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // A short name of its own, so that a final name near the file-name length limit still
        // has a temporary one.
        char name[48];
        std::snprintf(name, sizeof name, ".qv-%ld-%u.part", static_cast<long>(getpid()),
                      g_tempCounter.fetch_add(1, std::memory_order_relaxed));
        const int fd =
            openat(m_target.Folder(), name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        m_file = fdopen(fd, "wb");
        if (m_file == nullptr) {
            close(fd);
            unlinkat(m_target.Folder(), name, 0);
            return false;
        }
        m_tempName = name;
        return true;
    }
    return false;
}

bool CAtomicFile::Write(const void* data, size_t bytes) {
    if (m_file == nullptr) return false;
    return bytes == 0 || std::fwrite(data, 1, bytes, m_file) == bytes;
}

bool CAtomicFile::Commit() {
    if (m_file == nullptr) return false;
    bool ok = std::fflush(m_file) == 0 && std::ferror(m_file) == 0;
    // fclose releases the stream whatever it returns; a failed close may mean lost data.
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    // What came under the final name while the file was written is looked at again: only a
    // regular file or nothing is replaced.
    if (ok && m_target.StillWritable() &&
        renameat(m_target.Folder(), m_tempName.c_str(), m_target.Folder(),
                 m_target.Leaf().c_str()) == 0) {
        m_tempName.clear();
        return true;
    }
    Discard();
    return false;
}

void CAtomicFile::Discard() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_tempName.empty()) {
        unlinkat(m_target.Folder(), m_tempName.c_str(), 0);
        m_tempName.clear();
    }
}

}  // namespace qv::imagefile
