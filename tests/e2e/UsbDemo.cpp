// qv_demo: a USB camera captured through the SDK's exported functions, for a few seconds. The
// camera is the simulated mono IMX290 camera behind the real libusb (umockdev emulates its
// device node; the program re-executes itself under umockdev's preload, and inside a private
// network namespace, on its own). It enumerates, opens and plays the camera, takes raw frames
// and has each one processed into mono 8-bit, then prints the frame rate, the frames lost (gaps
// in the camera's frame numbers) and the frame size, and writes the last frame as a PGM file.
//
//   qv_demo [--seconds S] [--fps F] [--out FILE]
//     S  capture time (default 3); F  the camera's frame rate (default 30, 0: as fast as read);
//     FILE  the PGM written (default qv-demo-frame.pgm)
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
    std::string out = "qv-demo-frame.pgm";
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        if (a == "--seconds") {
            o.seconds = std::atof(argv[++i]);
        } else if (a == "--fps") {
            o.fps = std::atof(argv[++i]);
        } else if (a == "--out") {
            o.out = argv[++i];
        } else {
            return false;
        }
    }
    return o.seconds > 0 && o.fps >= 0;
}

bool WritePgm(const std::string& path, const uint8_t* data, uint32_t width, uint32_t height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    std::fprintf(f, "P5\n%u %u\n255\n", width, height);
    const size_t bytes = size_t{width} * height;
    const bool ok = std::fwrite(data, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && ok;
}

int Fail(const char* what, int status) {
    std::fprintf(stderr, "qv_demo: %s failed: %d\n", what, status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: qv_demo [--seconds S] [--fps F] [--out FILE]\n");
        return 2;
    }
    // The simulated camera is plugged in before the SDK's first call starts libusb.
    CSimUsbTestbed testbed;
    if (!CSimUsbTestbed::PreloadActive()) {
        std::fprintf(stderr, "qv_demo: not running under the umockdev preload\n");
        return 1;
    }
    SimImx290Options camera;
    camera.serial = "QV-DEMO-0001";
    camera.port = {1, 4};
    camera.fps = options.fps;
    auto sim = std::make_unique<CSimUsbImx290Camera>(testbed, camera);

    int count = 0;
    int r = CameraEnumerateDevice(&count);
    if (r != 0) return Fail("CameraEnumerateDevice", r);
    tDevInfo info{};
    if ((r = CameraGetEnumIndexInfo(0, &info)) != 0) return Fail("CameraGetEnumIndexInfo", r);
    std::printf("camera: %s, serial %s, %s, %s\n", info.acProductName, info.acSn,
                info.acPortType, info.acSymbolicName);

    HANDLE h = nullptr;
    if ((r = CameraInit(&h, 0)) != 0) return Fail("CameraInit", r);
    if ((r = CameraPlay(h)) != 0) return Fail("CameraPlay", r);

    std::vector<uint8_t> out;
    stImageInfo last{};
    uint64_t frames = 0, lost = 0, firstNo = 0, lastNo = 0;
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
            } else if (no > lastNo + 1) {
                lost += no - lastNo - 1;
            }
            lastNo = no;
            lastAt = Clock::now();
            last = frame;
            ++frames;
        }
        CameraReleaseFrameHandle(h, raw);
    }
    CameraPause(h);

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
    std::printf("frame size: %u x %u, %u bytes, mono 8-bit (media type 0x%08X)\n", last.iWidth,
                last.iHeight, last.TotalBytes, last.uiMediaType);
    const bool saved = WritePgm(options.out, out.data(), last.iWidth, last.iHeight);
    if (saved) std::printf("last frame written to %s\n", options.out.c_str());
    r = CameraUnInit(h);
    // The manager's list still holds the camera open: empty it before the device goes.
    CameraEnumerateDeviceEx(&count, 0);
    sim.reset();
    if (!saved) {
        std::fprintf(stderr, "qv_demo: cannot write %s\n", options.out.c_str());
        return 1;
    }
    return r == 0 ? 0 : Fail("CameraUnInit", r);
}
