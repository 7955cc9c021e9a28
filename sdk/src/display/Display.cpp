#include "display/Display.h"

#include "QVDeviceDef.h"

int Display::Init() {
    return CAMERA_STATUS_SUCCESS;
}
int Display::BeginFrame(uintptr_t, int, int) {
    return CAMERA_STATUS_SUCCESS;
}
int Display::DrawImage(const uint8_t*, int, int) {
    return CAMERA_STATUS_SUCCESS;
}
int Display::GetSurface(uint8_t** surface) {
    if (surface != nullptr) *surface = nullptr;
    return CAMERA_STATUS_FAILED;
}
int Display::ReleaseSurface() {
    return CAMERA_STATUS_SUCCESS;
}
int Display::EndFrame() {
    return CAMERA_STATUS_SUCCESS;
}
int Display::SetMode(int) {
    return CAMERA_STATUS_SUCCESS;
}
int Display::SetScale(int) {
    return CAMERA_STATUS_SUCCESS;
}
int Display::SetOffset(int, int) {
    return CAMERA_STATUS_SUCCESS;
}
int Display::SetSize(int, int) {
    return CAMERA_STATUS_SUCCESS;
}
