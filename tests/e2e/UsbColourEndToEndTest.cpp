// A colour USB camera end to end: the simulated colour IMX290 sees a grey scene under a colour
// cast; automatic white balance, driven only through the exported functions, cancels the cast
// in the processed frames.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "UsbEndToEndFixture.h"

namespace {

using e2etest::UsbEndToEnd;

// Red over green and blue over green of a BGR8 frame's mean colour.
std::pair<double, double> CastOf(const BYTE* bgr, const stImageInfo& info) {
    double sum[3] = {0, 0, 0};
    const size_t pixels = size_t{info.iWidth} * info.iHeight;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += bgr[3 * i + c];
    return {sum[2] / sum[1], sum[0] / sum[1]};
}

bool Neutral(const std::pair<double, double>& cast) {
    return std::abs(cast.first - 1.0) <= 0.04 && std::abs(cast.second - 1.0) <= 0.04;
}

TEST_F(UsbEndToEnd, AutomaticWhiteBalanceCancelsAColourCast) {
    ASSERT_TRUE(
        qvsim::UseResolution(CSimUsbImx290Camera::kColourProductName, qvsim::PresetResolution(8)));
    SimImx290Options options = SimImx290Options::Colour(1.4, 1.0, 0.7);
    options.serial = "E2E-COLOUR";
    options.port = {1, 30};
    options.fps = 0;
    m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, options));
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(CameraSetIspOutFormat(h, CAMERA_MEDIA_TYPE_BGR8), 0);
    ASSERT_EQ(CameraSetWbMode(h, 1), 0);
    ASSERT_EQ(CameraPlay(h), 0);

    std::vector<std::pair<double, double>> casts;
    for (int i = 0; i < 24; ++i) {
        stImageInfo info{};
        const BYTE* frame = CameraGetImageBufferEx(h, &info, 5000);
        ASSERT_NE(frame, nullptr) << "frame " << i;
        ASSERT_EQ(info.uiMediaType, CAMERA_MEDIA_TYPE_BGR8);
        ASSERT_EQ(info.TotalBytes, info.iWidth * info.iHeight * 3);
        casts.push_back(CastOf(frame, info));
    }
    // The cast shows before the first measurement ...
    EXPECT_GT(casts[0].first, 1.3);
    EXPECT_LT(casts[0].second, 0.8);
    // ... and is gone within the 24 frames, for good.
    ::testing::Message trail;
    for (size_t i = 0; i < casts.size(); ++i)
        trail << "\nframe " << i << ": red/green " << casts[i].first << ", blue/green "
              << casts[i].second;
    size_t neutralFrom = casts.size();
    for (size_t i = casts.size(); i-- > 0;) {
        if (!Neutral(casts[i])) break;
        neutralFrom = i;
    }
    EXPECT_LT(neutralFrom, casts.size()) << trail;
    EXPECT_GT(neutralFrom, 0u) << trail;
    // The gains the camera runs with: red and blue scaled against green.
    uint16_t red = 0, green = 0, blue = 0;
    ASSERT_EQ(CameraGetGain(h, &red, &green, &blue), 0);
    EXPECT_NEAR(red, 71, 2);
    EXPECT_EQ(green, 100);
    EXPECT_NEAR(blue, 143, 3);
    UnInit(h);
}

}  // namespace
