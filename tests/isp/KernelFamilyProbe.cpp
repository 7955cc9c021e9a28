// Loads the SDK library, then puts frames of each kind through the kernels in the family this
// processor runs, printing the family and a digest of every output. Every setting that chooses
// a kernel's code path takes each of its values (mirrored and not, contrast neutral and not,
// sharpening on and off, tables on and off, each output format, each input type).
//
// The library's exports process frames only for an opened camera, so the kernels run here are
// this program's own static copies, built from the same sources as the loaded library; loading
// the library runs its constructors and its version call, nothing more. Run on an emulated
// processor without AVX2, the program fails with SIGILL if the library needs AVX2 at load, or
// if a kernel is entered without asking for the family. Its digests must equal those of the
// same program on a processor with AVX2, since every family computes the same bytes.
//   isp_family_probe <path of libQVCameraSDK.so>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
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

std::vector<uint16_t> Curve(int entries) {
    std::vector<uint16_t> t(entries);
    for (int i = 0; i < entries; ++i) t[i] = static_cast<uint16_t>(entries - 1 - i / 2);
    return t;
}

// The path-choosing settings of one case.
struct Choice {
    bool mirror;
    bool contrast;
    bool sharpen;
    bool tables;
};

struct Input {
    const char* name;
    uint32_t type;
    int sampleBytes;
    bool mono;  // a mono kernel rather than a Bayer one
};

const Input kInputs[] = {
    {"bayer8", 0x01080008u, 1, false},
    {"bayer12", 0x01100010u, 2, false},
    {"mono8", CAMERA_MEDIA_TYPE_MONO8, 1, true},
    {"mono12", CAMERA_MEDIA_TYPE_MONO12_16, 2, true},
};

const uint32_t kOutFormats[] = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_RGB8,
                                CAMERA_MEDIA_TYPE_BGR8, CAMERA_MEDIA_TYPE_RGBA8,
                                CAMERA_MEDIA_TYPE_BGRA8};

int RunImage(IspFrame& frame, const Input& input, uint32_t outFormat, const Choice& c) {
    const std::vector<uint16_t> table = Curve(input.sampleBytes == 2 ? 4096 : 256);
    const LutView lut{table.data(), static_cast<uint32_t>(table.size()), c.tables};
    IspFrameStatistics stats{90, 0, 100, 110, 70};
    IspWorkBuffers work;
    if (input.mono) {
        MonoSettings s;
        s.ispOutFormat = outFormat;
        s.sharpness = c.sharpen ? 40 : 0;
        s.contrast = c.contrast ? 60 : 50;
        s.mirrorH = c.mirror;
        s.mirrorV = c.mirror;
        s.deadPixel = true;
        return input.sampleBytes == 2 ? ProcessMono12(frame, s, lut, stats, work)
                                      : ProcessMono8(frame, s, lut, stats, work);
    }
    ColourSettings s;
    s.ispOutFormat = outFormat;
    s.sharpness = c.sharpen ? 40 : 0;
    s.contrast = c.contrast ? 60 : 50;
    s.mirrorH = c.mirror;
    s.mirrorV = c.mirror;
    s.deadPixel = true;
    s.redGain = 140;
    s.blueGain = 80;
    return input.sampleBytes == 2 ? ProcessBayer16(frame, s, {lut, lut, lut}, stats, work)
                                  : ProcessBayer8(frame, s, {lut, lut, lut}, stats, work);
}

// One frame through `run`; prints its digests and returns whether it succeeded.
template <class Run>
bool Probe(const std::string& name, uint32_t inType, int sampleBytes, uint32_t outFormat,
           Run&& run) {
    std::vector<uint8_t> raw = Samples(sampleBytes);
    const int bpp = static_cast<int>((outFormat >> 16) & 0xFF) / 8;
    std::vector<uint8_t> out(static_cast<size_t>(kW) * kH * bpp, 0xCD);
    stImageInfo in{};
    in.iWidth = kW;
    in.iHeight = kH;
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = inType;
    in.ExpTime = 5000;
    stImageInfo outInfo{};
    IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
    const int rc = run(frame);
    std::printf("%s rc %d out %016llx raw %016llx\n", name.c_str(), rc,
                static_cast<unsigned long long>(Digest(out)),
                static_cast<unsigned long long>(Digest(raw)));
    return rc == 0;
}

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
    bool ok = true;
    for (const Input& input : kInputs)
        for (uint32_t format : kOutFormats)
            for (int bits = 0; bits < 16; ++bits) {
                const Choice c{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0};
                const std::string name =
                    std::string(input.name) + " out " + std::to_string(format) + " mirror " +
                    std::to_string(c.mirror) + " contrast " + std::to_string(c.contrast) +
                    " sharpen " + std::to_string(c.sharpen) + " tables " + std::to_string(c.tables);
                ok &= Probe(name, input.type, input.sampleBytes, format,
                            [&](IspFrame& frame) { return RunImage(frame, input, format, c); });
            }
    for (uint32_t format : kOutFormats)
        for (bool mono : {false, true})
            ok &= Probe("yuv422 out " + std::to_string(format) + " mono " + std::to_string(mono),
                        0x0210001Fu, 2, format, [&](IspFrame& frame) {
                            ColourSettings s;
                            s.ispOutFormat = format;
                            s.monochrome = mono;
                            return ProcessYuv422(frame, s);
                        });
    for (int sampleBytes : {1, 2})
        for (bool tables : {false, true}) {
            const uint32_t type = sampleBytes == 2 ? 0x01100010u : 0x01080008u;
            ok &= Probe(
                "raw" + std::to_string(8 * sampleBytes) + " tables " + std::to_string(tables), type,
                sampleBytes, type, [&](IspFrame& frame) {
                    ColourSettings s;
                    s.ispOutFormat = type;
                    s.sharpness = 40;
                    s.contrast = 60;
                    s.redGain = 140;
                    const std::vector<uint16_t> table = Curve(sampleBytes == 2 ? 4096 : 256);
                    const LutView lut{table.data(), static_cast<uint32_t>(table.size()), tables};
                    return sampleBytes == 2 ? ProcessRaw16ToRaw16(frame, s, {lut, lut, lut})
                                            : ProcessRaw8ToRaw8(frame, s, {lut, lut, lut});
                });
        }
    dlclose(lib);
    return ok ? 0 : 1;
}
