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

// Skip factor of a resolution (1 = every pixel). Real modes are 0 to 3; a record from a damaged
// parameter file may hold anything, so the factor is bounded to keep the products in range.
int64_t SkipFactor(const tSdkResolution& res) {
    return std::min<int64_t>(static_cast<int64_t>(res.uModeC) + 1, 1 << 16);
}

int ToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

// ---- Geometry
// ------------------------------------------------------------------------------------

void CameraControl::MapWindowToRaw(const int32_t window[4], const tSdkResolution& rs, bool mirrorH,
                                   bool mirrorV, const tSdkResolution& rc, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const int64_t left = window[0], top = window[1], width = window[2], height = window[3];
    if (width <= 0 || height <= 0) return;

    // Sensor coordinates of the window as it was set. The image is mirrored after processing,
    // within the region it shows, not across the whole sensor: a mirrored window is mirrored
    // about the middle of that region (the image's extent times the skip factor, which is the
    // region's sensor window when it skips).
    const int64_t kS = SkipFactor(rs);
    const int64_t w = width * kS;
    const int64_t h = height * kS;
    const int64_t regionW = int64_t{rs.uWidth} * kS, regionH = int64_t{rs.uHeight} * kS;
    const int64_t x = mirrorH ? rs.iOffsetX + regionW - left * kS - w : rs.iOffsetX + left * kS;
    const int64_t y =
        mirrorV ? rs.iOffsetY + regionH - kS * (top + height) : rs.iOffsetY + top * kS;

    // Cut to the current frame only now that it is mirrored: the part of a window reaching past
    // the right (bottom) edge of a mirrored image lies left of (above) the region on the
    // sensor, and is dropped there rather than pushed back onto the frame.
    const int64_t kC = SkipFactor(rc);
    const int64_t frameX = std::max<int64_t>(rc.iOffsetX, 0);
    const int64_t frameY = std::max<int64_t>(rc.iOffsetY, 0);
    const int64_t x0 = std::max(x, frameX);
    const int64_t y0 = std::max(y, frameY);
    const int64_t x1 = std::min(x + w, rc.iOffsetX + int64_t{rc.uWidth} * kC);
    const int64_t y1 = std::min(y + h, rc.iOffsetY + int64_t{rc.uHeight} * kC);
    // Nothing of it on this frame: no window, which leaves the statistics on the whole frame
    // rather than on a block nobody chose.
    if (x1 <= x0 || y1 <= y0) return;
    const int64_t rawLeft = (x0 - rc.iOffsetX) / kC;
    const int64_t rawTop = (y0 - rc.iOffsetY) / kC;
    out[0] = ToInt(rawLeft);
    out[1] = ToInt(rawTop);
    out[2] = ToInt(rawLeft + (x1 - x0) / kC);
    out[3] = ToInt(rawTop + (y1 - y0) / kC);
}

void CameraControl::ClipWindowToImage(const int32_t window[4], const tSdkResolution& rs,
                                      bool rsMirrorH, bool rsMirrorV, const tSdkResolution& rc,
                                      bool mirrorH, bool mirrorV, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    if (window[2] <= 0 || window[3] <= 0) return;
    int raw[4];
    MapWindowToRaw(window, rs, rsMirrorH, rsMirrorV, rc, raw);
    const int64_t width = rc.uWidth, height = rc.uHeight;
    int64_t left = std::clamp<int64_t>(raw[0], 0, width);
    int64_t right = std::clamp<int64_t>(raw[2], 0, width);
    int64_t top = std::clamp<int64_t>(raw[1], 0, height);
    int64_t bottom = std::clamp<int64_t>(raw[3], 0, height);
    if (right <= left || bottom <= top) {
        // Off this image: the statistics measure all of it, and so it is reported.
        out[2] = ToInt(width);
        out[3] = ToInt(height);
        return;
    }
    // The raw frame is never mirrored; the output image is, by the current flags.
    if (mirrorH) {
        const int64_t l = left;
        left = width - right;
        right = width - l;
    }
    if (mirrorV) {
        const int64_t t = top;
        top = height - bottom;
        bottom = height - t;
    }
    out[0] = ToInt(left);
    out[1] = ToInt(top);
    out[2] = ToInt(right - left);
    out[3] = ToInt(bottom - top);
}

bool CameraControl::ClipRawWindow(const int raw[4], int out[4]) const {
    const int64_t width = m_curResolution.uWidth, height = m_curResolution.uHeight;
    const int64_t left = std::clamp<int64_t>(raw[0], 0, width);
    const int64_t top = std::clamp<int64_t>(raw[1], 0, height);
    const int64_t right = std::clamp<int64_t>(raw[2], 0, width);
    const int64_t bottom = std::clamp<int64_t>(raw[3], 0, height);
    out[0] = out[1] = out[2] = out[3] = 0;
    if (right <= left || bottom <= top) return false;
    out[0] = ToInt(left);
    out[1] = ToInt(top);
    out[2] = ToInt(right - left);
    out[3] = ToInt(bottom - top);
    return true;
}

bool CameraControl::MapStoredWindow(const int32_t window[4], const uint8_t* snapshotBlock,
                                    int raw[4]) const {
    if (window[2] <= 0 || window[3] <= 0) return false;
    const WindowSnapshot snap = ReadSnapshot(snapshotBlock);
    int mapped[4];
    MapWindowToRaw(window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0, m_curResolution,
                   mapped);
    // A window that lies off the current frame leaves the statistics on the whole frame.
    ClipRawWindow(mapped, raw);
    return true;
}

void CameraControl::SendWindowsToPipeline() {
    // The window setters store without the API mutex: each window is mapped as it stands, and
    // one set meanwhile reaches the pipeline after this.
    const DeviceHold hold = HoldDevice();
    int raw[4];
    if (MapStoredWindow(m_param.settings.aeWindow, m_param.aeWindowBlock, raw)) {
        qv::Log("mExposure.CE_CameraSetAeWindow  left:%d,top:%d,width:%d,height:%d\n", raw[0],
                raw[1], raw[2], raw[3]);
        mExposure.CE_CameraSetAeWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    if (MapStoredWindow(m_param.settings.wbWindow, m_param.wbWindowBlock, raw)) {
        qv::Log("mWb.CWB_CameraSetWbWindow  left:%d,top:%d,width:%d,height:%d\n", raw[0], raw[1],
                raw[2], raw[3]);
        mWb.CWB_CameraSetWbWindow(raw[0], raw[1], raw[2], raw[3]);
    }
}

bool CameraControl::StoreWindow(int left, int top, int width, int height, int32_t window[4],
                                uint8_t* snapshotBlock, int raw[4]) {
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
    MapWindowToRaw(window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0, m_curResolution,
                   mapped);
    return ClipRawWindow(mapped, raw);
}

void CameraControl::ReportWindow(const int32_t window[4], const uint8_t* snapshotBlock, int* left,
                                 int* top, int* width, int* height) const {
    int out[4] = {0, 0, 0, 0};
    if (window[2] == -1 || window[3] == -1) {
        // Not set: the whole image.
        out[2] = ToInt(HostResolution().uWidth);
        out[3] = ToInt(HostResolution().uHeight);
    } else if (window[2] > 0 && window[3] > 0) {
        const WindowSnapshot snap = ReadSnapshot(snapshotBlock);
        ClipWindowToImage(window, snap.resolution, snap.mirrorH != 0, snap.mirrorV != 0,
                          HostResolution(), m_param.settings.mirrorH != 0,
                          m_param.settings.mirrorV != 0, out);
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
                    raw);
        mExposure.CE_CameraSetAeWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    qv::Log("CameraSetAeWindow  left:%d,top:%d,width:%d,height:%d\n", left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeWindow(int* left, int* top, int* width, int* height) {
    const DeviceHold hold = HoldDevice();
    ReportWindow(m_param.settings.aeWindow, m_param.aeWindowBlock, left, top, width, height);
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
                    raw);
        mWb.CWB_CameraSetWbWindow(raw[0], raw[1], raw[2], raw[3]);
    }
    qv::Log("CameraSetWbWindow  left:%d,top:%d,width:%d,height:%d\n", left, top, width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetWbWindow(int* left, int* top, int* width, int* height) {
    const DeviceHold hold = HoldDevice();
    ReportWindow(m_param.settings.wbWindow, m_param.wbWindowBlock, left, top, width, height);
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
