// CGigeCamera: sensor bus, FPGA registers, I2C, GPIO, clock, image path, trigger, strobe and
// I/O lines. Each operation is one vendor command, mostly writes of FPGA registers; the fields
// of the control word (register 20) change through masked writes.
#include <algorithm>
#include <vector>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "gige/GigeCamera.h"

namespace gige = qv::gige;

namespace {

constexpr int kTimeoutMs = 100;
constexpr int kTries = 3;
// Acknowledge time of a sensor list: the camera programs the whole list in its own time.
constexpr int kSensorListBaseMs = 600;
constexpr int kPerWordMs = 5;

// FPGA registers.
constexpr uint16_t kRegFpgaVersion = 0;
constexpr uint16_t kRegWidth = 6;
constexpr uint16_t kRegHeight = 7;
constexpr uint16_t kRegPixelFormat = 8;
constexpr uint16_t kRegOffset = 10;
constexpr uint16_t kRegFrameStart = 11;
constexpr uint16_t kRegFrameEnd = 12;
constexpr uint16_t kRegFrameStep = 13;
constexpr uint16_t kRegFrameBytes = 14;
constexpr uint16_t kRegSensorInterface = 15;
constexpr uint32_t kSensorInterfaceMask = 0x31FF;
constexpr uint16_t kRegControl = 20;
constexpr uint16_t kRegTriggerTiming = 21;
constexpr uint16_t kRegTriggerCount = 22;
constexpr uint16_t kRegTriggerJitter = 23;
constexpr uint16_t kRegTriggerDelay = 24;
constexpr uint16_t kRegOut0Width = 25;  // also the PWM duty
constexpr uint16_t kRegOut0Delay = 26;  // also the PWM period
constexpr uint16_t kRegOut1Width = 27;
constexpr uint16_t kRegOut1Delay = 28;
constexpr uint16_t kRegTiming1 = 31;
constexpr uint16_t kRegTiming2 = 32;
constexpr uint16_t kRegWindow = 33;
constexpr uint16_t kRegInput = 128;

// Output line fields of the control word.
struct OutputField {
    uint32_t mask;
    int shift;
    uint32_t polarityBit;
};
constexpr OutputField kOutputs[] = {{0x1C0, 6, 0x400}, {0x3800, 11, 0x8000}};
constexpr uint32_t kFieldGpHigh = 2;
constexpr uint32_t kFieldGpLow = 3;
constexpr uint32_t kFieldPwm = 4;
constexpr uint32_t kField255 = 6;
constexpr int kOutputModeStrobe = 0;
constexpr int kOutputModeGp = 1;
constexpr int kOutputModePwm = 2;
constexpr int kOutputMode255 = 255;

const OutputField* Output(int line) {
    return line == 0 || line == 1 ? &kOutputs[line] : nullptr;
}

}  // namespace

// ---- Sensor bus ------------------------------------------------------------------------------

int CGigeCamera::SetSensorBus(uint8_t address, uint8_t widths) {
    const uint8_t payload[3] = {0, address, widths};
    return Vendor(gige::kVendorSensorBus, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

int CGigeCamera::WriteSensorReg(uint16_t reg, uint16_t value) {
    uint8_t payload[6] = {0, 0};
    qv::StoreBe16(payload + 2, reg);
    qv::StoreBe16(payload + 4, value);
    return Vendor(gige::kVendorSensorWrite, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

int CGigeCamera::WriteSensorRegs(std::span<const uint16_t> regAndVal) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    const size_t pairs = regAndVal.size() / 2;
    // Every chunk waits for the whole list's words: the camera may work through the earlier
    // chunks' entries while it takes this one.
    const int listMs = kSensorListBaseMs + kPerWordMs * static_cast<int>(regAndVal.size());
    std::vector<uint8_t> payload;
    for (size_t first = 0; first < pairs; first += gige::kMaxSensorPairsPerMessage) {
        const size_t count = std::min(gige::kMaxSensorPairsPerMessage, pairs - first);
        payload.assign(2 + 4 * count, 0);
        int delays = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint16_t reg = regAndVal[2 * (first + i)];
            const uint16_t value = regAndVal[2 * (first + i) + 1];
            qv::StoreBe16(&payload[2 + 4 * i], reg);
            qv::StoreBe16(&payload[4 + 4 * i], value);
            if (reg == gige::kSensorDelayEntry) delays += value;
        }
        const int r = Vendor(gige::kVendorSensorWrite, payload.data(), payload.size(), nullptr,
                             nullptr, listMs + delays, kTries);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::ReadSensorReg(uint16_t reg, uint16_t* value) {
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t payload[4] = {0, 0};
    qv::StoreBe16(payload + 2, reg);
    uint8_t answer[2];
    size_t len = sizeof answer;
    const int r =
        Vendor(gige::kVendorSensorRead, payload, sizeof payload, answer, &len, kTimeoutMs, kTries);
    if (r != CAMERA_STATUS_SUCCESS || len != sizeof answer) return CAMERA_STATUS_COMM_ERROR;
    *value = qv::LoadBe16(answer);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::I2CWrite(uint8_t address, uint8_t* data, uint8_t len) {
    if (data == nullptr && len != 0) return CAMERA_STATUS_PARAMETER_INVALID;
    std::vector<uint8_t> payload{address, len};
    if (len != 0) payload.insert(payload.end(), data, data + len);
    return Vendor(gige::kVendorSensorWrite, payload.data(), payload.size(), nullptr, nullptr,
                  kTimeoutMs, kTries);
}

int CGigeCamera::I2CRead(uint8_t address, uint8_t* data, uint8_t len) {
    if (data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint8_t payload[2] = {address, len};
    size_t got = len;
    const int r =
        Vendor(gige::kVendorI2cRead, payload, sizeof payload, data, &got, kTimeoutMs, kTries);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // The caller learns no count: fewer bytes would leave the rest of its buffer stale, and
    // more were not copied at all.
    return got == len ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_COMM_ERROR;
}

// ---- GPIO, clock -----------------------------------------------------------------------------

int CGigeCamera::SetGpioMode(uint8_t pin, uint8_t mode) {
    const uint8_t payload[2] = {pin, mode};
    return Vendor(gige::kVendorGpioMode, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

int CGigeCamera::WriteGpio(uint8_t pin, uint8_t level) {
    const uint8_t payload[2] = {pin, level};
    return Vendor(gige::kVendorGpioWrite, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

int CGigeCamera::ReadGpio(uint8_t pin, uint8_t* level) {
    if (level == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t answer = 0;
    size_t len = 1;
    const int r = Vendor(gige::kVendorGpioRead, &pin, 1, &answer, &len, kTimeoutMs, kTries);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (len != 1) return CAMERA_STATUS_COMM_ERROR;
    *level = answer;
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6,
                        uint8_t v7, uint8_t v8) {
    const uint8_t payload[8] = {v1, v2, v3, v4, v5, v6, v7, v8};
    return Vendor(gige::kVendorPll, payload, sizeof payload, nullptr, nullptr, kTimeoutMs, kTries);
}

int CGigeCamera::SendSoftTrigger() {
    return Vendor(gige::kVendorSoftTrigger, nullptr, 0, nullptr, nullptr, kTimeoutMs, kTries);
}

int CGigeCamera::ResetTimestamp() {
    return Vendor(gige::kVendorResetTimestamp, nullptr, 0, nullptr, nullptr, kTimeoutMs, kTries);
}

// ---- FPGA registers ----------------------------------------------------------------------------

int CGigeCamera::WriteFpgaReg(uint16_t reg, uint32_t value) {
    return WriteFpgaRegs({static_cast<uint32_t>(reg), value});
}

int CGigeCamera::WriteFpgaRegs(std::span<const uint32_t> regAndVal) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    QV_ASSERT(regAndVal.size() * sizeof(uint32_t) < gige::kMaxPayload);
    std::vector<uint8_t> payload(regAndVal.size() * 4);
    int delays = 0;
    for (size_t i = 0; i < regAndVal.size(); ++i) {
        qv::StoreBe32(&payload[4 * i], regAndVal[i]);
        if (i % 2 == 1 && regAndVal[i - 1] == gige::kFpgaDelayEntry)
            delays += static_cast<int>(regAndVal[i]);
    }
    const int timeout = kTimeoutMs + kPerWordMs * static_cast<int>(regAndVal.size()) + delays;
    return Vendor(gige::kVendorFpgaWrite, payload.data(), payload.size(), nullptr, nullptr, timeout,
                  kTries);
}

int CGigeCamera::ReadFpgaReg(uint16_t reg, uint32_t* value) {
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t payload[4];
    qv::StoreBe32(payload, reg);
    uint8_t answer[4];
    size_t len = sizeof answer;
    const int r =
        Vendor(gige::kVendorFpgaRead, payload, sizeof payload, answer, &len, kTimeoutMs, kTries);
    if (r != CAMERA_STATUS_SUCCESS || len != sizeof answer) return CAMERA_STATUS_COMM_ERROR;
    *value = qv::LoadBe32(answer);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::WriteFpgaRegBits(uint32_t reg, uint32_t mask, uint32_t value) {
    uint8_t payload[12];
    qv::StoreBe32(payload, reg);
    qv::StoreBe32(payload + 4, mask);
    qv::StoreBe32(payload + 8, value);
    return Vendor(gige::kVendorFpgaWriteBits, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

// A GigE camera configures its own FPGA.
int CGigeCamera::FpgaConfigBegin() {
    return CAMERA_STATUS_SUCCESS;
}
int CGigeCamera::FpgaConfigEnd() {
    return CAMERA_STATUS_SUCCESS;
}
int CGigeCamera::FpgaConfigWrite(uint8_t* data, uint32_t len) {
    (void)data, (void)len;
    return CAMERA_STATUS_SUCCESS;
}
int CGigeCamera::LoadFpga(SensorTypeE type) {
    (void)type;
    return CAMERA_STATUS_SUCCESS;
}
int CGigeCamera::SetFpgaImageEnable(uint8_t flag, int value) {
    (void)flag, (void)value;
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::GetFpgaVersion(uint16_t* version) {
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t value = 0;
    const int r = ReadFpgaReg(kRegFpgaVersion, &value);
    if (r == CAMERA_STATUS_SUCCESS) *version = static_cast<uint16_t>(value);
    return r;
}

// ---- Image path ------------------------------------------------------------------------------

int CGigeCamera::SetSensorInterface(uint16_t control) {
    return WriteFpgaRegBits(kRegSensorInterface, kSensorInterfaceMask, control);
}

int CGigeCamera::SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height,
                                uint16_t fovWidth, uint16_t fovHeight, uint8_t bits) {
    const uint32_t frameBytes = uint32_t{width} * height * bits / 8;
    return WriteFpgaRegs({kRegOffset, uint32_t{y} << 16 | x, kRegWidth, width, kRegHeight, height,
                          kRegWindow, uint32_t{fovHeight} << 16 | fovWidth, kRegFrameBytes,
                          frameBytes});
}

int CGigeCamera::SetImageTiming(uint16_t a, uint16_t b, uint8_t c) {
    // The low half is masked: b below c + 1 must not reach into the high half.
    const uint32_t low = (uint32_t{b} - c - 1) & 0xFFFF;
    return WriteFpgaRegs(
        {kRegTiming1, (uint32_t{a} - 1) << 16 | low, kRegTiming2, uint32_t{c} - 1});
}

int CGigeCamera::SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) {
    return WriteFpgaRegs({kRegFrameStart, start, kRegFrameEnd, end, kRegFrameStep,
                          frameStep | uint32_t{mode} << 30});
}

int CGigeCamera::SetFpgaPixelFormat(uint32_t mediaType) {
    return WriteFpgaReg(kRegPixelFormat, mediaType);
}

// ---- Trigger -----------------------------------------------------------------------------------

int CGigeCamera::SetTriggerTiming(uint16_t a, uint16_t b) {
    return WriteFpgaReg(kRegTriggerTiming, uint32_t{b} << 16 | a);
}

int CGigeCamera::SetTriggerFrameCount(uint32_t count) {
    return WriteFpgaReg(kRegTriggerCount, count);
}

int CGigeCamera::SetTriggerJitterTime(int line, uint32_t time) {
    (void)line;
    return WriteFpgaReg(kRegTriggerJitter, time);
}

int CGigeCamera::SetTriggerDelayTime(uint32_t time) {
    return WriteFpgaReg(kRegTriggerDelay, time);
}

int CGigeCamera::SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) {
    const uint32_t word = (uint32_t{mode} << 6 | uint32_t{source} << 1 | (flag != 0 ? 0x10u : 0u) |
                           (enable != 0 ? 1u : 0u)) &
                          0xFFFF;
    return WriteFpgaReg(kRegControl, word);
}

int CGigeCamera::GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                                   uint16_t* enable) {
    uint32_t word = 0;
    const int r = ReadFpgaReg(kRegControl, &word);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (mode != nullptr) *mode = static_cast<uint16_t>(word >> 6);
    if (source != nullptr) *source = static_cast<uint16_t>((word >> 1) & 7);
    if (flag != nullptr) *flag = static_cast<uint16_t>((word >> 4) & 1);
    if (enable != nullptr) *enable = static_cast<uint16_t>(word & 1);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::SetTriggerSignalType(int line, int type) {
    (void)line;
    if (m_hardwareType < 200 || m_hardwareType > 205) return CAMERA_STATUS_NOT_SUPPORTED;
    // Checked before any traffic: types 0 to 4 are the signal codes 1 to 5.
    if (type < 0 || type > 4) return CAMERA_STATUS_PARAMETER_INVALID;
    uint16_t mode = 0, flag = 0, enable = 0;
    const int r = GetTriggerControl(&mode, nullptr, &flag, &enable);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const auto code = static_cast<uint16_t>(type + 1);
    m_triggerSignalCode = code;
    return SetTriggerControl(mode, code, flag, enable);
}

int CGigeCamera::SetTriggerInhibit(int line, int inhibit) {
    (void)line;
    return WriteFpgaRegBits(kRegControl, 1, inhibit == 0 ? 1 : 0);
}

// ---- Strobe and output lines -----------------------------------------------------------------

int CGigeCamera::SetStrobeMode(int line, int mode) {
    if (mode != 0 && mode != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    const OutputField* out = Output(line);
    if (out == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return WriteFpgaRegBits(kRegControl, out->mask, static_cast<uint32_t>(mode) << out->shift);
}

int CGigeCamera::SetStrobeDelayTime(int line, uint32_t time) {
    return WriteFpgaReg(line == 0 ? kRegOut0Delay : kRegOut1Delay, time);
}

int CGigeCamera::SetStrobePolarity(int line, int polarity) {
    const OutputField* out = Output(line);
    if (out == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return WriteFpgaRegBits(kRegControl, out->polarityBit, polarity != 0 ? out->polarityBit : 0);
}

int CGigeCamera::SetStrobePulseWidth(int line, uint32_t width) {
    return WriteFpgaReg(line == 0 ? kRegOut0Width : kRegOut1Width, width);
}

int CGigeCamera::SetOutputIOMode(int line, int mode) {
    const OutputField* out = Output(line);
    if (out == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    uint32_t field;
    switch (mode) {
        case kOutputModeStrobe:
        case kOutputModeGp:
            // The field follows with the strobe mode or the output state.
            return CAMERA_STATUS_SUCCESS;
        case kOutputModePwm:
            field = kFieldPwm;
            break;
        case kOutputMode255:
            field = kField255;
            break;
        default:
            return CAMERA_STATUS_PARAMETER_INVALID;
    }
    return WriteFpgaRegBits(kRegControl, out->mask, field << out->shift);
}

int CGigeCamera::SetOutputIOState(int line, int state) {
    const OutputField* out = Output(line);
    if (out == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint32_t field = state != 0 ? kFieldGpHigh : kFieldGpLow;
    return WriteFpgaRegBits(kRegControl, out->mask, field << out->shift);
}

int CGigeCamera::SetOutputIOPWM(int line, uint32_t period, uint32_t duty) {
    if (Output(line) == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    duty = std::min(duty, period);
    if (line == 0) return WriteFpgaRegs({kRegOut0Delay, period, kRegOut0Width, duty});
    return WriteFpgaRegs({kRegOut1Delay, period, kRegOut1Width, duty});
}

int CGigeCamera::GetInputIOState(int line, int* state) {
    if (state == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (line != 0) return CAMERA_STATUS_NOT_SUPPORTED;
    uint32_t value = 0;
    const int r = ReadFpgaReg(kRegInput, &value);
    if (r == CAMERA_STATUS_SUCCESS) *state = static_cast<int>(value & 1);
    return r;
}
