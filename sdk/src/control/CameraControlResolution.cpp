// CameraControl: the stream settings (frame speed, resolution and the sensor's output format).
// Each change closes the stream and opens it again with every other setting of the record, all
// under the API mutex; only a custom region that moves without changing its size is moved in
// place. The record fields are written under the device mutex too, under which a save copies
// the record; the getters take only that.
#include <algorithm>
#include <cstring>

#include "control/CameraControl.h"
#include "control/ResolutionRules.h"
#include "control/SettingRules.h"
#include "common/Log.h"

using namespace qv::control;

namespace {

// Whether a and b describe the same region apart from where it starts on the sensor.
bool SameExceptOffsets(const tSdkResolution& a, const tSdkResolution& b) {
    return a.iIndex == b.iIndex && a.uModeA == b.uModeA && a.uModeB == b.uModeB &&
           a.uModeC == b.uModeC && a.iSensorWidth == b.iSensorWidth &&
           a.iSensorHeight == b.iSensorHeight && a.uWidth == b.uWidth && a.uHeight == b.uHeight &&
           a.uResizeWidth == b.uResizeWidth && a.uResizeHeight == b.uResizeHeight;
}

}  // namespace

// ---- Frame speed ----------------------------------------------------------------------------

int CameraControl::CameraSetFrameSpeed(int speed) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (!FrameSpeedOffered(speed, m_property.frameSpeedMask))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (speed != m_param.settings.frameSpeed) {
        CloseCameraStream();
        {
            const DeviceHold hold = HoldDevice();
            m_param.settings.frameSpeed = speed;
        }
        qv::Log("CameraSetFrameSpeed:%d\n", speed);
        ReopenCameraStream(true);
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetFrameSpeed(int* speed) {
    const DeviceHold hold = HoldDevice();
    if (speed != nullptr) *speed = m_param.settings.frameSpeed;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Resolution -----------------------------------------------------------------------------

int CameraControl::CameraSetResolution(int index) {
    ApiLock lock(m_apiMutex);
    qv::Log("CameraSetResolution start!!!\n");
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    bool accepted = false;
    if (index == kCustomIndex) {
        accepted = m_param.resolution.uWidth != 0;
    } else {
        accepted = PresetOffered(index, m_property.presetMaskLow, m_property.presetMaskHigh);
    }
    if (!accepted) return CAMERA_STATUS_PARAMETER_INVALID;
    // Also for the index in force: the host may want the stream started afresh.
    CloseCameraStream();
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.resolutionIndex = index;
    }
    qv::Log("CameraSetResolution mid!!!\n");
    const int r = ReopenCameraStream(true);
    qv::Log("CameraSetResolution ok ResolutionMode:%d!!!\n", index);
    return r;
}

int CameraControl::CameraSetResolutionEx(tSdkResolution* res) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (res == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const SensorWords words = SensorWordsCopy();
    const UINT* sensor = words.data();
    if (!ModesOffered(*res, sensor)) return CAMERA_STATUS_PARAMETER_INVALID;

    tSdkResolution r = *res;
    if (r.uResizeWidth == 0 || r.uResizeHeight == 0) r.uResizeWidth = r.uResizeHeight = 0;
    // The host gives the region as it sees it; on a mirrored image that is the far side of the
    // sensor.
    const int64_t maxW = sensor[kWindowWidthMax], maxH = sensor[kWindowHeightMax];
    int64_t x = r.iOffsetX, y = r.iOffsetY;
    {
        const DeviceHold hold = HoldDevice();  // the mirror setter takes no other lock
        if (m_param.settings.mirrorH != 0) x = maxW - x - r.iSensorWidth;
        if (m_param.settings.mirrorV != 0) y = maxH - y - r.iSensorHeight;
    }
    if (x < 0 || y < 0 || x > maxW || y > maxH) return CAMERA_STATUS_PARAMETER_INVALID;
    r.iOffsetX = static_cast<INT>(x);
    r.iOffsetY = static_cast<INT>(y);
    res->iOffsetX = r.iOffsetX;
    res->iOffsetY = r.iOffsetY;

    AlignToSensorSteps(r);
    if (!FitsSensor(r, sensor)) return CAMERA_STATUS_PARAMETER_INVALID;
    r.uResizeHeight &= ~1u;
    r.uResizeWidth &= ~3u;

    tSdkResolution preset;
    if (r.iIndex != kCustomIndex &&
        !(GetResolutionDesc(r.iIndex, &preset) == CAMERA_STATUS_SUCCESS &&
          preset.uWidth == r.uWidth && preset.uHeight == r.uHeight))
        r.iIndex = kCustomIndex;
    *res = r;
    bool offsetsOnly = false;
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.resolutionIndex = r.iIndex;
        if (r.iIndex == kCustomIndex) {
            offsetsOnly = SameExceptOffsets(r, m_curResolution);
            m_param.resolution = r;
        }
    }
    if (r.iIndex == kCustomIndex) {
        if (offsetsOnly) {
            qv::Log("=============================== just startx and starty is different\r\n");
            {
                const DeviceHold hold = HoldDevice();
                m_curResolution = r;
            }
            SetRoiOffset(r.iOffsetX, r.iOffsetY);
            // The AE and WB windows lie on the sensor: they follow the region.
            SendWindowsToPipeline();
            return CAMERA_STATUS_SUCCESS;
        }
    }
    CloseCameraStream();
    qv::Log("CameraSetResolution mid!!!\n");
    ReopenCameraStream(true);
    qv::Log("CameraSetResolution ok,ResolutionMode:%d,width:%d,height:%d\n",
            m_param.settings.resolutionIndex, static_cast<int>(m_param.resolution.uWidth),
            static_cast<int>(m_param.resolution.uHeight));
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetResolution(int* index) {
    const DeviceHold hold = HoldDevice();
    if (index != nullptr) *index = m_param.settings.resolutionIndex;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetResolutionEx(int index, tSdkResolution* res) {
    const DeviceHold hold = HoldDevice();
    tSdkResolution desc{};
    const int r = GetResolutionDesc(index, &desc);
    if (res != nullptr && r == CAMERA_STATUS_SUCCESS) *res = desc;
    return r;
}

int CameraControl::CameraGetCurResolution(tSdkResolution* res) {
    const DeviceHold hold = HoldDevice();
    if (res != nullptr) *res = HostResolution();
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraCustomizeResolution(tSdkResolution* res) {
    // There is no resolution dialog: a region is set with CameraSetResolutionEx.
    return res == nullptr ? CAMERA_STATUS_PARAMETER_INVALID : CAMERA_STATUS_FAILED;
}

// ---- Sensor output format -------------------------------------------------------------------

int CameraControl::CameraSetSensorOutPixelFormat(uint32_t mediaType) {
    ApiLock lock(m_apiMutex);
    if (mediaType == m_param.sensorOutFormat) return CAMERA_STATUS_SUCCESS;
    const tSdkBayerType* list = m_capability.pMediaTypeDesc;
    const int count = list != nullptr ? m_capability.iMediaTypeDesc : 0;
    if (std::none_of(list, list + std::max(count, 0),
                     [mediaType](const tSdkBayerType& t) { return t.uMediaType == mediaType; }))
        return CAMERA_STATUS_NOT_SUPPORTED;
    CloseCameraStream();
    {
        const DeviceHold hold = HoldDevice();
        m_param.sensorOutFormat = mediaType;
    }
    ReopenCameraStream(true);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetSensorOutPixelFormat(uint32_t* mediaType) {
    if (mediaType == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *mediaType = m_param.sensorOutFormat;
    return CAMERA_STATUS_SUCCESS;
}
