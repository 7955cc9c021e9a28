// Shared pieces of the tests that run the USB transport against simulated cameras behind the
// real libusb: a camera model whose storage holds a valid identity, a device object made as
// discovery makes it (on libusb's default context, whose events the factory's thread handles),
// and a bounded wait for operations that used to hang.
#pragma once

#include <libusb.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeSensor.h"
#include "SimUsbTestbed.h"
#include "StorageImage.h"
#include "usb/LibUsbCamera.h"

namespace usbtest {

// Hardware type 100: every frame behind a 16-byte header; no cooler and no set-up requests at
// stream open.
inline constexpr uint32_t kModelWithHeader = 0xAA210001;
// A model code no board carries: hardware type 0, frames without header.
inline constexpr uint32_t kModelWithoutHeader = 0x12345678;
// A sensor type code without a driver: tests put a fake driver in place.
inline constexpr int32_t kSensorWithoutDriver = 60;

struct Identity {
    const char* serial = "QV0001";
    const char* friendlyName = "Line 3";
    uint32_t modelCode = kModelWithHeader;
    int32_t sensorType = kSensorWithoutDriver;
    const char* portType = "";  // the stored text, which the speed found at open replaces
    SimUsbGeneration generation = SimUsbGeneration::kUsb3;
};

inline std::shared_ptr<CSimUsbCamera> MakeStoredCamera(const Identity& id,
                                                       const SimFrameFormat& frames = {}) {
    auto model = std::make_shared<CSimUsbCamera>(
        SimUsbCameraConfig{.generation = id.generation, .frames = frames});
    qvsim::StoredFields f;
    f.serial[0] = id.serial;
    f.friendlyName = id.friendlyName;
    f.productName = "QV-U3";
    f.productSeries = "QV";
    f.portType = id.portType;
    f.sensorType = id.sensorType;
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, id.modelCode);
    qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
    std::vector<uint8_t> store(model->StorageSize(), 0xFF);
    qvsim::WriteStorageImage(store,
                             id.generation == SimUsbGeneration::kUsb3
                                 ? qvsim::StorageLayout::kUsb3Flash
                                 : qvsim::StorageLayout::kEeprom1,
                             f);
    model->WriteStorage(0, store);
    return model;
}

// CLibUsbCamera with a fake sensor driver put in place, as a first stream open would create
// the real one.
class TestCamera : public CLibUsbCamera {
  public:
    using CLibUsbCamera::CLibUsbCamera;
    using CLibUsbCamera::Receiver;
    qvsim::CFakeSensor* AdoptFakeSensor(uint32_t imageBytes) {
        std::lock_guard lock(m_sensorMutex);
        auto* sensor = new qvsim::CFakeSensor(static_cast<SensorTypeE>(37), this);
        sensor->imageInfo.iWidth = 1;
        sensor->imageInfo.iHeight = imageBytes;
        sensor->imageInfo.TotalBytes = imageBytes;
        sensor->imageInfo.uiMediaType = 0x01080000;
        delete m_pSensor;
        m_pSensor = sensor;
        return sensor;
    }
};

// A device object for the device at bus/address on ctx (null: the default context, as discovery
// uses), made as discovery makes it (not opened); null when libusb does not list it.
inline std::shared_ptr<TestCamera> MakeTestCamera(int bus, int address,
                                                  libusb_context* ctx = nullptr) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    std::shared_ptr<TestCamera> camera;
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_bus_number(list[i]) != bus || libusb_get_device_address(list[i]) != address)
            continue;
        char name[64];
        std::snprintf(name, sizeof name, "bus:%d:address:%d", bus, address);
        camera =
            std::make_shared<TestCamera>(libusb_ref_device(list[i]), name, "libusb camera", "V1.0");
    }
    libusb_free_device_list(list, 1);
    return camera;
}

// Runs fn on a thread of its own and waits for it at most `limit`. An operation that does not
// return would otherwise hold the test until the test runner's time-out; this ends the process
// at once with a message instead (the thread cannot be taken back).
inline bool FinishesWithin(std::chrono::seconds limit, std::function<void()> fn, const char* what) {
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    std::thread([state, fn = std::move(fn)] {
        fn();
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->cv.notify_all();
    }).detach();
    std::unique_lock lock(state->mutex);
    if (state->cv.wait_for(lock, limit, [&] { return state->done; })) return true;
    std::fprintf(stderr, "%s did not return within %lld s\n", what,
                 static_cast<long long>(limit.count()));
    std::abort();
}

// Polls cond every millisecond until it holds or `limit` passes.
inline bool WaitUntil(const std::function<bool()>& cond,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace usbtest
