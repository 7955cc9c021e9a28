#include "imagefile/FileTarget.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qv::imagefile {

namespace {

// The kernel's limit of links followed in one lookup (MAXSYMLINKS): a chain of 40 is followed,
// 41 is a loop.
constexpr int kMaxLinks = 40;

void CloseKeepingErrno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

// fs.protected_symlinks as the kernel holds it; on when it cannot be read, as refusing a link
// the kernel would follow is the lesser harm.
bool LinksProtected() {
    const int fd = open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char value = '1';
    const ssize_t n = read(fd, &value, 1);
    close(fd);
    return n != 1 || value != '0';
}

// The kernel's rule for following a link: with fs.protected_symlinks on, a link in a sticky
// world-writable folder is followed only by its owner or when the folder's owner owns it too.
// It holds for root as well; the follower is the file-system user id, the one the kernel checks.
bool KernelFollows(const struct stat& folder, const struct stat& link) {
    if ((folder.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
    if (folder.st_uid == link.st_uid) return true;
    // An id that is not valid changes nothing and returns the current one.
    if (link.st_uid == static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)))) return true;
    return !LinksProtected();
}

// fs.protected_regular as the kernel holds it (0, 1 or 2); when it cannot be read, the strictest,
// as refusing a file the kernel would open is the lesser harm.
int RegularFilesProtected() {
    const int fd = open("/proc/sys/fs/protected_regular", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 2;
    char value = '2';
    const ssize_t n = read(fd, &value, 1);
    close(fd);
    return n != 1 || value < '0' || value > '2' ? 2 : value - '0';
}

// The kernel's rule for opening an existing regular file by a name that could have been created
// (O_CREAT): with fs.protected_regular on, a file in a sticky folder that neither the opener nor
// the folder's owner owns is refused when the folder is world-writable (1), or group-writable
// too (2), so that a file planted under an expected name is not written into. The opener is
// the file-system user id, root included.
bool KernelOpensForCreate(const struct stat& folder, const struct stat& file) {
    if ((folder.st_mode & S_ISVTX) == 0) return true;
    if (folder.st_uid == file.st_uid) return true;
    if (file.st_uid == static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)))) return true;
    if ((folder.st_mode & (S_IWOTH | S_IWGRP)) == 0) return true;
    const int level = RegularFilesProtected();
    return level == 0 || (level == 1 && (folder.st_mode & S_IWOTH) == 0);
}

// Splits path into the folder part and the last name, as the kernel reads them.
void Split(const std::string& path, std::string* folder, std::string* leaf) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *leaf = path;
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
        *leaf = path.substr(slash + 1);
    }
}

}  // namespace

CFileTarget::~CFileTarget() {
    Reset();
}

void CFileTarget::Reset() {
    if (m_file >= 0) CloseKeepingErrno(m_file);
    m_file = -1;
    if (m_folder >= 0) CloseKeepingErrno(m_folder);
    m_folder = -1;
    m_leaf.clear();
}

bool CFileTarget::Locate(const char* name) {
    Reset();
    if (name == nullptr || *name == '\0') {
        errno = ENOENT;
        return false;
    }
    // The kernel's verdict on the name. O_PATH neither reads nor writes, so a FIFO does not
    // block and a device's driver is not called.
    struct stat opened {};
    const int fd = open(name, O_PATH | O_CLOEXEC);
    if (fd >= 0) {
        const int result = fstat(fd, &opened);
        CloseKeepingErrno(fd);
        if (result != 0) return false;
    } else if (errno != ENOENT) {
        return false;  // refused or unreachable for the kernel: so for this save
    }

    struct stat found {};
    int links = 0;
    if (!Walk(name, &found, &links)) {
        Reset();
        return false;
    }
    int error = 0;
    // A walk that followed no link looked the name up as the kernel does, only later: its
    // answer stands even when another save replaced the file in between. Through links it
    // must be what the kernel opened.
    if (fd >= 0 && links > 0 &&
        (found.st_mode == 0 || found.st_dev != opened.st_dev || found.st_ino != opened.st_ino))
        error = EAGAIN;  // not what the kernel opened
    else if (S_ISDIR(found.st_mode))
        error = EISDIR;
    else if (found.st_mode != 0 && !S_ISREG(found.st_mode))
        error = EEXIST;
    // As opening it for writing would: permission bits for this user, read-only mounts and
    // immutable files all refuse it.
    else if (found.st_mode != 0 &&
             faccessat(m_folder, m_leaf.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        error = errno == ENOENT ? EAGAIN : errno;  // gone since the walk found it
    if (error != 0) {
        Reset();
        errno = error;
        return false;
    }
    return true;
}

bool CFileTarget::Walk(const char* name, struct stat* found, int* links) {
    std::string path(name);
    int base = AT_FDCWD;  // where a relative path starts: the folder of the link it came from
    for (*links = 0;;) {
        std::string folderPart;
        Split(path, &folderPart, &m_leaf);
        if (m_leaf.empty()) {
            if (base != AT_FDCWD) CloseKeepingErrno(base);
            errno = EISDIR;  // a name ending in '/' is a folder's
            return false;
        }
        // Links within the folder part are the kernel's to follow, with its protections.
        m_folder = openat(base, folderPart.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (base != AT_FDCWD) CloseKeepingErrno(base);
        if (m_folder < 0) return false;
        const int entry = openat(m_folder, m_leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (entry < 0) {
            if (errno != ENOENT) return false;
            found->st_mode = 0;
            return true;
        }
        struct stat st {};
        struct stat folder {};
        if (fstat(entry, &st) != 0 || (S_ISLNK(st.st_mode) && fstat(m_folder, &folder) != 0)) {
            CloseKeepingErrno(entry);
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            // Kept when it may become the place: the file found is the file opened.
            if (S_ISREG(st.st_mode))
                m_file = entry;
            else
                close(entry);
            *found = st;
            return true;
        }
        // The link is read through the same descriptor it was judged by, so another link put
        // under its name meanwhile is never read.
        char text[PATH_MAX];
        ssize_t n = -1;
        if (++*links > kMaxLinks)
            errno = ELOOP;
        else if (!KernelFollows(folder, st))
            errno = EACCES;
        else
            n = readlinkat(entry, "", text, sizeof text);
        CloseKeepingErrno(entry);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof text) {
            if (n == 0) errno = ENOENT;  // an empty link names nothing
            if (n >= static_cast<ssize_t>(sizeof text)) errno = ENAMETOOLONG;
            return false;
        }
        path.assign(text, static_cast<size_t>(n));
        base = m_folder;
        m_folder = -1;
    }
}

int CFileTarget::Open(int flags, mode_t mode) const {
    if (m_folder < 0) {
        errno = EBADF;
        return -1;
    }
    flags &= ~(O_CREAT | O_EXCL | O_NOFOLLOW | O_PATH | O_DIRECTORY);
    if (m_file < 0) {
        // Only a file made by this very call: whatever came under the name since the look
        // (a FIFO, a device node, a link) makes it fail with EEXIST rather than be opened.
        return openat(m_folder, m_leaf.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    }
    // Recorded over as an open with O_CREAT of the name would be: the kernel applies its
    // protection of files in shared folders only to such an open, which this is not.
    struct stat pinned {};
    struct stat folder {};
    if (fstat(m_file, &pinned) != 0 || fstat(m_folder, &folder) != 0) return -1;
    if (!KernelOpensForCreate(folder, pinned)) {
        errno = EACCES;
        return -1;
    }
    // The file found, reached through its own descriptor, not through its name again: the
    // kernel checks the access and breaks leases as for any open, and no other file can be
    // put in between.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_file);
    int fd = open(self, flags);
    if (fd < 0 && errno == ENOENT) fd = OpenByName(flags, pinned);  // no /proc here
    if (fd < 0) return -1;
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != pinned.st_dev ||
        opened.st_ino != pinned.st_ino) {
        CloseKeepingErrno(fd);
        errno = EAGAIN;
        return -1;
    }
    return fd;
}

int CFileTarget::OpenByName(int flags, const struct stat& pinned) const {
    // Only while the name still holds the file found. Something put in its place between this
    // look and the open is opened, then let go as not the file (EAGAIN); so that a FIFO put
    // there cannot hold the open up, an open for writing alone does not wait (one for reading
    // and writing never does).
    struct stat now {};
    if (fstatat(m_folder, m_leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != pinned.st_dev || now.st_ino != pinned.st_ino) {
        errno = EAGAIN;
        return -1;
    }
    const bool waitsOnFifo = (flags & O_ACCMODE) != O_RDWR && (flags & O_NONBLOCK) == 0;
    const int fd = openat(m_folder, m_leaf.c_str(),
                          flags | O_NOFOLLOW | O_NOCTTY | (waitsOnFifo ? O_NONBLOCK : 0));
    if (fd >= 0 && waitsOnFifo) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool CFileTarget::StillWritable() const {
    if (m_folder < 0) return false;
    struct stat st {};
    if (fstatat(m_folder, m_leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

}  // namespace qv::imagefile
