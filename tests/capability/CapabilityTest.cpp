// The capability record of an opened camera: preset-resolution lists, raw media types with
// their names, the index lists built from the property record, and how the lists are owned.
//
// Expected lists are written here from the preset table and the sensors' own numbers, not taken
// from the code under test.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "params/DeviceCapability.h"
#include "FakeDevice.h"
#include "FakeSensor.h"
#include "sensors/SensorInf.h"

namespace {

using qvsim::CFakeDevice;
using qvsim::CFakeSensor;

// ---- The numbers a sensor driver reports -----------------------------------------------------
//
// Each sheet holds what the driver of that chip reports for one board; a CFakeSensor reports
// them in place of the real driver.

struct SensorSheet {
    SensorTypeE type;
    SensorParam param;
    SensorCapability capability;
};

SensorParam Param(uint32_t aeMin, uint32_t aeMax, uint32_t gainMin, uint32_t gainMax,
                  uint32_t linesMin, uint32_t linesMax, uint32_t maxH, uint32_t maxW,
                  uint32_t reductionMask) {
    SensorParam p{};
    p.aeTargetMin = aeMin;
    p.aeTargetMax = aeMax;
    p.analogGainMin = gainMin;
    p.analogGainMax = gainMax;
    p.expLinesMin = linesMin;
    p.expLinesMax = linesMax;
    p.maxHeight = maxH;
    p.minHeight = 32;
    p.maxWidth = maxW;
    p.minWidth = 32;
    p.reductionModeMask = reductionMask;
    return p;
}

SensorCapability SensorCap(uint8_t mono, uint32_t defaultIndex, uint64_t presetMask, uint32_t red,
                           uint32_t green, uint32_t blue, std::vector<uint32_t> formats) {
    SensorCapability c;
    c.isMono = mono;
    c.driverWord = 1;
    c.defaultResolutionIndex = defaultIndex;
    c.presetMask = presetMask;
    c.defaultRedGain = red;
    c.defaultGreenGain = green;
    c.defaultBlueGain = blue;
    c.supportMediaType = std::move(formats);
    return c;
}

// The colour IMX290 on a parallel board (hardware type 4).
SensorSheet Imx290Colour() {
    return {SENSOR_TYPE_IMX290C, Param(60, 160, 1000, 3000000, 1, 8640, 1080, 1920, 7),
            SensorCap(0, 15, 0x8110, 181, 100, 198, {0x01080008, 0x01100010})};
}

// The mono IMX290 on the same board.
SensorSheet Imx290Mono() {
    return {SENSOR_TYPE_IMX290M, Param(60, 160, 1000, 3000000, 1, 8640, 1080, 1920, 7),
            SensorCap(1, 15, 0x8110, 100, 100, 100, {0x01080000, 0x01100005})};
}

// The colour MT9P031 on a board with an FPGA image path (hardware type 100).
SensorSheet Mt9p031Colour() {
    return {SENSOR_TYPE_MT9P031C, Param(10, 10, 1000, 8000, 1, 972, 1944, 2592, 7),
            SensorCap(0, 11, 0x2FFF, 146, 100, 157, {0x01080008, 0x01100010})};
}

// A property record as a camera stores it, with the lists every test below uses.
CameraProperty StoredProperty() {
    CameraProperty p{};
    p.writtenFlag = 1;
    p.triggerModeCount = 3;
    p.triggerModeMask = 0x7;
    p.outputFormatCount = 2;
    p.outputFormatMask = 0x6;
    p.frameSpeedCount = 3;
    p.frameSpeedMask = 0x7;
    p.bayerAlgCount = 1;
    p.bayerAlgMask = 0x101;
    p.auxListCount = 3;
    p.auxListMask = 0x7;
    p.outputIoCount = 4;
    p.inputIoCount = 2;
    p.userDataSize = 0x4000;
    return p;
}

// What the device's parameter read takes from its sensor before building the capability.
void RefreshFromSensor(SensorInf& sensor, CameraProperty& prop, SensorCapability& cap) {
    SensorParam param{};
    ASSERT_EQ(sensor.GetSensorParam(&param), 0);
    std::memcpy(prop.sensorLimits, &param.maxHeight, sizeof prop.sensorLimits);
    sensor.GetCapability(cap);
    prop.monoSensor = cap.isMono;
    prop.presetCount = std::popcount(cap.presetMask);
    prop.presetMaskLow = static_cast<uint32_t>(cap.presetMask);
    prop.presetMaskHigh = static_cast<uint32_t>(cap.presetMask >> 32);
}

// ---- Expected rows ---------------------------------------------------------------------------

struct Row {
    int index;
    std::string description;
    uint32_t modeA, modeB, modeC;
    int offsetX, offsetY;
    int sensorWidth, sensorHeight;
    uint32_t width, height;
};

void ExpectRows(const tSdkCapability& cap, const std::vector<Row>& rows, int count) {
    ASSERT_EQ(cap.iImageSizeDesc, count);
    ASSERT_NE(cap.pImageSizeDesc, nullptr);
    for (int k = 0; k < count; ++k) {
        const tSdkResolution& r = cap.pImageSizeDesc[k];
        if (k >= static_cast<int>(rows.size())) {
            const tSdkResolution zero{};
            EXPECT_EQ(std::memcmp(&r, &zero, sizeof r), 0) << "entry " << k << " not empty";
            continue;
        }
        const Row& e = rows[static_cast<size_t>(k)];
        SCOPED_TRACE("entry " + std::to_string(k) + " preset " + std::to_string(e.index));
        EXPECT_EQ(r.iIndex, e.index);
        EXPECT_EQ(std::string(r.acDescription), e.description);
        EXPECT_EQ(r.uModeA, e.modeA);
        EXPECT_EQ(r.uModeB, e.modeB);
        EXPECT_EQ(r.uModeC, e.modeC);
        EXPECT_EQ(r.iOffsetX, e.offsetX);
        EXPECT_EQ(r.iOffsetY, e.offsetY);
        EXPECT_EQ(r.iSensorWidth, e.sensorWidth);
        EXPECT_EQ(r.iSensorHeight, e.sensorHeight);
        EXPECT_EQ(r.uWidth, e.width);
        EXPECT_EQ(r.uHeight, e.height);
        EXPECT_EQ(r.uReserved1, 0u);
        EXPECT_EQ(r.auReserved[0] | r.auReserved[1] | r.uResizeWidth | r.uResizeHeight, 0u);
    }
}

struct MediaRow {
    uint32_t type;
    const char* name;
};

void ExpectMedia(const tSdkCapability& cap, const std::vector<MediaRow>& rows) {
    ASSERT_EQ(cap.iMediaTypeDesc, static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(cap.pMediaTypeDesc[i].iIndex, static_cast<int>(i));
        EXPECT_EQ(cap.pMediaTypeDesc[i].uMediaType, rows[i].type);
        EXPECT_STREQ(cap.pMediaTypeDesc[i].acDescription, rows[i].name);
    }
}

class Capability : public ::testing::Test {
  protected:
    void TearDown() override { ReleaseCapabilityLists(&m_cap); }

    // The capability of a camera with this sensor and the stored property record. The hardware
    // type is the board the sheet was taken for (a real driver reads it).
    void Build(const SensorSheet& sheet, int hardwareType) {
        m_device.SetHardwareType(hardwareType);
        CFakeSensor sensor(sheet.type, &m_device);
        sensor.param = sheet.param;
        sensor.capability = sheet.capability;
        m_prop = StoredProperty();
        SensorCapability sensorCap;
        RefreshFromSensor(sensor, m_prop, sensorCap);
        ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, sheet.type, &sensorCap), 0);
    }

    CFakeDevice m_device;
    CameraProperty m_prop{};
    tSdkCapability m_cap{};
};

// ---- Two sensors, whole capability ---------------------------------------------------------

TEST_F(Capability, Imx290ColourOffersItsThreePresetsSmallestFirst) {
    Build(Imx290Colour(), 4);
    // Mask 0x8110: presets 4, 8 and 15. The 320 x 240 crop is centred in 1920 x 1080; the
    // 1280 x 720 window of this chip starts at the sensor's origin.
    ExpectRows(m_cap,
               {{8, "320X240 crop", 0, 0, 0, 800, 420, 320, 240, 320, 240},
                {4, "1280X720", 0, 0, 0, 0, 0, 1280, 720, 1280, 720},
                {15, "1920X1080", 0, 0, 0, 0, 0, 1920, 1080, 1920, 1080}},
               3);
    ExpectMedia(m_cap, {{0x01080008, "Bayer GRBG8"}, {0x01100010, "Bayer GRBG12"}});
    EXPECT_EQ(m_cap.abPropertyFlags[0], 0);  // colour
}

TEST_F(Capability, Imx290MonoNamesItsMonoFormats) {
    Build(Imx290Mono(), 4);
    ExpectMedia(m_cap, {{0x01080000, "Mono8"}, {0x01100005, "Mono12"}});
    EXPECT_EQ(m_cap.abPropertyFlags[0], 1);  // mono flag, property byte 56
    EXPECT_EQ(m_cap.iImageSizeDesc, 3);
}

TEST_F(Capability, Mt9p031ColourReducesTheSmallPresetsFromLargerWindows) {
    Build(Mt9p031Colour(), 100);
    // Mask 0x2FFF: presets 0 to 11 and 13 on a 2592 x 1944 chip that skips by 2, 3 or 4
    // (mask 7). Offsets centre each window: (2592 - w) / 2, (1944 - h) / 2.
    ExpectRows(m_cap,
               {{8, "320X240", 0, 0, 3, 656, 492, 1280, 960, 320, 240},
                {0, "512X384", 0, 0, 3, 272, 204, 2048, 1536, 512, 384},
                {1, "640X480", 0, 0, 1, 656, 492, 1280, 960, 640, 480},
                {13, "768X576", 0, 0, 2, 144, 108, 2304, 1728, 768, 576},
                {2, "800X600", 0, 0, 1, 496, 372, 1600, 1200, 800, 600},
                {3, "1024X768", 0, 0, 1, 272, 204, 2048, 1536, 1024, 768},
                {4, "1280X720", 0, 0, 0, 656, 612, 1280, 720, 1280, 720},
                {5, "1280X960", 0, 0, 0, 656, 492, 1280, 960, 1280, 960},
                {9, "1280X1024", 0, 0, 0, 656, 460, 1280, 1024, 1280, 1024},
                {10, "1600X1200", 0, 0, 0, 496, 372, 1600, 1200, 1600, 1200},
                {6, "1920X1280", 0, 0, 0, 336, 332, 1920, 1280, 1920, 1280},
                {7, "2048X1536", 0, 0, 0, 272, 204, 2048, 1536, 2048, 1536},
                {11, "2592X1944", 0, 0, 0, 0, 0, 2592, 1944, 2592, 1944}},
               13);
    ExpectMedia(m_cap, {{0x01080008, "Bayer GRBG8"}, {0x01100010, "Bayer GRBG12"}});
}

TEST_F(Capability, IndexListsFollowThePropertyMasks) {
    Build(Imx290Colour(), 4);
    ASSERT_EQ(m_cap.iTriggerDesc, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_cap.pTriggerDesc[i].iIndex, i);
        EXPECT_STREQ(m_cap.pTriggerDesc[i].acDescription, "");
    }
    // Output-format mask 0x6: RGB8 and BGR8.
    ASSERT_EQ(m_cap.iOutputFormatDesc, 2);
    EXPECT_EQ(m_cap.pOutputFormatDesc[0].iIndex, 0);
    EXPECT_STREQ(m_cap.pOutputFormatDesc[0].acDescription, "CAMERA_MEDIA_TYPE_RGB8");
    EXPECT_EQ(m_cap.pOutputFormatDesc[0].uMediaType, 0x02180014u);
    EXPECT_EQ(m_cap.pOutputFormatDesc[1].iIndex, 1);
    EXPECT_STREQ(m_cap.pOutputFormatDesc[1].acDescription, "CAMERA_MEDIA_TYPE_BGR8");
    EXPECT_EQ(m_cap.pOutputFormatDesc[1].uMediaType, 0x02180015u);
    ASSERT_EQ(m_cap.iFrameSpeedDesc, 3);
    EXPECT_EQ(m_cap.pFrameSpeedDesc[2].iIndex, 2);
    ASSERT_EQ(m_cap.iAuxDesc, 3);
    EXPECT_EQ(m_cap.pAuxDesc[2].iIndex, 2);
    ASSERT_EQ(m_cap.iBayerAlgDesc, 1);
    EXPECT_EQ(m_cap.pBayerAlgDesc[0].iIndex, 0);
    EXPECT_STREQ(m_cap.pBayerAlgDesc[0].acDescription, "Bayer_AVG");
    EXPECT_EQ(m_cap.uOutputIoCount, 4u);
    EXPECT_EQ(m_cap.uInputIoCount, 2u);
    EXPECT_EQ(m_cap.uUserDataSize, 0x4000u);
}

// ---- Preset list, case by case ----------------------------------------------------------------

constexpr uint64_t Bits(std::initializer_list<int> bits) {
    uint64_t mask = 0;
    for (int b : bits) mask |= uint64_t{1} << b;
    return mask;
}

struct PresetCase {
    const char* name;
    SensorTypeE type;
    uint64_t mask;
    int count;  // the stored preset count
    uint32_t maxWidth, maxHeight, reductionMask;
    std::vector<Row> rows;
};

void PrintTo(const PresetCase& c, std::ostream* os) {
    *os << c.name;
}

class PresetList : public ::testing::TestWithParam<PresetCase> {};

TEST_P(PresetList, HoldsTheOfferedPresetsInBuildOrder) {
    const PresetCase& c = GetParam();
    CFakeDevice device;
    CameraProperty prop{};
    prop.presetCount = c.count;
    prop.presetMaskLow = static_cast<uint32_t>(c.mask);
    prop.presetMaskHigh = static_cast<uint32_t>(c.mask >> 32);
    prop.sensorLimits[0] = c.maxHeight;
    prop.sensorLimits[1] = 32;
    prop.sensorLimits[2] = c.maxWidth;
    prop.sensorLimits[3] = 32;
    prop.sensorLimits[4] = c.reductionMask;
    tSdkCapability cap{};
    ASSERT_EQ(device.MakeResolutionList(&cap, &prop, c.type), 0);
    if (c.count == 0) {
        EXPECT_EQ(cap.iImageSizeDesc, 0);
        EXPECT_EQ(cap.pImageSizeDesc, nullptr);
    } else {
        ExpectRows(cap, c.rows, c.count);
    }
    ReleaseCapabilityLists(&cap);
}

// Rows: preset, description, modes A B C, offset X Y, sensor window, output size.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, PresetList,
    ::testing::Values(
        PresetCase{"Imx178FourPresets", SENSOR_TYPE_IMX178C, 0x100850, 4, 3072, 2048, 7,
            {{4, "1280X720", 0, 0, 0, 896, 664, 1280, 720, 1280, 720},
             {6, "1920X1280", 0, 0, 0, 576, 384, 1920, 1280, 1920, 1280},
             {11, "2592X1944", 0, 0, 0, 240, 52, 2592, 1944, 2592, 1944},
             {20, "3072X2048", 0, 0, 0, 0, 0, 3072, 2048, 3072, 2048}}},
        PresetCase{"Imx290AstCropCentred", SENSOR_TYPE_IMX290C_AST, 0x8100, 2, 1920, 1080, 7,
            {{8, "320X240 crop", 0, 0, 0, 800, 420, 320, 240, 320, 240},
             {15, "1920X1080", 0, 0, 0, 0, 0, 1920, 1080, 1920, 1080}}},
        PresetCase{"Imx290SkipBy3", SENSOR_TYPE_IMX290C, Bits({19}), 1, 1920, 1080, 7,
            {{19, "640x360 skip", 0, 0, 2, 0, 0, 1920, 1080, 640, 360}}},
        PresetCase{"Imx335SkipFromTheHighMask", SENSOR_TYPE_IMX335C, Bits({11, 32}), 2,
            2592, 1944, 3,
            {{32, "1296x972 skip", 0, 0, 1, 0, 0, 2592, 1944, 1296, 972},
             {11, "2592X1944", 0, 0, 0, 0, 0, 2592, 1944, 2592, 1944}}},
        PresetCase{"Imx487BinningModeA", SENSOR_TYPE_IMX487U, Bits({34, 35}), 2, 2848, 2848, 0,
            {{35, "1424x1424 binning", 1, 0, 0, 0, 0, 2848, 2848, 1424, 1424},
             {34, "2848x2848", 0, 0, 0, 0, 0, 2848, 2848, 2848, 2848}}},
        PresetCase{"Ar0234BinningModeB", SENSOR_TYPE_AR0234M, 0x0000000200200000, 2, 1920, 1200, 0,
            {{33, "960x600 binning", 0, 1, 0, 0, 0, 1920, 1200, 960, 600},
             {21, "1920X1200", 0, 0, 0, 0, 0, 1920, 1200, 1920, 1200}}},
        PresetCase{"Imx206BinningTexts", SENSOR_TYPE_IMX206, Bits({16, 17, 18}), 3, 4608, 3456, 0,
            {{16, "2304X1296 binning crop", 0, 0, 0, 1152, 1080, 2304, 1296, 2304, 1296},
             {17, "2304X1728 binning", 0, 0, 0, 1152, 864, 2304, 1728, 2304, 1728},
             {18, "4608X3456", 0, 0, 0, 0, 0, 4608, 3456, 4608, 3456}}},
        PresetCase{"Imx183BinningText", SENSOR_TYPE_IMX183C, Bits({27}), 1, 5472, 3648, 0,
            {{27, "2736X1824(2 binning)", 0, 0, 0, 1368, 912, 2736, 1824, 2736, 1824}}},
        // Without the reduce-by-4 bit the 4x windows keep mode 0; bit 0 still gives 1.
        PresetCase{"Mt9t001WithoutReduceBy4", SENSOR_TYPE_MT9T001, Bits({0, 1, 8}), 3,
            2048, 1536, 1,
            {{8, "320X240", 0, 0, 0, 384, 288, 1280, 960, 320, 240},
             {0, "512X384", 0, 0, 0, 0, 0, 2048, 1536, 512, 384},
             {1, "640X480", 0, 0, 1, 384, 288, 1280, 960, 640, 480}}},
        PresetCase{"Mt9m001HalfSizeWindows", SENSOR_TYPE_MT9M001, Bits({0, 8}), 2, 1280, 1024, 1,
            {{8, "320X240", 0, 0, 1, 320, 272, 640, 480, 320, 240},
             {0, "512X384", 0, 0, 1, 128, 128, 1024, 768, 512, 384}}},
        // Presets 0, 2 and 3 exist only for the types their rows name; the stored count then
        // leaves empty entries at the end.
        PresetCase{"UnlistedTypeSkipsPresetsZeroTwoThree", SENSOR_TYPE_IMX290C_AST,
            Bits({0, 2, 3, 15}), 4, 1920, 1080, 7,
            {{15, "1920X1080", 0, 0, 0, 0, 0, 1920, 1080, 1920, 1080}}},
        PresetCase{"StoredCountStopsTheList", SENSOR_TYPE_MT9P031C, 0x2FFF, 2, 2592, 1944, 7,
            {{8, "320X240", 0, 0, 3, 656, 492, 1280, 960, 320, 240},
             {0, "512X384", 0, 0, 3, 272, 204, 2048, 1536, 512, 384}}},
        PresetCase{"BitsAbove37NameNoPreset", SENSOR_TYPE_IMX290C, 0xFFFFFFC000000000, 26,
            1920, 1080, 7, {}},
        PresetCase{"WindowLargerThanTheSensorTruncatesTowardZero", SENSOR_TYPE_AR0130, Bits({9}), 1,
            1277, 1021, 0,
            {{9, "1280X1024", 0, 0, 0, -1, -1, 1280, 1024, 1280, 1024}}},
        PresetCase{"NoPresets", SENSOR_TYPE_IMX290C, 0, 0, 1920, 1080, 7, {}}),
    [](const ::testing::TestParamInfo<PresetCase>& info) { return info.param.name; });
// clang-format on

// ---- Media types -----------------------------------------------------------------------------

TEST(MediaTypes, EveryNamedPixelFormatAndAnUnknownOne) {
    const std::vector<MediaRow> rows = {
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
        {0x0108000C, "Unknow media type"},
        {0x0210001F, "Unknow media type"},
    };
    std::vector<unsigned int> codes;
    for (const MediaRow& r : rows) codes.push_back(r.type);
    CFakeDevice device;
    tSdkCapability cap{};
    ASSERT_EQ(device.MakeMediaTypeArray(cap.iMediaTypeDesc, &cap.pMediaTypeDesc, codes), 0);
    ExpectMedia(cap, rows);
    for (int i = 0; i < cap.iMediaTypeDesc; ++i) {
        const char* d = cap.pMediaTypeDesc[i].acDescription;
        const size_t len = std::strlen(d);
        for (size_t j = len; j < sizeof cap.pMediaTypeDesc[i].acDescription; ++j)
            ASSERT_EQ(d[j], 0) << "description tail of entry " << i;
    }
    ReleaseCapabilityLists(&cap);
}

TEST(MediaTypes, ASensorWithoutFormatsGivesAnEmptyList) {
    CFakeDevice device;
    INT count = 7;
    tSdkBayerType* array = reinterpret_cast<tSdkBayerType*>(&count);
    std::vector<unsigned int> none;
    EXPECT_EQ(device.MakeMediaTypeArray(count, &array, none), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(array, nullptr);
}

// ---- Record fill, errors and ownership ------------------------------------------------------

TEST_F(Capability, RangesAndPropertyBytesPassThrough) {
    m_prop = StoredProperty();
    auto* raw = reinterpret_cast<uint8_t*>(&m_prop);
    for (size_t i = 0; i < 112; ++i) raw[i] = static_cast<uint8_t>(i * 3 + 1);
    m_prop.contrastLutRange[0] = 5;
    m_prop.contrastLutRange[1] = 195;
    m_prop.hostWord = 0xA5A5F00D;
    SensorCapability sensorCap = Imx290Colour().capability;
    ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap), 0);

    const auto* capBytes = reinterpret_cast<const uint8_t*>(&m_cap);
    // Capability 0..23 gains, 24 saturation, 32 gamma from property 0..39; 48 contrast and 56
    // sharpness from property 40..55; 64..119 from property 56..111.
    EXPECT_EQ(std::memcmp(capBytes + 0, raw + 0, 40), 0);
    EXPECT_EQ(std::memcmp(capBytes + 48, raw + 40, 16), 0);
    EXPECT_EQ(std::memcmp(capBytes + 64, raw + 56, 56), 0);
    EXPECT_EQ(m_cap.aiContrastLutRange[0], 5);
    EXPECT_EQ(m_cap.aiContrastLutRange[1], 195);
    EXPECT_EQ(m_cap.uPropertyWord188, 0xA5A5F00Du);
}

TEST_F(Capability, UnwrittenPropertyRecordLeavesTheCapabilityAlone) {
    std::memset(&m_cap, 0x6B, sizeof m_cap);
    const tSdkCapability before = m_cap;
    m_prop = StoredProperty();
    m_prop.writtenFlag = 0;
    SensorCapability sensorCap = Imx290Colour().capability;
    EXPECT_EQ(m_device.MakeCapability(&m_cap, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap),
              CAMERA_STATUS_PROPERTY_NOT_WRITTEN);
    EXPECT_EQ(std::memcmp(&m_cap, &before, sizeof m_cap), 0);
    std::memset(&m_cap, 0, sizeof m_cap);  // not ours to release

    EXPECT_EQ(m_device.MakeCapability(nullptr, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_device.MakeCapability(&m_cap, nullptr, SENSOR_TYPE_IMX290C, &sensorCap),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_device.MakeResolutionList(&m_cap, nullptr, SENSOR_TYPE_IMX290C),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Capability, ListsTakeAtMostTheirCountWhateverTheMask) {
    m_prop = StoredProperty();
    m_prop.triggerModeCount = 2;
    m_prop.triggerModeMask = 0xFFFFFFFF;
    m_prop.outputFormatCount = 2;
    m_prop.outputFormatMask = 0x12;  // RGB8 and BGRA8
    m_prop.frameSpeedCount = 3;
    m_prop.frameSpeedMask = 0x5;  // two speeds for three entries: the last stays empty
    m_prop.bayerAlgCount = 2;
    m_prop.bayerAlgMask = 0x100;  // no averaging algorithm
    SensorCapability sensorCap = Imx290Colour().capability;
    ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap), 0);
    ASSERT_EQ(m_cap.iTriggerDesc, 2);
    EXPECT_EQ(m_cap.pTriggerDesc[1].iIndex, 1);
    ASSERT_EQ(m_cap.iOutputFormatDesc, 2);
    EXPECT_STREQ(m_cap.pOutputFormatDesc[0].acDescription, "CAMERA_MEDIA_TYPE_RGB8");
    EXPECT_EQ(m_cap.pOutputFormatDesc[0].uMediaType, 0x02180014u);
    EXPECT_EQ(m_cap.pOutputFormatDesc[1].iIndex, 1);
    EXPECT_STREQ(m_cap.pOutputFormatDesc[1].acDescription, "CAMERA_MEDIA_TYPE_BGRA8");
    EXPECT_EQ(m_cap.pOutputFormatDesc[1].uMediaType, 0x02200015u);
    ASSERT_EQ(m_cap.iFrameSpeedDesc, 3);
    EXPECT_EQ(m_cap.pFrameSpeedDesc[1].iIndex, 1);
    EXPECT_EQ(m_cap.pFrameSpeedDesc[2].iIndex, 0);
    ASSERT_EQ(m_cap.iBayerAlgDesc, 2);
    EXPECT_STREQ(m_cap.pBayerAlgDesc[0].acDescription, "");
}

TEST_F(Capability, CorruptStoredCountsAreBoundedByWhatTheMasksCanName) {
    m_prop = StoredProperty();
    m_prop.triggerModeCount = 0x7FFFFFFF;
    m_prop.presetCount = 0x40000000;
    m_prop.presetMaskLow = 0xFFFFFFFF;
    m_prop.presetMaskHigh = 0xFFFFFFFF;
    m_prop.outputFormatCount = 1000;
    m_prop.outputFormatMask = 0xFFFFFFFF;
    m_prop.frameSpeedCount = 65536;
    m_prop.auxListCount = 99;
    m_prop.bayerAlgCount = 0x10000000;
    m_prop.sensorLimits[0] = 0xFFFFFFFF;  // a wild limit moves offsets, nothing more
    m_prop.sensorLimits[2] = 0x80000000;
    SensorCapability sensorCap = Imx290Colour().capability;
    ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap), 0);
    EXPECT_EQ(m_cap.iTriggerDesc, 3);
    EXPECT_EQ(m_cap.iImageSizeDesc, 38);
    EXPECT_EQ(m_cap.iOutputFormatDesc, 5);
    EXPECT_EQ(m_cap.iFrameSpeedDesc, 3);
    EXPECT_EQ(m_cap.iAuxDesc, 4);
    EXPECT_EQ(m_cap.iBayerAlgDesc, 32);
    EXPECT_STREQ(m_cap.pOutputFormatDesc[4].acDescription, "CAMERA_MEDIA_TYPE_BGRA8");

    m_prop.triggerModeCount = -1;
    m_prop.presetCount = INT32_MIN;
    m_prop.outputFormatCount = 0;
    m_prop.frameSpeedCount = -3;
    m_prop.auxListCount = -100;
    m_prop.bayerAlgCount = -1;
    ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, SENSOR_TYPE_IMX290C, &sensorCap), 0);
    EXPECT_TRUE(m_cap.iTriggerDesc == 0 && m_cap.pTriggerDesc == nullptr);
    EXPECT_TRUE(m_cap.iImageSizeDesc == 0 && m_cap.pImageSizeDesc == nullptr);
    EXPECT_TRUE(m_cap.iOutputFormatDesc == 0 && m_cap.pOutputFormatDesc == nullptr);
    EXPECT_TRUE(m_cap.iFrameSpeedDesc == 0 && m_cap.pFrameSpeedDesc == nullptr);
    EXPECT_TRUE(m_cap.iAuxDesc == 0 && m_cap.pAuxDesc == nullptr);
    EXPECT_TRUE(m_cap.iBayerAlgDesc == 0 && m_cap.pBayerAlgDesc == nullptr);
    EXPECT_EQ(m_cap.iMediaTypeDesc, 2);
}

TEST_F(Capability, RefillReusesListsWithRoomAndReplacesTheOthers) {
    Build(Mt9p031Colour(), 100);
    tSdkResolution* presets = m_cap.pImageSizeDesc;
    tSdkDescription* triggers = m_cap.pTriggerDesc;

    // Fewer presets and trigger modes: the same arrays, refilled.
    Build(Imx290Colour(), 4);
    EXPECT_EQ(m_cap.pImageSizeDesc, presets);
    EXPECT_EQ(m_cap.pTriggerDesc, triggers);
    EXPECT_EQ(m_cap.iImageSizeDesc, 3);
    EXPECT_EQ(m_cap.pImageSizeDesc[0].iIndex, 8);

    // More presets again: a list with room for all 13.
    Build(Mt9p031Colour(), 100);
    ASSERT_EQ(m_cap.iImageSizeDesc, 13);
    EXPECT_EQ(m_cap.pImageSizeDesc[12].iIndex, 11);

    ReleaseCapabilityLists(&m_cap);
    EXPECT_EQ(m_cap.pImageSizeDesc, nullptr);
    EXPECT_EQ(m_cap.pMediaTypeDesc, nullptr);
    EXPECT_EQ(m_cap.iMediaTypeDesc, 0);
    EXPECT_EQ(m_cap.pBayerAlgDesc, nullptr);
}

// Arbitrary property records (as a corrupted EEPROM could hold) and sensor types: the build
// never fails on them and never lists more than the masks can name.
TEST_F(Capability, ArbitraryPropertyRecordsBuildBoundedLists) {
    std::mt19937 rng(77);
    SensorCapability sensorCap = Mt9p031Colour().capability;
    for (int i = 0; i < 300; ++i) {
        auto* raw = reinterpret_cast<uint8_t*>(&m_prop);
        for (size_t b = 0; b < sizeof m_prop; ++b) raw[b] = static_cast<uint8_t>(rng());
        m_prop.writtenFlag = 1;
        const auto type = static_cast<SensorTypeE>(rng() % 80);
        ASSERT_EQ(m_device.MakeCapability(&m_cap, &m_prop, type, &sensorCap), 0);
        ASSERT_LE(m_cap.iTriggerDesc, 3);
        ASSERT_LE(m_cap.iImageSizeDesc, 38);
        ASSERT_LE(m_cap.iOutputFormatDesc, 5);
        ASSERT_LE(m_cap.iFrameSpeedDesc, 3);
        ASSERT_LE(m_cap.iAuxDesc, 4);
        ASSERT_LE(m_cap.iBayerAlgDesc, 32);
        for (int k = 0; k < m_cap.iImageSizeDesc; ++k) {
            const tSdkResolution& r = m_cap.pImageSizeDesc[k];
            ASSERT_TRUE(r.iIndex >= 0 && r.iIndex < 38);
            ASSERT_LT(std::strlen(r.acDescription), sizeof r.acDescription);
        }
    }
}

}  // namespace
