// Colour frames through the controller: a Bayer GRBG8 or GRBG12 frame of a colour camera comes
// out of the Ex family and CameraGetOutImageBuffer in each of the five output formats, processed
// with the camera's colour matrix, saturation, white-balance gains, sharpness, lookup table,
// mirror and dead-pixel correction, exactly as the colour model says.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ColourReference.h"
#include "FramesTestBase.h"
#include "LutTables.h"
#include "QVCameraApi.h"

namespace {

using ctltest::CTestCamera;
using framestest::FramesTest;
using framestest::RawFrame;

using ColourFrames = FramesTest;

constexpr uint32_t kW = ctltest::kWidth;
constexpr uint32_t kH = ctltest::kHeight;
constexpr int kMatrix[9] = {300, -30, -14, -40, 320, -24, -10, -50, 316};
constexpr uint32_t kGains[3] = {140, 100, 90};

// A scene of colour patches with a hot pixel, in GRBG order; 12-bit samples carry the value
// in their top 8 bits plus low bits of their own.
uint16_t Scene(uint32_t r, uint32_t c, bool twelveBit) {
    const uint32_t patch = (c / 16 + r / 12) % 3;
    const int rgb[3][3] = {{180, 90, 40}, {60, 160, 200}, {120, 120, 120}};
    const int site = r % 2 == 0 ? (c % 2 == 0 ? 1 : 0) : (c % 2 == 0 ? 2 : 1);
    int v = rgb[patch][site] + static_cast<int>((r * 13 + c * 7) % 9);
    if (r == 20 && c == 30) v = 250;
    return static_cast<uint16_t>(twelveBit ? v * 16 + (c % 16) : v);
}

colourref::Settings Model(uint32_t format, int sampleBytes) {
    colourref::Settings s;
    s.sharpness = 10;
    s.saturation = 140;
    s.mirrorV = true;
    s.deadPixel = true;
    s.bytesPerPixel = static_cast<int>(CAMERA_MEDIA_TYPE_BITS(format) / 8);
    s.rgbOrder = (format & 0xFF) == 0x14;
    std::copy(kMatrix, kMatrix + 9, s.matrix);
    std::copy(kGains, kGains + 3, s.gains);
    s.tableOn = true;
    std::vector<uint16_t> curve(4096);
    qv::isp::CLutTables::BuildGammaContrastLut(curve.data(), 70, 100);
    const uint32_t n = sampleBytes == 2 ? 4096 : 256;
    for (auto& t : s.tables) {
        t.resize(n);
        qv::isp::CLutTables::BuildChannelTable(curve.data(), t.data(), n);
    }
    return s;
}

TEST_F(ColourFrames, EveryOutputFormatOfBothInputsMatchesTheModel) {
    const uint32_t formats[] = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_RGB8,
                                CAMERA_MEDIA_TYPE_BGR8, CAMERA_MEDIA_TYPE_RGBA8,
                                CAMERA_MEDIA_TYPE_BGRA8};
    for (uint32_t input : {0x01080008u, 0x01100010u})
        for (uint32_t format : formats) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << "input " << input << " out " << format);
            ctltest::ScopedHome home;
            auto camera = std::make_shared<CTestCamera>();
            CameraControl* control = OpenWith(camera, [&](CameraParameter& r) {
                CameraSettings& s = r.settings;
                s.ispOutFormat = format;
                std::copy(kMatrix, kMatrix + 9, s.colorMatrix);
                std::copy(kGains, kGains + 3, s.rgbGain);
                s.saturation = 140;
                s.sharpness = 10;
                s.gamma = 70;
                s.mirrorV = 1;
                s.correctDeadPixel = 1;
            });
            const bool twelveBit = input == 0x01100010u;
            const int sampleBytes = twelveBit ? 2 : 1;
            RawFrame raw;
            raw.mediaType = input;
            raw.sample = [&](uint32_t r, uint32_t c) { return Scene(r, c, twelveBit); };
            colourref::Frame frame{static_cast<int>(kW), static_cast<int>(kH), sampleBytes, {}};
            for (uint32_t r = 0; r < kH; ++r)
                for (uint32_t c = 0; c < kW; ++c) frame.raw.push_back(raw.sample(r, c));
            const std::vector<uint8_t> expected =
                colourref::RunVector(frame, Model(format, sampleBytes));
            const uint32_t bpp = CAMERA_MEDIA_TYPE_BITS(format) / 8;

            // Into the controller's buffer.
            ASSERT_EQ(Push(*camera, raw), 0);
            stImageInfo info{};
            const BYTE* out = control->CameraGetImageBufferEx(&info, 1000);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(info.uiMediaType, format);
            EXPECT_EQ(info.TotalBytes, kW * kH * bpp);
            EXPECT_EQ(std::vector<uint8_t>(out, out + expected.size()), expected);

            // Into the caller's buffer.
            ASSERT_EQ(Push(*camera, raw), 0);
            std::vector<BYTE> mine(kW * kH * bpp, 0);
            ASSERT_EQ(control->CameraGetImageBufferEx2(mine.data(), &info, nullptr, 1000), 0);
            EXPECT_EQ(mine, expected);

            // The host's raw frame: corrected in place by the dead-pixel correction.
            std::vector<uint8_t> bytes = raw.Bytes();
            stImageInfo head = raw.Info();
            std::fill(mine.begin(), mine.end(), 0);
            ASSERT_EQ(control->CameraGetOutImageBuffer(&head, bytes.data(), mine.data()), 0);
            EXPECT_EQ(mine, expected);
            EXPECT_EQ(head.uiMediaType, format);
            std::vector<int> after(kW * kH);
            for (size_t i = 0; i < after.size(); ++i) {
                uint16_t v = 0;
                std::memcpy(&v, &bytes[i * sampleBytes], sampleBytes);
                after[i] = v;
            }
            EXPECT_EQ(after, frame.raw);
            m_controls.clear();
        }
}

// Lens shading through the exports: the record reaches the pipeline as the host gave it.
TEST_F(ColourFrames, LensShadingThroughTheExports) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    std::vector<uint8_t> image(64 * 48, 100);
    image[24 * 64 + 32] = 200;  // the centre: every other node gets gain 2
    std::vector<uint8_t> table(3 * 3 * 2 + 64, 0);
    tSdkLscCalibParam calib{};
    calib.uWidth = 64;
    calib.uHeight = 48;
    calib.uMediaType = CAMERA_MEDIA_TYPE_MONO;
    calib.pImage = image.data();
    calib.uImageSize = 64 * 48;
    calib.pTable = table.data();
    calib.uTableCapacity = static_cast<UINT>(table.size());
    calib.uGridColumns = calib.uGridRows = 2;
    calib.uWindowSize = 1;
    ASSERT_EQ(CameraLscCalib(control, &calib), 0);
    EXPECT_EQ(calib.uTableSize, table.size());
    std::vector<uint8_t> out(image.size(), 0);
    tSdkLscCorrectParam correct{};
    correct.uWidth = 64;
    correct.uHeight = 48;
    correct.uMediaType = CAMERA_MEDIA_TYPE_MONO8;
    correct.pInput = image.data();
    correct.uInputSize = 64 * 48;
    correct.pOutput = out.data();
    correct.uOutputCapacity = 64 * 48;
    correct.pTable = table.data();
    correct.uTableSize = calib.uTableSize;
    ASSERT_EQ(CameraLscCorrect(control, &correct), 0);
    EXPECT_EQ(out[0], 200);
    EXPECT_EQ(CameraLscCalib(nullptr, &calib), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraLscCorrect(nullptr, &correct), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraLscCalib(control, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraLscCorrect(control, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

}  // namespace
