#include "SimUsbInProcess.h"

#include <algorithm>
#include <vector>

#include "usb/UsbVendorRequest.h"

int CSimUsbInProcess::ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                      uint16_t index, uint8_t* data, uint16_t length) {
    const SimControlSetup setup{requestType, request, value, index, length};
    // The device writes into its own buffer; only what it sends reaches the caller's.
    std::vector<uint8_t> stage(length);
    if (!setup.In() && length) std::copy_n(data, length, stage.begin());
    const SimControlResult r = m_camera.HandleControl(setup, stage.data());
    switch (r.outcome) {
        case SimControlOutcome::kStall:
            return kErrorPipe;
        case SimControlOutcome::kNoAnswer:
            return kErrorTimeout;
        case SimControlOutcome::kGone:
            return kErrorNoDevice;
        case SimControlOutcome::kOk:
            break;
    }
    const uint16_t actual = std::min(r.actual, length);
    if (setup.In()) std::copy_n(stage.begin(), actual, data);
    return actual;
}

int CSimUsbInProcess::operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                                 uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) {
    if (inLen) {
        const int n = ControlTransfer(qv::usb::kRequestTypeIn, request, value, index, inBuf, inLen);
        return qv::usb::CheckTransferred(inLen, n);
    }
    const int n = ControlTransfer(qv::usb::kRequestTypeOut, request, value, index, outBuf, outLen);
    return qv::usb::CheckTransferred(outLen, n);
}
