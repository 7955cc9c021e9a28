// Parameter-group files that a damaged disk or another program left behind, met by CameraInit of
// a simulated USB camera through the exported functions: files of every version with the
// camera's magic and device stamp but arbitrary values open the camera with its values brought
// within the camera's ranges, a multi-GiB sparse file is read only as far as a file can reach,
// and a group whose settings the camera still refuses is opened with the camera's defaults
// instead, saying so in the log.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "params/CameraParameterBuilder.h"
#include "SimHostSettings.h"
#include "UsbEndToEndFixture.h"

namespace {

using e2etest::UsbEndToEnd;

constexpr uint32_t kMagic = 0xAB673EF1;
constexpr size_t kTableBytes = 4096 * 2;
constexpr int kLegacy = 0;  // the layout from before the magic
// The small preset the fixture's cameras run at; the defaults are the sensor's full frame.
constexpr int kFixturePreset = 8;
// IMX290 drivers keep eight bits of the black level.
constexpr int kBlackLevelMax = 255;
// The simulated camera lists no frame speeds; it runs at the speed of its factory settings.
constexpr int kFactoryFrameSpeed = 2;
constexpr int kCustomIndex = 255;
// A lookup curve no camera starts with.
constexpr uint16_t kFileCurve = 0x0ABC;

std::string RejectedLine(const std::string& path) {
    std::string line = "Parameter file ";
    line += path;
    line += " rejected by the camera, opened with defaults\n";
    return line;
}

void PutU32(std::vector<uint8_t>& file, size_t at, uint32_t v) {
    std::memcpy(file.data() + at, &v, sizeof v);
}

// A file of `version` (kLegacy, 2, 3 or 4) whose every byte is random but the magic, the
// version and the device stamp (and the legacy signature), followed by some table bytes.
std::vector<uint8_t> RandomFile(int version, uint32_t seed, uint32_t deviceId) {
    std::mt19937 rng(seed);
    const size_t record = version == kLegacy ? 1640 : version == 2 ? 1096 : 1216;
    const size_t tables = std::uniform_int_distribution<size_t>(0, 3 * kTableBytes)(rng);
    std::vector<uint8_t> file(record + tables);
    for (uint8_t& b : file) b = static_cast<uint8_t>(rng());
    if (version == kLegacy) {
        std::memcpy(file.data() + 1600, "JNCamera Better And Better!", 28);
        PutU32(file, 1632, deviceId);
    } else {
        PutU32(file, 0, kMagic);
        PutU32(file, 4, static_cast<uint32_t>(version));
        PutU32(file, 8, deviceId);
    }
    return file;
}

class UsbParameterFile : public UsbEndToEnd {
  protected:
    void TearDown() override {
        UsbEndToEnd::TearDown();
        // The file every camera of the fixture opens with.
        EXPECT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(kFixturePreset)));
    }

    // The "_SAVE" group file that CameraInit reads first.
    static std::string SaveFile() {
        std::string name = CSimUsbImx290Camera::kProductName;
        name += "_Cfg_SAVE.bin";
        return (s_home / ".QVConfig" / name).string();
    }

    static void WriteSaveFile(const std::vector<uint8_t>& bytes) { WriteFile(SaveFile(), bytes); }

    static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }

    static uint32_t DeviceId() {
        tDevInfo info{};
        EXPECT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
        return info.uDeviceId;
    }

    // Plays the camera and takes one processed frame, in the ISP output format that the getter
    // reports; a camera left in a trigger mode is triggered (software) or set continuous.
    static void ExpectFrames(HANDLE h) {
        int trigger = -1;
        ASSERT_EQ(CameraGetTriggerMode(h, &trigger), 0);
        if (trigger == TRIGGER_MODE_HARDWARE) {
            ASSERT_EQ(CameraSetTriggerMode(h, TRIGGER_MODE_CONTINUOUS), 0);
            trigger = TRIGGER_MODE_CONTINUOUS;
        }
        ASSERT_EQ(CameraPlay(h), 0);
        unsigned format = 0;
        ASSERT_EQ(CameraGetIspOutFormat(h, &format), 0);
        tSdkResolution current{};
        ASSERT_EQ(CameraGetCurResolution(h, &current), 0);
        const auto deadline = e2etest::Clock::now() + std::chrono::seconds(20);
        BYTE* data = nullptr;
        stImageInfo info{};
        while (data == nullptr && e2etest::Clock::now() < deadline) {
            if (trigger == TRIGGER_MODE_SOFTWARE) CameraSoftTrigger(h);
            data = CameraGetImageBufferEx(h, &info, 2000);
        }
        ASSERT_NE(data, nullptr) << "no frame";
        EXPECT_EQ(info.uiMediaType, format);
        EXPECT_EQ(info.iWidth, current.uWidth);
        EXPECT_EQ(info.iHeight, current.uHeight);
    }

    // Every setting the getters report lies within what the camera states it takes.
    static void ExpectWithinCapability(HANDLE h) {
        tSdkCapability cap{};
        ASSERT_EQ(CameraGetCapability(h, &cap), 0);
        const UINT* sensor = cap.auSensorParam;  // SensorParam order
        int gain = -1;
        ASSERT_EQ(CameraGetAnalogGain(h, &gain), 0);
        EXPECT_GE(static_cast<uint32_t>(gain), sensor[2]);
        EXPECT_LE(static_cast<uint32_t>(gain), sensor[3]);
        USHORT target = 0;
        ASSERT_EQ(CameraGetAeTarget(h, &target), 0);
        EXPECT_GE(target, sensor[0]);
        EXPECT_LE(target, sensor[1]);
        double lineTime = 0, exposure = -1;
        ASSERT_EQ(CameraGetExposureLineTime(h, &lineTime), 0);
        ASSERT_EQ(CameraGetExposureTime(h, &exposure), 0);
        EXPECT_TRUE(std::isfinite(exposure));
        EXPECT_GE(exposure, 0.0);
        double expMin = 0, expMax = 0;
        ASSERT_EQ(CameraGetAeExposureRange(h, &expMin, &expMax), 0);
        EXPECT_TRUE(std::isfinite(expMin) && std::isfinite(expMax));
        EXPECT_LE(expMin, expMax);
        EXPECT_LE(expMax, sensor[5] * lineTime);
        int gainMin = 0, gainMax = 0;
        ASSERT_EQ(CameraGetAeAnalogGainRange(h, &gainMin, &gainMax), 0);
        EXPECT_LE(gainMin, gainMax);
        EXPECT_GE(static_cast<uint32_t>(gainMin), sensor[2]);
        EXPECT_LE(static_cast<uint32_t>(gainMax), sensor[3]);

        int speed = -1;
        ASSERT_EQ(CameraGetFrameSpeed(h, &speed), 0);
        if (cap.iFrameSpeedDesc > 0) {
            EXPECT_GE(speed, 0);
            EXPECT_LT(speed, cap.iFrameSpeedDesc);
        } else {
            EXPECT_EQ(speed, kFactoryFrameSpeed);
        }
        int trigger = -1;
        ASSERT_EQ(CameraGetTriggerMode(h, &trigger), 0);
        EXPECT_GE(trigger, TRIGGER_MODE_CONTINUOUS);
        EXPECT_LE(trigger, TRIGGER_MODE_HARDWARE);
        int index = -1;
        ASSERT_EQ(CameraGetResolution(h, &index), 0);
        tSdkResolution res{};
        EXPECT_EQ(CameraGetResolutionEx(h, index, &res), 0) << index;
        tSdkResolution current{};
        ASSERT_EQ(CameraGetCurResolution(h, &current), 0);
        EXPECT_GT(current.uWidth, 0u);
        EXPECT_LE(current.uWidth, sensor[8]);
        EXPECT_GT(current.uHeight, 0u);
        EXPECT_LE(current.uHeight, sensor[6]);
        unsigned sensorFormat = 0;
        ASSERT_EQ(CameraGetSensorOutPixelFormat(h, &sensorFormat), 0);
        bool listed = false;
        for (int i = 0; i < cap.iMediaTypeDesc; ++i)
            listed = listed || cap.pMediaTypeDesc[i].uMediaType == sensorFormat;
        EXPECT_TRUE(listed) << std::hex << sensorFormat;

        struct Ranged {
            const char* what;
            int (*get)(HANDLE, int*);
            const INT* range;
        };
        for (const Ranged& r :
             {Ranged{"sharpness", CameraGetSharpness, cap.aiSharpnessRange},
              Ranged{"contrast", CameraGetContrast, cap.aiContrastRange},
              Ranged{"saturation", CameraGetSaturation, cap.aiSaturationRange},
              Ranged{"gamma", CameraGetGamma, cap.aiGammaRange},
              Ranged{"LUT contrast", CameraGetContrastLut, cap.aiContrastLutRange}}) {
            if (r.range[1] <= r.range[0]) continue;  // a range this camera does not state
            int v = 0;
            ASSERT_EQ(r.get(h, &v), 0) << r.what;
            EXPECT_GE(v, r.range[0]) << r.what;
            EXPECT_LE(v, r.range[1]) << r.what;
        }
        int lutMode = -1, preset = -1;
        ASSERT_EQ(CameraGetLutMode(h, &lutMode), 0);
        EXPECT_GE(lutMode, 0);
        EXPECT_LE(lutMode, 2);
        ASSERT_EQ(CameraGetLutPresetSel(h, &preset), 0);
        EXPECT_GE(preset, 0);
        EXPECT_LE(preset, 3);
        int level = -1;
        ASSERT_EQ(CameraGetBlackLevel(h, &level), 0);
        EXPECT_GE(level, 0);
        EXPECT_LE(level, kBlackLevelMax);
        for (int line = 0; line < static_cast<int>(cap.uOutputIoCount); ++line) {
            int mode = -1;
            ASSERT_EQ(CameraGetOutputIOMode(h, line, &mode), 0);
            EXPECT_GE(mode, IOMODE_STROBE_OUTPUT) << line;
            EXPECT_LE(mode, IOMODE_PWM_OUTPUT) << line;
        }

        // The exposure is at most the longest the camera takes through its setter.
        ASSERT_EQ(CameraSetAeState(h, 0), 0);
        ASSERT_EQ(CameraSetExposureTime(h, 1e12), 0);
        double longest = 0;
        ASSERT_EQ(CameraGetExposureTime(h, &longest), 0);
        EXPECT_LE(exposure, longest);
        ASSERT_EQ(CameraSetExposureTime(h, exposure), 0);
    }
};

TEST_F(UsbParameterFile, RandomValuesOfEveryVersionOpenWithinRangeAndStream) {
    Plug(40, "PF-RANDOM");
    ASSERT_EQ(EnumerateUntil(1), 0);
    const uint32_t deviceId = DeviceId();
    struct Case {
        int version;
        uint32_t seed;
    };
    std::vector<Case> cases;
    // A sanitizer build runs each case about twenty times slower: one seed per version there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const uint32_t seeds = 1;
#else
    const uint32_t seeds = 4;
#endif
    for (int version : {4, 3, 2, kLegacy})
        for (uint32_t seed = 1; seed <= seeds; ++seed)
            cases.push_back({version, seed * 7919u + 13u});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.version << ", seed " << c.seed);
        WriteSaveFile(RandomFile(c.version, c.seed, deviceId));
        qvsim::LogCapture log;
        HANDLE h = Init(0);
        ASSERT_NE(h, nullptr);
        // The values were brought into range: no second open with the defaults was needed.
        EXPECT_EQ(log.Count(RejectedLine(SaveFile())), 0);
        ExpectWithinCapability(h);
        ExpectFrames(h);
        // The file's custom region stays only when the setters could have stored it: asked for
        // later, it is refused or it streams as any region does.
        if (CameraSetResolution(h, kCustomIndex) == 0) ExpectFrames(h);
        // The same for a file read into the streaming camera.
        const std::string other = (s_home / "other.bin").string();
        WriteFile(other, RandomFile(c.version, c.seed + 1, deviceId));
        EXPECT_EQ(CameraReadParameterFromFile(h, other.c_str()), 0);
        ExpectWithinCapability(h);
        ExpectFrames(h);
        UnInit(h);
    }
}

TEST_F(UsbParameterFile, HugeSparseFileIsReadOnlyAsFarAsAFileReaches) {
    Plug(41, "PF-SPARSE");
    ASSERT_EQ(EnumerateUntil(1), 0);
    // A valid group (the fixture's small preset) in front of 4 GiB of holes.
    ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(kFixturePreset)));
    {
        const int fd = ::open(SaveFile().c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{4} << 30), 0);
        ::close(fd);
    }
    // Bytes this process has read through read(2) and its kin, the file's included.
    auto bytesRead = [] {
        std::ifstream io("/proc/self/io");
        std::string key;
        uint64_t value = 0;
        while (io >> key >> value)
            if (key == "rchar:") return value;
        return uint64_t{0};
    };
    const uint64_t before = bytesRead();
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    EXPECT_LT(bytesRead() - before, uint64_t{256} << 20);
    int index = -1;
    ASSERT_EQ(CameraGetResolution(h, &index), 0);
    EXPECT_EQ(index, kFixturePreset);  // the file's record is in force
    ExpectFrames(h);
}

TEST_F(UsbParameterFile, GroupTheCameraRefusesIsOpenedWithDefaultsOnceAndLogged) {
    struct Case {
        const char* what;
        int refusedOpens;  // stream opens that fail, from the first
        int initResult;
    };
    const Case cases[] = {
        {"the defaults open", 1, CAMERA_STATUS_SUCCESS},
        {"the defaults fail too", 2, CAMERA_STATUS_STREAM_OPEN_FAILED},
    };
    int address = 42;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char serial[32];
        std::snprintf(serial, sizeof serial, "PF-RETRY-%d", address);
        CSimUsbImx290Camera& cam = Plug(address, serial);
        ++address;
        ASSERT_EQ(EnumerateUntil(1), 0);
        ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(kFixturePreset)));
        // The group also carries lookup curves of its own.
        {
            CameraParameterBuilder builder;
            CameraParameter record{};
            ASSERT_EQ(builder.LoadFromFile(SaveFile().c_str(), &record, nullptr, nullptr, nullptr),
                      0);
            const std::vector<uint16_t> curve(CameraParameterBuilder::kTableEntries, kFileCurve);
            ASSERT_EQ(builder.SaveToFile(SaveFile().c_str(), &record, curve.data(), curve.data(),
                                         curve.data()),
                      0);
        }
        // The sensor's first register write of each refused open goes unanswered.
        cam.Model().InjectFault(
            {.kind = SimFaultKind::kStall, .request = 0xD0, .times = c.refusedOpens});
        qvsim::LogCapture log;
        HANDLE h = nullptr;
        EXPECT_EQ(CameraInit(&h, 0), c.initResult);
        EXPECT_EQ(log.Count(RejectedLine(SaveFile())), 1);
        if (h != nullptr) m_handles.push_back(h);
        if (c.initResult == CAMERA_STATUS_SUCCESS) {
            EXPECT_EQ(log.Count("open camera device failed\n"), 0);
            // The camera's default resolution, not the file's preset.
            int index = -1;
            ASSERT_EQ(CameraGetResolution(h, &index), 0);
            EXPECT_NE(index, kFixturePreset);
            // Nor the file's curves.
            std::vector<USHORT> lut(CameraParameterBuilder::kTableEntries);
            ASSERT_EQ(CameraGetCustomLut(h, 1, lut.data()), 0);
            EXPECT_NE(lut, std::vector<USHORT>(lut.size(), kFileCurve));
            ExpectFrames(h);
        } else {
            EXPECT_EQ(log.Count("open camera device failed\n"), 1);
        }
        UsbEndToEnd::TearDown();  // the camera leaves before the next one is plugged
        m_handles.clear();
    }
}

}  // namespace
