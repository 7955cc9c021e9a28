#include "imagefile/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
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
// Renames tried while the final name keeps appearing and vanishing in between.
constexpr int kPlaceAttempts = 4;

}  // namespace

CAtomicFile::~CAtomicFile() {
    Discard();
}

bool CAtomicFile::Create(const char* finalPath) {
    Discard();
    // Another look when the name changed under the first (EAGAIN): another save putting its
    // file in place there does so.
    bool located = false;
    for (int attempt = 0; attempt < kPlaceAttempts && !located; ++attempt) {
        located = m_target.Locate(finalPath);
        if (!located && errno != EAGAIN) return false;
    }
    if (!located) return false;
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
    if (ok && PutInPlace()) {
        m_tempName.clear();
        return true;
    }
    Discard();
    return false;
}

bool CAtomicFile::PutInPlace() {
    const int folder = m_target.Folder();
    const char* temp = m_tempName.c_str();
    const char* leaf = m_target.Leaf().c_str();
    for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
        // Nothing under the name: taken only if that is still so at the rename itself.
        if (renameat2(folder, temp, folder, leaf, RENAME_NOREPLACE) == 0) return true;
        if (errno == EINVAL || errno == ENOSYS) return PutInPlaceUnchecked();
        if (errno != EEXIST) return false;
        // Something else than a regular file is refused without being touched.
        struct stat st {};
        if (fstatat(folder, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone again meanwhile
            return false;
        }
        if (!S_ISREG(st.st_mode)) return false;
        // A regular file: swapped out in one step, so that what is replaced is exactly what is
        // looked at, and put back unless it still is a regular file.
        if (renameat2(folder, temp, folder, leaf, RENAME_EXCHANGE) != 0) {
            if (errno == EINVAL || errno == ENOSYS) return PutInPlaceUnchecked();
            if (errno == ENOENT) continue;
            return false;
        }
        if (fstatat(folder, temp, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            unlinkat(folder, temp, 0);  // the replaced file, as a rename would remove it
            return true;
        }
        PutBack();
        return false;
    }
    return false;
}

void CAtomicFile::PutBack() {
    // What came out of the exchange goes back under its name, also when that has gone empty
    // or taken something else meanwhile (which then comes out in turn), until what bears the
    // temporary name is a regular file or nothing. Past the attempts, names are moving under
    // other users' hands; Discard then leaves what is there unless it holds no data.
    const int folder = m_target.Folder();
    const char* temp = m_tempName.c_str();
    const char* leaf = m_target.Leaf().c_str();
    for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
        if (renameat2(folder, temp, folder, leaf, RENAME_EXCHANGE) != 0 &&
            (errno != ENOENT || renameat2(folder, temp, folder, leaf, RENAME_NOREPLACE) != 0) &&
            errno != ENOENT && errno != EEXIST)
            return;
        struct stat st {};
        if (fstatat(folder, temp, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISREG(st.st_mode)) return;
    }
}

bool CAtomicFile::PutInPlaceUnchecked() {
    // A file system without the atomic forms: the look and the rename are two steps, and
    // something put in between them is replaced.
    return m_target.StillWritable() && renameat(m_target.Folder(), m_tempName.c_str(),
                                                m_target.Folder(), m_target.Leaf().c_str()) == 0;
}

void CAtomicFile::Discard() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_tempName.empty()) {
        // Normally the temporary file; after a failed put back whatever came there, whose
        // name is removed only if it is a regular file or a link (which holds no data): a
        // FIFO, device node, socket or folder is not this save's to destroy.
        struct stat st {};
        if (fstatat(m_target.Folder(), m_tempName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            unlinkat(m_target.Folder(), m_tempName.c_str(), 0);
        m_tempName.clear();
    }
}

}  // namespace qv::imagefile
