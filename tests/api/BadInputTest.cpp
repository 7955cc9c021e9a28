// Bad input over every export, on a live simulated USB camera that streams throughout: each row
// is called with valid arguments, with a null handle, with every pointer null and every number
// zero, and with each bad value of each argument (negative and huge numbers, line and channel
// indices, groups, levels, media types, null and foreign pointers). Every call answers a code of
// the status table (the exact one the row names), a failed call changes none of the settings
// the getters report, and after every row the camera still delivers frames with rising numbers.
// Then calls in the wrong order: getters before play, pause twice, a frame released twice,
// release of a handle twice.
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BadInputArgs.h"
#include "control/CameraControl.h"
#include "InterfaceFunctions.h"
#include "UsbEndToEndFixture.h"

namespace {

using namespace badinput;
using namespace std::chrono_literals;
using e2etest::Clock;
using e2etest::CManualClock;
using e2etest::UsbEndToEnd;

// The settings as the getters report them, by getter.
using Snapshot = std::map<std::string, std::vector<uint8_t>>;

template <class... T>
std::vector<uint8_t> Bytes(int result, const T&... values) {
    std::vector<uint8_t> b(sizeof result);
    std::memcpy(b.data(), &result, sizeof result);
    (b.insert(b.end(), reinterpret_cast<const uint8_t*>(&values),
              reinterpret_cast<const uint8_t*>(&values) + sizeof values),
     ...);
    return b;
}

class BadInput : public UsbEndToEnd {
  protected:
    void SetUp() override {
        UsbEndToEnd::SetUp();
        m_cam = &Plug(70, "BAD-INPUT", 60);
        ASSERT_EQ(EnumerateUntil(1), 0);
        m_h = Init(0);
        ASSERT_NE(m_h, nullptr);
        // The loss rule's clock is the test's: a camera pulled is found lost at once.
        static_cast<CameraControl*>(m_h)->SetClock(&m_clock);
        tSdkCapability cap{};
        ASSERT_EQ(CameraGetCapability(m_h, &cap), 0);
        ASSERT_EQ(CameraGetResolution(m_h, &m_ctx.resolutionIndex), 0);
        m_ctx.handle = m_h;
        m_ctx.outputLines = static_cast<int>(cap.uOutputIoCount);
        m_ctx.inputLines = static_cast<int>(cap.uInputIoCount);
        ASSERT_GT(m_ctx.outputLines, 0);
        ASSERT_GT(m_ctx.inputLines, 0);
        m_ctx.serial = "BAD-INPUT";
        char name[32] = {};
        ASSERT_EQ(CameraGetFriendlyName(m_h, name), 0);
        m_ctx.friendlyName = name;
        m_ctx.dir = s_home.string();
        // A 24-bit BGR image of the camera's size for the functions that take one.
        m_ctx.imageInfo = {320, 240, 320 * 240 * 3, 0x02180015, 1000.0, 10.0, 1000, {}};
        m_ctx.image.assign(m_ctx.imageInfo.TotalBytes, 0x40);
        m_ctx.takeFrame = [this] {
            CameraFrameHandle f = nullptr;
            EXPECT_EQ(CameraGetRawImageBuffer(m_h, &f, 5000), 0) << "no frame for the row";
            return f;
        };
        m_ctx.releaseFrame = [this](CameraFrameHandle f) {
            if (f != nullptr) {
                EXPECT_EQ(CameraReleaseFrameHandle(m_h, f), 0);
            }
        };
        ASSERT_EQ(CameraPlay(m_h), 0);
        ExpectStreaming("before the first row");
    }

    // The camera plays (it is started again when a row paused it) and hands out a frame newer
    // than the last one seen.
    void ExpectStreaming(const std::string& after) {
        ASSERT_EQ(CameraPlay(m_h), 0) << after;
        CameraFrameHandle f = nullptr;
        ASSERT_EQ(CameraGetRawImageBuffer(m_h, &f, 10000), 0) << "no frame " << after;
        uint64_t no = 0;
        EXPECT_EQ(CameraGetImageFrameNo(m_h, f, &no), 0);
        EXPECT_EQ(CameraReleaseFrameHandle(m_h, f), 0);
        if (m_lastFrameNo != 0) {
            EXPECT_GT(no, m_lastFrameNo) << after;
        }
        m_lastFrameNo = no;
    }

    Snapshot Settings() {
        Snapshot s;
        HANDLE h = m_h;
        CameraCurDevInfo dev{};
        s["CurDevInfo"] = Bytes(CameraGetCurDevInfo(h, &dev), dev);
        tSdkResolution res{};
        int i = 0, j = 0;
        s["CurResolution"] = Bytes(CameraGetCurResolution(h, &res), res);
        s["ResolutionForSnap"] = Bytes(CameraGetResolutionForSnap(h, &res), res);
        s["Resolution"] = Bytes(CameraGetResolution(h, &i), i);
        s["FrameSpeed"] = Bytes(CameraGetFrameSpeed(h, &i), i);
        s["TriggerMode"] = Bytes(CameraGetTriggerMode(h, &i), i);
        s["TriggerFrameCount"] = Bytes(CameraGetTriggerFrameCount(h, &i), i);
        UINT u = 0, v = 0;
        s["TriggerDelayTime"] = Bytes(CameraGetTriggerDelayTime(h, &u), u);
        for (int line = 0; line < 4; ++line) {
            const std::string n = std::to_string(line);
            s["StrobeMode" + n] = Bytes(CameraGetStrobeMode(h, line, &i), i);
            s["StrobeDelayTime" + n] = Bytes(CameraGetStrobeDelayTime(h, line, &u), u);
            s["StrobePulseWidth" + n] = Bytes(CameraGetStrobePulseWidth(h, line, &u), u);
            s["StrobePolarity" + n] = Bytes(CameraGetStrobePolarity(h, line, &i), i);
            s["OutputIOMode" + n] = Bytes(CameraGetOutputIOMode(h, line, &i), i);
            s["OutputIOState" + n] = Bytes(CameraGetOutputIOState(h, line, &i), i);
            s["OutputIOPWM" + n] = Bytes(CameraGetOutputIOPWM(h, line, &u, &v), u, v);
        }
        for (int line = 0; line < 2; ++line) {
            const std::string n = std::to_string(line);
            s["InputIOMode" + n] = Bytes(CameraGetInputIOMode(h, line, &i), i);
            s["TriggerJitterTime" + n] = Bytes(CameraGetTriggerJitterTime(h, line, &u), u);
            s["TriggerSignalType" + n] = Bytes(CameraGetTriggerSignalType(h, line, &i), i);
        }
        for (int line = 0; line < 9; ++line) {
            int x = 0, y = 0, visible = 0;
            UINT colour = 0;
            s["CrossLine" + std::to_string(line)] = Bytes(
                CameraGetCrossLine(h, line, &x, &y, &colour, &visible), x, y, colour, visible);
        }
        s["LutMode"] = Bytes(CameraGetLutMode(h, &i), i);
        s["Gamma"] = Bytes(CameraGetGamma(h, &i), i);
        s["ContrastLut"] = Bytes(CameraGetContrastLut(h, &i), i);
        s["LutPresetSel"] = Bytes(CameraGetLutPresetSel(h, &i), i);
        s["Sharpness"] = Bytes(CameraGetSharpness(h, &i), i);
        s["Saturation"] = Bytes(CameraGetSaturation(h, &i), i);
        s["Contrast"] = Bytes(CameraGetContrast(h, &i), i);
        s["BayerAlgMode"] = Bytes(CameraGetBayerAlgMode(h, &i), i);
        s["IspOutFormat"] = Bytes(CameraGetIspOutFormat(h, &u), u);
        s["SensorOutPixelFormat"] = Bytes(CameraGetSensorOutPixelFormat(h, &u), u);
        s["MirrorH"] = Bytes(CameraGetMirror(h, 0, &i), i);
        s["MirrorV"] = Bytes(CameraGetMirror(h, 1, &i), i);
        s["Monochrome"] = Bytes(CameraGetMonochrome(h, &i), i);
        s["BlackLevel"] = Bytes(CameraGetBlackLevel(h, &i), i);
        s["CorrectDeadPixel"] = Bytes(CameraGetCorrectDeadPixel(h, &i), i);
        s["AeWinVisible"] = Bytes(CameraGetAeWinVisible(h, &i), i);
        s["WbWinVisible"] = Bytes(CameraGetWbWinVisible(h, &i), i);
        s["ParameterMode"] = Bytes(CameraGetParameterMode(h, &i), i);
        s["CurrentParameterGroup"] = Bytes(CameraGetCurrentParameterGroup(h, &i), i);
        s["TransPacketSize"] = Bytes(CameraGigeGetTransPacketSize(h, &i), i);
        s["PacketDelayTime"] = Bytes(CameraGigeGetPacketDelayTime(h, &i), i);
        s["ImageTransferMode"] = Bytes(CameraGetImageTransferMode(h, &i), i);
        for (int id : {0, 1, 2, 3})
            s["IntValue" + std::to_string(id)] = Bytes(CameraGetIntValue(h, id, &i), i);
        s["OutImageSize"] = Bytes(CameraGetOutImageSize(h, &i, &j), i, j);
        char text[32] = {};
        s["FriendlyName"] = Bytes(CameraGetFriendlyName(h, text), text);
        return s;
    }

    static std::string Changes(const Snapshot& before, const Snapshot& after) {
        std::string changed;
        for (const auto& [name, bytes] : before) {
            const auto it = after.find(name);
            if (it == after.end() || it->second != bytes)
                changed += (changed.empty() ? "" : ", ") + name;
        }
        return changed;
    }

    // One call of a row; its result against the expectation, and a failed call must leave the
    // settings as they were.
    void Run(const Row& row, Args& args, Args::Mode mode, size_t slot, size_t badCase,
             const Expect& expect, const std::string& what) {
        SCOPED_TRACE(std::string(row.name) + ", " + what);
        const Snapshot before = Settings();
        args.Begin(mode, slot, badCase);
        const int r = row.call(args);
        args.End(row.releasesFrame && r == CAMERA_STATUS_SUCCESS);
        const Expect& expected =
            mode == Args::Mode::kBad || mode == Args::Mode::kNullHandle ? args.Expected() : expect;
        EXPECT_TRUE(IsStatusCode(r)) << "answered " << r << ", which is no status code";
        EXPECT_TRUE(expected.Accepts(r))
            << "answered " << ResultText(r) << ", expected " << expected.ToString();
        if (r != CAMERA_STATUS_SUCCESS && r != kPointer) {
            EXPECT_EQ(Changes(before, Settings()), "") << "changed by a call that failed";
        }
        ++m_calls;
    }

    void RunRow(const Row& row) {
        SCOPED_TRACE(row.name);
        Args args(m_ctx);
        // Discovery: the arguments as the row uses them. This call has a null handle (when it
        // takes one), null pointers and zero numbers, and must answer like any other.
        args.Begin(Args::Mode::kDiscover);
        const int first = row.call(args);
        args.End(false);
        EXPECT_TRUE(IsStatusCode(first)) << row.name << " with nothing valid answered " << first;
        if (args.HasHandle()) {
            EXPECT_TRUE(args.NullHandleExpect().Accepts(first)) << row.name << ": " << first;
        }

        if (!row.valid.Accepts(kSkip))
            Run(row, args, Args::Mode::kValid, 0, 0, row.valid, "valid arguments");
        if (args.HasHandle()) Run(row, args, Args::Mode::kNullHandle, 0, 0, {}, "null handle");

        // Every pointer null, every number zero: a failure whenever a null pointer alone is one.
        // (A row whose only argument is the handle makes its valid call here: not when that is
        // not to be made.)
        const bool skipped = row.valid.Accepts(kSkip);
        bool onlyHandle = true;
        for (const Args::Slot& s : args.Slots())
            if (s.kind != "handle") onlyHandle = false;
        bool nullFails = false;
        for (const Args::Slot& s : args.Slots())
            if (s.pointer && !s.expects.empty() && s.expects[0].IsFailure()) nullFails = true;
        const bool pointerRow = args.NullHandleExpect().Accepts(kNull);
        if (!(skipped && onlyHandle))
            Run(row, args, Args::Mode::kNullAndZero, 0, 0,
                nullFails    ? Expect{-1, -4, -6, kNull}
                : pointerRow ? Expect{kPointer, kNull}
                             : Expect(kAny),
                "null pointers and zeros");

        for (size_t slot = 0; slot < args.Slots().size(); ++slot) {
            const Args::Slot& s = args.Slots()[slot];
            for (size_t k = 0; k < s.labels.size(); ++k)
                Run(row, args, Args::Mode::kBad, slot, k, {},
                    "argument " + std::to_string(slot) + " (" + s.kind + ") " + s.labels[k]);
        }
        ExpectStreaming(std::string("after ") + row.name);
    }

    void RunRows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const auto start = std::chrono::steady_clock::now();
            RunRow(row);
            if (getenv("QV_ROW_TIMES"))
                fprintf(
                    stderr, "%6lld ms %s\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()),
                    row.name);
            if (HasFatalFailure()) return;
        }
    }

    // Every call answers a code of the table (exact answers are not asked of a camera that is
    // not there) and nothing waits long.
    void RunRowLoosely(const Row& row) {
        SCOPED_TRACE(row.name);
        Args args(m_ctx);
        std::vector<Args::Mode> modes = {Args::Mode::kDiscover, Args::Mode::kNullAndZero};
        if (!row.valid.Accepts(kSkip)) modes.push_back(Args::Mode::kValid);
        for (Args::Mode mode : modes) {
            if (mode == Args::Mode::kNullAndZero && row.valid.Accepts(kSkip)) continue;
            const auto start = Clock::now();
            args.Begin(mode);
            const int r = row.call(args);
            args.End(row.releasesFrame && r == CAMERA_STATUS_SUCCESS);
            EXPECT_TRUE(IsStatusCode(r) || r == kMismatch) << "answered " << r;
            EXPECT_LT(Clock::now() - start, 20s);
        }
    }

    CSimUsbImx290Camera* m_cam = nullptr;
    CManualClock m_clock;
    HANDLE m_h = nullptr;
    Context m_ctx;
    uint64_t m_lastFrameNo = 0;
    int m_calls = 0;
};

TEST_F(BadInput, AcquisitionExports) {
    RunRows(AcquisitionRows());
}
TEST_F(BadInput, SettingExports) {
    RunRows(SettingsRows());
}
TEST_F(BadInput, LineExports) {
    RunRows(LineRows());
}
TEST_F(BadInput, OtherExports) {
    RunRows(OtherRows());
}

// Heads that contradict their own byte count, gain ranges at the ends of int, image files
// onto a folder and texts that are not there: each answers the code of its row, and a refused
// call writes nothing, leaves no file and leaves a recording as it was. The buffers hold exactly
// what their heads' byte counts say, so a read or write past them shows under the sanitizer.
TEST_F(BadInput, InconsistentHeadsGainRangesFoldersAndMissingTexts) {
    HANDLE h = m_h;
    const std::filesystem::path dir = s_home / "contradictions";
    std::filesystem::create_directories(dir);
    auto filesIn = [&dir] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
        return n;
    };
    struct Head {
        const char* name;
        stImageInfo head;
        int overlay;  // grey images get no overlay at all
    };
    const Head heads[] = {
        {"640x480 BGR8 in 192 bytes",
         {640, 480, 192, CAMERA_MEDIA_TYPE_BGR8, 1000.0, 10.0, 1000, {}},
         CAMERA_STATUS_PARAMETER_INVALID},
        {"65536x65536 BGR8 in 320x240's bytes",
         {65536, 65536, 320 * 240 * 3, CAMERA_MEDIA_TYPE_BGR8, 1000.0, 10.0, 1000, {}},
         CAMERA_STATUS_PARAMETER_INVALID},
        {"65536x65536 grey in 4 bytes",
         {65536, 65536, 4, CAMERA_MEDIA_TYPE_MONO8, 1000.0, 10.0, 1000, {}},
         CAMERA_STATUS_SUCCESS},
        {"320x240 RGBA8 in 320x240x3 bytes",
         {320, 240, 320 * 240 * 3, CAMERA_MEDIA_TYPE_RGBA8, 1000.0, 10.0, 1000, {}},
         CAMERA_STATUS_PARAMETER_INVALID},
    };
    // A cross line through the middle of every head's image, and a display to convert into.
    ASSERT_EQ(CameraSetCrossLine(h, 0, 100, 100, 0x0000FF, 1), 0);
    ASSERT_EQ(CameraDisplayInit(h, 1), 0);
    for (const Head& row : heads) {
        SCOPED_TRACE(row.name);
        std::vector<BYTE> buffer(row.head.TotalBytes, 0x40);
        const std::vector<BYTE> before = buffer;
        stImageInfo head = row.head;
        for (const auto& [type, extension] :
             {std::pair{1, ".jpg"}, std::pair{2, ".bmp"}, std::pair{8, ".png"}}) {
            const std::string path = (dir / "image").string();
            EXPECT_EQ(CameraSaveImage(h, path.c_str(), buffer.data(), &head, type, 90),
                      CAMERA_STATUS_PARAMETER_INVALID)
                << extension;
            EXPECT_EQ(filesIn(), 0u) << extension;
        }
        EXPECT_EQ(CameraImageOverlay(h, buffer.data(), &head), row.overlay);
        EXPECT_EQ(buffer, before);
        EXPECT_EQ(CameraDisplay(h, buffer.data(), &head), CAMERA_STATUS_PARAMETER_INVALID);

        // A refused first frame states nothing: the recording then takes a frame of any size.
        const std::string avi = (s_home / "contradictions.avi").string();
        ASSERT_EQ(CameraStartRecord(h, avi.c_str(), 0, 90, 15), 0);
        EXPECT_EQ(CameraPushOneFrame(h, buffer.data(), &head), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(CameraPushOneFrame(h, m_ctx.image.data(), &m_ctx.imageInfo), 0);
        EXPECT_EQ(CameraPushOneFrame(h, buffer.data(), &head), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(CameraPushOneFrame(h, m_ctx.image.data(), &m_ctx.imageInfo), 0);
        EXPECT_EQ(CameraStopRecord(h), 0);
        // Two frames of 320 x 240 x 3 bytes and nothing else in the movie's data.
        EXPECT_GE(std::filesystem::file_size(avi), 2u * m_ctx.imageInfo.TotalBytes);
        EXPECT_LT(std::filesystem::file_size(avi), 3u * m_ctx.imageInfo.TotalBytes);
    }
    ASSERT_EQ(CameraSetCrossLine(h, 0, 0, 0, 0, 0), 0);
    // A raw file is the bytes the head counts, whatever its width and height say.
    {
        std::vector<BYTE> grey(4, 7);
        stImageInfo head{65536, 65536, 4, CAMERA_MEDIA_TYPE_MONO8, 1000.0, 10.0, 1000, {}};
        const std::string path = (dir / "raw").string();
        ASSERT_EQ(CameraSaveImage(h, path.c_str(), grey.data(), &head, 4, 0), 0);
        EXPECT_EQ(std::filesystem::file_size(path + ".raw"), 4u);
        std::filesystem::remove(path + ".raw");
    }

    // Gain ranges: both ends cut to the sensor's, as the ints they are, then compared.
    ASSERT_EQ(CameraSetAeState(h, 1), 0);
    tSdkCapability cap{};
    ASSERT_EQ(CameraGetCapability(h, &cap), 0);
    const int sensorMin = static_cast<int>(cap.auSensorParam[2]);
    const int sensorMax = static_cast<int>(cap.auSensorParam[3]);
    ASSERT_LT(sensorMin, sensorMax);
    int lo = 0, hi = 0;
    ASSERT_EQ(CameraSetAeAnalogGainRange(h, 0, INT_MAX), 0);
    ASSERT_EQ(CameraGetAeAnalogGainRange(h, &lo, &hi), 0);
    EXPECT_EQ(lo, sensorMin);
    EXPECT_EQ(hi, sensorMax);
    ASSERT_EQ(CameraSetAeAnalogGainRange(h, sensorMin + 1, sensorMax - 1), 0);
    struct Refused {
        const char* name;
        int min, max;
    };
    const Refused refused[] = {
        {"ends of int, inverted", INT_MAX, INT_MIN},
        {"both above the sensor's maximum", sensorMax + 10, sensorMax + 20},
        {"both below the sensor's minimum", 0, sensorMin - 1},
        {"negative minimum, maximum 0", INT_MIN, 0},
        {"minimum above the sensor's maximum, maximum INT_MAX", sensorMax + 1, INT_MAX},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(CameraSetAeAnalogGainRange(h, r.min, r.max), CAMERA_STATUS_PARAMETER_INVALID);
        ASSERT_EQ(CameraGetAeAnalogGainRange(h, &lo, &hi), 0);
        EXPECT_EQ(lo, sensorMin + 1);
        EXPECT_EQ(hi, sensorMax - 1);
    }
    EXPECT_EQ(CameraSetAeAnalogGainRange(h, INT_MIN, INT_MAX), 0);
    ASSERT_EQ(CameraGetAeAnalogGainRange(h, &lo, &hi), 0);
    EXPECT_EQ(lo, sensorMin);
    EXPECT_EQ(hi, sensorMax);
    ASSERT_EQ(CameraSetAeState(h, 0), 0);

    // Image files onto a folder: the folder cannot be created as the file.
    {
        std::vector<BYTE> grey(320 * 240, 9);
        stImageInfo head{320, 240, 320 * 240, CAMERA_MEDIA_TYPE_MONO8, 1000.0, 10.0, 1000, {}};
        const std::string path = (dir / "folder").string();
        for (const auto& [type, extension, code] :
             {std::tuple{4, ".raw", CAMERA_STATUS_FAILED},
              std::tuple{1, ".jpg", CAMERA_STATUS_FAILED},
              std::tuple{8, ".png", CAMERA_STATUS_FAILED},
              std::tuple{2, ".bmp", CAMERA_STATUS_IO_ERROR}}) {
            std::filesystem::create_directory(path + extension);
            EXPECT_EQ(CameraSaveImage(h, path.c_str(), grey.data(), &head, type, 90), code)
                << extension;
            EXPECT_TRUE(std::filesystem::is_directory(path + extension)) << extension;
            std::filesystem::remove(path + extension);
            EXPECT_EQ(filesIn(), 0u) << extension;
        }
    }

    // No font text, no text: refused like a font the renderer refuses, the image untouched.
    std::vector<BYTE> image = m_ctx.image;
    stImageInfo head = m_ctx.imageInfo;
    EXPECT_EQ(CameraDrawText(image.data(), &head, nullptr, 12, 0, "text", 1, 1, 50, 20, 0xFF),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraDrawText(image.data(), &head, "Sans", 12, 0, nullptr, 1, 1, 50, 20, 0xFF),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(image, m_ctx.image);
    ExpectStreaming("after the contradicting heads");
}

// Calls in an order the interface does not expect.
TEST_F(BadInput, CallsInTheWrongOrder) {
    HANDLE h = m_h;
    // Play and pause twice; getters of a paused camera; no frames while paused.
    ASSERT_EQ(CameraPlay(h), 0);
    ASSERT_EQ(CameraPlay(h), 0);
    ASSERT_EQ(CameraPause(h), 0);
    ASSERT_EQ(CameraPause(h), 0);
    CameraFrameHandle frame = nullptr;
    // A frame completed before the pause may still be taken, then the waits time out.
    int r = 0;
    for (int i = 0; i < 8 && (r = CameraGetRawImageBuffer(h, &frame, 300)) == 0; ++i)
        CameraReleaseFrameHandle(h, frame);
    EXPECT_EQ(r, CAMERA_STATUS_TIMEOUT);
    stImageInfo info{};
    EXPECT_EQ(CameraGetImageBufferEx(h, &info, 100), nullptr);
    tSdkCapability cap{};
    EXPECT_EQ(CameraGetCapability(h, &cap), 0);
    // A snapshot of a paused camera leaves it paused.
    ASSERT_EQ(CameraSnapToBuffer(h, &frame, &info, nullptr, 5000), 0);
    EXPECT_EQ(CameraReleaseFrameHandle(h, frame), 0);
    for (int i = 0; i < 8 && (r = CameraGetRawImageBuffer(h, &frame, 300)) == 0; ++i)
        CameraReleaseFrameHandle(h, frame);
    EXPECT_EQ(r, CAMERA_STATUS_TIMEOUT);

    // A frame released twice, and used after its release by the getters that check it.
    ASSERT_EQ(CameraPlay(h), 0);
    ASSERT_EQ(CameraGetRawImageBuffer(h, &frame, 5000), 0);
    EXPECT_EQ(CameraReleaseFrameHandle(h, frame), 0);
    EXPECT_EQ(CameraReleaseFrameHandle(h, frame), CAMERA_STATUS_PARAMETER_INVALID);
    ExpectStreaming("after a frame was released twice");

    // Callback mode: the callback is fixed while playing, and the processed-frame calls fail at
    // once.
    const CameraFrameCallback callback = [](HANDLE, BYTE*, stImageInfo*, void*) {};
    EXPECT_EQ(CameraSetCallbackFunction(h, callback, nullptr, nullptr), CAMERA_STATUS_BUSY);
    ASSERT_EQ(CameraPause(h), 0);
    ASSERT_EQ(CameraSetCallbackFunction(h, callback, nullptr, nullptr), 0);
    ASSERT_EQ(CameraPlay(h), 0);
    const auto start = Clock::now();
    EXPECT_EQ(CameraGetImageBufferEx(h, &info, 5000), nullptr);
    static std::vector<BYTE> out(320 * 240 * 4);
    EXPECT_EQ(CameraGetImageBufferEx1(h, out.data(), &info, 5000), CAMERA_STATUS_FAILED);
    EXPECT_LT(Clock::now() - start, 4s);
    ASSERT_EQ(CameraPause(h), 0);
    ASSERT_EQ(CameraSetCallbackFunction(h, nullptr, nullptr, nullptr), 0);
    ExpectStreaming("after callback mode");

    // Recording and display functions before their start.
    EXPECT_EQ(CameraStopRecord(h), CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraPushOneFrame(h, m_ctx.image.data(), &m_ctx.imageInfo), CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraDisplay(h, m_ctx.image.data(), &m_ctx.imageInfo),
              CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplayMode(h, 1), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetAeWinVisible(h, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraSoftTrigger(h), CAMERA_STATUS_FAILED);

    // Released while it streams, with a frame held and a recording open; then released again.
    ASSERT_EQ(CameraGetRawImageBuffer(h, &frame, 5000), 0);
    ASSERT_EQ(CameraStartRecord(h, (s_home / "open.avi").c_str(), 0, 90, 15), 0);
    UnInit(h);
    EXPECT_EQ(CameraUnInit(h), CAMERA_STATUS_PARAMETER_INVALID);
    int local = 0;
    EXPECT_EQ(CameraUnInit(&local), CAMERA_STATUS_PARAMETER_INVALID);
    m_h = nullptr;
}

// Every export on a camera whose cable was pulled while it streamed: a code of the table from
// each, nothing waits long; once it is back, frames come again.
TEST_F(BadInput, EveryExportWhileTheCameraIsLost) {
    m_cam->Pull();
    CameraFrameHandle frame = nullptr;
    int r = 0;
    for (int i = 0; i < 16 && (r = CameraGetRawImageBuffer(m_h, &frame, 300)) == 0; ++i)
        CameraReleaseFrameHandle(m_h, frame);
    ASSERT_EQ(r, CAMERA_STATUS_TIMEOUT);
    m_clock.Advance(5000);
    ASSERT_EQ(CameraGetRawImageBuffer(m_h, &frame, 100), CAMERA_STATUS_TIMEOUT);
    ASSERT_EQ(CameraGetRawImageBuffer(m_h, &frame, 100), CAMERA_STATUS_DEVICE_LOST);
    m_ctx.takeFrame = [] { return nullptr; };
    m_ctx.releaseFrame = [](CameraFrameHandle) {};
    for (auto rowsOf : {AcquisitionRows, SettingsRows, LineRows, OtherRows})
        for (const Row& row : rowsOf()) {
            // The rows that open, enumerate or reboot need the camera on the bus.
            const std::string name = row.name;
            if (name.find("Enumerate") != std::string::npos || name == "CameraGetEnumIndexInfo")
                continue;
            RunRowLoosely(row);
        }
    // A row paused it: play again while it is lost, as a host would.
    EXPECT_EQ(CameraPlay(m_h), 0);
    m_cam->PlugAgain();
    m_lastFrameNo = 0;
    const auto deadline = Clock::now() + 60s;
    while (Clock::now() < deadline && CameraGetRawImageBuffer(m_h, &frame, 200) != 0) {
    }
    ASSERT_LT(Clock::now(), deadline) << "no frame after the camera came back";
    CameraReleaseFrameHandle(m_h, frame);
    ExpectStreaming("after the camera came back");
}

// Every export of the interface has its row.
TEST(BadInputTable, OneRowPerExport) {
    std::map<std::string, int> rows;
    for (auto rowsOf : {AcquisitionRows, SettingsRows, LineRows, OtherRows})
        for (const Row& row : rowsOf()) ++rows[row.name];
    for (const auto& [name, n] : rows) EXPECT_EQ(n, 1) << name;
    for (std::string_view name : apitest::kInterfaceFunctions)
        EXPECT_TRUE(rows.count(std::string(name))) << "no row for " << name;
    EXPECT_EQ(rows.size(), apitest::kInterfaceFunctions.size());
}

}  // namespace
