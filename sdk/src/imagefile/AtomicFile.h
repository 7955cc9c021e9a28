// CAtomicFile: a file that appears under its name only once it is complete. The bytes go to a
// temporary file beside the final name (same folder, so the rename cannot cross file systems);
// Commit flushes and closes it, checking both, and renames it over the final name. Any failure,
// and destruction without Commit, removes the temporary file, so a full disk or a failed encoder
// never leaves a truncated file under the final name and never damages a file already there.
#pragma once

#include <cstdio>
#include <string>

namespace qv::imagefile {

class CAtomicFile {
  public:
    CAtomicFile() = default;
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file for finalPath (permissions as fopen would give: 0666 minus
    // the umask). A final name that is a symbolic link stands for the file it points at: the
    // temporary file goes beside that one and replaces it, and the link stays. False when it
    // cannot be created (missing or read-only folder, a folder under the final name, a chain of
    // links that never ends, ...).
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

    FILE* m_file = nullptr;
    std::string m_tempPath;  // empty when no temporary file exists
    std::string m_finalPath;
};

}  // namespace qv::imagefile
