// qv_demo: a USB camera captured through the SDK's exported functions, for a few seconds. The
// camera is the simulated mono IMX290 camera behind the real libusb (umockdev emulates its
// device node; the program re-executes itself under umockdev's preload, and inside a private
// network namespace, on its own). It enumerates, opens and plays the camera, takes raw frames
// and has each one processed into mono 8-bit, then prints the frame rate, the frames lost (gaps
// in the camera's frame numbers) and the frame size, and saves the last frame as BMP and PNG
// files through CameraSaveImage; with --record it also records every processed frame into an
// AVI file. With --ae the camera shows a scene that it renders with the exposure and gain the
// SDK programmed into its sensor; the capture starts 5 times too dark with auto exposure on, and
// the brightness of every processed frame is printed as it approaches the target. With --colour
// the camera is the simulated colour IMX290 looking at a grey scene under a reddish cast,
// processed into BGR8, and the program prints the mean colour of the first and the last frame;
// --awb turns automatic white balance on, which cancels the cast.
//
//   qv_demo [--seconds S] [--fps F] [--out NAME] [--record FILE.avi] [--ae TARGET]
//           [--colour [--awb]]
//     S  capture time (default 3); F  the camera's frame rate (default 30, 0: as fast as read);
//     NAME  the saved frame's path without extension (default qv-demo-frame: qv-demo-frame.bmp
//     and qv-demo-frame.png); FILE.avi  the recording (none by default); TARGET  the
//     auto-exposure target, 1 to 255
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVCameraApi.h"
#include "SimUsbImx290Camera.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double seconds = 3;
    double fps = 30;
    std::string out = "qv-demo-frame";
    std::string record;  // empty: no recording
    int aeTarget = 0;    // 0: auto exposure stays off
    bool colour = false;
    bool awb = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--colour" || a == "--awb") {
            (a == "--colour" ? o.colour : o.awb) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        if (a == "--seconds") {
            o.seconds = std::atof(argv[++i]);
        } else if (a == "--fps") {
            o.fps = std::atof(argv[++i]);
        } else if (a == "--out") {
            o.out = argv[++i];
        } else if (a == "--record") {
            o.record = argv[++i];
        } else if (a == "--ae") {
            o.aeTarget = std::atoi(argv[++i]);
            if (o.aeTarget < 1 || o.aeTarget > 255) return false;
        } else {
            return false;
        }
    }
    // The auto-exposure scene is the mono camera's.
    return o.seconds > 0 && o.fps >= 0 && (o.colour || !o.awb) && !(o.colour && o.aeTarget > 0);
}

// The mean red, green and blue of a BGR8 frame.
void PrintMeanColour(const char* which, const std::vector<uint8_t>& bgr, const stImageInfo& info) {
    double sum[3] = {0, 0, 0};
    const size_t pixels = size_t{info.iWidth} * info.iHeight;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += bgr[3 * i + c];
    std::printf(
        "%s frame: mean red %.1f, green %.1f, blue %.1f (red/green %.3f, blue/green %.3f)\n", which,
        sum[2] / pixels, sum[1] / pixels, sum[0] / pixels, sum[2] / sum[1], sum[0] / sum[1]);
}

double MeanOf(const uint8_t* data, const stImageInfo& frame) {
    const size_t n = size_t{frame.iWidth} * frame.iHeight;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += data[i];
    return n > 0 ? sum / static_cast<double>(n) : 0;
}

// The scene reaches the target at a 20 ms exposure with unity gain; the capture starts at 4 ms,
// 5 times too dark, with auto exposure on. The camera runs at its 320 x 240 crop (preset 8):
// the emulated USB link keeps up with full frames only at a lower frame rate, and then the
// exposure requests of auto exposure wait behind the stream.
int StartDark(HANDLE h, CSimUsbImx290Camera& sim, int target) {
    int r = CameraSetResolution(h, 8);
    if (r != 0) return r;
    double lineTime = 0;
    r = CameraGetExposureLineTime(h, &lineTime);
    if (r != 0 || lineTime <= 0) return r != 0 ? r : -1;
    sim.SetScene(target / (20000.0 / lineTime));
    if ((r = CameraSetAnalogGain(h, 1000)) != 0 || (r = CameraSetExposureTime(h, 4000)) != 0 ||
        (r = CameraSetAeTarget(h, static_cast<USHORT>(target))) != 0)
        return r;
    std::printf("auto exposure: target %d, starting at 4000 us\n", target);
    return CameraSetAeState(h, 1);
}

int Fail(const char* what, int status) {
    std::fprintf(stderr, "qv_demo: %s failed: %d\n", what, status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: qv_demo [--seconds S] [--fps F] [--out NAME] [--record FILE.avi] "
                     "[--ae TARGET] [--colour [--awb]]\n");
        return 2;
    }
    // The simulated camera is plugged in before the SDK's first call starts libusb.
    CSimUsbTestbed testbed;
    if (!CSimUsbTestbed::PreloadActive()) {
        std::fprintf(stderr, "qv_demo: not running under the umockdev preload\n");
        return 1;
    }
    // The colour camera's scene: grey under a reddish cast (red 1.4, green 1.0, blue 0.7).
    SimImx290Options camera =
        options.colour ? SimImx290Options::Colour(1.4, 1.0, 0.7) : SimImx290Options{};
    camera.serial = options.colour ? "QV-DEMO-C001" : "QV-DEMO-0001";
    camera.port = {1, 4};
    camera.fps = options.fps;
    camera.scene = options.aeTarget > 0 ? 1 : 0;  // set once the sensor's line time is known
    auto sim = std::make_unique<CSimUsbImx290Camera>(testbed, camera);

    int count = 0;
    int r = CameraEnumerateDevice(&count);
    if (r != 0) return Fail("CameraEnumerateDevice", r);
    tDevInfo info{};
    if ((r = CameraGetEnumIndexInfo(0, &info)) != 0) return Fail("CameraGetEnumIndexInfo", r);
    std::printf("camera: %s, serial %s, %s, %s\n", info.acProductName, info.acSn, info.acPortType,
                info.acSymbolicName);

    HANDLE h = nullptr;
    if ((r = CameraInit(&h, 0)) != 0) return Fail("CameraInit", r);
    if (options.aeTarget > 0 && (r = StartDark(h, *sim, options.aeTarget)) != 0)
        return Fail("auto exposure set-up", r);
    // The recording's frame rate is the camera's (a camera read as fast as it goes: 30).
    const int recordFps = options.fps >= 1 ? static_cast<int>(options.fps + 0.5) : 30;
    if (!options.record.empty() &&
        (r = CameraStartRecord(h, options.record.c_str(), 0, 0, recordFps)) != 0)
        return Fail("CameraStartRecord", r);
    if (options.colour && (r = CameraSetIspOutFormat(h, CAMERA_MEDIA_TYPE_BGR8)) != 0)
        return Fail("CameraSetIspOutFormat", r);
    if (options.colour && (r = CameraSetWbMode(h, options.awb ? 1 : 0)) != 0)
        return Fail("CameraSetWbMode", r);
    if ((r = CameraPlay(h)) != 0) return Fail("CameraPlay", r);

    std::vector<uint8_t> out;
    stImageInfo last{};
    uint64_t frames = 0, lost = 0, firstNo = 0, lastNo = 0, recorded = 0;
    int recordError = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(options.seconds);
    auto firstAt = start, lastAt = start;
    while (Clock::now() < end) {
        CameraFrameHandle raw = nullptr;
        if (CameraGetRawImageBuffer(h, &raw, 1000) != 0) continue;
        uint64_t no = 0;
        CameraGetImageFrameNo(h, raw, &no);
        stImageInfo frame{};
        BYTE* data = CameraGetImageInfo(h, raw, &frame);
        out.resize(size_t{frame.iWidth} * frame.iHeight * 4);
        if (data != nullptr && CameraGetOutImageBuffer(h, &frame, data, out.data()) == 0) {
            if (frames == 0) {
                firstNo = no;
                firstAt = Clock::now();
                if (options.colour) PrintMeanColour("first", out, frame);
            } else if (no > lastNo + 1) {
                lost += no - lastNo - 1;
            }
            lastNo = no;
            lastAt = Clock::now();
            if (options.aeTarget > 0) {
                double exposure = 0;
                int gain = 0;
                CameraGetExposureTime(h, &exposure);
                CameraGetAnalogGain(h, &gain);
                std::printf("frame %llu: brightness %.1f (exposure %.0f us, gain %.2f)\n",
                            static_cast<unsigned long long>(no), MeanOf(out.data(), frame),
                            exposure, gain / 1000.0);
            }
            last = frame;
            ++frames;
            if (!options.record.empty() && recordError == 0) {
                recordError = CameraPushOneFrame(h, out.data(), &frame);
                if (recordError == 0) ++recorded;
            }
        }
        CameraReleaseFrameHandle(h, raw);
    }
    CameraPause(h);
    const int stopped = options.record.empty() ? 0 : CameraStopRecord(h);

    if (frames == 0) {
        CameraUnInit(h);
        std::fprintf(stderr, "qv_demo: no frame within %.1f s\n", options.seconds);
        return 1;
    }
    const double span = std::chrono::duration<double>(lastAt - firstAt).count();
    std::printf("frames: %llu in %.2f s, %.1f frames/s\n", static_cast<unsigned long long>(frames),
                std::chrono::duration<double>(lastAt - start).count(),
                frames > 1 && span > 0 ? static_cast<double>(frames - 1) / span : 0.0);
    std::printf("lost frames: %llu (camera frame numbers %llu to %llu)\n",
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(firstNo),
                static_cast<unsigned long long>(lastNo));
    std::printf("frame size: %u x %u, %u bytes, %s (media type 0x%08X)\n", last.iWidth,
                last.iHeight, last.TotalBytes, options.colour ? "BGR8" : "mono 8-bit",
                last.uiMediaType);
    if (options.colour) {
        PrintMeanColour("last", out, last);
        uint16_t red = 0, green = 0, blue = 0;
        CameraGetGain(h, &red, &green, &blue);
        std::printf("white-balance gains: red %u %%, green %u %%, blue %u %% (automatic: %s)\n",
                    red, green, blue, options.awb ? "on" : "off");
    }
    const int bmp = CameraSaveImage(h, options.out.c_str(), out.data(), &last, 2, 0);
    const int png = CameraSaveImage(h, options.out.c_str(), out.data(), &last, 8, 0);
    if (bmp == 0 && png == 0)
        std::printf("last frame written to %s.bmp and %s.png\n", options.out.c_str(),
                    options.out.c_str());
    if (!options.record.empty() && recordError == 0 && stopped == 0)
        std::printf("recorded %llu frames at %d frames/s to %s\n",
                    static_cast<unsigned long long>(recorded), recordFps, options.record.c_str());
    r = CameraUnInit(h);
    // The manager's list still holds the camera open: empty it before the device goes.
    CameraEnumerateDeviceEx(&count, 0);
    sim.reset();
    if (bmp != 0) return Fail("CameraSaveImage (BMP)", bmp);
    if (png != 0) return Fail("CameraSaveImage (PNG)", png);
    if (recordError != 0) return Fail("CameraPushOneFrame", recordError);
    if (stopped != 0) return Fail("CameraStopRecord", stopped);
    return r == 0 ? 0 : Fail("CameraUnInit", r);
}
