// CUsbOpenedDeviceList: the USB devices whose usbfs nodes the host program opened itself and
// handed to the SDK (its file descriptor, vendor and product identifiers, and the node's path).
// Discovery lists them beside the devices libusb finds, and opens each one through a duplicate
// of the host's descriptor instead of its device node, so a host that may not open device nodes
// (a sandboxed or Android-style process) can still use its cameras.
//
// The list keeps its own duplicate of every registered descriptor (the host's stay the host's)
// and closes it when the entry is replaced or the list is destroyed. Entries are never removed
// otherwise: a device that is gone simply fails to open.
//
// Thread safety: every operation may be called from any thread; m_mutex guards m_entries.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace qv::usb {

// Bus number and device address from the end of a usbfs path ("/dev/bus/usb/001/005" gives
// 1 and 5): the last run of digits is the address, the run in front of its separator the bus
// (0 when there is none). 0, or -1 for an empty path, a path of digits only, a separator or a
// bus at the very start, a number above 255, or a text of 4096 characters or more (longer than
// any path).
int parse_usb_path(const char* path, uint8_t* bus, uint8_t* address);

}  // namespace qv::usb

class CUsbOpenedDeviceList {
  public:
    struct Port {
        uint8_t bus = 0;
        uint8_t address = 0;
        bool operator==(const Port&) const = default;
    };
    struct Entry {
        uint8_t bus = 0;
        uint8_t address = 0;
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        int fd = -1;  // owned by whoever holds the entry
    };

    CUsbOpenedDeviceList() = default;
    ~CUsbOpenedDeviceList();
    CUsbOpenedDeviceList(const CUsbOpenedDeviceList&) = delete;
    CUsbOpenedDeviceList& operator=(const CUsbOpenedDeviceList&) = delete;

    // Registers n devices: fds[i] with (vendor << 16) | product vidPid[i] at paths[i]. An entry
    // with a null or unreadable path, or a descriptor that is not open, is skipped. A bus and
    // address already registered get the new identifiers and a duplicate of the new descriptor (the
    // old duplicate is closed); no second entry is made. 0, or -11 when a duplicate or an entry
    // cannot be made (out of descriptors or memory; the entries before it stay registered).
    // registered, when given, receives the bus and address of every entry taken from this call.
    int SetDeviceList(int n, const int* fds, const unsigned* vidPid, const char* const* paths,
                      std::vector<Port>* registered = nullptr);

    // The registered devices with the given identifiers, each with a fresh duplicate of its
    // descriptor that the caller now owns (an entry that cannot be duplicated is left out).
    std::vector<Entry> TakeDuplicates(bool (*wanted)(uint16_t vendorId, uint16_t productId));
    // Whether bus and address are registered with these identifiers.
    bool Contains(uint8_t bus, uint8_t address, uint16_t vendorId, uint16_t productId);
    // The registered entries as they stand; the descriptors stay the list's.
    std::vector<Entry> Entries();

  private:
    std::mutex m_mutex;  // guards m_entries
    std::vector<Entry> m_entries;
};
