#include "SimUsbDevice.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "usb/UsbIds.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kBulkIn = 0x82;
constexpr uint8_t kInterfaceCount = 1;
// usbfs speed codes (enum usb_device_speed) for GET_SPEED.
constexpr int kSpeedHigh = 3;
constexpr int kSpeedSuper = 5;
constexpr int kSpeedSuperPlus = 6;
constexpr size_t kFifoBytes = 4096;
constexpr size_t kBulkLengthsKept = 64;

}  // namespace

// A URB the client submitted: the resolved usbdevfs_urb, whose buffer pointer points at a local
// copy of the client's buffer. umockdev writes both back when the URB is handed out by a reap.
struct CSimUsbDevice::Urb {
    UMockdevIoctlData* data;  // one reference, dropped when the URB is reaped or dropped
    usbdevfs_urb* u() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
};

struct CSimUsbDevice::Core {
    std::mutex mutex;  // guards everything here and the queues of every Client
    std::condition_variable wake;
    std::condition_variable reaped;  // a URB was handed out or dropped
    std::vector<Client*> clients;
    Client* claimOwner = nullptr;  // the client that holds interface 0
    CSimUsbCamera* model = nullptr;
    int fifo = -1;
    bool fifoDrained = false;  // pipe not full: libusb's poll() reports the node writable
    bool quit = false;
    bool unplugged = false;
    Stats stats;
    int refuseSkip = 0;   // bulk submissions still accepted before refusing
    int refuseCount = 0;  // bulk submissions to refuse (-1: all)
    int refuseError = 0;
    std::deque<uint32_t> bulkLengths;  // of the last accepted bulk URBs
    char junk[kFifoBytes] = {};

    // Makes the node report POLLOUT exactly while some URB can be reaped now.
    void UpdateFifo(Clock::time_point now);
    bool BulkWaiting() const;
};

// usbfs keeps URBs per open file; umockdev has one client object per open().
struct CSimUsbDevice::Client {
    std::shared_ptr<Core> core;
    std::deque<Urb> bulk;     // bulk reads waiting for data
    std::deque<Urb> pending;  // control requests the device leaves unanswered
    std::deque<Urb> done;     // completed, waiting to be reaped

    ~Client() {
        std::lock_guard lock(core->mutex);
        for (auto* q : {&bulk, &pending, &done})
            for (Urb& urb : *q) g_object_unref(urb.data);
        auto& v = core->clients;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        if (core->claimOwner == this) core->claimOwner = nullptr;
        core->reaped.notify_all();
    }
};

bool CSimUsbDevice::Core::BulkWaiting() const {
    for (const Client* c : clients)
        if (!c->bulk.empty()) return true;
    return false;
}

void CSimUsbDevice::Core::UpdateFifo(Clock::time_point now) {
    if (fifo < 0) return;
    bool ready = false;
    bool bulkWaiting = false;
    for (Client* c : clients) {
        ready |= !c->done.empty();
        bulkWaiting |= !c->bulk.empty();
    }
    if (!ready && bulkWaiting && !unplugged) {
        const auto next = model->NextBulkEvent(now);
        ready = next && *next <= now;
    }
    if (ready && !fifoDrained) {
        while (read(fifo, junk, sizeof junk) > 0) {
        }
        fifoDrained = true;
    } else if (!ready && fifoDrained) {
        while (write(fifo, junk, sizeof junk) > 0) {
        }
        fifoDrained = false;
    }
}

CSimUsbDevice::CSimUsbDevice(UMockdevTestbed* testbed, std::shared_ptr<CSimUsbCamera> model,
                             const SimUsbDeviceOptions& options)
    : m_testbed(testbed),
      m_model(std::move(model)),
      m_options(options),
      m_superSpeed(m_model->Generation() == SimUsbGeneration::kUsb3),
      m_core(std::make_shared<Core>()) {
    m_vendorId = options.vendorId.value_or(qv::usb::kCameraVendorId);
    m_productId = options.productId.value_or(m_superSpeed ? qv::usb::kCameraProductIdUsb3
                                                          : qv::usb::kCameraProductIdUsb2);
    m_core->model = m_model.get();
    BuildDescriptors();

    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, SysfsRecord().c_str(), &error))
        g_error("simulated USB camera: adding %s: %s", SysPath().c_str(), error->message);

    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&CSimUsbDevice::OnIoctl), this);
    if (!umockdev_testbed_attach_ioctl(m_testbed, DevNode().c_str(), m_handler, &error))
        g_error("simulated USB camera: ioctl handler for %s: %s", DevNode().c_str(),
                error->message);

    if (options.fifoNode) {
        gchar* root = umockdev_testbed_get_root_dir(m_testbed);
        const std::string path = std::string(root) + DevNode();
        g_free(root);
        unlink(path.c_str());
        if (mkfifo(path.c_str(), 0666) != 0)
            g_error("simulated USB camera: mkfifo %s: %s", path.c_str(), g_strerror(errno));
        const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) g_error("simulated USB camera: open %s: %s", path.c_str(), g_strerror(errno));
        // One page of pipe: cheap to fill and to drain.
        fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kFifoBytes));
        {
            std::lock_guard lock(m_core->mutex);
            m_core->fifo = fd;
            m_core->fifoDrained = true;
            m_core->UpdateFifo(Clock::now());
        }
        m_wakeThread = std::thread(&CSimUsbDevice::WakeLoop, this);
    }
}

CSimUsbDevice::~CSimUsbDevice() {
    {
        std::lock_guard lock(m_core->mutex);
        m_core->quit = true;
        m_core->unplugged = true;
    }
    m_core->wake.notify_all();
    if (m_wakeThread.joinable()) m_wakeThread.join();
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(m_testbed, DevNode().c_str(), &error);
    if (error) g_error_free(error);
    g_signal_handlers_disconnect_by_data(m_handler, this);
    g_object_unref(m_handler);
    {
        std::lock_guard lock(m_core->mutex);
        if (m_core->fifo >= 0) close(m_core->fifo);
        m_core->fifo = -1;
        m_core->model = nullptr;
    }
    umockdev_testbed_remove_device(m_testbed, SysPath().c_str());
}

std::string CSimUsbDevice::DevNode() const {
    char text[64];
    std::snprintf(text, sizeof text, "/dev/bus/usb/%03d/%03d", m_options.port.bus,
                  m_options.port.address);
    return text;
}

std::string CSimUsbDevice::SysPath() const {
    char text[96];
    // The port number in the sysfs name is the address: unique per bus, as the names must be.
    std::snprintf(text, sizeof text, "/sys/devices/pci0000:00/0000:00:14.0/usb%d/%d-%d",
                  m_options.port.bus, m_options.port.bus, m_options.port.address);
    return text;
}

void CSimUsbDevice::BuildDescriptors() {
    const uint16_t bcdUsb = m_superSpeed ? 0x0300 : 0x0200;
    // Endpoint 0 packet size: 64 bytes at high speed; at SuperSpeed the exponent 9 (512 bytes).
    const uint8_t ep0 = m_superSpeed ? 9 : 64;
    const uint16_t bulkPacket = m_superSpeed ? 1024 : 512;
    // clang-format off
    const uint8_t device[18] = {
        18, USB_DT_DEVICE, uint8_t(bcdUsb), uint8_t(bcdUsb >> 8),
        0, 0, 0, ep0,  // class per interface
        uint8_t(m_vendorId), uint8_t(m_vendorId >> 8),
        uint8_t(m_productId), uint8_t(m_productId >> 8),
        0x00, 0x01,  // bcdDevice 1.00
        0, 0, 0,     // no string descriptors
        1};
    std::vector<uint8_t> config = {
        9, USB_DT_CONFIG, 0, 0, kInterfaceCount, 1, 0, 0x80, 100,
        // interface 0: vendor class, one bulk IN endpoint
        9, USB_DT_INTERFACE, 0, 0, 1, 0xFF, 0, 0, 0,
        7, USB_DT_ENDPOINT, kBulkIn, USB_ENDPOINT_XFER_BULK,
        uint8_t(bulkPacket), uint8_t(bulkPacket >> 8), 0};
    // clang-format on
    if (m_superSpeed) {
        // SuperSpeed endpoint companion: bursts of up to 16 packets.
        const uint8_t companion[6] = {6, USB_DT_SS_ENDPOINT_COMP, 15, 0, 0, 0};
        config.insert(config.end(), companion, companion + 6);
    }
    config[2] = static_cast<uint8_t>(config.size());
    config[3] = static_cast<uint8_t>(config.size() >> 8);
    m_descriptors.assign(device, device + 18);
    m_descriptors.insert(m_descriptors.end(), config.begin(), config.end());
}

std::string CSimUsbDevice::SysfsRecord() const {
    std::string hexUpper;  // N: lines want upper case hex
    std::string hexLower;  // H: lines want lower case hex
    char byte[4];
    for (uint8_t b : m_descriptors) {
        std::snprintf(byte, sizeof byte, "%02X", b);
        hexUpper += byte;
        std::snprintf(byte, sizeof byte, "%02x", b);
        hexLower += byte;
    }
    const int bus = m_options.port.bus;
    const int address = m_options.port.address;
    const std::string sys = SysPath().substr(4);  // without "/sys"
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: %s\n"
                  "N: bus/usb/%03d/%03d=%s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DEVNAME=/dev/bus/usb/%03d/%03d\n"
                  "E: BUSNUM=%03d\n"
                  "E: DEVNUM=%03d\n"
                  "E: PRODUCT=%x/%x/100\n"
                  "E: MAJOR=189\n"
                  "E: MINOR=%d\n"
                  "A: busnum=%d\n"
                  "A: devnum=%d\n"
                  "A: idVendor=%04x\n"
                  "A: idProduct=%04x\n"
                  "A: speed=%s\n"
                  "A: bConfigurationValue=1\n"
                  "A: bNumConfigurations=1\n"
                  "A: bNumInterfaces= %d\n"
                  "A: dev=189:%d\n",
                  sys.c_str(), bus, address, hexUpper.c_str(), bus, address, bus, address,
                  m_vendorId, m_productId, (bus - 1) * 128 + address - 1, bus, address, m_vendorId,
                  m_productId, LinkSpeedText(), kInterfaceCount, (bus - 1) * 128 + address - 1);
    return std::string(text) + "H: descriptors=" + hexLower + "\n";
}

const char* CSimUsbDevice::LinkSpeedText() const {
    // sysfs gives the link speed in Mbit/s.
    if (!m_superSpeed) return "480";
    return m_options.superSpeedPlus ? "10000" : "5000";
}

void CSimUsbDevice::WakeLoop() {
    std::unique_lock lock(m_core->mutex);
    while (!m_core->quit) {
        const auto now = Clock::now();
        m_core->UpdateFifo(now);
        // Sleep until a rate-limited frame is due, or 100 ms to notice changes made directly on
        // the model.
        auto until = now + std::chrono::milliseconds(100);
        if (m_core->BulkWaiting() && !m_core->fifoDrained && m_core->model) {
            if (const auto next = m_core->model->NextBulkEvent(now)) until = std::min(until, *next);
        }
        m_core->wake.wait_until(lock, until);
    }
}

void CSimUsbDevice::Unplug() {
    {
        std::lock_guard lock(m_core->mutex);
        if (m_core->unplugged) return;
        m_core->unplugged = true;
        m_model->Unplug();
        // What the kernel does with the URBs of a vanished device.
        for (Client* c : m_core->clients) {
            for (auto* q : {&c->bulk, &c->pending}) {
                for (Urb& urb : *q) {
                    urb.u()->status = -ESHUTDOWN;
                    urb.u()->actual_length = 0;
                    c->done.push_back(urb);
                }
                q->clear();
            }
        }
        m_core->UpdateFifo(Clock::now());
    }
    m_core->wake.notify_all();
    umockdev_testbed_uevent(m_testbed, SysPath().c_str(), "remove");
}

bool CSimUsbDevice::Unplugged() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->unplugged;
}

bool CSimUsbDevice::WaitUntilReaped(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_core->mutex);
    return m_core->reaped.wait_for(lock, limit, [&] {
        for (const Client* c : m_core->clients)
            if (!c->done.empty() || !c->bulk.empty() || !c->pending.empty()) return false;
        return true;
    });
}

void CSimUsbDevice::FailBulkSubmits(int skip, int count, int error) {
    std::lock_guard lock(m_core->mutex);
    m_core->refuseSkip = skip;
    m_core->refuseCount = count;
    m_core->refuseError = error;
}

std::vector<uint32_t> CSimUsbDevice::BulkSubmitLengths() const {
    std::lock_guard lock(m_core->mutex);
    return {m_core->bulkLengths.begin(), m_core->bulkLengths.end()};
}

void CSimUsbDevice::Wake() {
    m_core->wake.notify_all();
}

CSimUsbDevice::Stats CSimUsbDevice::GetStats() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->stats;
}

gboolean CSimUsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<CSimUsbDevice*>(self)->HandleIoctl(client);
}

SimControlResult CSimUsbDevice::Control(const SimControlSetup& setup, uint8_t* data) {
    if ((setup.requestType & 0x60) != 0) return m_model->HandleControl(setup, data);
    // Standard requests are the USB device's, not the camera firmware's.
    if (setup.request == USB_REQ_GET_DESCRIPTOR && setup.In()) {
        const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
        size_t from = 0;
        size_t to = 0;
        if (type == USB_DT_DEVICE) {
            to = 18;
        } else if (type == USB_DT_CONFIG && (setup.value & 0xFF) == 0) {
            from = 18;
            to = m_descriptors.size();
        }
        if (to > from) {
            const size_t n = std::min<size_t>(to - from, setup.length);
            std::memcpy(data, m_descriptors.data() + from, n);
            return {SimControlOutcome::kOk, static_cast<uint16_t>(n)};
        }
    } else if (setup.request == USB_REQ_GET_CONFIGURATION && setup.length >= 1) {
        data[0] = 1;
        return {SimControlOutcome::kOk, 1};
    } else if (setup.request == USB_REQ_GET_STATUS && setup.length >= 2) {
        data[0] = data[1] = 0;
        return {SimControlOutcome::kOk, 2};
    }
    return {SimControlOutcome::kStall, 0};
}

gboolean CSimUsbDevice::HandleIoctl(UMockdevIoctlClient* ioctlClient) {
    Core& core = *m_core;
    std::lock_guard lock(core.mutex);
    ++core.stats.ioctls;
    const auto entered = Clock::now();
    bool bulkRead = false;  // a bulk read submitted or reaped: its time is counted
    const gulong request = umockdev_ioctl_client_get_request(ioctlClient);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(ioctlClient);

    auto* client = static_cast<Client*>(g_object_get_data(G_OBJECT(ioctlClient), "qv-sim-usb"));
    if (client == nullptr) {
        client = new Client{m_core, {}, {}, {}};
        core.clients.push_back(client);
        g_object_set_data_full(G_OBJECT(ioctlClient), "qv-sim-usb", client,
                               [](gpointer p) { delete static_cast<Client*>(p); });
    }

    auto complete = [&](long result, int error) {
        core.UpdateFifo(Clock::now());
        // The wake thread only has to re-plan while a bulk read waits for a frame not yet due.
        if (!core.fifoDrained && core.BulkWaiting()) core.wake.notify_all();
        umockdev_ioctl_client_complete(ioctlClient, result, error);
        if (bulkRead)
            core.stats.bulkSeconds += std::chrono::duration<double>(Clock::now() - entered).count();
        return TRUE;
    };
    // The ioctl argument's memory, copied in from the client; written back on completion.
    auto resolve = [&](size_t length) {
        GError* error = nullptr;
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, length, &error);
        if (d == nullptr) g_error("simulated USB camera: resolve: %s", error->message);
        return d;
    };

    const bool reap = request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB;
    if (core.unplugged && !(reap && !client->done.empty())) return complete(-1, ENODEV);

    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* d = resolve(sizeof(uint32_t));
            // Scatter-gather: one URB per libusb transfer, whatever its size.
            *reinterpret_cast<uint32_t*>(d->data) =
                USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            g_object_unref(d);
            return complete(0, 0);
        }
        case USBDEVFS_GET_SPEED:
            return complete(!m_superSpeed              ? kSpeedHigh
                            : m_options.superSpeedPlus ? kSpeedSuperPlus
                                                       : kSpeedSuper,
                            0);
        case USBDEVFS_CONNECTINFO: {
            UMockdevIoctlData* d = resolve(sizeof(usbdevfs_connectinfo));
            auto* info = reinterpret_cast<usbdevfs_connectinfo*>(d->data);
            info->devnum = static_cast<unsigned>(m_options.port.address);
            info->slow = 0;
            g_object_unref(d);
            return complete(0, 0);
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_RELEASEINTERFACE: {
            unsigned iface;
            if (request == USBDEVFS_DISCONNECT_CLAIM) {
                UMockdevIoctlData* d = resolve(sizeof(usbdevfs_disconnect_claim));
                iface = reinterpret_cast<usbdevfs_disconnect_claim*>(d->data)->interface;
                g_object_unref(d);
            } else {
                UMockdevIoctlData* d = resolve(sizeof(unsigned));
                iface = *reinterpret_cast<unsigned*>(d->data);
                g_object_unref(d);
            }
            if (iface != 0) return complete(-1, ENOENT);
            if (request == USBDEVFS_RELEASEINTERFACE) {
                if (core.claimOwner != client) return complete(-1, EINVAL);
                core.claimOwner = nullptr;
                return complete(0, 0);
            }
            if (core.claimOwner != nullptr && core.claimOwner != client) return complete(-1, EBUSY);
            core.claimOwner = client;
            ++core.stats.claims;
            return complete(0, 0);
        }
        case USBDEVFS_GETDRIVER:
            return complete(-1, ENODATA);  // no kernel driver bound
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return complete(0, 0);
        case USBDEVFS_RESET:
            ++core.stats.resets;
            m_model->OnBusReset();
            return complete(0, 0);
        case USBDEVFS_CONTROL: {
            // The synchronous control ioctl: libusb uses it on a descriptor it was handed.
            ++core.stats.controls;
            UMockdevIoctlData* d = resolve(sizeof(usbdevfs_ctrltransfer));
            auto* c = reinterpret_cast<usbdevfs_ctrltransfer*>(d->data);
            const SimControlSetup setup{c->bRequestType, c->bRequest, c->wValue, c->wIndex,
                                        c->wLength};
            uint8_t none = 0;
            uint8_t* data = &none;
            UMockdevIoctlData* buffer = nullptr;
            if (c->wLength) {
                GError* error = nullptr;
                buffer = umockdev_ioctl_data_resolve(d, offsetof(usbdevfs_ctrltransfer, data),
                                                     c->wLength, &error);
                if (buffer == nullptr) {
                    g_object_unref(d);
                    if (error) g_error_free(error);
                    return complete(-1, EFAULT);
                }
                data = buffer->data;
            }
            const SimControlResult r = Control(setup, data);
            if (buffer) g_object_unref(buffer);
            g_object_unref(d);
            switch (r.outcome) {
                case SimControlOutcome::kOk:
                    return complete(r.actual, 0);
                case SimControlOutcome::kStall:
                    return complete(-1, EPIPE);
                case SimControlOutcome::kNoAnswer:
                    return complete(-1, ETIMEDOUT);
                case SimControlOutcome::kGone:
                    break;
            }
            return complete(-1, ENODEV);
        }
        case USBDEVFS_SUBMITURB: {
            ++core.stats.submits;
            UMockdevIoctlData* data = resolve(sizeof(usbdevfs_urb));
            auto* u = reinterpret_cast<usbdevfs_urb*>(data->data);
            if (u->buffer_length > 0) {
                GError* error = nullptr;
                UMockdevIoctlData* buffer =
                    umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                static_cast<size_t>(u->buffer_length), &error);
                if (buffer == nullptr) {
                    g_object_unref(data);
                    if (error) g_error_free(error);
                    return complete(-1, EFAULT);
                }
                g_object_unref(buffer);  // the URB keeps it
            }
            u->status = 0;
            u->actual_length = 0;
            Urb urb{data};
            if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
                if (u->buffer_length < 8) {
                    g_object_unref(data);
                    return complete(-1, EINVAL);
                }
                ++core.stats.controls;
                auto* s = static_cast<uint8_t*>(u->buffer);
                SimControlSetup setup;
                setup.requestType = s[0];
                setup.request = s[1];
                setup.value = static_cast<uint16_t>(s[2] | (s[3] << 8));
                setup.index = static_cast<uint16_t>(s[4] | (s[5] << 8));
                setup.length =
                    static_cast<uint16_t>(std::min<int>(s[6] | (s[7] << 8), u->buffer_length - 8));
                const SimControlResult r = Control(setup, s + 8);
                switch (r.outcome) {
                    case SimControlOutcome::kOk:
                        u->actual_length = r.actual;
                        client->done.push_back(urb);
                        break;
                    case SimControlOutcome::kStall:
                        u->status = -EPIPE;
                        client->done.push_back(urb);
                        break;
                    case SimControlOutcome::kNoAnswer:
                        client->pending.push_back(urb);  // until the host gives up (DISCARDURB)
                        break;
                    case SimControlOutcome::kGone:
                        u->status = -ESHUTDOWN;
                        client->done.push_back(urb);
                        break;
                }
            } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == kBulkIn) {
                if (core.refuseCount != 0 && core.refuseSkip-- <= 0) {
                    core.refuseSkip = 0;
                    if (core.refuseCount > 0) --core.refuseCount;
                    ++core.stats.bulkRefused;
                    g_object_unref(data);
                    return complete(-1, core.refuseError);
                }
                ++core.stats.bulkSubmits;
                bulkRead = true;
                core.bulkLengths.push_back(static_cast<uint32_t>(u->buffer_length));
                if (core.bulkLengths.size() > kBulkLengthsKept) core.bulkLengths.pop_front();
                client->bulk.push_back(urb);  // filled when reaped and the camera has data
            } else {
                g_object_unref(data);
                return complete(-1, EINVAL);
            }
            return complete(0, 0);
        }
        case USBDEVFS_REAPURB:  // the blocking form; libusb uses the other, answer it the same
        case USBDEVFS_REAPURBNDELAY: {
            if (client->done.empty() && !client->bulk.empty() && !core.unplugged) {
                Urb& urb = client->bulk.front();
                const SimBulkResult r = m_model->PullBulkIn(
                    kBulkIn, static_cast<uint8_t*>(urb.u()->buffer),
                    static_cast<uint32_t>(urb.u()->buffer_length), Clock::now());
                if (r.outcome != SimBulkOutcome::kNotReady) {
                    if (r.outcome == SimBulkOutcome::kData) {
                        urb.u()->actual_length = static_cast<int>(r.bytes);
                        core.stats.bulkBytes += r.bytes;
                    } else {
                        urb.u()->status = r.outcome == SimBulkOutcome::kStall ? -EPIPE : -ESHUTDOWN;
                    }
                    client->done.push_back(urb);
                    client->bulk.pop_front();
                }
            }
            if (client->done.empty()) {
                ++core.stats.reapEmpty;
                return complete(-1, EAGAIN);
            }
            Urb urb = client->done.front();
            client->done.pop_front();
            bulkRead = urb.u()->type == USBDEVFS_URB_TYPE_BULK;
            // The argument is a usbdevfs_urb**: point the client's pointer at its own URB; umockdev
            // copies the URB and its buffer back to the client on completion.
            UMockdevIoctlData* slot = resolve(sizeof(void*));
            umockdev_ioctl_data_set_ptr(slot, 0, urb.data);
            g_object_unref(slot);
            g_object_unref(urb.data);
            ++core.stats.reaped;
            core.reaped.notify_all();
            return complete(0, 0);
        }
        case USBDEVFS_DISCARDURB: {
            ++core.stats.discards;
            // The argument is the client's URB address itself.
            const gulong address = *reinterpret_cast<gulong*>(arg->data);
            for (auto* q : {&client->bulk, &client->pending}) {
                for (auto it = q->begin(); it != q->end(); ++it) {
                    if (it->data->client_addr != address) continue;
                    it->u()->status = -ENOENT;
                    it->u()->actual_length = 0;
                    client->done.push_back(*it);
                    q->erase(it);
                    return complete(0, 0);
                }
            }
            return complete(-1, EINVAL);  // already completed: libusb reaps it
        }
        default:
            ++core.stats.unknown;
            std::fprintf(stderr, "simulated USB camera %s: ioctl 0x%lx not emulated\n",
                         DevNode().c_str(), request);
            return complete(-1, ENOTTY);
    }
}
