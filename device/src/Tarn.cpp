#include "Tarn.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "TarnLog.h"

std::atomic<int> footDirect{0};

bool CombinePath(char* fullPath, const char* dir, const char* fileName) {
    const size_t n = std::strlen(dir);
    // snprintf never writes past the array; a path that does not fit is reported, not used.
    const int written = n > 0 && dir[n - 1] == '/'
                            ? std::snprintf(fullPath, kTarnPathSize, "%s%s", dir, fileName)
                            : std::snprintf(fullPath, kTarnPathSize, "%s%c%s", dir, '/', fileName);
    return written >= 0 && written < kTarnPathSize;
}

bool createDirectoryIfNotExists(const char* dirPath) {
    struct stat info {};
    if (stat(dirPath, &info) != 0) {
        if (mkdir(dirPath, 0777) != 0) {
            TARN_LOG_ERROR(std::string("Error creating directory ") + dirPath + ":" +
                           std::strerror(errno));
            return false;
        }
        return true;
    }
    // The file type as a whole: a socket or a block device also has the directory bit set.
    if (!S_ISDIR(info.st_mode)) {
        TARN_LOG_ERROR(std::string("Path exists but is not a directory:") + dirPath);
        return false;
    }
    return true;
}
