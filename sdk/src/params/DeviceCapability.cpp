// Capability builders of CJNDevice: the capability record of an opened camera, built from its
// property record and its sensor driver's capability, with the preset-resolution table and the
// names of the raw pixel formats.
#include "params/DeviceCapability.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstring>
#include <unordered_map>

#include "device/JNDevice.h"
#include "common/TextCopy.h"

namespace {

// Names of the raw formats a sensor may deliver. The Bayer and packed codes follow the GigE
// Vision pixel-format naming; Mono8 and the two 32-bit colour codes are this SDK's own values.
const std::unordered_map<unsigned int, const char*> kPixelFormatNames = {
    {0x01080008, "Bayer GRBG8"},
    {0x01080009, "Bayer RGGB8"},
    {0x0108000A, "Bayer GBRG8"},
    {0x0108000B, "Bayer BGGR8"},
    {0x0110000C, "Bayer GRBG10"},
    {0x0110000D, "Bayer RGGB10"},
    {0x0110000E, "Bayer GBRG10"},
    {0x0110000F, "Bayer BGGR10"},
    {0x01100010, "Bayer GRBG12"},
    {0x01100011, "Bayer RGGB12"},
    {0x01100012, "Bayer GBRG12"},
    {0x01100013, "Bayer BGGR12"},
    {0x010C0026, "Bayer GRBG10 Packed"},
    {0x010C0027, "Bayer RGGB10 Packed"},
    {0x010C0028, "Bayer GBRG10 Packed"},
    {0x010C0029, "Bayer BGGR10 Packed"},
    {0x010C002A, "Bayer GRBG12 Packed"},
    {0x010C002B, "Bayer RGGB12 Packed"},
    {0x010C002C, "Bayer GBRG12 Packed"},
    {0x010C002D, "Bayer BGGR12 Packed"},
    {0x0110002E, "Bayer GRBG16"},
    {0x0110002F, "Bayer RGGB16"},
    {0x01100030, "Bayer GBRG16"},
    {0x01100031, "Bayer BGGR16"},
    {0x02180014, "RGB8"},
    {0x02180015, "BGR8"},
    {0x02200014, "RGBA8"},
    {0x02200015, "BGRA8"},
    {0x01080000, "Mono8"},
    {0x01080002, "Mono8 Signed"},
    {0x01100003, "Mono10"},
    {0x010C0004, "Mono10 Packed"},
    {0x01100005, "Mono12"},
    {0x010C0006, "Mono12 Packed"},
    {0x01100025, "Mono14"},
    {0x01100007, "Mono16"},
};

// ---- Preset resolutions ----------------------------------------------------------------------

// How a reduction mode follows the sensor's reduction-mode mask (bit 0: by 2, bit 1: by 3,
// bit 2: by 4; the mode value is the factor minus one).
enum class Reduce : uint8_t {
    kNone,         // 0
    kOne,          // 1 whatever the mask says
    kMaskBit0,     // 1 when bit 0 is set
    kMaskBit1As2,  // 2 when bit 1 is set
    kMaskBit2As3,  // 3 when bit 2 is set
};

uint32_t ModeValue(Reduce rule, uint32_t mask) {
    switch (rule) {
        case Reduce::kOne:
            return 1;
        case Reduce::kMaskBit0:
            return mask & 1u;
        case Reduce::kMaskBit1As2:
            return (mask & 2u) != 0 ? 2 : 0;
        case Reduce::kMaskBit2As3:
            return (mask & 4u) != 0 ? 3 : 0;
        case Reduce::kNone:
            break;
    }
    return 0;
}

struct Preset {
    const char* description;
    uint16_t width;  // output size; also the sensor window unless a variant says otherwise
    uint16_t height;
    bool listedTypesOnly = false;  // a type without a variant does not get this preset
    Reduce modeC = Reduce::kNone;  // for every type without a variant
};

// Indexed by preset number; bit n of the 64-bit preset mask offers preset n.
constexpr Preset kPresets[] = {
    {"512X384", 512, 384, true}, {"640X480", 640, 480},
    {"800X600", 800, 600, true}, {"1024X768", 1024, 768, true},
    {"1280X720", 1280, 720},     {"1280X960", 1280, 960},
    {"1920X1280", 1920, 1280},   {"2048X1536", 2048, 1536},
    {"320X240", 320, 240},       {"1280X1024", 1280, 1024},
    {"1600X1200", 1600, 1200},   {"2592X1944", 2592, 1944},
    {"752X480", 752, 480},       {"768X576", 768, 576},
    {"3664X2748", 3664, 2748},   {"1920X1080", 1920, 1080},
    {"2304X1296", 2304, 1296},   {"2304X1728", 2304, 1728},
    {"4608X3456", 4608, 3456},   {"640x360", 640, 360, false, Reduce::kMaskBit1As2},
    {"3072X2048", 3072, 2048},   {"1920X1200", 1920, 1200},
    {"5472X3648", 5472, 3648},   {"2448X2048", 2448, 2048},
    {"4000X3000", 4000, 3000},   {"3008X3008", 3008, 3008},
    {"4096X2160", 4096, 2160},   {"2736X1824", 2736, 1824},
    {"4144X2822", 4144, 2822},   {"720X540", 720, 540},
    {"1440X1080", 1440, 1080},   {"1280X800", 1280, 800},
    {"1296x972", 1296, 972},     {"960x600", 960, 600},
    {"2848x2848", 2848, 2848},   {"1424x1424", 1424, 1424},
    {"640X512", 640, 512},       {"2560x2048", 2560, 2048},
};
constexpr int kPresetCount = static_cast<int>(std::size(kPresets));
static_assert(kPresetCount == 38);

// A preset as some sensor types take it: another window (reduced to the output size by the
// modes), another description, or a window anchored at the sensor's origin.
struct PresetVariant {
    uint8_t preset;
    std::array<uint8_t, 8> types;  // sensor type codes, zero-terminated
    const char* description;       // null: the preset's own
    uint16_t windowWidth;          // 0: the output size
    uint16_t windowHeight;
    Reduce modeA = Reduce::kNone;
    Reduce modeB = Reduce::kNone;
    Reduce modeC = Reduce::kNone;
    bool centred = true;
};

using enum Reduce;

constexpr PresetVariant kVariants[] = {
    {0, {1, 3, 4, 15}, nullptr, 2048, 1536, kNone, kNone, kMaskBit2As3},
    {0, {7, 12}, nullptr, 1024, 768, kNone, kNone, kMaskBit0},
    {0, {2, 5, 6, 10, 11}, nullptr, 0, 0},
    {1, {1, 3, 4, 7, 8, 9, 12, 15}, nullptr, 1280, 960, kNone, kNone, kMaskBit0},
    {2, {1, 3, 4, 8, 9, 15}, nullptr, 1600, 1200, kNone, kNone, kMaskBit0},
    {2, {2, 7, 10, 11, 12}, nullptr, 0, 0},
    {3, {1, 3, 4, 8, 9, 15}, nullptr, 2048, 1536, kNone, kNone, kMaskBit0},
    {3, {2, 7, 10, 11, 12}, nullptr, 0, 0},
    {4, {8, 9}, nullptr, 2560, 1440, kNone, kNone, kMaskBit0},
    {4, {14, 37}, nullptr, 0, 0, kNone, kNone, kNone, false},
    {5, {8, 9}, nullptr, 2560, 1920, kNone, kNone, kMaskBit0},
    {8, {1, 3, 4, 15}, nullptr, 1280, 960, kNone, kNone, kMaskBit2As3},
    {8, {5, 6, 7, 12}, nullptr, 640, 480, kNone, kNone, kMaskBit0},
    {8, {13, 14, 36, 37}, "320X240 crop", 0, 0},
    {13, {1, 8, 9}, nullptr, 1536, 1152, kNone, kNone, kMaskBit0},
    {13, {3, 4, 15}, nullptr, 2304, 1728, kNone, kNone, kMaskBit1As2},
    {16, {16}, "2304X1296 binning crop", 0, 0},
    {17, {16}, "2304X1728 binning", 0, 0},
    {19, {14, 37}, "640x360 skip", 1920, 1080, kNone, kNone, kMaskBit1As2},
    {27, {22, 23}, "2736X1824(2 binning)", 0, 0},
    {32, {40, 41, 68, 69}, "1296x972 skip", 2592, 1944, kNone, kNone, kOne},
    {33, {19, 20}, "960x600 binning", 1920, 1200, kNone, kOne},
    {35, {58}, "1424x1424 binning", 2848, 2848, kOne},
};

// Smallest first: position k of a preset list holds the k-th offered preset of this order.
constexpr uint8_t kBuildOrder[] = {8,  0,  19, 1,  36, 12, 29, 13, 2,  33, 3,  32, 4,
                                   31, 5,  9,  35, 30, 10, 15, 21, 6,  16, 7,  17, 27,
                                   23, 11, 37, 20, 34, 25, 26, 14, 28, 24, 18, 22};
static_assert(std::size(kBuildOrder) == kPresetCount);

const PresetVariant* FindVariant(int preset, SensorTypeE type) {
    for (const PresetVariant& v : kVariants) {
        if (v.preset != preset) continue;
        for (uint8_t t : v.types) {
            if (t == 0) break;
            if (t == type) return &v;
        }
    }
    return nullptr;
}

// Fills out for preset n as the given sensor type takes it; false when the type does not get it.
bool FillPreset(int n, SensorTypeE type, const CameraProperty& prop, tSdkResolution& out) {
    const Preset& p = kPresets[n];
    const PresetVariant* v = FindVariant(n, type);
    if (v == nullptr && p.listedTypesOnly) return false;

    const int32_t maxHeight = static_cast<int32_t>(prop.sensorLimits[0]);
    const int32_t maxWidth = static_cast<int32_t>(prop.sensorLimits[2]);
    const uint32_t reductionMask = prop.sensorLimits[4];

    out = tSdkResolution{};
    out.iIndex = n;
    qv::CopyText(out.acDescription,
                 v != nullptr && v->description != nullptr ? v->description : p.description);
    out.uWidth = p.width;
    out.uHeight = p.height;
    out.iSensorWidth = p.width;
    out.iSensorHeight = p.height;
    bool centred = true;
    if (v != nullptr) {
        if (v->windowWidth != 0) {
            out.iSensorWidth = v->windowWidth;
            out.iSensorHeight = v->windowHeight;
        }
        out.uModeA = ModeValue(v->modeA, reductionMask);
        out.uModeB = ModeValue(v->modeB, reductionMask);
        out.uModeC = ModeValue(v->modeC, reductionMask);
        centred = v->centred;
    } else {
        out.uModeC = ModeValue(p.modeC, reductionMask);
    }
    if (centred) {
        // Signed and truncated toward zero; 64-bit so that no stored limit can overflow it.
        out.iOffsetX = static_cast<INT>((int64_t{maxWidth} - out.iSensorWidth) / 2);
        out.iOffsetY = static_cast<INT>((int64_t{maxHeight} - out.iSensorHeight) / 2);
    }
    return true;
}

// ---- Lists -----------------------------------------------------------------------------------

// How many entries each list's mask can describe. The counts come from the camera's storage, so
// a corrupted record must not size an allocation.
constexpr int kMaxTriggerModes = 3;      // continuous, software, hardware
constexpr int kMaxOutputFormats = 5;     // mono, RGB8, BGR8, RGBA8, BGRA8
constexpr int kMaxFrameSpeeds = 3;       // speeds 0 to 2
constexpr int kMaxAuxEntries = 4;        // mask bits 0 to 3
constexpr int kMaxBayerAlgorithms = 32;  // one per bit of the algorithm mask

int Bounded(int32_t count, int limit) {
    return std::clamp(count, 0, limit);
}

// Makes list hold exactly wanted zeroed entries: reused when it has room, else replaced; an
// empty list is a null pointer. count is the list's entry count, which never exceeds its room.
template <typename T>
T* PrepareList(T*& list, INT& count, int wanted) {
    if (wanted <= 0) {
        delete[] list;
        list = nullptr;
        count = 0;
        return nullptr;
    }
    if (list == nullptr || count < wanted) {
        delete[] list;
        list = new T[static_cast<size_t>(wanted)];
    }
    std::fill_n(list, wanted, T{});
    count = wanted;
    return list;
}

// The running numbers of the set bits below `bits` of mask, one per entry, at most count.
void NumberSetBits(tSdkDescription* list, int count, uint32_t mask, int bits) {
    int k = 0;
    for (int bit = 0; bit < bits && k < count; ++bit) {
        if (((mask >> bit) & 1u) == 0) continue;
        list[k].iIndex = k;
        ++k;
    }
}

struct OutputFormat {
    const char* name;
    uint32_t mediaType;
};
constexpr OutputFormat kOutputFormats[kMaxOutputFormats] = {
    {"CAMERA_MEDIA_TYPE_MONO", CAMERA_MEDIA_TYPE_MONO},
    {"CAMERA_MEDIA_TYPE_RGB8", CAMERA_MEDIA_TYPE_RGB8},
    {"CAMERA_MEDIA_TYPE_BGR8", CAMERA_MEDIA_TYPE_BGR8},
    {"CAMERA_MEDIA_TYPE_RGBA8", CAMERA_MEDIA_TYPE_RGBA8},
    {"CAMERA_MEDIA_TYPE_BGRA8", CAMERA_MEDIA_TYPE_BGRA8},
};

}  // namespace

void ReleaseCapabilityLists(tSdkCapability* cap) {
    if (cap == nullptr) return;
    PrepareList(cap->pTriggerDesc, cap->iTriggerDesc, 0);
    PrepareList(cap->pImageSizeDesc, cap->iImageSizeDesc, 0);
    PrepareList(cap->pMediaTypeDesc, cap->iMediaTypeDesc, 0);
    PrepareList(cap->pOutputFormatDesc, cap->iOutputFormatDesc, 0);
    PrepareList(cap->pFrameSpeedDesc, cap->iFrameSpeedDesc, 0);
    PrepareList(cap->pAuxDesc, cap->iAuxDesc, 0);
    PrepareList(cap->pBayerAlgDesc, cap->iBayerAlgDesc, 0);
}

namespace {

template <typename T>
void ReuseEqualList(T*& fresh, INT freshCount, T*& kept, INT& keptCount) {
    if (fresh == nullptr || kept == nullptr || freshCount != keptCount) return;
    if (std::memcmp(fresh, kept, sizeof(T) * static_cast<size_t>(freshCount)) != 0) return;
    delete[] fresh;
    fresh = kept;
    kept = nullptr;
    keptCount = 0;
}

}  // namespace

void ReuseEqualCapabilityLists(tSdkCapability* fresh, tSdkCapability* kept) {
    if (fresh == nullptr || kept == nullptr) return;
    ReuseEqualList(fresh->pTriggerDesc, fresh->iTriggerDesc, kept->pTriggerDesc,
                   kept->iTriggerDesc);
    ReuseEqualList(fresh->pImageSizeDesc, fresh->iImageSizeDesc, kept->pImageSizeDesc,
                   kept->iImageSizeDesc);
    ReuseEqualList(fresh->pMediaTypeDesc, fresh->iMediaTypeDesc, kept->pMediaTypeDesc,
                   kept->iMediaTypeDesc);
    ReuseEqualList(fresh->pOutputFormatDesc, fresh->iOutputFormatDesc, kept->pOutputFormatDesc,
                   kept->iOutputFormatDesc);
    ReuseEqualList(fresh->pFrameSpeedDesc, fresh->iFrameSpeedDesc, kept->pFrameSpeedDesc,
                   kept->iFrameSpeedDesc);
    ReuseEqualList(fresh->pAuxDesc, fresh->iAuxDesc, kept->pAuxDesc, kept->iAuxDesc);
    ReuseEqualList(fresh->pBayerAlgDesc, fresh->iBayerAlgDesc, kept->pBayerAlgDesc,
                   kept->iBayerAlgDesc);
}

bool HoldsCapabilityLists(const tSdkCapability& cap) {
    return cap.pTriggerDesc != nullptr || cap.pImageSizeDesc != nullptr ||
           cap.pMediaTypeDesc != nullptr || cap.pOutputFormatDesc != nullptr ||
           cap.pFrameSpeedDesc != nullptr || cap.pAuxDesc != nullptr ||
           cap.pBayerAlgDesc != nullptr;
}

int CJNDevice::MakeMediaTypeArray(INT& count, tSdkBayerType** array,
                                  std::vector<unsigned int>& supportMediaType) {
    if (array == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // Every driver lists at least its default format; a driver that lists none leaves the camera
    // without raw formats rather than stopping the host.
    const int n = static_cast<int>(std::min<size_t>(supportMediaType.size(), INT_MAX));
    count = n;
    *array = nullptr;
    if (n == 0) return CAMERA_STATUS_SUCCESS;
    *array = new tSdkBayerType[static_cast<size_t>(n)]();
    for (int i = 0; i < n; ++i) {
        tSdkBayerType& entry = (*array)[i];
        entry.iIndex = i;
        entry.uMediaType = supportMediaType[static_cast<size_t>(i)];
        const auto name = kPixelFormatNames.find(entry.uMediaType);
        qv::CopyText(entry.acDescription,
                     name != kPixelFormatNames.end() ? name->second : "Unknow media type");
    }
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::MakeCapability(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type,
                              SensorCapability* sensorCap) {
    if (cap == nullptr || prop == nullptr || sensorCap == nullptr)
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (prop->writtenFlag != 1) return CAMERA_STATUS_PROPERTY_NOT_WRITTEN;

    std::memcpy(&cap->aiGainRange[0], prop->redGainRange, sizeof prop->redGainRange);
    std::memcpy(&cap->aiGainRange[2], prop->greenGainRange, sizeof prop->greenGainRange);
    std::memcpy(&cap->aiGainRange[4], prop->blueGainRange, sizeof prop->blueGainRange);
    std::memcpy(cap->aiSaturationRange, prop->saturationRange, sizeof cap->aiSaturationRange);
    std::memcpy(cap->aiGammaRange, prop->gammaRange, sizeof cap->aiGammaRange);
    std::memcpy(cap->aiContrastLutRange, prop->contrastLutRange, sizeof cap->aiContrastLutRange);
    std::memcpy(cap->aiContrastRange, prop->contrastRange, sizeof cap->aiContrastRange);
    std::memcpy(cap->aiSharpnessRange, prop->sharpnessRange, sizeof cap->aiSharpnessRange);
    // Property bytes 56 to 111 (mono, AE-on-sensor and WDR flags among them) pass unchanged.
    const auto* raw = reinterpret_cast<const uint8_t*>(prop);
    constexpr size_t kFlagsAt = offsetof(CameraProperty, monoSensor);
    static_assert(kFlagsAt + sizeof cap->abPropertyFlags + sizeof cap->abPropertyExtra ==
                  offsetof(CameraProperty, triggerModeCount));
    std::memcpy(cap->abPropertyFlags, raw + kFlagsAt, sizeof cap->abPropertyFlags);
    std::memcpy(cap->abPropertyExtra, raw + kFlagsAt + sizeof cap->abPropertyFlags,
                sizeof cap->abPropertyExtra);

    if (tSdkDescription* list = PrepareList(cap->pTriggerDesc, cap->iTriggerDesc,
                                            Bounded(prop->triggerModeCount, kMaxTriggerModes)))
        NumberSetBits(list, cap->iTriggerDesc, prop->triggerModeMask, kMaxTriggerModes);

    MakeResolutionList(cap, prop, type);

    delete[] cap->pMediaTypeDesc;
    cap->pMediaTypeDesc = nullptr;
    MakeMediaTypeArray(cap->iMediaTypeDesc, &cap->pMediaTypeDesc, sensorCap->supportMediaType);

    if (tSdkDescription* list = PrepareList(cap->pBayerAlgDesc, cap->iBayerAlgDesc,
                                            Bounded(prop->bayerAlgCount, kMaxBayerAlgorithms))) {
        if ((prop->bayerAlgMask & 1u) != 0) qv::CopyText(list[0].acDescription, "Bayer_AVG");
    }

    if (tSdkBayerType* list = PrepareList(cap->pOutputFormatDesc, cap->iOutputFormatDesc,
                                          Bounded(prop->outputFormatCount, kMaxOutputFormats))) {
        int k = 0;
        for (int bit = 0; bit < kMaxOutputFormats && k < cap->iOutputFormatDesc; ++bit) {
            if (((prop->outputFormatMask >> bit) & 1u) == 0) continue;
            list[k].iIndex = k;
            qv::CopyText(list[k].acDescription, kOutputFormats[bit].name);
            list[k].uMediaType = kOutputFormats[bit].mediaType;
            ++k;
        }
    }

    if (tSdkDescription* list = PrepareList(cap->pFrameSpeedDesc, cap->iFrameSpeedDesc,
                                            Bounded(prop->frameSpeedCount, kMaxFrameSpeeds)))
        NumberSetBits(list, cap->iFrameSpeedDesc, prop->frameSpeedMask, kMaxFrameSpeeds);

    cap->uOutputIoCount = static_cast<UINT>(prop->outputIoCount);
    cap->uInputIoCount = static_cast<UINT>(prop->inputIoCount);

    if (tSdkDescription* list =
            PrepareList(cap->pAuxDesc, cap->iAuxDesc, Bounded(prop->auxListCount, kMaxAuxEntries)))
        NumberSetBits(list, cap->iAuxDesc, prop->auxListMask, kMaxAuxEntries);

    cap->uUserDataSize = static_cast<UINT>(prop->userDataSize);
    cap->uPropertyWord188 = prop->hostWord;
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::MakeResolutionList(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type) {
    if (cap == nullptr || prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    tSdkResolution* list = PrepareList(cap->pImageSizeDesc, cap->iImageSizeDesc,
                                       Bounded(prop->presetCount, kPresetCount));
    const uint64_t mask = uint64_t{prop->presetMaskLow} | uint64_t{prop->presetMaskHigh} << 32;
    int k = 0;
    for (uint8_t preset : kBuildOrder) {
        if (k >= cap->iImageSizeDesc) break;
        if (((mask >> preset) & 1u) != 0 && FillPreset(preset, type, *prop, list[k])) ++k;
    }
    return CAMERA_STATUS_SUCCESS;
}
