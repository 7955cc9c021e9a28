#include "usb/UsbOpenedDeviceList.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

namespace qv::usb {

namespace {

// A path has at most PATH_MAX - 1 characters; a longer text names no device (cut short, it
// could name another one).
constexpr size_t kMaxPathChars = 4095;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The number of the digits [begin, end); false above 255.
bool ReadByte(const char* begin, const char* end, uint8_t* out) {
    unsigned value = 0;
    for (const char* p = begin; p < end; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 255) return false;
    }
    *out = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

int parse_usb_path(const char* path, uint8_t* bus, uint8_t* address) {
    if (path == nullptr || bus == nullptr || address == nullptr) return -1;
    const size_t length = strnlen(path, kMaxPathChars + 1);
    if (length == 0 || length > kMaxPathChars) return -1;
    const char* const first = path;
    const char* end = path + length;

    // The address: the final run of digits, if the path ends in one.
    const char* p = end;
    while (p > first && IsDigit(p[-1])) --p;
    uint8_t addr = 0;
    if (p < end) {
        if (p == first) return -1;  // digits only
        if (!ReadByte(p, end, &addr)) return -1;
    }
    // p - 1 is the separator (or, without an address, the last character).
    const char* separator = p < end ? p - 1 : end - 1;
    if (separator == first) return -1;
    const char* busEnd = separator;
    const char* busBegin = busEnd;
    while (busBegin > first && IsDigit(busBegin[-1])) --busBegin;
    uint8_t busNo = 0;
    if (busBegin < busEnd) {
        if (busBegin == first) return -1;
        if (!ReadByte(busBegin, busEnd, &busNo)) return -1;
    }
    *bus = busNo;
    *address = addr;
    return 0;
}

}  // namespace qv::usb

CUsbOpenedDeviceList::~CUsbOpenedDeviceList() {
    for (const Entry& e : m_entries) close(e.fd);
}

int CUsbOpenedDeviceList::SetDeviceList(int n, const int* fds, const unsigned* vidPid,
                                        const char* const* paths, std::vector<Port>* registered) {
    std::lock_guard lock(m_mutex);
    if (registered != nullptr) registered->clear();
    for (int i = 0; i < n; ++i) {
        Entry entry;
        if (paths[i] == nullptr || fds[i] < 0 ||
            qv::usb::parse_usb_path(paths[i], &entry.bus, &entry.address) != 0)
            continue;
        entry.vendorId = static_cast<uint16_t>(vidPid[i] >> 16);
        entry.productId = static_cast<uint16_t>(vidPid[i] & 0xFFFF);
        entry.fd = fcntl(fds[i], F_DUPFD_CLOEXEC, 0);
        if (entry.fd < 0) {
            if (errno == EBADF) continue;  // not an open descriptor: as an unreadable path
            return LIBUSB_ERROR_NO_MEM;    // out of descriptors
        }
        try {
            if (registered != nullptr) registered->push_back({entry.bus, entry.address});
            Entry* same = nullptr;
            for (Entry& e : m_entries)
                if (e.bus == entry.bus && e.address == entry.address) same = &e;
            if (same != nullptr) {
                close(same->fd);
                *same = entry;
                continue;
            }
            m_entries.push_back(entry);
        } catch (const std::bad_alloc&) {
            close(entry.fd);
            return LIBUSB_ERROR_NO_MEM;
        }
    }
    return 0;
}

std::vector<CUsbOpenedDeviceList::Entry> CUsbOpenedDeviceList::TakeDuplicates(
    bool (*wanted)(uint16_t vendorId, uint16_t productId)) {
    std::lock_guard lock(m_mutex);
    std::vector<Entry> out;
    for (const Entry& e : m_entries) {
        if (!wanted(e.vendorId, e.productId)) continue;
        Entry copy = e;
        copy.fd = fcntl(e.fd, F_DUPFD_CLOEXEC, 0);
        if (copy.fd >= 0) out.push_back(copy);
    }
    return out;
}

bool CUsbOpenedDeviceList::Contains(uint8_t bus, uint8_t address, uint16_t vendorId,
                                    uint16_t productId) {
    std::lock_guard lock(m_mutex);
    for (const Entry& e : m_entries)
        if (e.bus == bus && e.address == address && e.vendorId == vendorId &&
            e.productId == productId)
            return true;
    return false;
}

std::vector<CUsbOpenedDeviceList::Entry> CUsbOpenedDeviceList::Entries() {
    std::lock_guard lock(m_mutex);
    return m_entries;
}
