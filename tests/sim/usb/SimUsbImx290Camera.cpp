#include "SimUsbImx290Camera.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "control/CameraSettings.h"
#include "QVDeviceDef.h"
#include "StorageImage.h"

namespace {

// Property words of the capability's one-shot and automatic white-balance flags and its
// software auto-exposure flag.
constexpr size_t kPropOnceWb = 60;
constexpr size_t kPropAutoWb = 64;
constexpr size_t kPropSoftwareAe = 68;

}  // namespace

void CSimUsbImx290Camera::FactorySettings(uint8_t (&block)[240]) {
    std::memset(block, 0, sizeof block);
    auto word = [&](size_t field, uint32_t v) {
        for (int i = 0; i < 4; ++i) block[field + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    word(offsetof(CameraSettings, aeState), 0);
    // 10 ms as a double: exposure in microseconds.
    const double exposure = 10000.0;
    uint64_t bits;
    static_assert(sizeof bits == sizeof exposure);
    std::memcpy(&bits, &exposure, sizeof bits);
    word(offsetof(CameraSettings, exposureTime), static_cast<uint32_t>(bits));
    word(offsetof(CameraSettings, exposureTime) + 4, static_cast<uint32_t>(bits >> 32));
    word(offsetof(CameraSettings, analogGain), 1000);
    word(offsetof(CameraSettings, lightFrequency), 1);
    for (int c = 0; c < 3; ++c) word(offsetof(CameraSettings, rgbGain) + 4 * c, 100);
    word(offsetof(CameraSettings, triggerMode), 0);
    word(offsetof(CameraSettings, ispOutFormat), CAMERA_MEDIA_TYPE_MONO8);
    word(offsetof(CameraSettings, frameSpeed), 2);
    word(offsetof(CameraSettings, saturation), 128);
    word(offsetof(CameraSettings, contrast), 50);
    word(offsetof(CameraSettings, gamma), 100);
    word(offsetof(CameraSettings, contrastLut), 100);
    word(offsetof(CameraSettings, aeTarget), 120);
    // No AE exposure range of its own: the sensor's.
    const double unset = -1.0;
    std::memcpy(&bits, &unset, sizeof bits);
    for (size_t field :
         {offsetof(CameraSettings, aeExposureMin), offsetof(CameraSettings, aeExposureMax)}) {
        word(field, static_cast<uint32_t>(bits));
        word(field + 4, static_cast<uint32_t>(bits >> 32));
    }
    // The identity colour matrix (used by colour cameras only).
    for (int i = 0; i < 3; ++i) word(offsetof(CameraSettings, colorMatrix) + 16 * i, 256);
}

SimImx290Options SimImx290Options::Colour(double red, double green, double blue) {
    SimImx290Options o;
    o.sensorType = 14;  // "IMX290C"
    o.productName = CSimUsbImx290Camera::kColourProductName;
    o.colour = true;
    o.pattern = SimFramePattern::kBayerScene;
    o.cast[0] = red;
    o.cast[1] = green;
    o.cast[2] = blue;
    return o;
}

namespace {

void SetDefaults(qvsim::PropertyBytes& p) {
    uint8_t block[240];
    CSimUsbImx290Camera::FactorySettings(block);
    std::memcpy(p.data() + qvsim::kPropDefaultSettings, block, sizeof block);
}

}  // namespace

CSimUsbImx290Camera::CSimUsbImx290Camera(CSimUsbTestbed& testbed, const SimImx290Options& options)
    : m_testbed(testbed), m_options(options) {
    MakeModel();
    m_device = &m_testbed.AddCamera(m_model, {.port = m_options.port});
}

CSimUsbImx290Camera::~CSimUsbImx290Camera() {
    if (m_device != nullptr) m_testbed.RemoveDevice(*m_device);
}

void CSimUsbImx290Camera::MakeModel() {
    SimUsbCameraConfig config;
    config.frames =
        SimFrameFormat{.imageBytes = 4096,
                       .header = true,
                       .fps = m_options.fps,
                       .pattern = m_options.scene > 0 ? SimFramePattern::kScene : m_options.pattern,
                       .constant = m_options.constant,
                       .image = m_options.image};
    for (int c = 0; c < 3; ++c) config.frames.bayerScene.cast[c] = m_options.cast[c];
    config.frameSizeFromFpga = true;
    config.triggerRegister = kTriggerRegister;
    config.outputLoopedToInput = m_options.outputLoopedToInput;
    config.generation = m_options.generation;
    m_model = std::make_shared<CSimUsbCamera>(config);

    qvsim::StoredFields f;
    f.serial[0] = m_options.serial;
    f.friendlyName = m_options.serial;
    f.productName = m_options.productName;
    f.productSeries = "QV-U3";
    f.sensorType = m_options.sensorType;
    f.deviceId = m_options.deviceId;
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, m_options.modelCode);
    qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
    qvsim::SetPropertyWord(f.property, kPropSoftwareAe, 1);
    // The pipeline's contrast (50 neutral) and sharpness ranges.
    qvsim::SetPropertyWord(f.property, qvsim::kPropContrastRange + 4, 100);
    qvsim::SetPropertyWord(f.property, qvsim::kPropSharpnessRange + 4, 100);
    if (!m_options.colour) {
        qvsim::SetPropertyWord(f.property, qvsim::kPropMonoSensor, 1);
        // One output format: mono.
        qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatCount, 1);
        qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatMask, 1);
    } else {
        qvsim::SetPropertyWord(f.property, qvsim::kPropMonoSensor, 0);
        // Mono, RGB8, BGR8, RGBA8 and BGRA8.
        qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatCount, 5);
        qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatMask, 0x1F);
        qvsim::SetPropertyWord(f.property, kPropOnceWb, 1);
        qvsim::SetPropertyWord(f.property, kPropAutoWb, 1);
        // A model number from which the stored colour matrix (the identity) is taken as it is.
        qvsim::SetPropertyWord(f.property, qvsim::kPropModelNumber, 4105);
        // Red, green and blue gains from 50 to 400 %.
        for (size_t c = 0; c < 3; ++c) {
            qvsim::SetPropertyWord(f.property, qvsim::kPropRedGainRange + 8 * c, 50);
            qvsim::SetPropertyWord(f.property, qvsim::kPropRedGainRange + 8 * c + 4, 400);
        }
    }
    // Continuous, software and hardware trigger; two output lines and one input.
    qvsim::SetPropertyWord(f.property, qvsim::kPropTriggerModeCount, 3);
    qvsim::SetPropertyWord(f.property, qvsim::kPropTriggerModeMask, 0x7);
    qvsim::SetPropertyWord(f.property, qvsim::kPropOutputIoCount, kOutputLines);
    qvsim::SetPropertyWord(f.property, qvsim::kPropInputIoCount, kInputLines);
    SetDefaults(f.property);
    std::vector<uint8_t> store(m_model->StorageSize(), 0xFF);
    qvsim::WriteStorageImage(store,
                             m_options.generation == SimUsbGeneration::kUsb3
                                 ? qvsim::StorageLayout::kUsb3Flash
                                 : qvsim::StorageLayout::kEeprom1,
                             f);
    m_model->WriteStorage(0, store);
    m_model->AttachSensor(
        {.busAddress = m_options.sensorBusAddress, .registers = m_options.sensorRegisters});
    m_fpga = std::make_unique<CSimUsbFpga>(*m_model, m_options.fpga);

    if (m_options.scene > 0) m_scene.store(m_options.scene);
    m_model->SetFrameStartHook([this](SimFrameFormat& format) {
        if (format.pattern == SimFramePattern::kScene)
            format.level = m_scene.load() * ExposureLines() * LinearGain();
    });
}

uint32_t CSimUsbImx290Camera::ExposureLines() const {
    auto reg = [this](uint16_t r) {
        return static_cast<uint32_t>(m_model->SensorReg(m_options.sensorBusAddress, r).value_or(0));
    };
    const uint32_t vmax = reg(0x3018) | reg(0x3019) << 8 | (reg(0x301A) & 0x0F) << 16;
    const uint32_t shs1 = reg(0x3020) | reg(0x3021) << 8 | (reg(0x3022) & 0x01) << 16;
    return vmax > shs1 ? vmax - shs1 : 0;
}

double CSimUsbImx290Camera::LinearGain() const {
    const uint8_t bus = m_options.sensorBusAddress;
    const uint16_t code = m_model->SensorReg(bus, 0x3014).value_or(0) & 0xFF;
    const bool highConversion = (m_model->SensorReg(bus, 0x3009).value_or(0) & 0x10) != 0;
    return std::pow(10.0, (0.3 * code + (highConversion ? 6.0 : 0.0)) / 20.0);
}

void CSimUsbImx290Camera::AllowFrames(uint32_t n) {
    m_model->AllowFrames(n);
    if (m_device != nullptr) m_device->Wake();
}

void CSimUsbImx290Camera::Pull() {
    if (m_device != nullptr) m_device->Unplug();
}

void CSimUsbImx290Camera::PlugAgain() {
    if (m_device != nullptr) m_testbed.RemoveDevice(*m_device);
    m_device = nullptr;
    // The FPGA model refers to the camera model: the new pair replaces the old one together.
    m_fpga.reset();
    MakeModel();
    m_device = &m_testbed.AddCamera(m_model, {.port = m_options.port});
}

void CSimUsbImx290Camera::PulseInput() {
    m_model->PulseInput();
    // A bulk read waiting for the frame this lets through completes now.
    if (m_device != nullptr) m_device->Wake();
}
