// CameraISP: pending settings and dirty codes, the parameter load, the -6 rules, and the
// dispatch of frames by processing level, input media type and output format with the status
// each frame ends in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "CameraISP.h"
#include "control/CameraSettings.h"

namespace {

constexpr uint32_t kMono8 = 0x01080000u;
constexpr uint32_t kMono12 = 0x01100005u;
constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
constexpr uint32_t kYuv = 0x0210001Fu;
constexpr uint32_t kMono16Out = 0x01100005u;
constexpr uint32_t kRgb8 = 0x02180014u;
constexpr uint32_t kBgr8 = 0x02180015u;
constexpr uint32_t kRgba8 = 0x02200014u;
constexpr uint32_t kBgra8 = 0x02200015u;

constexpr uint8_t kSentinel = 0xA5;

// A settings block as a fresh camera holds it: neutral pipeline, 8-bit grey output.
CameraSettings NeutralSettings() {
    CameraSettings s;
    std::memset(&s, 0, sizeof(s));
    s.sharpness = 0;
    s.saturation = 128;
    s.contrast = 50;
    s.ispOutFormat = kMono8;
    s.lutMode = 0;
    s.gamma = 100;
    s.contrastLut = 100;
    s.lutPreset = 0;
    const int identity[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    std::memcpy(s.colorMatrix, identity, sizeof(identity));
    return s;
}

// A raw frame with the descriptor that travels with it.
struct Frame {
    stImageInfo info{};
    std::vector<uint8_t> raw;

    Frame(uint32_t mediaType, int width, int height) {
        const int sampleBytes = ((mediaType >> 16) & 0xFF) > 8 ? 2 : 1;
        info.iWidth = static_cast<UINT>(width);
        info.iHeight = static_cast<UINT>(height);
        info.TotalBytes = static_cast<UINT>(width * height * sampleBytes);
        info.uiMediaType = mediaType;
        info.ExpTime = 1000.0;
        info.ExpLineTime = 10.0;
        info.Gain = 1000;
        raw.assign(info.TotalBytes, 0);
    }
    int SampleBytes() const { return static_cast<int>(raw.size() / (info.iWidth * info.iHeight)); }
    void Set(int x, int y, int value) {
        const size_t i = static_cast<size_t>(y) * info.iWidth + x;
        if (SampleBytes() == 1) {
            raw[i] = static_cast<uint8_t>(value);
        } else {
            const auto v = static_cast<uint16_t>(value);
            std::memcpy(&raw[i * 2], &v, 2);
        }
    }
    void Fill(int value) {
        for (UINT y = 0; y < info.iHeight; ++y)
            for (UINT x = 0; x < info.iWidth; ++x)
                Set(static_cast<int>(x), static_cast<int>(y), value);
    }
};

// The output of one frame, pre-filled so that a refusal shows as untouched memory.
struct Output {
    stImageInfo info{};
    std::vector<uint8_t> data;
    explicit Output(const Frame& f)
        : data(static_cast<size_t>(f.info.iWidth) * f.info.iHeight * 4, kSentinel) {
        std::memset(&info, kSentinel, sizeof(info));
    }
    bool Untouched() const {
        for (uint8_t b : data)
            if (b != kSentinel) return false;
        const auto* p = reinterpret_cast<const uint8_t*>(&info);
        for (size_t i = 0; i < sizeof(info); ++i)
            if (p[i] != kSentinel) return false;
        return true;
    }
    int Byte(size_t i) const { return data[i]; }
    int Word(size_t i) const {
        uint16_t v;
        std::memcpy(&v, &data[i * 2], 2);
        return v;
    }
};

int Process(CameraISP& isp, Frame& f, Output& o) {
    return isp.ProcessFrame(&f.info, f.raw.data(), &o.info, o.data.data(), 100, 100, 100);
}

// Runs one small frame through the object so that the pending settings are taken over.
void NextFrame(CameraISP& isp) {
    Frame f(kMono8, 16, 4);
    Output o(f);
    isp.ProcessFrame(&f.info, f.raw.data(), &o.info, o.data.data(), 100, 100, 100);
}

class CameraIspTest : public ::testing::Test {
  protected:
    void SetUp() override { Load(NeutralSettings()); }
    void Load(const CameraSettings& s, uint32_t input = kMono8, int level = 6) {
        ASSERT_EQ(isp.LoadParameter(s, /*monoCamera=*/1, /*bayerAlgMode=*/1, input, level), 0);
    }
    CameraISP isp;
};

// ---- Pending settings and dirty codes ---------------------------------------------------------

TEST_F(CameraIspTest, SettersStayPendingUntilTheNextFrameWhichAppliesThemAllAtOnce) {
    EXPECT_EQ(isp.SetSharpness(30), 0);
    EXPECT_EQ(isp.SetMirror(0, 1), 0);
    EXPECT_EQ(isp.SetContrast(70), 0);
    EXPECT_EQ(isp.GetDirtyCode(), CameraISP::kDirtyContrast);  // the last kind of change: 4

    // Nothing reaches the active settings before a frame.
    CameraISP::Settings before = isp.GetActiveSettings();
    EXPECT_EQ(before.sharpness, 0);
    EXPECT_EQ(before.mirrorH, 0);
    EXPECT_EQ(before.contrast, 50);

    NextFrame(isp);
    const CameraISP::Settings after = isp.GetActiveSettings();
    EXPECT_EQ(after.sharpness, 30);
    EXPECT_EQ(after.mirrorH, 1);
    EXPECT_EQ(after.contrast, 70);
    EXPECT_EQ(isp.GetDirtyCode(), 0);
}

TEST_F(CameraIspTest, TheLastValueBeforeAFrameWins) {
    isp.SetSharpness(10);
    isp.SetSharpness(20);
    NextFrame(isp);
    EXPECT_EQ(isp.GetSharpness(), 20);
}

TEST_F(CameraIspTest, EachSetterLeavesItsDirtyCode) {
    struct Case {
        const char* name;
        int (*set)(CameraISP&);
        uint16_t code;
    };
    const Case cases[] = {
        {"SetLutMode", [](CameraISP& i) { return i.SetLutMode(1); }, 1},
        {"SetGamma", [](CameraISP& i) { return i.SetGamma(45); }, 2},
        {"SetContrastLut", [](CameraISP& i) { return i.SetContrastLut(60); }, 2},
        {"SetSharpness", [](CameraISP& i) { return i.SetSharpness(5); }, 3},
        {"SetContrast", [](CameraISP& i) { return i.SetContrast(60); }, 4},
        {"SetSaturation", [](CameraISP& i) { return i.SetSaturation(100); }, 5},
        {"SetIspOutFormat", [](CameraISP& i) { return i.SetIspOutFormat(kBgr8); }, 6},
        {"SetMirror h", [](CameraISP& i) { return i.SetMirror(0, 1); }, 7},
        {"SetMirror v", [](CameraISP& i) { return i.SetMirror(1, 1); }, 7},
        {"SetMonochrome", [](CameraISP& i) { return i.SetMonochrome(1); }, 8},
        {"SetBlackOffset", [](CameraISP& i) { return i.SetBlackOffset(4); }, 9},
        {"SetBayerAlgMode", [](CameraISP& i) { return i.SetBayerAlgMode(2); }, 10},
        {"SetBayerAlgThreshold", [](CameraISP& i) { return i.SetBayerAlgThreshold(200); }, 10},
        {"SetCorrectDeadPixel", [](CameraISP& i) { return i.SetCorrectDeadPixel(1); }, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(NeutralSettings());
        ASSERT_EQ(isp.GetDirtyCode(), 0);
        EXPECT_EQ(c.set(isp), 0);
        EXPECT_EQ(isp.GetDirtyCode(), c.code);
        NextFrame(isp);
        EXPECT_EQ(isp.GetDirtyCode(), 0);
    }
}

TEST_F(CameraIspTest, PendingValuesAreTakenOverWithTheirStoredWidth) {
    isp.SetMirror(0, 0x101);  // the flags keep their low 8 bits
    isp.SetMirror(1, 1);
    isp.SetMonochrome(0x102);
    isp.SetCorrectDeadPixel(0x100);
    isp.SetIspOutFormat(kRgba8);
    isp.SetBayerAlgMode(3);
    isp.SetBayerAlgThreshold(250);
    isp.SetBlackOffset(7);
    isp.SetSaturation(90);
    NextFrame(isp);
    const CameraISP::Settings a = isp.GetActiveSettings();
    EXPECT_EQ(a.mirrorH, 1);
    EXPECT_EQ(a.mirrorV, 1);
    EXPECT_EQ(a.monochrome, 2);
    EXPECT_EQ(a.deadPixel, 0);
    EXPECT_EQ(a.ispOutFormat, kRgba8);
    EXPECT_EQ(a.bayerAlgMode, 3);
    EXPECT_EQ(a.bayerAlgThreshold, 250);
    EXPECT_EQ(a.blackOffset, 7);
    EXPECT_EQ(a.saturation, 90);
    EXPECT_EQ(isp.GetIspOutFormat(), kRgba8);
    EXPECT_EQ(isp.GetSaturation(), 90);
}

TEST_F(CameraIspTest, MirrorInAnotherDirectionIsRefusedAndStoresNothing) {
    for (int direction : {2, -1, 256}) {
        SCOPED_TRACE(direction);
        EXPECT_EQ(isp.SetMirror(direction, 1), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(isp.GetDirtyCode(), 0);
        NextFrame(isp);
        EXPECT_EQ(isp.GetActiveSettings().mirrorH, 0);
        EXPECT_EQ(isp.GetActiveSettings().mirrorV, 0);
    }
}

TEST_F(CameraIspTest, PendingSettingsAreAppliedEvenWhenTheFrameIsRefused) {
    isp.SetSharpness(12);
    Frame f(0x01080001u, 16, 4);  // no kernel takes this input
    Output o(f);
    EXPECT_EQ(Process(isp, f, o), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(o.Untouched());
    EXPECT_EQ(isp.GetSharpness(), 12);
    EXPECT_EQ(isp.GetDirtyCode(), 0);
}

// A kernel that cannot make the frame says so: an output format no kernel writes, or a frame
// shorter than its description, is refused with the kernel's status and nothing written (a 0
// would hand the caller a buffer that was never filled).
TEST_F(CameraIspTest, KernelRefusalIsPassedOn) {
    struct Case {
        const char* name;
        uint32_t outFormat;
        uint32_t totalBytes;  // 0: as described
        int status;
    };
    const Case cases[] = {
        {"unknown output format", 0x12345678u, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"colour output of another layout", 0x02180016u, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"short frame", kMono8, 16 * 4 - 1, CAMERA_STATUS_DATA_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Load(NeutralSettings());
        isp.SetIspOutFormat(c.outFormat);
        Frame f(kMono8, 16, 4);
        if (c.totalBytes != 0) f.info.TotalBytes = c.totalBytes;
        Output o(f);
        EXPECT_EQ(Process(isp, f, o), c.status);
        EXPECT_TRUE(o.Untouched());
    }
}

// ---- Lookup-table operations through the object ---------------------------------------------

TEST_F(CameraIspTest, LutSettersAnswerMinusSixOutsideTheirModeOrIndex) {
    std::vector<uint16_t> table(4096, 7);
    // Mode 0 is active: only gamma and LUT contrast are accepted.
    EXPECT_EQ(isp.SelectLutPreset(1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SetCustomLut(0, table.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.GetDirtyCode(), 0);

    // The mode test reads the active mode: right after SetLutMode(1) gamma is still accepted
    // and a preset is not, until a frame made mode 1 active.
    EXPECT_EQ(isp.SetLutMode(1), 0);
    EXPECT_EQ(isp.SetGamma(80), 0);
    EXPECT_EQ(isp.SelectLutPreset(1), CAMERA_STATUS_PARAMETER_INVALID);
    NextFrame(isp);
    EXPECT_EQ(isp.SetGamma(80), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SetContrastLut(80), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SelectLutPreset(4), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SelectLutPreset(-1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SelectLutPreset(2), 0);

    isp.SetLutMode(2);
    NextFrame(isp);
    EXPECT_EQ(isp.SetCustomLut(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SetCustomLut(4, table.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.SetCustomLut(2, table.data()), 0);

    EXPECT_EQ(isp.GetCustomLut(4, table.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.GetCustomLut(1, nullptr), 0);  // nothing to copy into, not an error
    EXPECT_EQ(isp.GetCurrentLut(-1, table.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.GetCurrentLut(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// 8-bit per-channel table of the gamma curve: entry v is M[16 v] / 16 with
// M[i] = trunc(4095 x (i / 4095)^(gamma / 100)).
int Gamma8(int v, int gamma) {
    const double m = std::trunc(4095.0 * std::pow(16.0 * v / 4095.0, gamma / 100.0));
    return static_cast<int>(m) / 16;
}

TEST_F(CameraIspTest, GammaReachesTheCurrentCurveAtOnceAndTheFramesFromTheNextOne) {
    ASSERT_EQ(isp.SetGamma(45), 0);
    std::vector<uint16_t> current(4096);
    ASSERT_EQ(isp.GetCurrentLut(0, current.data()), 0);
    EXPECT_EQ(current[1], 96);  // 4095 x (1 / 4095)^0.45, truncated
    EXPECT_EQ(isp.GetGamma(), 100);

    Frame f(kMono8, 16, 4);
    f.Fill(40);
    Output o(f);
    ASSERT_EQ(Process(isp, f, o), 0);
    EXPECT_EQ(isp.GetGamma(), 45);
    for (size_t i = 0; i < 16 * 4; ++i) ASSERT_EQ(o.Byte(i), Gamma8(40, 45)) << i;
}

TEST_F(CameraIspTest, TablesFollowAStreamThatChangedDepthSinceTheLoad) {
    // Loaded for 8-bit samples, then fed 12-bit ones: the lookup must use a 4096-entry table
    // (entry s = M[s]) rather than refuse the frame or read past a 256-entry one.
    CameraSettings s = NeutralSettings();
    s.gamma = 45;
    Load(s, kMono8);
    Frame f(kMono12, 16, 4);
    f.Fill(1024);
    Output o(f);
    ASSERT_EQ(Process(isp, f, o), 0);
    const int m = static_cast<int>(std::trunc(4095.0 * std::pow(1024.0 / 4095.0, 0.45)));
    for (size_t i = 0; i < 16 * 4; ++i) ASSERT_EQ(o.Byte(i), m >> 4) << i;
}

TEST_F(CameraIspTest, StoredCustomCurvesReachTheFramesThroughTheNextLoad) {
    std::vector<uint16_t> inverted(4096);
    for (int i = 0; i < 4096; ++i) inverted[i] = static_cast<uint16_t>(4095 - i);
    EXPECT_EQ(isp.StoreCustomCurve(0, inverted.data()), 0);
    EXPECT_EQ(isp.StoreCustomCurve(3, inverted.data()), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.StoreCustomCurve(1, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    std::vector<uint16_t> back(4096);
    ASSERT_EQ(isp.GetCustomLut(1, back.data()), 0);
    EXPECT_EQ(back, inverted);

    CameraSettings s = NeutralSettings();
    s.lutMode = 2;
    Load(s);
    Frame f(kMono8, 16, 4);
    f.Fill(10);
    Output o(f);
    ASSERT_EQ(Process(isp, f, o), 0);
    EXPECT_EQ(o.Byte(0), (4095 - 160) / 16);  // entry 10 of the 256-entry table: M[160] / 16
}

// ---- Parameter load --------------------------------------------------------------------------

TEST_F(CameraIspTest, LoadTakesTheSettingsBlockAndDiscardsAnythingPending) {
    isp.SetSharpness(99);
    isp.SetGamma(30);
    isp.SetBlackOffset(5);

    CameraSettings s = NeutralSettings();
    s.sharpness = 17;
    s.saturation = 140;
    s.contrast = 65;
    s.ispOutFormat = kBgra8;
    s.mirrorH = 0x100;  // on: any non-zero value
    s.mirrorV = 0;
    s.monochrome = 1;
    s.correctDeadPixel = 1;
    s.lutMode = 1;
    s.gamma = 120;
    s.contrastLut = 90;
    s.lutPreset = 2;
    s.blackLevel = 33;  // a device setting: the pipeline's black offset stays 0
    ASSERT_EQ(isp.LoadParameter(s, 0, /*bayerAlgMode=*/2, kMono8, /*processLevel=*/4), 0);

    EXPECT_EQ(isp.GetDirtyCode(), 0);
    const CameraISP::Settings a = isp.GetActiveSettings();
    EXPECT_EQ(a.sharpness, 17);
    EXPECT_EQ(a.saturation, 140);
    EXPECT_EQ(a.contrast, 65);
    EXPECT_EQ(a.ispOutFormat, kBgra8);
    EXPECT_EQ(a.mirrorH, 1);
    EXPECT_EQ(a.mirrorV, 0);
    EXPECT_EQ(a.monochrome, 1);
    EXPECT_EQ(a.deadPixel, 1);
    EXPECT_EQ(a.blackOffset, 0);
    EXPECT_EQ(a.bayerAlgMode, 2);
    EXPECT_EQ(a.bayerAlgThreshold, 300);
    EXPECT_EQ(a.demosaicKind, 4);
    EXPECT_EQ(isp.GetLutMode(), 1);
    EXPECT_EQ(isp.GetGamma(), 120);
    EXPECT_EQ(isp.GetContrastLut(), 90);
    EXPECT_EQ(isp.GetLutPreset(), 2);
    EXPECT_EQ(isp.GetProcessLevel(), 4);

    // The discarded values do not come back with the next frame.
    NextFrame(isp);
    EXPECT_EQ(isp.GetSharpness(), 17);
    EXPECT_EQ(isp.GetGamma(), 120);
    EXPECT_EQ(isp.GetActiveSettings().blackOffset, 0);
}

TEST(CameraIspLifecycle, FramesBeforeTheFirstLoadAreRefused) {
    CameraISP isp;
    Frame f(kMono8, 16, 4);
    Output o(f);
    EXPECT_EQ(Process(isp, f, o), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_TRUE(o.Untouched());
}

// ---- Output descriptor -------------------------------------------------------------------------

TEST_F(CameraIspTest, OutFormatInfoFollowsTheActiveOutputFormat) {
    stImageInfo in{};
    in.iWidth = 10;
    in.iHeight = 6;
    in.TotalBytes = 60;
    in.uiMediaType = kMono8;
    in.Gain = 1234;
    isp.SetIspOutFormat(kRgba8);
    int bpp = 0, id = -1;
    stImageInfo out{};
    ASSERT_EQ(isp.GetOutFormatInfo(&bpp, &id, &in, &out), 0);
    EXPECT_EQ(bpp, 1);  // still the active 8-bit grey until a frame
    EXPECT_EQ(id, 0);

    NextFrame(isp);
    ASSERT_EQ(isp.GetOutFormatInfo(&bpp, &id, &in, &out), 0);
    EXPECT_EQ(bpp, 4);
    EXPECT_EQ(id, 20);
    EXPECT_EQ(out.TotalBytes, 10u * 6u * 4u);
    EXPECT_EQ(out.uiMediaType, kRgba8);
    EXPECT_EQ(out.Gain, 1234u);
}

// ---- Dispatch --------------------------------------------------------------------------------

TEST(CameraIspDispatch, KernelByLevelInputAndOutputFormat) {
    using K = CameraISP::Kernel;
    struct Row {
        int level;
        uint32_t input;
        uint32_t out;
        K kernel;
    };
    const Row rows[] = {
        {6, kMono8, kMono8, K::kMono8},
        {5, kMono8, kBgra8, K::kMono8},
        {6, kMono8, kMono16Out, K::kMono8},
        {6, kBayer8, 0x01080008u, K::kRaw8ToRaw8},
        {6, kBayer8, 0x01100010u, K::kRaw8ToRaw16},
        {6, kBayer8, kRgb8, K::kBayer8},
        {6, kBayer12, 0x01100010u, K::kRaw16ToRaw16},
        {6, kBayer12, 0x01080008u, K::kRaw16ToRaw8},
        {6, kBayer12, kBgr8, K::kBayer16},
        {6, kMono12, kMono16Out, K::kMono12Scalar},
        {6, kMono12, kMono8, K::kMono12},
        {5, kMono12, kRgba8, K::kMono12},
        {6, kYuv, kRgb8, K::kYuv422},
        {4, kMono8, kMono8, K::kMono8Scalar},
        {4, kBayer8, 0x01080008u, K::kRaw8ToRaw8},
        {4, kBayer8, 0x01100010u, K::kRaw8ToRaw16},
        {4, kBayer8, kRgb8, K::kBayer8Scalar},
        {4, kBayer12, 0x01100010u, K::kRaw16ToRaw16},
        {4, kBayer12, 0x01080008u, K::kRaw16ToRaw8},
        {4, kBayer12, kRgb8, K::kBayer16Scalar},
        {4, kMono12, kMono8, K::kMono12Scalar},
        {4, kMono12, kMono16Out, K::kMono12Scalar},
        {4, kYuv, kRgb8, K::kNone},
        {6, 0x01080001u, kMono8, K::kNone},
        {6, 0x010C0004u, kMono8, K::kNone},
        {6, 0u, kMono8, K::kNone},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "level " << r.level << " input " << std::hex << r.input
                                          << " out " << r.out);
        EXPECT_EQ(CameraISP::SelectKernel(r.level, r.input, r.out), r.kernel);
    }
}

// The probe tells the kernel families apart: one sample 30 above a flat field of 20, dead-pixel
// correction on. The scalar kernels replace a sample whose four differences reach 30; the
// vector kernels only from 31 on, so there the sample stays.
constexpr int kFlat = 20;
constexpr int kProbe = 50;
constexpr int kProbeX = 12;  // inside the blocks the vector correction tests
constexpr int kProbeY = 4;
constexpr int kW = 32;
constexpr int kH = 8;

class CameraIspFrames : public CameraIspTest {
  protected:
    int Run(int level, uint32_t input, uint32_t outFormat, Frame& f, Output& o) {
        CameraSettings s = NeutralSettings();
        s.correctDeadPixel = 1;
        s.ispOutFormat = outFormat;
        Load(s, input, level);
        f.Fill(kFlat);
        f.Set(kProbeX, kProbeY, kProbe);
        return Process(isp, f, o);
    }
};

TEST_F(CameraIspFrames, EachAcceptedCombinationRunsItsKernel) {
    struct Row {
        int level;
        uint32_t input;
        uint32_t out;
        int bytesPerPixel;
        int probeOut;  // the probe pixel's first output value
        bool vector;
        int demosaicKind;  // noted by the vector mono kernels and by every colour kernel
    };
    const Row rows[] = {
        {6, kMono8, kMono8, 1, kProbe, true, 3},
        {5, kMono8, kBgr8, 3, kProbe, true, 3},
        {6, kMono8, kRgba8, 4, kProbe, true, 3},
        {4, kMono8, kMono8, 1, kFlat, false, 4},
        {4, kMono8, kBgra8, 4, kFlat, false, 4},
        // 12-bit samples: byte outputs carry value >> 4 (50 >> 4 = 3, 20 >> 4 = 1).
        {6, kMono12, kMono8, 1, kProbe >> 4, true, 3},
        {6, kMono12, kMono16Out, 2, kFlat, false, 4},  // 16-bit grey: scalar even at level 6
        {4, kMono12, kMono8, 1, kFlat >> 4, false, 4},
        {4, kMono12, kMono16Out, 2, kFlat, false, 4},
        // Bayer frames of a mono camera: every pixel its own sample.
        {6, kBayer8, kMono8, 1, kProbe, true, 3},
        {6, kBayer8, kRgb8, 3, kProbe, true, 3},
        {4, kBayer8, kBgra8, 4, kFlat, false, 3},
        {6, kBayer12, kBgr8, 3, kProbe >> 4, true, 3},
        {4, kBayer12, kMono8, 1, kFlat >> 4, false, 3},
        // Processed raw output at every level: no dead-pixel correction; 8-bit values << 4 in
        // 16-bit words, 12-bit values >> 4 in bytes.
        {6, kBayer8, 0x01080008u, 1, kProbe, true, 3},
        {4, kBayer8, 0x01100010u, 2, kProbe << 4, false, 3},
        {6, kBayer12, 0x01100010u, 2, kProbe, true, 3},
        {4, kBayer12, 0x01080008u, 1, kProbe >> 4, false, 3},
        // Packed YUV (the probe's bytes are U 50, Y0 0): converted at level 5 and above, and
        // the demosaic kind is left alone.
        {6, kYuv, kMono8, 1, 0, true, 4},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "level " << r.level << " input " << std::hex << r.input
                                          << " out " << r.out);
        Frame f(r.input, kW, kH);
        Output o(f);
        ASSERT_EQ(Run(r.level, r.input, r.out, f, o), 0);
        EXPECT_EQ(o.info.uiMediaType, r.out);
        EXPECT_EQ(o.info.TotalBytes, static_cast<UINT>(kW * kH * r.bytesPerPixel));
        const size_t probe = static_cast<size_t>(kProbeY) * kW + kProbeX;
        const int value = r.bytesPerPixel == 2 ? o.Word(probe) : o.Byte(probe * r.bytesPerPixel);
        EXPECT_EQ(value, r.probeOut);
        if (r.bytesPerPixel == 4) {
            EXPECT_EQ(o.Byte(probe * 4 + 3), 255);
        }
        EXPECT_EQ(isp.GetActiveSettings().demosaicKind, r.demosaicKind);
    }
}

TEST_F(CameraIspFrames, RefusedFramesWriteNothingAndReturnTheirStatus) {
    struct Row {
        const char* why;
        int level;
        uint32_t input;
        uint32_t out;
        int status;
    };
    const Row rows[] = {
        {"YUV below level 5", 4, kYuv, kRgb8, CAMERA_STATUS_NOT_SUPPORTED},
        {"YUV to a Bayer layout", 6, kYuv, 0x01080008u, CAMERA_STATUS_NOT_SUPPORTED},
        {"unknown input", 6, 0x01080001u, kMono8, CAMERA_STATUS_NOT_SUPPORTED},
        // Bayer orders other than GRBG never reach the colour kernels.
        {"Bayer RGGB8", 6, 0x01080009u, kBgr8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer GBRG8", 6, 0x0108000Au, kRgb8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer BGGR8", 4, 0x0108000Bu, kMono8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer RGGB12", 6, 0x01100011u, kBgra8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer GBRG12", 4, 0x01100012u, kRgba8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer BGGR12", 6, 0x01100013u, kBgr8, CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer GRBG10", 6, 0x0110000Cu, kBgr8, CAMERA_STATUS_NOT_SUPPORTED},
        // Accepted inputs whose kernel cannot write the output format.
        {"2-byte grey from 8-bit input", 6, kMono8, kMono16Out, CAMERA_STATUS_NOT_SUPPORTED},
        {"2-byte grey from 8-bit input, scalar", 4, kMono8, kMono16Out,
         CAMERA_STATUS_NOT_SUPPORTED},
        {"Bayer layout from mono input", 6, kMono8, 0x01080008u, CAMERA_STATUS_NOT_SUPPORTED},
        {"2-byte Bayer layout from 12-bit mono", 6, kMono12, 0x01100010u,
         CAMERA_STATUS_NOT_SUPPORTED},
        {"40-bit pixels", 6, kMono8, 0x01280000u, CAMERA_STATUS_NOT_SUPPORTED},
        {"3 bytes without a colour order", 4, kMono12, 0x02180000u, CAMERA_STATUS_NOT_SUPPORTED},
        {"2-byte grey from Bayer input", 6, kBayer8, kMono16Out, CAMERA_STATUS_NOT_SUPPORTED},
        {"2-byte grey from 12-bit Bayer input, scalar", 4, kBayer12, kMono16Out,
         CAMERA_STATUS_NOT_SUPPORTED},
        {"4 bytes without a colour order", 6, kBayer12, 0x02200000u, CAMERA_STATUS_NOT_SUPPORTED},
        {"1 byte with a colour order", 4, kBayer8, 0x01080014u, CAMERA_STATUS_NOT_SUPPORTED},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.why);
        Frame f(r.input, kW, kH);
        Output o(f);
        EXPECT_EQ(Run(r.level, r.input, r.out, f, o), r.status);
        EXPECT_TRUE(o.Untouched());
        // The dead-pixel correction never ran either.
        Frame reference(r.input, kW, kH);
        reference.Fill(kFlat);
        reference.Set(kProbeX, kProbeY, kProbe);
        EXPECT_EQ(f.raw, reference.raw);
    }
}

TEST_F(CameraIspFrames, BadFrameRecordsAreRefusedWithTheirStatus) {
    Frame f(kMono8, kW, kH);
    Output o(f);
    ASSERT_EQ(Run(6, kMono8, kMono8, f, o), 0);

    Output fresh(f);
    EXPECT_EQ(
        isp.ProcessFrame(nullptr, f.raw.data(), &fresh.info, fresh.data.data(), 100, 100, 100),
        CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.ProcessFrame(&f.info, nullptr, &fresh.info, fresh.data.data(), 100, 100, 100),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.ProcessFrame(&f.info, f.raw.data(), &fresh.info, nullptr, 100, 100, 100),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(isp.ProcessFrame(&f.info, f.raw.data(), nullptr, fresh.data.data(), 100, 100, 100),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(fresh.Untouched());

    Frame shortFrame = f;
    shortFrame.info.TotalBytes = kW * kH - 1;
    EXPECT_EQ(Process(isp, shortFrame, fresh), CAMERA_STATUS_DATA_INVALID);
    Frame empty = f;
    empty.info.iWidth = 0;
    EXPECT_EQ(Process(isp, empty, fresh), CAMERA_STATUS_DATA_INVALID);
    EXPECT_TRUE(fresh.Untouched());
}

TEST_F(CameraIspTest, TheStatisticsReachTheContrastOfTheNextFrame) {
    // Contrast 100 doubles the distance to the pivot (k = 100 x 2 / 100). The vector kernel
    // pivots its inner rows on the red mean, and its first and last rows on the green pivot
    // (first green + second green) / 2.
    CameraSettings s = NeutralSettings();
    s.contrast = 100;
    Load(s);
    ASSERT_EQ(isp.SetFrameStatistics(100, 40, 60, 0), 0);
    Frame f(kMono8, 16, 4);
    f.Fill(60);
    Output o(f);
    ASSERT_EQ(Process(isp, f, o), 0);
    EXPECT_EQ(o.Byte(1 * 16 + 5), 100 + (60 - 100) * 2);  // inner row: 20
    EXPECT_EQ(o.Byte(0 * 16 + 5), 50 + (60 - 50) * 2);    // first row: 70
}

}  // namespace
