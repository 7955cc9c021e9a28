// The in-process link to a simulated USB camera: control transfers go straight into the model,
// with the results libusb would give, and no USB stack, preload or thread in between. Fast enough
// for tests that need thousands of register accesses.
#pragma once

#include <cstdint>

#include "SimUsbCamera.h"

class CSimUsbInProcess {
  public:
    // libusb's codes for the outcomes of a control transfer.
    static constexpr int kErrorNoDevice = -4;
    static constexpr int kErrorTimeout = -7;
    static constexpr int kErrorPipe = -9;

    explicit CSimUsbInProcess(CSimUsbCamera& camera) : m_camera(camera) {}

    // As libusb_control_transfer: the bytes moved (an IN reply may be short), or kErrorPipe for a
    // stall, kErrorTimeout for a request the device never answers (reported at once, no wait),
    // kErrorNoDevice once the camera is unplugged. Bytes of an IN buffer beyond what the device
    // sent are left as they were.
    int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        uint8_t* data, uint16_t length);

    // The camera's vendor transfer operation (the shape of CUsbCamera::Ioctl) on top: IN when
    // inLen is non-zero, else OUT; 0, or -13 for a failed or short transfer.
    int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
                   uint16_t outLen, uint8_t* outBuf);

    CSimUsbCamera& Camera() { return m_camera; }

  private:
    CSimUsbCamera& m_camera;
};
