// CFileTarget: where a file written under a name lands, found the way open() would find it, so
// that a file can be written beside it and renamed into its place.
//
// Symbolic links are followed with the kernel's own rules: the name is opened (without being
// opened for reading or writing) and the kernel's answer stands, which applies
// fs.protected_symlinks (another user's link in a sticky world-writable folder is not followed),
// the limit of 40 links and any security module. Renaming into place does not follow links
// itself, so the place is then found again link by link through descriptors, and a link met on
// that walk that the kernel would refuse is refused too: a link put in between the two steps
// cannot lead elsewhere. The place is kept as a descriptor of its folder and a name in it, so a
// folder renamed meanwhile cannot redirect the file, and a file found there as a descriptor of
// its own, so that it can be opened without looking its name up again.
//
// Only a regular file that may be written, or a missing last name in an existing folder, is a
// place for a file: a folder, FIFO, device node or socket is refused rather than replaced.
#pragma once

#include <sys/stat.h>

#include <string>

namespace qv::imagefile {

class CFileTarget {
  public:
    CFileTarget() = default;
    ~CFileTarget();
    CFileTarget(const CFileTarget&) = delete;
    CFileTarget& operator=(const CFileTarget&) = delete;

    // Finds the place for name. False, with errno set, when it is not one: a name that cannot
    // be followed (EACCES, ELOOP, ENOENT for a missing folder, ...), a folder (EISDIR), another
    // kind of file (EEXIST), a file that may not be written (EACCES, EROFS), or a place that
    // changed while it was looked up (EAGAIN).
    bool Locate(const char* name);
    // The folder, as a descriptor for the *at calls (-1 before a successful Locate).
    int Folder() const { return m_folder; }
    // The last name in that folder.
    const std::string& Leaf() const { return m_leaf; }
    // Opens the place for access (O_RDWR or O_WRONLY, with O_CLOEXEC and the like; the mode is
    // for a new file): the very file found, not whatever bears its name by now, or, where
    // nothing was, a new regular file. Never opens a FIFO, device node, socket or folder: -1
    // with errno EEXIST when something took the empty name meanwhile, EAGAIN when the file
    // found cannot be reached again, EACCES where the kernel would refuse opening the file
    // with O_CREAT (fs.protected_regular).
    int Open(int flags, mode_t mode) const;
    // True when the folder holds a regular file or nothing under Leaf() now, the two kinds of
    // place a file may be renamed onto.
    bool StillWritable() const;

  private:
    // Follows name from the current folder link by link, leaving the place in m_folder and
    // m_leaf, what is there in *found (st_mode 0 when nothing is) and the count of links
    // followed in *links.
    bool Walk(const char* name, struct stat* found, int* links);
    void Reset();
    // Opens the file found by its name, where /proc is not there to reach it by descriptor.
    int OpenByName(int flags, const struct stat& pinned) const;

    int m_folder = -1;
    std::string m_leaf;
    int m_file = -1;  // the regular file found under m_leaf (O_PATH), -1 when none was
};

}  // namespace qv::imagefile
