#include "usb/UsbPll.h"

#include "common/Log.h"
#include "QVDeviceDef.h"
#include "common/TimeUtil.h"

namespace qv::usb {

CUsbPll::CUsbPll(VendorTransfer transfer, int hardwareType, PauseUs pause)
    : m_transfer(transfer), m_hardwareType(hardwareType), m_pause(pause ? pause : SleepUs) {}

int CUsbPll::SetPll(const S6PllSettings& p) {
    switch (m_hardwareType) {
        case 9:
            return SetFpgaClock(p, 16, 17);
        case 108:
            return SetFpgaClock(p, 6, 7);
        case 300:
        case 301:
        case 302:
        case 304:
        case 305:
            return SetClockChip(p);
        case 8:
        case 110:
        case 111:
        case 306:
            return CAMERA_STATUS_SUCCESS;  // the camera makes its own sensor clock
        default:
            return Reconfigure(p);
    }
}

// The FPGA's own clock divider: the output divider (counting half periods) goes to `high`, the
// two dividers ahead of it to `low`, each as 64 minus the division; bit 15 of `high` applies
// the new values.
int CUsbPll::SetFpgaClock(const S6PllSettings& p, uint16_t low, uint16_t high) {
    const uint32_t out = static_cast<uint8_t>(64 - p[2] / 2);
    const uint32_t in = static_cast<uint32_t>(static_cast<uint8_t>(64 - p[1])) << 8 |
                        static_cast<uint8_t>(64 - p[0]);
    int r = WriteFpgaReg(m_transfer, high, out);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteFpgaReg(m_transfer, low, in);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteFpgaReg(m_transfer, high, out + 0x8000);
    return r;
}

// The clock chip's divider registers 198-200; types other than 304 set only the last.
int CUsbPll::SetClockChip(const S6PllSettings& p) {
    const bool all = m_hardwareType == 304;
    const uint8_t writes[3][2] = {{198, p[2]}, {199, p[3]}, {200, p[4]}};
    for (const auto& w : writes) {
        if (!all && w[0] != 200) continue;
        if (I2CWrite(m_transfer, kClockChipAddress, w, 2) != CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_IO_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUsbPll::ReadDrp(uint8_t address, uint16_t* value) {
    uint32_t v = 0;
    if (WriteFpgaReg(m_transfer, kRegAddress, address * 2u + 1) != CAMERA_STATUS_SUCCESS ||
        WriteFpgaReg(m_transfer, kRegStrobe, 1) != CAMERA_STATUS_SUCCESS ||
        WriteFpgaReg(m_transfer, kRegStrobe, 0) != CAMERA_STATUS_SUCCESS ||
        ReadFpgaReg(m_transfer, kRegReadData, &v) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FAILED;
    *value = static_cast<uint16_t>(v);
    return CAMERA_STATUS_SUCCESS;
}

int CUsbPll::WriteDrp(uint8_t address, uint16_t value) {
    const uint32_t regs[] = {
        kRegAddress, address * 2u + 1, kRegWriteData, value, kRegStrobe, 2, kRegStrobe, 0};
    return WriteFpgaRegs(m_transfer, regs);
}

int CUsbPll::WaitLocked() {
    for (int i = 0; i < kLockPolls; ++i) {
        if (i > 0) m_pause(kLockPollUs);
        uint32_t status = 0;
        const int r = ReadFpgaReg(m_transfer, kRegStatus, &status);
        if (r != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FAILED;
        if (status & 1) return CAMERA_STATUS_SUCCESS;
    }
    return CAMERA_STATUS_TIMEOUT;
}

int CUsbPll::Reconfigure(const S6PllSettings& p) {
    // The lock and filter settings are tabulated for feedback multipliers 1 to 64 only.
    if (p[0] < 1 || p[0] > 64) return CAMERA_STATUS_PARAMETER_INVALID;
    std::array<uint16_t, kS6DrpCount> current{};
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int r = WriteFpgaReg(m_transfer, kRegAddress, 1);  // hold the PLL in reset
        if (r != CAMERA_STATUS_SUCCESS) return r;
        for (size_t i = 0; i < kS6DrpCount; ++i) {
            if (ReadDrp(kS6DrpAddress[i], &current[i]) != CAMERA_STATUS_SUCCESS)
                return CAMERA_STATUS_FAILED;
        }
        const std::array<uint16_t, kS6DrpCount> wanted = S6PllDrpValues(p, current);
        for (size_t i = 0; i < kS6DrpCount; ++i) {
            r = WriteDrp(kS6DrpAddress[i], wanted[i]);
            if (r != CAMERA_STATUS_SUCCESS) return r;
        }
        bool same = true;
        for (size_t i = 0; i < kS6DrpCount; ++i) {
            uint16_t back = 0;
            if (ReadDrp(kS6DrpAddress[i], &back) != CAMERA_STATUS_SUCCESS)
                return CAMERA_STATUS_FAILED;
            same = same && back == wanted[i];
        }
        if (!same) continue;
        r = WriteFpgaReg(m_transfer, kRegAddress, 0);  // release: the PLL starts on the new values
        if (r != CAMERA_STATUS_SUCCESS) return r;
        r = WaitLocked();
        if (r == CAMERA_STATUS_SUCCESS) return r;
        if (r == CAMERA_STATUS_FAILED) return r;
    }
    // A sensor initialised on a clock that never settled streams garbage or nothing at all.
    qv::Log("sensor clock pll not locked\n");
    return CAMERA_STATUS_FPGA_ERROR;
}

}  // namespace qv::usb
