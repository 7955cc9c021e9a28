// CameraControl: a parameter record read from a file brought within what this camera takes.
// A file may be damaged, or written by a camera of the same stamp with other limits; each of
// its values stays only where the matching setter would have stored it, is brought into range
// the way that setter brings it, or gives way to the camera's own default where the setter
// would have refused it. A file of this camera written by its setters passes unchanged.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "control/CameraControl.h"
#include "control/ResolutionRules.h"
#include "control/SettingRules.h"

using namespace qv::control;

namespace {

constexpr int kLutModes = 3;    // generated, preset, custom
constexpr int kLutPresets = 4;  // the pipeline's preset curves
constexpr int kSensorWords = 14;

// The output formats the pipeline has kernels for: grey, the four colour layouts and the raw
// Bayer and 16-bit grey outputs.
bool OutFormatProduced(uint32_t ispOutFormat) {
    constexpr uint32_t kProduced[] = {
        CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_RGB8,  CAMERA_MEDIA_TYPE_BGR8,
        CAMERA_MEDIA_TYPE_RGBA8, CAMERA_MEDIA_TYPE_BGRA8, CameraISP::kOutRaw8,
        CameraISP::kOutRaw16,    CameraISP::kOutMono16,
    };
    return std::find(std::begin(kProduced), std::end(kProduced), ispOutFormat) !=
           std::end(kProduced);
}

}  // namespace

CameraControl::SensorWords CameraControl::SensorWordsCopy() {
    SensorWords words;
    const DeviceHold hold = HoldDevice();
    std::memcpy(words.data(), m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    return words;
}

void CameraControl::SensorRuleWords(UINT out[]) const {
    static_assert(sizeof m_capability.auSensorParam == kSensorWords * sizeof(UINT));
    std::memcpy(out, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    // Before the first stream open the sensor has not told its limits; the property record keeps
    // its window limits and reduction masks (words 6 to 13) from the camera's storage.
    static_assert(sizeof m_property.sensorLimits ==
                  (kSensorWords - kWindowHeightMax) * sizeof(UINT));
    if (out[kWindowWidthMax] == 0)
        std::memcpy(out + kWindowHeightMax, m_property.sensorLimits,
                    sizeof m_property.sensorLimits);
}

uint32_t CameraControl::SensorOutFormatFor(uint32_t mediaType) const {
    if (m_capability.iMediaTypeDesc <= 0 || m_capability.pMediaTypeDesc == nullptr)
        return mediaType;
    const tSdkBayerType* begin = m_capability.pMediaTypeDesc;
    const tSdkBayerType* end = begin + m_capability.iMediaTypeDesc;
    // A sensor format the camera does not list gives way to the first one it does.
    if (std::none_of(begin, end,
                     [mediaType](const tSdkBayerType& t) { return t.uMediaType == mediaType; }))
        return begin->uMediaType;
    return mediaType;
}

void CameraControl::ClampFileRecord(CameraParameter& r) {
    // The sensor's words are refreshed by CameraGetCapability, which takes only this mutex.
    const DeviceHold hold = HoldDevice();
    const CameraSettings& factory = m_property.defaultSettings;
    CameraSettings& s = r.settings;

    // Exposure: a time the sensor cannot be programmed with is the camera's default; an AE limit
    // that is no number is "not set", which the sensor's limit replaces.
    if (!std::isfinite(s.exposureTime) || s.exposureTime < 0) s.exposureTime = factory.exposureTime;
    if (!std::isfinite(s.aeExposureMin)) s.aeExposureMin = -1;
    if (!std::isfinite(s.aeExposureMax)) s.aeExposureMax = -1;
    // The gain, target and AE limits are the sensor's, known once a stream was open (for a
    // first open see ClampFileRecordToSensor).
    if (SensorLimit(kGainMaxWord) != 0) ClampToSensorLimits(s);

    // White balance and the pipeline, on the ranges the camera states.
    for (int c = 0; c < 3; ++c) {
        const INT* range = m_capability.aiGainRange + 2 * c;
        if (RangeStated(range))
            s.rgbGain[c] = RgbGainInRange(static_cast<int>(s.rgbGain[c]), range);
    }
    if (RangeStated(m_capability.aiSharpnessRange))
        s.sharpness = ClampUnsigned(s.sharpness, m_capability.aiSharpnessRange);
    if (RangeStated(m_capability.aiSaturationRange))
        s.saturation = ClampUnsigned(s.saturation, m_capability.aiSaturationRange);
    if (RangeStated(m_capability.aiContrastRange))
        s.contrast = ClampUnsigned(s.contrast, m_capability.aiContrastRange);
    if (RangeStated(m_capability.aiGammaRange))
        s.gamma = ClampSigned(s.gamma, m_capability.aiGammaRange);
    if (RangeStated(m_capability.aiContrastLutRange))
        s.contrastLut = ClampSigned(s.contrastLut, m_capability.aiContrastLutRange);
    if (s.lutMode < 0 || s.lutMode >= kLutModes) s.lutMode = 0;
    if (s.lutPreset < 0 || s.lutPreset >= kLutPresets) s.lutPreset = 0;
    // "Mono" names no depth: it is the 8-bit grey output, as CameraSetIspOutFormat takes it.
    if (s.ispOutFormat == CAMERA_MEDIA_TYPE_MONO) s.ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
    if (!OutFormatProduced(s.ispOutFormat)) s.ispOutFormat = factory.ispOutFormat;

    // Stream settings: what the camera offers, else its default.
    const uint32_t speeds = m_property.frameSpeedMask;
    if (!FrameSpeedKept(s.frameSpeed, speeds))
        s.frameSpeed = FrameSpeedKept(m_miscInfo.defaultFrameSpeed, speeds)
                           ? m_miscInfo.defaultFrameSpeed
                           : factory.frameSpeed;
    const uint32_t triggers = m_property.triggerModeMask;
    if (!TriggerModeKept(s.triggerMode, triggers))
        s.triggerMode = TriggerModeKept(factory.triggerMode, triggers) ? factory.triggerMode
                                                                       : TRIGGER_MODE_CONTINUOUS;
    UINT sensor[kSensorWords];
    SensorRuleWords(sensor);
    const bool customUsable = r.resolution.uWidth != 0 && IsStorableRegion(r.resolution, sensor);
    const bool presetUsable =
        PresetOffered(s.resolutionIndex, m_property.presetMaskLow, m_property.presetMaskHigh);
    if (s.resolutionIndex == kCustomIndex ? !customUsable : !presetUsable)
        s.resolutionIndex = m_defaultResolution.iIndex;
    // Kept or not in force now, a region the setters could not store never stays in the record:
    // a later CameraSetResolution(255) would put it in force unchecked.
    if (!customUsable) r.resolution = tSdkResolution{};
    // No snapshot resolution (the current one is used) rather than one the sensor cannot take.
    if (r.snapResolution.uWidth != 0 &&
        !(IsStorableRegion(r.snapResolution, sensor) && r.snapResolution.uResizeWidth == 0 &&
          r.snapResolution.uResizeHeight == 0))
        r.snapResolution = tSdkResolution{};
    r.sensorOutFormat = SensorOutFormatFor(r.sensorOutFormat);

    // Output lines: a mode the stream open cannot send is the line's default; a PWM the setter
    // would refuse (duty above period) is none.
    CameraParameter defaults{};
    CameraParameterBuilder().SetDefault(&defaults);
    for (int i = 0; i < kOutputLinesHandled; ++i) {
        OutputLineSetting& line = r.outputLines[i];
        if (!OutputIoModeKnown(line.mode)) line.mode = defaults.outputLines[i].mode;
        line.state = line.state != 0 ? 1 : 0;
        if (line.pwmDuty > line.pwmPeriod) line.pwmDuty = line.pwmPeriod = 0;
    }
}

void CameraControl::ClampToSensorLimits(CameraSettings& s) {
    SensorParam sensor{};
    std::memcpy(&sensor, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    s.analogGain = ClampToLimits(s.analogGain, sensor.analogGainMin, sensor.analogGainMax);
    s.aeTarget =
        static_cast<int32_t>(AeTargetInRange(s.aeTarget, sensor.aeTargetMin, sensor.aeTargetMax));
    ClampAeLimits(s, sensor);
}

void CameraControl::ClampFileRecordToSensor() {
    // The exposure setters change these without the API mutex, device and record together.
    const DeviceHold hold = HoldDevice();
    ClampToSensorLimits(m_param.settings);
    // The stream open sent the file's gain and target; the clamped ones follow, as their
    // setters send them.
    SetAnalogGain(m_param.settings.analogGain);
    if (m_property.aeTargetOnSensor != 0) SetAeTarget(m_param.settings.aeTarget);
    KeepDeviceBlackLevel();
}

void CameraControl::KeepDeviceBlackLevel() {
    // The black level went to the device with the stream open; the record keeps what the
    // device took, as CameraSetBlackLevel keeps it.
    const DeviceHold hold = HoldDevice();
    int level = 0;
    if (GetBlackLevel(&level) == CAMERA_STATUS_SUCCESS) m_param.settings.blackLevel = level;
}
