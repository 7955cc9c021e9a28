// Display of output images, cross lines and the AE and WB window overlay.
//
// CameraDisplayInit, CameraDisplay and CameraSetCrossLine take the API mutex; the display
// settings, the cross-line getter and the overlay do not. The display object has a mutex of its
// own; the cross lines and the windows the overlay draws are read under the device mutex, under
// which they change.
#include <algorithm>
#include <new>

#include "common/Log.h"
#include "control/CameraControl.h"
#include "control/ImageHeadRules.h"
#include "display/DisplayConvert.h"
#include "display/DisplayFactory.h"
#include "display/ImageDrawing.h"
#include "manager/JNCameraMgr.h"

namespace {

constexpr int kCrossLines = 9;
constexpr uint32_t kAeWindowColour = 0x0000FFFF;  // yellow: red 255, green 255
constexpr uint32_t kWbWindowColour = 0x00FFFF00;  // cyan: green 255, blue 255

}  // namespace

int CameraControl::RecreateDisplay() {
    m_pDisplay = CDisplayFactory::Current().CreateDisplay();
    return m_pDisplay ? m_pDisplay->Init() : CAMERA_STATUS_FAILED;
}

void CameraControl::ReleaseDisplay() {
    std::lock_guard display(m_displayMutex);
    m_pDisplay.reset();
    m_displayInitialized = false;
    m_pDisplayBuffer.reset();
    m_displayBufferSize = 0;
}

int CameraControl::CameraDisplayInit(uintptr_t window) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    stImageInfo head{};
    CameraGetFrameHead(&head, 0, 0);
    std::lock_guard display(m_displayMutex);
    if (RecreateDisplay() != CAMERA_STATUS_SUCCESS ||
        m_pDisplay->BeginFrame(window, static_cast<int>(head.iWidth),
                               static_cast<int>(head.iHeight)) != CAMERA_STATUS_SUCCESS) {
        m_pDisplay.reset();
        return CAMERA_STATUS_FAILED;
    }
    m_displayWindow = window;
    m_displayInitialized = true;
    m_pDisplay->SetMode(m_displayMode ? 0 : 1);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetDisplayMode(int mode) {
    std::lock_guard display(m_displayMutex);
    if (!m_pDisplay) return CAMERA_STATUS_NOT_INITIALIZED;
    if (mode == 0 || mode == 1) m_displayMode = mode != 1;
    m_pDisplay->SetMode(mode);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetDisplayScaleRadio(int scale) {
    std::lock_guard display(m_displayMutex);
    if (!m_pDisplay) return CAMERA_STATUS_NOT_INITIALIZED;
    if (m_displayMode) return CAMERA_STATUS_FAILED;  // scaling belongs to mode 1
    return m_pDisplay->SetScale(scale);
}

int CameraControl::CameraSetDisplayOffset(int x, int y) {
    std::lock_guard display(m_displayMutex);
    if (!m_pDisplay) return CAMERA_STATUS_NOT_INITIALIZED;
    if (m_displayMode) return CAMERA_STATUS_FAILED;
    return m_pDisplay->SetOffset(x, y);
}

int CameraControl::CameraSetDisplaySize(int width, int height) {
    std::lock_guard display(m_displayMutex);
    if (!m_pDisplay) return CAMERA_STATUS_NOT_INITIALIZED;
    m_pDisplay->SetSize(width, height);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetDisplayCallbackFun(CameraDisplayCallback callback, void* context,
                                               CameraDisplayCallback* previous) {
    std::lock_guard display(m_displayMutex);
    if (callback == nullptr || !m_pDisplay) return CAMERA_STATUS_PARAMETER_INVALID;
    if (previous != nullptr) *previous = m_displayCallback;
    m_displayCallback = callback;
    m_displayContext = context;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetCrossLine(int line, int x, int y, uint32_t colour, int visible) {
    if (line < 0 || line >= kCrossLines) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    const DeviceHold hold = HoldDevice();
    CrossLine& l = m_param.crossLines[line];
    l.visible = visible;
    // A hidden line keeps where it was and its colour.
    if (visible != 0) {
        l.x = x;
        l.y = y;
        l.colour = colour;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetCrossLine(int line, int* x, int* y, uint32_t* colour,
                                      uint8_t* visible) {
    if (line < 0 || line >= kCrossLines) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    const CrossLine& l = m_param.crossLines[line];
    if (x != nullptr) *x = l.x;
    if (y != nullptr) *y = l.y;
    if (colour != nullptr) *colour = l.colour;
    if (visible != nullptr) *visible = l.visible != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraImageOverlay(BYTE* image, const stImageInfo* head) {
    if (image == nullptr || head == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    qv::display::DrawTarget target;
    if (!qv::display::OverlayTarget(image, *head, &target)) return CAMERA_STATUS_SUCCESS;
    if (!qv::control::HeadHoldsItsImage(*head, target.pixelBytes))
        return CAMERA_STATUS_PARAMETER_INVALID;
    const int w = target.width, h = target.height;

    const DeviceHold hold = HoldDevice();
    // Lines on the image's border or outside it are not drawn.
    std::vector<const CrossLine*> lines;
    for (const CrossLine& l : m_param.crossLines)
        if (l.visible != 0 && l.x > 0 && l.x < w && l.y > 0 && l.y < h) lines.push_back(&l);
    for (const CrossLine* l : lines) qv::display::DrawRow(target, l->y, 0, w - 1, l->colour);
    for (const CrossLine* l : lines) qv::display::DrawColumn(target, l->x, 0, h - 1, l->colour);

    struct Window {
        bool visible;
        const int32_t* stored;
        const uint8_t* snapshot;
        uint32_t colour;
        CWindowGeometry::Cells cells;
    };
    const Window windows[2] = {
        {m_param.aeWindowVisible != 0, m_param.settings.aeWindow, m_param.aeWindowBlock,
         kAeWindowColour, CWindowGeometry::Cells::kExposure},
        {m_param.wbWindowVisible != 0, m_param.settings.wbWindow, m_param.wbWindowBlock,
         kWbWindowColour, CWindowGeometry::Cells::kWhiteBalance}};
    for (const Window& win : windows) {
        if (!win.visible) continue;
        int r[4] = {0, 0, w, h};  // not set (width or height -1): the whole image
        if (win.stored[2] != -1 && win.stored[3] != -1)
            ReportWindow(win.stored, win.snapshot, win.cells, &r[0], &r[1], &r[2], &r[3]);
        // The window is clipped to the current image, which the caller's image may be smaller
        // than: right and bottom are cut to this image, and what still lies outside it (left or
        // top beyond its edge) is not drawn.
        const int64_t left = r[0], top = r[1];
        const int x0 = static_cast<int>(std::clamp<int64_t>(left, -1, w));
        const int y0 = static_cast<int>(std::clamp<int64_t>(top, -1, h));
        const int x1 = static_cast<int>(std::clamp<int64_t>(left + r[2], -1, w - 1));
        const int y1 = static_cast<int>(std::clamp<int64_t>(top + r[3], -1, h - 1));
        qv::display::DrawRectangle(target, x0, y0, x1, y1, win.colour);
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraDisplay(const BYTE* image, const stImageInfo* head) {
    ApiLock lock(m_apiMutex);
    std::lock_guard display(m_displayMutex);
    if (!m_initialized || !m_pDisplay) return CAMERA_STATUS_NOT_INITIALIZED;
    if (image == nullptr || head == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const int width = static_cast<int>(head->iWidth), height = static_cast<int>(head->iHeight);
    if (width <= 0 || height <= 0 ||
        !qv::control::HeadHoldsItsImage(*head, qv::display::SourceBytesPerPixel(head->uiMediaType)))
        return CAMERA_STATUS_PARAMETER_INVALID;
    // Sized from the image itself: the conversion writes width x height x 4 bytes.
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    if (!GrowBuffer(m_pDisplayBuffer, m_displayBufferSize, bytes)) return CAMERA_STATUS_FAILED;
    const auto* cameraMgr = dynamic_cast<const JNCameraMgr*>(m_manager);
    qv::display::ConvertToDisplay(
        m_pDisplayBuffer.get(), image, *head,
        cameraMgr != nullptr ? cameraMgr->GetProcessLevel() : JNCameraMgr::kProcessLevel);

    bool failed = false;
    if (m_pDisplay->BeginFrame(m_displayWindow, width, height) != CAMERA_STATUS_SUCCESS) {
        qv::Log("DisplayFrame 1 err\n");
        failed = true;
    } else {
        if (m_pDisplay->DrawImage(m_pDisplayBuffer.get(), width, width * 4) !=
            CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_SUCCESS;
        uint8_t* surface = nullptr;
        if (m_pDisplay->GetSurface(&surface) == CAMERA_STATUS_SUCCESS) {
            if (m_displayCallback != nullptr) {
                stImageInfo info{};
                info.iWidth = head->iWidth;
                info.iHeight = head->iHeight;
                m_displayCallback(static_cast<HANDLE>(this), surface, &info, m_displayContext,
                                  width * 4);
            }
            m_pDisplay->ReleaseSurface();
        }
        if (m_pDisplay->EndFrame() != CAMERA_STATUS_SUCCESS) {
            qv::Log("DisplayFrame 0 err\n");
            failed = true;
        }
    }
    if (failed) {
        // A display that failed is made anew for the next frame.
        qv::Log(" !!!!!!DisplayFrame err!!!\n");
        if (RecreateDisplay() == CAMERA_STATUS_SUCCESS)
            m_pDisplay->BeginFrame(m_displayWindow, width, height);
    }
    return CAMERA_STATUS_SUCCESS;
}
