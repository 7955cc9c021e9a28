// USB discovery on the real libusb with simulated cameras behind umockdev: which devices become
// cameras (and which are never opened), the texts of each, refresh against a keep-alive list,
// a camera that comes back, the event thread's life, and the devices the host opened itself
// (path parsing, the registry of descriptors, and their enumeration). The executable runs
// itself under the umockdev preload (UmockdevPreload.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "QVCameraApi.h"
#include "UsbTestRig.h"
#include "UsbTestbedFixture.h"
#include "usb/LibUsbCameraFactory.h"
#include "usb/UsbIds.h"
#include "usb/UsbOpenedDeviceList.h"

namespace {

using qv::usb::parse_usb_path;

std::string Symbolic(const std::shared_ptr<CJNDevice>& d) {
    return d->GetSymbolicName();
}

std::string DriverVersion(const std::shared_ptr<CJNDevice>& d) {
    char text[33] = {};
    d->GetDriverVersion(text);
    return text;
}

std::string Serial(const std::shared_ptr<CJNDevice>& d) {
    char sn[33] = {};
    d->GetSN(sn);
    return sn;
}

std::string ThreadNames() {
    std::string names;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string n;
            std::getline(f, n);
            names += n + " ";
        }
        closedir(dir);
    }
    return names;
}

int ThreadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

class FactoryTest : public usbtest::TestbedTest {
  protected:
    void TearDown() override {
        m_found.clear();
        m_factory.reset();
        RemoveDevices();
    }

    void MakeFactory() {
        m_factory = std::make_unique<CLibUsbCameraFactory>();
        ASSERT_TRUE(m_factory->IsInitialised());
    }

    CSimUsbDevice& Plug(int bus, int address, std::shared_ptr<CSimUsbCamera> model,
                        SimUsbDeviceOptions options = {}) {
        options.port = {bus, address};
        return TestbedTest::Plug(std::move(model), options);
    }

    CSimUsbDevice& PlugCamera(int bus, int address, const char* serial,
                              SimUsbGeneration generation = SimUsbGeneration::kUsb3) {
        usbtest::Identity id;
        id.serial = serial;
        id.generation = generation;
        return Plug(bus, address, usbtest::MakeStoredCamera(id));
    }

    std::unique_ptr<CLibUsbCameraFactory> m_factory;
    std::vector<std::shared_ptr<CJNDevice>> m_found;
};

TEST_F(FactoryTest, ListsTheCamerasThatOpenAndAnswerAndNeverOpensOtherDevices) {
    PlugCamera(2, 1, "SN-U3");
    PlugCamera(2, 2, "SN-U2", SimUsbGeneration::kUsb2);
    CSimUsbDevice& foreign =
        Plug(2, 3, std::make_shared<CSimUsbCamera>(), {.vendorId = 0x046D, .productId = 0x1301});
    CSimUsbDevice& otherProduct = Plug(2, 4, std::make_shared<CSimUsbCamera>(),
                                       {.vendorId = qv::usb::kCameraVendorId, .productId = 0x1401});
    // A camera whose flash holds no identity cannot be opened.
    CSimUsbDevice& blank = Plug(2, 5, std::make_shared<CSimUsbCamera>());
    MakeFactory();

    ASSERT_EQ(m_factory->GetDeviceList(m_found), 0);
    ASSERT_EQ(m_found.size(), 2u);
    std::sort(m_found.begin(), m_found.end(),
              [](const auto& a, const auto& b) { return Symbolic(a) < Symbolic(b); });
    EXPECT_EQ(Symbolic(m_found[0]), "bus:2:address:1");
    EXPECT_EQ(Serial(m_found[0]), "SN-U3");
    EXPECT_EQ(Symbolic(m_found[1]), "bus:2:address:2");
    EXPECT_EQ(Serial(m_found[1]), "SN-U2");
    for (const auto& d : m_found) {
        tDevInfo info{};
        ASSERT_EQ(d->GetDeviceInfo(&info, nullptr), 0);
        EXPECT_STREQ(info.acDriverName, "libusb camera");
        EXPECT_EQ(DriverVersion(d), "V1.0");  // libusb 1.0
        uint16_t type = 0;
        EXPECT_EQ(d->GetDeviceType(&type), 0);  // left open
    }
    EXPECT_EQ(foreign.GetStats().ioctls, 0u);
    EXPECT_EQ(otherProduct.GetStats().ioctls, 0u);
    EXPECT_GT(blank.GetStats().ioctls, 0u);  // tried, then let go
}

TEST_F(FactoryTest, NoCameraLeavesTheListAlone) {
    Plug(3, 1, std::make_shared<CSimUsbCamera>(), {.vendorId = 0x046D, .productId = 0x0825});
    MakeFactory();
    auto kept = std::make_shared<usbtest::TestCamera>(nullptr, "kept", "libusb camera", "V1.0");
    m_found.push_back(kept);
    EXPECT_EQ(m_factory->GetDeviceList(m_found), 0);
    ASSERT_EQ(m_found.size(), 1u);
    EXPECT_EQ(m_found[0], kept);
}

// A camera whose device type reads at open but not at the alive check right after is dropped.
TEST_F(FactoryTest, CameraThatStopsAnsweringIsDropped) {
    CSimUsbDevice& dev = PlugCamera(3, 2, "SN-A");
    MakeFactory();
    // Count the device-type reads of an open.
    ASSERT_EQ(m_factory->GetDeviceList(m_found), 0);
    ASSERT_EQ(m_found.size(), 1u);
    m_found.clear();
    int reads = 0;
    for (const auto& r : dev.Model().Requests()) reads += r.setup.request == 0xB9;
    const int perOpen = reads - 1;  // the alive check made the last one
    ASSERT_GT(perOpen, 0);
    dev.Model().ClearRequests();
    dev.Model().InjectFault({.kind = SimFaultKind::kStall, .request = 0xB9, .skip = perOpen});
    EXPECT_EQ(m_factory->GetDeviceList(m_found), 0);
    EXPECT_TRUE(m_found.empty());
}

TEST_F(FactoryTest, RefreshAddsOnlyCamerasTheListDoesNotName) {
    PlugCamera(4, 1, "SN-A");
    MakeFactory();
    std::list<std::shared_ptr<CJNDevice>> watched;
    ASSERT_EQ(m_factory->RefreshDeviceList(watched), 0);
    ASSERT_EQ(watched.size(), 1u);
    EXPECT_EQ(DriverVersion(watched.front()), "1.0");
    const auto first = watched.front();

    // Known by its symbolic name: nothing is made (not even opened).
    PlugCamera(4, 2, "SN-B");
    ASSERT_EQ(m_factory->RefreshDeviceList(watched), 0);
    ASSERT_EQ(watched.size(), 2u);
    EXPECT_EQ(watched.front(), first);
    EXPECT_EQ(Symbolic(watched.back()), "bus:4:address:2");

    // Enumeration instead makes another object for a camera that is held already.
    ASSERT_EQ(m_factory->GetDeviceList(m_found), 0);
    ASSERT_EQ(m_found.size(), 2u);
    for (const auto& d : m_found) EXPECT_NE(d, first);
}

// The cable is pulled and put back at the same port: libusb lists the device again and the
// refresh finds it under its old symbolic name, once the dead object has left the list.
TEST_F(FactoryTest, RefreshFindsACameraThatCameBack) {
    CSimUsbDevice& dev = PlugCamera(4, 5, "SN-R");
    MakeFactory();
    std::list<std::shared_ptr<CJNDevice>> watched;
    ASSERT_EQ(m_factory->RefreshDeviceList(watched), 0);
    ASSERT_EQ(watched.size(), 1u);
    Remove(dev);
    EXPECT_FALSE(watched.front()->CheckAlive());
    watched.clear();

    PlugCamera(4, 5, "SN-R");
    ASSERT_TRUE(usbtest::WaitUntil([&] {
        m_factory->RefreshDeviceList(watched);
        return !watched.empty();
    }));
    EXPECT_EQ(Symbolic(watched.front()), "bus:4:address:5");
    EXPECT_TRUE(watched.front()->CheckAlive());
}

// A factory made and destroyed on its own ends its event thread and leaves libusb: the process
// has the threads it had before.
TEST_F(FactoryTest, DestructionEndsTheEventThread) {
    qvsim::LogCapture log;
    const int before = ThreadCount();
    MakeFactory();
    ASSERT_TRUE(
        usbtest::WaitUntil([&] { return log.Count("libusb event handle thread start\n") == 1; }));
    EXPECT_GT(ThreadCount(), before);
    m_factory.reset();
    EXPECT_EQ(log.Count("libusb event handle thread end\n"), 1);
    // A joined thread can stay listed in /proc for a moment after the join returns: the kernel
    // wakes the joiner before it has taken the thread's task entry away.
    EXPECT_TRUE(usbtest::WaitUntil([&] { return ThreadCount() == before; })) << ThreadNames();
}

// ---- Devices the host opened itself ----------------------------------------------------------

TEST(UsbPathTest, BusAndAddressFromTheEndOfThePath) {
    struct Row {
        const char* path;
        int result;
        int bus;
        int address;
    };
    const Row rows[] = {
        {"/dev/bus/usb/001/005", 0, 1, 5},
        {"/dev/bus/usb/002/017", 0, 2, 17},
        {"/dev/bus/usb/255/127", 0, 255, 127},
        {"usb-5", 0, 0, 5},  // no bus in front of the separator
        {"x/y/", 0, 0, 0},   // no address at the end
        {"a1/", 0, 1, 0},
        {"17", -1, 0, 0},   // digits only
        {"1/5", -1, 0, 0},  // the bus starts the path
        {"/5", -1, 0, 0},   // the separator starts the path
        {"", -1, 0, 0},
        {"/dev/bus/usb/256/001", -1, 0, 0},  // not a bus number
        {"/dev/bus/usb/001/300", -1, 0, 0},  // not an address
    };
    for (const Row& r : rows) {
        uint8_t bus = 99, address = 99;
        EXPECT_EQ(parse_usb_path(r.path, &bus, &address), r.result) << r.path;
        if (r.result == 0) {
            EXPECT_EQ(bus, r.bus) << r.path;
            EXPECT_EQ(address, r.address) << r.path;
        }
    }
    uint8_t bus = 0, address = 0;
    EXPECT_EQ(parse_usb_path(nullptr, &bus, &address), -1);
    // 4095 characters are the most a path has; a longer text names no device, though its first
    // 4095 characters would name one.
    std::string longPath(4095 - 8, 'x');
    longPath.append("/007/011");
    EXPECT_EQ(parse_usb_path(longPath.c_str(), &bus, &address), 0);
    EXPECT_EQ(bus, 7);
    EXPECT_EQ(address, 11);
    longPath.append("/001/002");
    bus = address = 99;
    EXPECT_EQ(parse_usb_path(longPath.c_str(), &bus, &address), -1);
    EXPECT_EQ(bus, 99);
    EXPECT_EQ(address, 99);
}

bool SameFile(int a, int b) {
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

class OpenedListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe(m_a), 0);
        ASSERT_EQ(pipe(m_b), 0);
    }
    void TearDown() override {
        for (int fd : {m_a[0], m_a[1], m_b[0], m_b[1]}) close(fd);
    }
    int m_a[2];
    int m_b[2];
};

TEST_F(OpenedListTest, KeepsItsOwnDuplicatesAndReplacesBySameBusAndAddress) {
    CUsbOpenedDeviceList list;
    {
        const int fds[] = {m_a[0], m_b[0], m_b[1], -1, m_a[1]};
        const unsigned ids[] = {0x3A6E1301, 0x3A6E1201, 0x3A6E1301, 0x3A6E1301, 0x3A6E1301};
        const char* paths[] = {"/dev/bus/usb/001/005", "/dev/bus/usb/001/006", nullptr,
                               "/dev/bus/usb/001/008", "17"};
        std::vector<CUsbOpenedDeviceList::Port> taken;
        EXPECT_EQ(list.SetDeviceList(5, fds, ids, paths, &taken), 0);
        EXPECT_EQ(taken, (std::vector<CUsbOpenedDeviceList::Port>{{1, 5}, {1, 6}}));
    }
    auto entries = list.Entries();
    ASSERT_EQ(entries.size(), 2u);  // no path, no descriptor, a bad path: skipped
    EXPECT_EQ(entries[0].bus, 1);
    EXPECT_EQ(entries[0].address, 5);
    EXPECT_EQ(entries[0].vendorId, 0x3A6E);
    EXPECT_EQ(entries[0].productId, 0x1301);
    EXPECT_NE(entries[0].fd, m_a[0]);
    EXPECT_TRUE(SameFile(entries[0].fd, m_a[0]));
    EXPECT_EQ(entries[1].productId, 0x1201);
    EXPECT_TRUE(SameFile(entries[1].fd, m_b[0]));

    // The same bus and address again: the descriptor is replaced, the old duplicate closed.
    const int old = entries[0].fd;
    {
        const int fds[] = {m_b[1]};
        const unsigned ids[] = {0x3A6E1201};
        const char* paths[] = {"/dev/bus/usb/001/005"};
        EXPECT_EQ(list.SetDeviceList(1, fds, ids, paths), 0);
    }
    entries = list.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(SameFile(entries[0].fd, m_b[1]));
    EXPECT_EQ(entries[0].productId, 0x1201);
    EXPECT_FALSE(IsOpen(old));

    // A descriptor the host closed after registering stays usable: the list holds its own.
    EXPECT_TRUE(list.Contains(1, 6, 0x3A6E, 0x1201));
    EXPECT_FALSE(list.Contains(1, 6, 0x3A6E, 0x1301));
    auto taken = list.TakeDuplicates([](uint16_t, uint16_t pid) { return pid == 0x1201; });
    ASSERT_EQ(taken.size(), 2u);
    for (const auto& e : taken) {
        EXPECT_TRUE(IsOpen(e.fd));
        close(e.fd);
    }
    const std::vector<int> kept = {entries[0].fd, entries[1].fd};
    { CUsbOpenedDeviceList gone; }
    for (int fd : kept) EXPECT_TRUE(IsOpen(fd));
}

TEST_F(OpenedListTest, DestructionClosesEveryDuplicate) {
    std::vector<int> dups;
    {
        CUsbOpenedDeviceList list;
        const int fds[] = {m_a[0], m_b[0]};
        const unsigned ids[] = {0x3A6E1301, 0x3A6E1301};
        const char* paths[] = {"/dev/bus/usb/001/005", "/dev/bus/usb/001/006"};
        ASSERT_EQ(list.SetDeviceList(2, fds, ids, paths), 0);
        for (const auto& e : list.Entries()) dups.push_back(e.fd);
    }
    ASSERT_EQ(dups.size(), 2u);
    for (int fd : dups) EXPECT_FALSE(IsOpen(fd));
}

// The camera at a registered bus and address is opened through a duplicate of the host's
// descriptor, never through its device node, and the host's rescan lists nothing but the
// devices it passed. (The emulation cannot follow a duplicated descriptor, so the open itself
// fails here: what shows is that the node was not used.)
TEST_F(FactoryTest, HostOpenedCameraIsNotOpenedThroughItsNode) {
    qvsim::LogCapture log;
    CSimUsbDevice& registered = PlugCamera(5, 1, "SN-H");
    CSimUsbDevice& other = PlugCamera(5, 2, "SN-N");
    MakeFactory();
    const int fd = open(registered.DevNode().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string path = registered.DevNode();
    int fds[] = {fd};
    unsigned ids[] = {(unsigned{registered.VendorId()} << 16) | registered.ProductId()};
    const char* paths[] = {path.c_str()};
    const uint64_t before = registered.GetStats().ioctls;
    const uint64_t otherBefore = other.GetStats().ioctls;
    ASSERT_EQ(m_factory->EnumerateFromOpenedDevList(m_found, 1, fds, ids, paths), 0);
    EXPECT_EQ(registered.GetStats().ioctls, before);
    EXPECT_EQ(log.Count("libusb open failed\r\n"), 1);
    // The other camera on the bus is neither listed nor touched.
    EXPECT_TRUE(m_found.empty());
    EXPECT_EQ(other.GetStats().ioctls, otherBefore);

    // Registered for good: the full enumeration lists the other camera and still leaves the
    // registered one's node alone.
    ASSERT_EQ(m_factory->GetDeviceList(m_found), 0);
    ASSERT_EQ(m_found.size(), 1u);
    EXPECT_EQ(Symbolic(m_found[0]), "bus:5:address:2");
    EXPECT_EQ(DriverVersion(m_found[0]), "V1.0");
    EXPECT_EQ(registered.GetStats().ioctls, before);
    EXPECT_EQ(log.Count("libusb open failed\r\n"), 2);

    // A rescan with a device that is no camera tries nothing: not that device, not the camera
    // registered before, not the bus.
    log.Clear();
    m_found.clear();
    const unsigned foreign[] = {0x046D0825};
    const char* otherPath[] = {"/dev/bus/usb/005/009"};
    ASSERT_EQ(m_factory->EnumerateFromOpenedDevList(m_found, 1, fds, foreign, otherPath), 0);
    EXPECT_EQ(log.Count("libusb open failed\r\n"), 0);
    EXPECT_TRUE(m_found.empty());
    close(fd);
}

TEST_F(FactoryTest, HostOpenedArgumentsAreChecked) {
    MakeFactory();
    int fds[] = {0};
    unsigned ids[] = {0x3A6E1301};
    char path[] = "/dev/bus/usb/001/001";
    char* paths[] = {path};
    EXPECT_EQ(m_factory->EnumerateFromOpenedDevList(m_found, -1, fds, ids, paths),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_factory->EnumerateFromOpenedDevList(m_found, 1, nullptr, ids, paths),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_factory->EnumerateFromOpenedDevList(m_found, 0, nullptr, nullptr, nullptr), 0);

    // The export checks them itself, before the manager exists.
    int count = -1;
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(nullptr, 1, fds, ids, paths),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, -1, fds, ids, paths),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, 1, fds, nullptr, paths),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, 1, fds, ids, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(count, -1);
}

}  // namespace
