// CameraControl: the AE and WB windows. The host gives a window on the output image of the
// resolution in force; the statistics need it on the raw frame of the current resolution, which
// may since have changed (skipping, region offsets, mirroring). So the window is stored as
// given together with the resolution and mirror flags of that moment, and mapped again through
// the sensor's coordinates whenever the resolution changes.
//
// The window calls take no controller lock: the windows, their snapshots and visibility, the
// mirror flags and the current resolution are read and written under the device mutex, under
// which a stream reopen maps the windows again.
#include <algorithm>
#include <climits>
#include <cstring>

#include "control/CameraControl.h"
#include "control/WindowGeometry.h"
#include "common/Log.h"

namespace {

// The companions of a stored window in the parameter record: the resolution and the mirror
// flags in force when the window was set.
struct WindowSnapshot {
    tSdkResolution resolution;
    int32_t mirrorH;
    int32_t mirrorV;
};
static_assert(sizeof(WindowSnapshot) == sizeof(CameraParameter::aeWindowBlock));
static_assert(sizeof(WindowSnapshot) == sizeof(CameraParameter::wbWindowBlock));

WindowSnapshot ReadSnapshot(const uint8_t* block) {
    WindowSnapshot snap;
    std::memcpy(&snap, block, sizeof snap);
    return snap;
}

int ToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

bool CameraControl::MapStoredWindow(const int32_t window[4], const uint8_t* snapshotBlock,
                                    CWindowGeometry::Cells cells, int raw[4]) const {
    if (window[2] <= 0 || window[3] <= 0) return false;
    const WindowSnapshot snap = ReadSnapshot(snapshotBlock);
    int mapped[4];
    CWindowGeometry::MapWindowToRaw(window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0,
                                    m_curResolution, mapped);
    // A window that lies off the current frame leaves the statistics on the whole frame.
    CWindowGeometry::FitRawWindow(mapped, m_curResolution, cells, raw);
    return true;
}

void CameraControl::SendWindowsToPipeline() {
    // The window setters store without the API mutex: each window is mapped as it stands, and
    // one set meanwhile reaches the pipeline after this.
    const DeviceHold hold = HoldDevice();
    int raw[4];
    if (MapStoredWindow(m_param.settings.aeWindow, m_param.aeWindowBlock,
                        CWindowGeometry::Cells::kExposure, raw)) {
        qv::Log("mExposure.CE_CameraSetAeWindow  left:%d,top:%d,width:%d,height:%d\n", raw[0],
                raw[1], raw[2], raw[3]);
        mExposure.CE_CameraSetAeWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    if (MapStoredWindow(m_param.settings.wbWindow, m_param.wbWindowBlock,
                        CWindowGeometry::Cells::kWhiteBalance, raw)) {
        qv::Log("mWb.CWB_CameraSetWbWindow  left:%d,top:%d,width:%d,height:%d\n", raw[0], raw[1],
                raw[2], raw[3]);
        mWb.CWB_CameraSetWbWindow(raw[0], raw[1], raw[2], raw[3]);
    }
}

bool CameraControl::StoreWindow(int left, int top, int width, int height, int32_t window[4],
                                uint8_t* snapshotBlock, CWindowGeometry::Cells cells, int raw[4]) {
    const DeviceHold hold = HoldDevice();
    window[0] = left;
    window[1] = top;
    window[2] = width;
    window[3] = height;
    // Given on the host's image, also while a snapshot runs at its own resolution; mapped onto
    // the frames that arrive now, and again onto the host's at the switch back.
    const WindowSnapshot snap{HostResolution(), m_param.settings.mirrorH != 0 ? 1 : 0,
                              m_param.settings.mirrorV != 0 ? 1 : 0};
    std::memcpy(snapshotBlock, &snap, sizeof snap);
    int mapped[4];
    CWindowGeometry::MapWindowToRaw(window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0,
                                    m_curResolution, mapped);
    return CWindowGeometry::FitRawWindow(mapped, m_curResolution, cells, raw);
}

void CameraControl::ReportWindow(const int32_t window[4], const uint8_t* snapshotBlock,
                                 CWindowGeometry::Cells cells, int* left, int* top, int* width,
                                 int* height) const {
    int out[4] = {0, 0, 0, 0};
    if (window[2] == -1 || window[3] == -1) {
        // Not set: the whole image.
        out[2] = ToInt(HostResolution().uWidth);
        out[3] = ToInt(HostResolution().uHeight);
    } else if (window[2] > 0 && window[3] > 0) {
        const WindowSnapshot snap = ReadSnapshot(snapshotBlock);
        CWindowGeometry::ClipWindowToImage(
            window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0, HostResolution(),
            m_param.settings.mirrorH != 0, m_param.settings.mirrorV != 0, cells, out);
    }
    if (left != nullptr) *left = out[0];
    if (top != nullptr) *top = out[1];
    if (width != nullptr) *width = out[2];
    if (height != nullptr) *height = out[3];
}

// ---- AE and WB windows
// ---------------------------------------------------------------------------

int CameraControl::CameraSetAeWindow(int left, int top, int width, int height) {
    // A negative size has no meaning on the image (and would map to a window reaching outside
    // the frame).
    if (width < 0 || height < 0) return CAMERA_STATUS_PARAMETER_INVALID;
    width &= ~1;
    {
        // Mapped and sent in one hold: a stream reopen maps the stored window again under it,
        // and must not be followed by this mapping for the resolution it replaced.
        const DeviceHold hold = HoldDevice();
        int raw[4];
        StoreWindow(left, top, width, height, m_param.settings.aeWindow, m_param.aeWindowBlock,
                    CWindowGeometry::Cells::kExposure, raw);
        mExposure.CE_CameraSetAeWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    qv::Log("CameraSetAeWindow  left:%d,top:%d,width:%d,height:%d\n", left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeWindow(int* left, int* top, int* width, int* height) {
    const DeviceHold hold = HoldDevice();
    ReportWindow(m_param.settings.aeWindow, m_param.aeWindowBlock,
                 CWindowGeometry::Cells::kExposure, left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetAeWinVisible(int visible) {
    if (!m_displayInitialized) return CAMERA_STATUS_PARAMETER_INVALID;
    {
        const DeviceHold hold = HoldDevice();
        m_param.aeWindowVisible = static_cast<uint8_t>(visible);
    }
    qv::Log("CameraSetAeWinVisible  %d\n", visible);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeWinVisible(uint8_t* visible) {
    const DeviceHold hold = HoldDevice();
    if (visible != nullptr) *visible = m_param.aeWindowVisible != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetWbWindow(int left, int top, int width, int height) {
    if (width < 0 || height < 0) return CAMERA_STATUS_PARAMETER_INVALID;
    width &= ~1;
    {
        // Mapped and sent in one hold: a stream reopen maps the stored window again under it,
        // and must not be followed by this mapping for the resolution it replaced.
        const DeviceHold hold = HoldDevice();
        int raw[4];
        StoreWindow(left, top, width, height, m_param.settings.wbWindow, m_param.wbWindowBlock,
                    CWindowGeometry::Cells::kWhiteBalance, raw);
        mWb.CWB_CameraSetWbWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    qv::Log("CameraSetWbWindow  left:%d,top:%d,width:%d,height:%d\n", left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetWbWindow(int* left, int* top, int* width, int* height) {
    const DeviceHold hold = HoldDevice();
    ReportWindow(m_param.settings.wbWindow, m_param.wbWindowBlock,
                 CWindowGeometry::Cells::kWhiteBalance, left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetWbWinVisible(int visible) {
    if (!m_displayInitialized) return CAMERA_STATUS_PARAMETER_INVALID;
    {
        const DeviceHold hold = HoldDevice();
        m_param.wbWindowVisible = static_cast<uint8_t>(visible);
    }
    qv::Log("CameraSetWbWinVisible  %d\n", visible);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetWbWinVisible(uint8_t* visible) {
    const DeviceHold hold = HoldDevice();
    if (visible != nullptr) *visible = m_param.wbWindowVisible != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}
