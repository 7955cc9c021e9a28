// Loads the SDK library and puts one frame of each kind through the kernels in the family this
// processor runs, printing the family and a digest of every output. Run on an emulated
// processor without AVX2, it fails with SIGILL if anything outside the family check needs AVX2:
// a constructor run at load, or a kernel entered without asking for the family. Its digests
// must equal those of the same program on a processor with AVX2, since every family computes
// the same bytes.
//   isp_family_probe <path of libQVCameraSDK.so>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ColourKernels.h"
#include "KernelFamily.h"
#include "MonoKernels.h"
#include "RawYuvKernels.h"

using namespace qv::isp;

namespace {

constexpr int kW = 132;  // wide enough for every kernel's widest blocks and its narrow ends
constexpr int kH = 12;

// FNV-1a, to compare outputs across machines in one line each.
uint64_t Digest(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

std::vector<uint8_t> Samples(int sampleBytes) {
    std::vector<uint8_t> raw(static_cast<size_t>(kW) * kH * sampleBytes);
    uint32_t x = 12345;
    for (size_t i = 0; i < raw.size(); ++i) {
        x = x * 1103515245u + 12345u;
        raw[i] = static_cast<uint8_t>(x >> 24);
    }
    if (sampleBytes == 2)  // 12-bit words, some beyond 12 bits
        for (size_t i = 1; i < raw.size(); i += 2) raw[i] &= i % 22 == 1 ? 0x1F : 0x0F;
    return raw;
}

struct Kind {
    const char* name;
    uint32_t inType;
    int sampleBytes;
    uint32_t outFormat;
    int (*run)(IspFrame&, uint32_t outFormat, int sampleBytes);
};

std::vector<uint16_t> Curve(int entries) {
    std::vector<uint16_t> t(entries);
    for (int i = 0; i < entries; ++i) t[i] = static_cast<uint16_t>(entries - 1 - i / 2);
    return t;
}

int RunColour(IspFrame& frame, uint32_t outFormat, int sampleBytes) {
    ColourSettings s;
    s.ispOutFormat = outFormat;
    s.sharpness = 40;
    s.contrast = 60;
    s.mirrorH = true;
    s.deadPixel = true;
    s.redGain = 140;
    s.blueGain = 80;
    const std::vector<uint16_t> table = Curve(sampleBytes == 2 ? 4096 : 256);
    const LutView lut{table.data(), static_cast<uint32_t>(table.size()), true};
    IspFrameStatistics stats{90, 0, 100, 110, 70};
    IspWorkBuffers work;
    return sampleBytes == 2 ? ProcessBayer16(frame, s, {lut, lut, lut}, stats, work)
                            : ProcessBayer8(frame, s, {lut, lut, lut}, stats, work);
}

int RunMono(IspFrame& frame, uint32_t outFormat, int sampleBytes) {
    MonoSettings s;
    s.ispOutFormat = outFormat;
    s.sharpness = 40;
    s.contrast = 60;
    s.mirrorH = true;
    s.deadPixel = true;
    const std::vector<uint16_t> table = Curve(sampleBytes == 2 ? 4096 : 256);
    const LutView lut{table.data(), static_cast<uint32_t>(table.size()), true};
    IspFrameStatistics stats{90, 0, 100, 110, 70};
    IspWorkBuffers work;
    return sampleBytes == 2 ? ProcessMono12(frame, s, lut, stats, work)
                            : ProcessMono8(frame, s, lut, stats, work);
}

int RunYuv(IspFrame& frame, uint32_t outFormat, int) {
    ColourSettings s;
    s.ispOutFormat = outFormat;
    return ProcessYuv422(frame, s);
}

int RunRaw(IspFrame& frame, uint32_t outFormat, int sampleBytes) {
    ColourSettings s;
    s.ispOutFormat = outFormat;
    s.sharpness = 40;
    s.contrast = 60;
    s.redGain = 140;
    const std::vector<uint16_t> table = Curve(sampleBytes == 2 ? 4096 : 256);
    const LutView lut{table.data(), static_cast<uint32_t>(table.size()), true};
    return sampleBytes == 2 ? ProcessRaw16ToRaw16(frame, s, {lut, lut, lut})
                            : ProcessRaw8ToRaw8(frame, s, {lut, lut, lut});
}

const Kind kKinds[] = {
    {"bayer8-bgr8", 0x01080008u, 1, CAMERA_MEDIA_TYPE_BGR8, &RunColour},
    {"bayer12-rgba8", 0x01100010u, 2, CAMERA_MEDIA_TYPE_RGBA8, &RunColour},
    {"bayer8-mono8", 0x01080008u, 1, CAMERA_MEDIA_TYPE_MONO8, &RunColour},
    {"mono8-bgra8", CAMERA_MEDIA_TYPE_MONO8, 1, CAMERA_MEDIA_TYPE_BGRA8, &RunMono},
    {"mono12-mono8", CAMERA_MEDIA_TYPE_MONO12_16, 2, CAMERA_MEDIA_TYPE_MONO8, &RunMono},
    {"yuv422-rgb8", 0x0210001Fu, 2, CAMERA_MEDIA_TYPE_RGB8, &RunYuv},
    {"raw8-raw8", 0x01080008u, 1, 0x01080008u, &RunRaw},
    {"raw12-raw12", 0x01100010u, 2, 0x01100010u, &RunRaw},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <libQVCameraSDK.so>\n", argv[0]);
        return 2;
    }
    // Loading runs every constructor of the library.
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    using VersionFn = int (*)(char*);
    auto version = reinterpret_cast<VersionFn>(dlsym(lib, "CameraSdkGetVersionString"));
    char text[256] = {};
    if (version == nullptr || version(text) != 0) {
        std::fprintf(stderr, "CameraSdkGetVersionString failed\n");
        return 1;
    }
    const KernelFamily family = ActiveKernelFamily();
    std::printf("family %s\n", KernelFamilyName(family));
    if (family == KernelFamily::kAvx2 && !KernelFamilySupported(KernelFamily::kAvx2)) return 1;
    int status = 0;
    for (const Kind& k : kKinds) {
        std::vector<uint8_t> raw = Samples(k.sampleBytes);
        const int bpp = static_cast<int>((k.outFormat >> 16) & 0xFF) / 8;
        std::vector<uint8_t> out(static_cast<size_t>(kW) * kH * bpp, 0xCD);
        stImageInfo in{};
        in.iWidth = kW;
        in.iHeight = kH;
        in.TotalBytes = static_cast<UINT>(raw.size());
        in.uiMediaType = k.inType;
        in.ExpTime = 5000;
        stImageInfo outInfo{};
        IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
        const int rc = k.run(frame, k.outFormat, k.sampleBytes);
        if (rc != 0) status = 1;
        std::printf("%s rc %d out %016llx raw %016llx\n", k.name, rc,
                    static_cast<unsigned long long>(Digest(out)),
                    static_cast<unsigned long long>(Digest(raw)));
    }
    dlclose(lib);
    return status;
}
