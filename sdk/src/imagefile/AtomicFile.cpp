#include "imagefile/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace qv::imagefile {

namespace {

// Distinguishes temporary names of concurrent saves in one process; the pid separates
// processes. A name that exists anyway (a leftover of a killed process) is skipped.
std::atomic<unsigned> g_tempCounter{0};
constexpr int kNameAttempts = 100;
// Links followed before a chain counts as a loop: the kernel's own limit for a path.
constexpr int kMaxLinkHops = 40;

// The file a name stands for: a symbolic link is followed, through a chain of them, to the name
// it points at (which need not exist yet), so that a save over a link replaces its target and
// keeps the link. False for a chain that does not end or a link that cannot be read.
bool FollowLinks(std::string& path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        // Not there (or not reachable): the name itself, whose creation tells the rest.
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return false;
        std::string next(target.data(), static_cast<size_t>(n));
        // A relative link is relative to the folder the link lies in.
        const size_t slash = path.rfind('/');
        if (next.front() != '/' && slash != std::string::npos)
            next = path.substr(0, slash + 1) + next;
        path = std::move(next);
    }
    return false;
}

}  // namespace

CAtomicFile::~CAtomicFile() {
    Discard();
}

bool CAtomicFile::Create(const char* finalPath) {
    Discard();
    if (finalPath == nullptr || *finalPath == '\0') return false;
    m_finalPath = finalPath;
    if (!FollowLinks(m_finalPath)) return false;
    // A folder under the final name cannot become the file, as opening it for writing would
    // say at once: refused here, not by the rename once the whole file is written.
    struct stat st {};
    if (stat(m_finalPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    const size_t slash = m_finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : m_finalPath.substr(0, slash + 1);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // A short name of its own, so that a final name near the file-name length limit still
        // has a temporary one.
        char name[48];
        std::snprintf(name, sizeof name, ".qv-%ld-%u.part", static_cast<long>(getpid()),
                      g_tempCounter.fetch_add(1, std::memory_order_relaxed));
        std::string temp = folder + name;
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        m_file = fdopen(fd, "wb");
        if (m_file == nullptr) {
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        m_tempPath = std::move(temp);
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
    if (ok && std::rename(m_tempPath.c_str(), m_finalPath.c_str()) == 0) {
        m_tempPath.clear();
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
    if (!m_tempPath.empty()) {
        unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

}  // namespace qv::imagefile
