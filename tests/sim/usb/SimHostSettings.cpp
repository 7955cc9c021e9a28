#include "SimHostSettings.h"

#include <cstring>
#include <string>

#include "params/CameraParameter.h"
#include "params/CameraParameterBuilder.h"
#include "SimUsbImx290Camera.h"

namespace qvsim {

namespace {

// The index of a custom region.
constexpr int kCustomIndex = 255;

}  // namespace

tSdkResolution PresetResolution(int index) {
    tSdkResolution r{};
    r.iIndex = index;
    return r;
}

tSdkResolution CustomResolution(int x, int y, unsigned width, unsigned height) {
    tSdkResolution r{};
    r.iIndex = kCustomIndex;
    std::strncpy(r.acDescription, "custom", sizeof r.acDescription - 1);
    r.iOffsetX = x;
    r.iOffsetY = y;
    r.iSensorWidth = static_cast<INT>(width);
    r.iSensorHeight = static_cast<INT>(height);
    r.uWidth = width;
    r.uHeight = height;
    return r;
}

bool UseImx290Resolution(const tSdkResolution& resolution) {
    return UseResolution(CSimUsbImx290Camera::kProductName, resolution);
}

bool UseResolution(const char* productName, const tSdkResolution& resolution, double exposureUs) {
    std::string dir;
    if (CameraParameterBuilder::MakeConfigFolder(dir) != 0) return false;
    CameraParameterBuilder builder;
    CameraParameter record{};
    builder.SetDefault(&record);
    uint8_t block[240];
    CSimUsbImx290Camera::FactorySettings(block);
    static_assert(sizeof block == sizeof record.settings);
    std::memcpy(&record.settings, block, sizeof block);
    // As a record the SDK writes after a reset: the per-frame statistics on.
    record.aeProcessArg = 1;
    record.awbProcessArg = 1;
    record.settings.resolutionIndex = resolution.iIndex;
    if (exposureUs != 0) record.settings.exposureTime = exposureUs;
    if (resolution.iIndex == kCustomIndex) record.resolution = resolution;
    // The file the controller reads first ("_SAVE"), naming itself as the group to load.
    record.settings.parameterMode = 0;
    record.settings.parameterGroup = CameraParameterBuilder::kSaveGroup;
    tDevInfo info{};
    std::strncpy(info.acProductName, productName, sizeof info.acProductName - 1);
    return builder.SaveGroup(dir.c_str(), &record, 0, CameraParameterBuilder::kSaveGroup, &info,
                             nullptr, nullptr, nullptr) == 0;
}

}  // namespace qvsim
