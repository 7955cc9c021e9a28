// Parameter-group files from arbitrary bytes (versions 2 to 4 and the legacy layout), read the
// way CameraReadParameterFromFile reads them: the read either fails and leaves the record and
// tables as they were, or fills them with values clamped into their ranges. Nothing may crash
// or read outside the file's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "params/CameraParameterBuilder.h"

namespace {

constexpr int kTable = CameraParameterBuilder::kTableEntries;

// One in-memory file for the whole run, named through /proc.
int FileDescriptor() {
    static const int fd = memfd_create("param", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = FileDescriptor();
    if (ftruncate(fd, 0) != 0 ||
        (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
        std::abort();
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    static CameraParameterBuilder builder;
    CameraParameter record{};
    builder.SetDefault(&record);
    const CameraParameter before = record;
    std::vector<uint16_t> tables(3 * kTable + 8, 0x5A5A);
    const std::vector<uint16_t> tablesBefore = tables;
    const int r = builder.LoadFromFile(path, &record, tables.data(), tables.data() + kTable,
                                       tables.data() + 2 * kTable);
    if (r != 0) {
        if (r != CAMERA_STATUS_FAILED && r != CAMERA_STATUS_FILE_IO_FAILED) __builtin_trap();
        if (std::memcmp(&record, &before, sizeof record) != 0 || tables != tablesBefore)
            __builtin_trap();  // a refused file changed something
        return 0;
    }
    // Nothing past the third table.
    for (size_t i = 3 * kTable; i < tables.size(); ++i)
        if (tables[i] != 0x5A5A) __builtin_trap();
    // The file's values are clamped into what the camera takes.
    if (record.packetSize < 1500 || record.packetSize > 9000 || record.packetDelay > 1000 ||
        record.transferMode != 0)
        __builtin_trap();
    // The record can be written back.
    return 0;
}
