// Exported entries of display, overlay and text. Each checks the handle and calls one
// controller method; CameraDrawText takes no camera and draws by itself.
#include "api/ApiInternal.h"
#include "control/CameraControl.h"
#include "display/TextDrawing.h"
#include "QVCameraApi.h"

extern "C" int CameraDisplayInit(HANDLE hCamera, uintptr_t window) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraDisplayInit(window);
}

extern "C" int CameraSetDisplayMode(HANDLE hCamera, int mode) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetDisplayMode(mode);
}

extern "C" int CameraSetDisplayScaleRadio(HANDLE hCamera, int scale) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetDisplayScaleRadio(scale);
}

extern "C" int CameraSetDisplayOffset(HANDLE hCamera, int x, int y) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetDisplayOffset(x, y);
}

extern "C" int CameraSetDisplaySize(HANDLE hCamera, int width, int height) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetDisplaySize(width, height);
}

extern "C" int CameraSetCrossLine(HANDLE hCamera, int line, int x, int y, UINT colour,
                                  int visible) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetCrossLine(line, x, y, colour, visible != 0 ? 1 : 0);
}

extern "C" int CameraGetCrossLine(HANDLE hCamera, int line, int* pX, int* pY, UINT* pColour,
                                  int* pVisible) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t visible = 0;
    const int r = Control(hCamera)->CameraGetCrossLine(line, pX, pY, pColour, &visible);
    if (pVisible != nullptr) *pVisible = visible != 0 ? 1 : 0;
    return r;
}

extern "C" int CameraImageOverlay(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraImageOverlay(pImage, pInfo);
}

extern "C" int CameraDisplay(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraDisplay(pImage, pInfo);
}

extern "C" int CameraSetDisplayCallbackFun(HANDLE hCamera, CameraDisplayCallback pCallback,
                                           void* pContext, CameraDisplayCallback* pPrevious) {
    if (hCamera == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Control(hCamera)->CameraSetDisplayCallbackFun(pCallback, pContext, pPrevious);
}

extern "C" int CameraDrawText(BYTE* pImage, stImageInfo* pInfo, const char* pFont, int a, int b,
                              const char* pText, int x, int y, int width, int height, UINT colour) {
    return qv::display::DrawTextOnImage(pImage, pInfo, pFont, a, b, pText, x, y, width, height,
                                        colour);
}
