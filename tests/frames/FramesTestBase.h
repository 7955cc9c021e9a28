// A controller opened on the camera double with a parameter group chosen by the test, and
// frames of any size and format pushed through the device's stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ControllerTestBase.h"

namespace framestest {

// The byte at (row, column) of the test pattern: every row and column differs, so a pixel
// from the wrong place shows.
inline uint8_t Pattern(uint32_t row, uint32_t column) {
    return static_cast<uint8_t>(row * 7 + column * 3);
}

// One raw frame as the transport hands it over.
struct RawFrame {
    uint32_t width = ctltest::kWidth;
    uint32_t height = ctltest::kHeight;
    uint32_t mediaType = CAMERA_MEDIA_TYPE_MONO8;
    uint32_t frameNo = 0;
    uint64_t timestamp = 0;
    double expTime = 10000.0;
    double expLineTime = 12.5;
    uint32_t gain = 1000;
    // Sample value at (row, column); 12- and 16-bit formats store it in 16-bit words.
    std::function<uint16_t(uint32_t, uint32_t)> sample = Pattern;

    stImageInfo Info() const;
    std::vector<uint8_t> Bytes() const;
};

// A camera whose sensor reports its current output as 640 x 480 mono, 20 ms at gain 2500 with
// lines of 15.5 us.
class HeadCamera : public ctltest::CTestCamera {
  public:
    explicit HeadCamera(const char* sn = "SN0001") : CTestCamera(sn) {}
    int GetImageInfo(stImageInfo* info) override;
};

class FramesTest : public ctltest::ControllerTest {
  public:
    // A controller on camera with the base record (dead-pixel correction off, mono output), as
    // edit changes it, loaded as group 0.
    CameraControl* OpenWith(const std::shared_ptr<ctltest::CTestCamera>& camera,
                            const std::function<void(CameraParameter&)>& edit = nullptr);
    static int Push(ctltest::CTestCamera& camera, const RawFrame& frame);
    // Holds as many frames at once as the pool has buffers (then gives them back): this works
    // only when every frame taken before was given back.
    static void ExpectAllBuffersFree(ctltest::CTestCamera& camera, CameraControl* control);
};

}  // namespace framestest
