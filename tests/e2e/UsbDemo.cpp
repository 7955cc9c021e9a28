// qv_demo: a USB camera captured through the SDK's exported functions, for a few seconds. The
// camera is the simulated mono IMX290 camera behind the real libusb (umockdev emulates its
// device node; the program re-executes itself under umockdev's preload, and inside a private
// network namespace, on its own). It enumerates, opens and plays the camera, printing each step
// with the time since the start, takes raw frames and has each one processed into mono 8-bit.
// Then it prints the frame rate received beside the rate the camera is programmed with, the
// frames the camera sent against the frames received (gaps in the camera's frame numbers), the
// time the USB emulation took per frame and the frame size, and saves the last frame as BMP and
// PNG files through CameraSaveImage; with --record it also records every processed frame into an
// AVI file. With --ae the camera shows a scene that it renders with the exposure and gain the
// SDK programmed into its sensor; the capture starts 5 times too dark with auto exposure on, and
// the brightness of every processed frame is printed as it approaches the target. With --colour
// the camera is the simulated colour IMX290 looking at a grey scene under a reddish cast,
// processed into BGR8, and the program prints the mean colour of the first and the last frame;
// --awb turns automatic white balance on, which cancels the cast.
//
// The camera runs at 1280 x 720 unless --full asks for its whole 1920 x 1080 frame. umockdev
// copies each bulk transfer into a buffer it allocates for that transfer; above about 1.4 MB
// glibc hands those buffers back to the kernel after each transfer, and faulting the pages in
// again makes a 2 MB transfer take 40 to 70 ms instead of about 5 ms. The emulated link then
// carries full frames at only 10 to 30 frames/s (less on a busy machine), below the programmed
// 30; CameraPlay and CameraPause take seconds as well, as their control transfers wait for
// libusb's event handling, which is busy with the bulk transfers.
//
//   qv_demo [--seconds S] [--fps F] [--full] [--out DIR] [--record FILE.avi] [--ae TARGET]
//           [--colour [--awb]]
//     S  capture time (default 3); F  the camera's frame rate (default 30, 0: as fast as read);
//     DIR  where qv-demo-frame.bmp and qv-demo-frame.png go (default: demo-output in the build
//     folder); FILE.avi  the recording (none by default; a relative name goes into DIR);
//     TARGET  the auto-exposure target, 1 to 255 (the camera then runs at its 320 x 240 crop)
#include <cstdarg>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "QVCameraApi.h"
#include "SimUsbDevice.h"
#include "SimUsbImx290Camera.h"

namespace {

using Clock = std::chrono::steady_clock;

// Below the size at which the emulated link slows down, and a preset every IMX290 board with
// the crop modes offers.
constexpr int kDefaultPreset = 4;  // "1280X720"

struct Options {
    double seconds = 3;
    double fps = 30;
    bool full = false;
    std::string outDir = QV_DEMO_OUTPUT_DIR;
    std::string record;  // empty: no recording
    int aeTarget = 0;    // 0: auto exposure stays off
    bool colour = false;
    bool awb = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--colour" || a == "--awb" || a == "--full") {
            (a == "--colour" ? o.colour : a == "--awb" ? o.awb : o.full) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        if (a == "--seconds") {
            o.seconds = std::atof(argv[++i]);
        } else if (a == "--fps") {
            o.fps = std::atof(argv[++i]);
        } else if (a == "--out") {
            o.outDir = argv[++i];
        } else if (a == "--record") {
            o.record = argv[++i];
        } else if (a == "--ae") {
            o.aeTarget = std::atoi(argv[++i]);
            if (o.aeTarget < 1 || o.aeTarget > 255) return false;
        } else {
            return false;
        }
    }
    // The auto-exposure scene is the mono camera's, at its crop.
    return o.seconds > 0 && o.fps >= 0 && !o.outDir.empty() && (o.colour || !o.awb) &&
           !(o.colour && o.aeTarget > 0) && !(o.full && o.aeTarget > 0);
}

const Clock::time_point g_start = Clock::now();

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A progress line: the time since the program started, then the text.
__attribute__((format(printf, 1, 2))) void Say(const char* format, ...) {
    std::printf("[%5.1f s] ", Since(g_start));
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
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

// What the capture saw, for the summary.
struct Capture {
    uint64_t frames = 0;   // received and processed
    uint64_t firstNo = 0;  // the camera's numbers of the first and the last frame received
    uint64_t lastNo = 0;
    Clock::time_point firstAt{}, lastAt{};
    double waitSeconds = 0;  // in CameraGetRawImageBuffer
    double workSeconds = 0;  // processing, recording, releasing
};

// The rates, the frames the camera sent against those received, and where the time went.
void PrintSummary(const Options& o, const Capture& c, int sdkLost, uint64_t playNo,
                  const CSimUsbDevice::Stats& usb, uint64_t usbFrames) {
    const double span = std::chrono::duration<double>(c.lastAt - c.firstAt).count();
    const double rate = span > 0 ? static_cast<double>(c.frames - 1) / span : 0.0;
    const uint64_t sent = c.lastNo - c.firstNo + 1;
    const double sentRate = span > 0 ? static_cast<double>(sent - 1) / span : 0.0;
    if (o.fps > 0)
        std::printf(
            "rate: %.1f frames/s received; the camera is programmed at %.1f frames/s and "
            "sent %.1f\n",
            rate, o.fps, sentRate);
    else
        std::printf(
            "rate: %.1f frames/s received; the camera, sending as fast as it is read, "
            "sent %.1f\n",
            rate, sentRate);
    std::printf("frames: the camera sent %llu during the capture, the program received %llu",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(c.frames));
    if (sent > c.frames)
        std::printf(
            "; of the %llu not received the SDK counted %d lost, the others were "
            "replaced in its frame pool by newer ones before the program asked",
            static_cast<unsigned long long>(sent - c.frames), sdkLost);
    std::printf("\n");
    std::printf(
        "frame numbers: the camera's own, counted from its stream start in CameraPlay: "
        "received %llu to %llu",
        static_cast<unsigned long long>(c.firstNo), static_cast<unsigned long long>(c.lastNo));
    if (c.firstNo == playNo + 1)
        std::printf("; %llu came", static_cast<unsigned long long>(playNo));
    else if (c.firstNo > playNo)
        std::printf("; %llu to %llu came", static_cast<unsigned long long>(playNo),
                    static_cast<unsigned long long>(c.firstNo - 1));
    if (c.firstNo > playNo)
        std::printf(
            " while CameraPlay set the camera up or before the program asked, and were "
            "passed over (the frame pool hands out the newest frame)");
    std::printf("\n");
    const double usbMs = usbFrames > 0 ? 1e3 * usb.bulkSeconds / usbFrames : 0.0;
    std::printf(
        "time per frame: %.1f ms apart; the USB emulation took %.1f ms for its bulk "
        "transfers (%.2f MB a frame, %.0f MB/s); the program waited %.1f ms for it and "
        "processed it in %.1f ms\n",
        rate > 0 ? 1e3 / rate : 0.0, usbMs, usbFrames > 0 ? usb.bulkBytes / 1e6 / usbFrames : 0.0,
        usb.bulkSeconds > 0 ? usb.bulkBytes / usb.bulkSeconds / 1e6 : 0.0,
        1e3 * c.waitSeconds / c.frames, 1e3 * c.workSeconds / c.frames);
    if (o.fps > 0 && sentRate < 0.95 * o.fps) {
        // The simulated camera begins a frame only once the host has read the last one, so a
        // slow link shows as a camera slower than programmed.
        std::printf(
            "the camera sent fewer frames than programmed: the USB emulation is the "
            "limit (%.1f ms of every %.1f ms frame period; CameraPlay and CameraPause "
            "are slow as well, their control transfers wait behind the bulk "
            "transfers)%s\n",
            usbMs, 1e3 / o.fps,
            o.full ? "; without --full the frame is 1280 x 720 and the rate holds" : "");
    } else if (rate < 0.95 * sentRate) {
        std::printf(
            "the program received fewer frames than the camera sent: its own time per "
            "frame is the limit\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Progress lines show as they happen, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: qv_demo [--seconds S] [--fps F] [--full] [--out DIR] "
                     "[--record FILE.avi] [--ae TARGET] [--colour [--awb]]\n"
                     "  (--full does not go with --ae, which runs at the 320 x 240 crop)\n");
        return 2;
    }
    // The simulated camera is plugged in before the SDK's first call starts libusb.
    CSimUsbTestbed testbed;
    if (!CSimUsbTestbed::PreloadActive()) {
        std::fprintf(stderr, "qv_demo: not running under the umockdev preload\n");
        return 1;
    }
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    const std::filesystem::path outDir = std::filesystem::absolute(options.outDir, error);
    const std::string framePath = (outDir / "qv-demo-frame").string();
    const std::string recordPath =
        options.record.empty() ? std::string() : (outDir / options.record).string();

    // The colour camera's scene: grey under a reddish cast (red 1.4, green 1.0, blue 0.7).
    SimImx290Options camera =
        options.colour ? SimImx290Options::Colour(1.4, 1.0, 0.7) : SimImx290Options{};
    camera.serial = options.colour ? "QV-DEMO-C001" : "QV-DEMO-0001";
    camera.port = {1, 4};
    camera.fps = options.fps;
    camera.scene = options.aeTarget > 0 ? 1 : 0;  // set once the sensor's line time is known
    auto sim = std::make_unique<CSimUsbImx290Camera>(testbed, camera);
    Say("simulated %s IMX290 camera plugged in (umockdev); enumerating USB cameras",
        options.colour ? "colour" : "mono");

    int count = 0;
    int r = CameraEnumerateDevice(&count);
    if (r != 0) return Fail("CameraEnumerateDevice", r);
    tDevInfo info{};
    if ((r = CameraGetEnumIndexInfo(0, &info)) != 0) return Fail("CameraGetEnumIndexInfo", r);
    // The first enumeration also waits for the GigE discovery's first scan.
    Say("found %d: %s, serial %s, %s, %s; opening", count, info.acProductName, info.acSn,
        info.acPortType, info.acSymbolicName);

    HANDLE h = nullptr;
    if ((r = CameraInit(&h, 0)) != 0) return Fail("CameraInit", r);
    Say("opened: %s, sensor set up",
        sim->Fpga().Running() ? "FPGA configured" : "FPGA NOT running");
    if (options.aeTarget > 0 && (r = StartDark(h, *sim, options.aeTarget)) != 0)
        return Fail("auto exposure set-up", r);
    if (!options.full && options.aeTarget == 0 && (r = CameraSetResolution(h, kDefaultPreset)) != 0)
        return Fail("CameraSetResolution", r);
    tSdkResolution resolution{};
    if ((r = CameraGetCurResolution(h, &resolution)) != 0) return Fail("CameraGetCurResolution", r);
    if (options.fps > 0)
        Say("camera programmed at %.1f frames/s, %u x %u%s", options.fps, resolution.uWidth,
            resolution.uHeight,
            options.aeTarget > 0 ? " (the auto-exposure scene's crop)"
            : options.full ? " (the emulated USB link carries this size at only 10 to 30 frames/s)"
                           : " (--full: 1920 x 1080, which the emulated USB link carries at "
                             "only 10 to 30 frames/s)");
    else
        Say("camera sending as fast as it is read, %u x %u", resolution.uWidth, resolution.uHeight);
    // The recording's frame rate is the camera's (a camera read as fast as it goes: 30).
    const int recordFps = options.fps >= 1 ? static_cast<int>(options.fps + 0.5) : 30;
    if (!recordPath.empty() && (r = CameraStartRecord(h, recordPath.c_str(), 0, 0, recordFps)) != 0)
        return Fail("CameraStartRecord", r);
    if (options.colour && (r = CameraSetIspOutFormat(h, CAMERA_MEDIA_TYPE_BGR8)) != 0)
        return Fail("CameraSetIspOutFormat", r);
    if (options.colour && (r = CameraSetWbMode(h, options.awb ? 1 : 0)) != 0)
        return Fail("CameraSetWbMode", r);

    tSdkFrameStatistic before{};
    CameraGetFrameStatistic(h, &before);
    const uint64_t playNo = sim->Model().NextFrameNumber();
    const uint64_t sentBefore = sim->Model().FramesCompleted();
    const CSimUsbDevice::Stats usbBefore = sim->Device()->GetStats();
    const auto playAt = Clock::now();
    if ((r = CameraPlay(h)) != 0) return Fail("CameraPlay", r);
    Say("streaming (CameraPlay took %.2f s); capturing for %.1f s", Since(playAt), options.seconds);

    std::vector<uint8_t> out;
    stImageInfo last{};
    Capture c;
    uint64_t recorded = 0;
    int recordError = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(options.seconds);
    auto nextProgress = start + std::chrono::seconds(1);
    while (Clock::now() < end) {
        CameraFrameHandle raw = nullptr;
        const auto asked = Clock::now();
        const int got = CameraGetRawImageBuffer(h, &raw, 1000);
        const auto arrived = Clock::now();
        c.waitSeconds += std::chrono::duration<double>(arrived - asked).count();
        if (got != 0) continue;
        uint64_t no = 0;
        CameraGetImageFrameNo(h, raw, &no);
        stImageInfo frame{};
        BYTE* data = CameraGetImageInfo(h, raw, &frame);
        out.resize(size_t{frame.iWidth} * frame.iHeight * 4);
        if (data != nullptr && CameraGetOutImageBuffer(h, &frame, data, out.data()) == 0) {
            if (c.frames == 0) {
                c.firstNo = no;
                c.firstAt = arrived;
                if (options.colour) PrintMeanColour("first", out, frame);
            }
            c.lastNo = no;
            c.lastAt = arrived;
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
            ++c.frames;
            if (!recordPath.empty() && recordError == 0) {
                recordError = CameraPushOneFrame(h, out.data(), &frame);
                if (recordError == 0) ++recorded;
            }
        }
        CameraReleaseFrameHandle(h, raw);
        c.workSeconds += Since(arrived);
        if (options.aeTarget == 0 && Clock::now() >= nextProgress) {
            Say("%llu frames", static_cast<unsigned long long>(c.frames));
            nextProgress += std::chrono::seconds(1);
        }
    }
    const auto pauseAt = Clock::now();
    CameraPause(h);
    Say("stopped (CameraPause took %.2f s)", Since(pauseAt));
    const uint64_t usbFrames = sim->Model().FramesCompleted() - sentBefore;
    CSimUsbDevice::Stats usb = sim->Device()->GetStats();
    usb.bulkSeconds -= usbBefore.bulkSeconds;
    usb.bulkBytes -= usbBefore.bulkBytes;
    tSdkFrameStatistic after{};
    CameraGetFrameStatistic(h, &after);
    const int stopped = recordPath.empty() ? 0 : CameraStopRecord(h);

    if (c.frames < 2) {
        CameraUnInit(h);
        std::fprintf(stderr, "qv_demo: %s within %.1f s\n",
                     c.frames == 0 ? "no frame" : "a single frame", options.seconds);
        return 1;
    }
    PrintSummary(options, c, after.iLostFrames - before.iLostFrames, playNo, usb, usbFrames);
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
    const int bmp = CameraSaveImage(h, framePath.c_str(), out.data(), &last, 2, 0);
    const int png = CameraSaveImage(h, framePath.c_str(), out.data(), &last, 8, 0);
    if (bmp == 0 && png == 0)
        std::printf("last frame written to %s.bmp and %s.png\n", framePath.c_str(),
                    framePath.c_str());
    if (!recordPath.empty() && recordError == 0 && stopped == 0)
        std::printf("recorded %llu frames at %d frames/s to %s\n",
                    static_cast<unsigned long long>(recorded), recordFps, recordPath.c_str());
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
