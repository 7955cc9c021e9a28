// CAtomicFile: a file that appears under its name only once it is complete. The bytes go to a
// temporary file beside the final file (same folder, so the rename cannot cross file systems);
// Commit flushes and closes it, checking both, and renames it over the final file, which must be a
// regular file or none (anything else stays and the file is refused). Any failure,
// and destruction without Commit, removes the temporary file, so a full disk or a failed encoder
// never leaves a truncated file under the final name and never damages a file already there.
#pragma once

#include <cstdio>
#include <string>

#include "imagefile/FileTarget.h"

namespace qv::imagefile {

class CAtomicFile {
  public:
    CAtomicFile() = default;
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file for finalPath (permissions as fopen would give: 0666 minus
    // the umask). Links under the final name are followed as opening it would follow them
    // (CFileTarget): the temporary file goes beside the file they lead to and replaces it, and
    // the links stay. False when no file can be written there (missing or read-only folder, a
    // link the kernel would not follow, a file that may not be written, a folder, FIFO, device
    // node or socket in the file's place, ...).
    bool Create(const char* finalPath);
    // The open stream; null before Create or after Commit.
    FILE* Stream() const { return m_file; }
    // Writes all bytes; false on a short write (the stream's error flag is then set).
    bool Write(const void* data, size_t bytes);
    // Flushes, closes and renames over the final name. False when any of it fails; the
    // temporary file is then gone and the final name untouched.
    bool Commit();

  private:
    void Discard();
    // Renames the written file onto the final name when that holds a regular file or nothing,
    // checked in the same step as the rename where the file system allows.
    bool PutInPlace();
    bool PutInPlaceUnchecked();
    // Undoes an exchange that brought out something other than a regular file.
    void PutBack();

    FILE* m_file = nullptr;
    CFileTarget m_target;
    std::string m_tempName;  // in m_target's folder; empty when no temporary file exists
};

}  // namespace qv::imagefile
