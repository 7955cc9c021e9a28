// Exported version strings.
#include <cstring>

#include "QVCameraApi.h"

namespace {
constexpr char kSdkVersion[] = "V1.32.0.0";
// The text and its zero fill, without the buffer's 32nd byte.
constexpr size_t kVersionBytes = 31;
static_assert(sizeof(kSdkVersion) <= kVersionBytes);
}  // namespace

extern "C" int CameraSdkGetVersionString(char* pVersion) {
    if (pVersion != nullptr) {
        std::memset(pVersion, 0, kVersionBytes);
        std::memcpy(pVersion, kSdkVersion, sizeof(kSdkVersion) - 1);
    }
    return CAMERA_STATUS_SUCCESS;
}
