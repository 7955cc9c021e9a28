// The SDK's CUsbCamera on the in-process link to a simulated camera: every vendor request the
// device class makes goes straight into a CSimUsbCamera model, with libusb's results, under the
// device's transfer mutex as on libusb. For tests of everything CUsbCamera builds on requests
// (registers, settings, cooling, liveness) without a USB stack.
//
// What the libusb leaf would set at open is set by the test: the hardware type, a sensor
// driver. The leaf-only operations answer as a camera without a stream.
#pragma once

#include <memory>
#include <mutex>

#include "SimUsbCamera.h"
#include "SimUsbInProcess.h"
#include "usb/UsbCamera.h"

class CSimUsbInProcessCamera : public CUsbCamera {
  public:
    explicit CSimUsbInProcessCamera(std::shared_ptr<CSimUsbCamera> model, int hardwareType = 0);
    ~CSimUsbInProcessCamera() override;

    CSimUsbCamera& Model() { return *m_model; }
    void SetHardwareType(int type) { m_hardwareType = type; }
    // Takes ownership of a driver, as the first stream open's sensor creation would.
    void AdoptSensor(SensorInf* sensor);
    // false: requests answer CAMERA_STATUS_HARDWARE_NOT_FOUND, as on a device not open.
    void SetOpen(bool open);
    // The record the open would have filled, which GetDeviceInfo copies.
    void SetDeviceInfo(const tDevInfo& info) { m_devInfo = info; }
    // Makes the storage object over the model's EEPROM or flash, as the open does; false when
    // the stored identity cannot be read. The camera deletes it.
    bool OpenStorage();
    // Holds the device's transfer mutex, as a thread in the middle of a request would.
    std::unique_lock<std::recursive_mutex> HoldTransfers() {
        return std::unique_lock(m_transferMutex);
    }

    int Ioctl(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
              uint16_t outLen, uint8_t* outBuf) override;

    int StartCapture() override;
    int StopCapture() override;
    int SetStreamBufferCount(int count) override;
    int GetStreamBufferCount(int* count) override;
    int GetAccessStatus(DevAccessStatus* status) override;

  private:
    std::shared_ptr<CSimUsbCamera> m_model;
    CSimUsbInProcess m_link;
    bool m_open = true;  // guarded by m_transferMutex
};
