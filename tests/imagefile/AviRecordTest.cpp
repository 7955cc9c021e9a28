// AVI recording through the controller and the writer: the file layout, playback by ffprobe
// and ffmpeg, the recording's state rules and bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FileReaders.h"
#include "FrameMaker.h"
#include "LogCapture.h"
#include "QVCameraApi.h"
#include "control/CameraControl.h"
#include "imagefile/AviWriter.h"

namespace {

using filetest::Le32;
using filetest::MakeFrame;
using filetest::ReadAll;
using filetest::TempDir;
using filetest::TestFrame;

std::string Tag(const std::vector<uint8_t>& b, size_t offset) {
    if (offset + 4 > b.size()) return "<end>";
    return std::string(reinterpret_cast<const char*>(b.data()) + offset, 4);
}

// The fixed header of a closed file with frames of width x height at rate (scale 1000000).
void ExpectFinalHeader(const std::vector<uint8_t>& b, uint32_t frames, uint32_t width,
                       uint32_t height, uint32_t usPerFrame, uint32_t rate, uint32_t moviEnd) {
    ASSERT_GE(b.size(), 2056u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(Le32(b, 4), b.size() - 8);
    EXPECT_EQ(Tag(b, 8), "AVI ");
    EXPECT_EQ(Tag(b, 12), "LIST");
    EXPECT_EQ(Le32(b, 16), 192u);
    EXPECT_EQ(Tag(b, 20), "hdrl");
    EXPECT_EQ(Tag(b, 24), "avih");
    EXPECT_EQ(Le32(b, 28), 56u);
    EXPECT_EQ(Le32(b, 32), usPerFrame);
    EXPECT_EQ(Le32(b, 44), 0x110u);
    EXPECT_EQ(Le32(b, 48), frames);
    EXPECT_EQ(Le32(b, 56), 1u);
    EXPECT_EQ(Le32(b, 64), width);
    EXPECT_EQ(Le32(b, 68), height);
    EXPECT_EQ(Tag(b, 88), "LIST");
    EXPECT_EQ(Le32(b, 92), 116u);
    EXPECT_EQ(Tag(b, 96), "strl");
    EXPECT_EQ(Tag(b, 100), "strh");
    EXPECT_EQ(Tag(b, 108), "vids");
    EXPECT_EQ(Le32(b, 112), 0u);
    EXPECT_EQ(Le32(b, 128), 1000000u);
    EXPECT_EQ(Le32(b, 132), rate);
    EXPECT_EQ(Le32(b, 140), frames);
    EXPECT_EQ(Le32(b, 148), 0xFFFFFFFFu);
    EXPECT_EQ(Tag(b, 164), "strf");
    EXPECT_EQ(Le32(b, 168), 40u);
    EXPECT_EQ(Le32(b, 172), 40u);
    EXPECT_EQ(Le32(b, 176), width);
    EXPECT_EQ(Le32(b, 180), height);
    EXPECT_EQ(filetest::Le16(b, 184), 1);
    EXPECT_EQ(filetest::Le16(b, 186), 24);
    EXPECT_EQ(Le32(b, 188), 0u);
    EXPECT_EQ(Le32(b, 192), width * height * 3);
    EXPECT_EQ(Tag(b, 212), "LIST");
    EXPECT_EQ(Le32(b, 216), 76u);
    EXPECT_EQ(Tag(b, 220), "INFO");
    EXPECT_EQ(Tag(b, 224), "ISFT");
    EXPECT_EQ(Le32(b, 228), 64u);
    EXPECT_EQ(Tag(b, 296), "JUNK");
    EXPECT_EQ(Le32(b, 300), 1732u);
    EXPECT_EQ(Tag(b, 2036), "LIST");
    EXPECT_EQ(Le32(b, 2040), moviEnd - 2044);
    EXPECT_EQ(Tag(b, 2044), "movi");
    EXPECT_EQ(Tag(b, moviEnd), "idx1");
    EXPECT_EQ(Le32(b, moviEnd + 4), 16 * frames);
    EXPECT_EQ(b.size(), moviEnd + 8 + 16 * frames);
}

class AviRecord : public ::testing::Test {
  protected:
    int Start(const std::string& path, int fps = 25) {
        return m_control.CameraStartRecord(path.c_str(), 0, 80, fps);
    }
    int Push(const TestFrame& f) { return m_control.CameraPushOneFrame(f.bytes.data(), &f.head); }

    CameraControl m_control{nullptr};  // recording needs no camera
    TempDir m_dir;
};

// The Part's layout cases, as a table of recordings.
TEST_F(AviRecord, Layouts) {
    struct Row {
        const char* name;
        int fps;
        std::vector<TestFrame> frames;
        std::function<void(const std::vector<TestFrame>&, const std::vector<uint8_t>&)> check;
    };
    const std::vector<Row> rows = {
        {"25 fps: 40000 us per frame, rate 25000000",
         25,
         {MakeFrame(4, 2, CAMERA_MEDIA_TYPE_BGR8)},
         [](const auto&, const std::vector<uint8_t>& b) {
             ExpectFinalHeader(b, 1, 4, 2, 40000, 25000000, 2048 + 8 + 24);
         }},
        {"0 fps: both 0",
         0,
         {MakeFrame(4, 2, CAMERA_MEDIA_TYPE_BGR8)},
         [](const auto&, const std::vector<uint8_t>& b) {
             ExpectFinalHeader(b, 1, 4, 2, 0, 0, 2048 + 8 + 24);
         }},
        {"640x480 mono: chunks of 921600 at 2048 and 2048 + 8 + 921600",
         30,
         {MakeFrame(640, 480, CAMERA_MEDIA_TYPE_MONO8, 1),
          MakeFrame(640, 480, CAMERA_MEDIA_TYPE_MONO8, 2)},
         [](const auto& frames, const std::vector<uint8_t>& b) {
             const uint32_t second = 2048 + 8 + 921600;
             ExpectFinalHeader(b, 2, 640, 480, 33333, 30000000, second + 8 + 921600);
             EXPECT_EQ(Tag(b, 2048), "00db");
             EXPECT_EQ(Le32(b, 2052), 921600u);
             EXPECT_EQ(Tag(b, second), "00db");
             EXPECT_EQ(Le32(b, second + 4), 921600u);
             // Bottom row first: the chunk's first bytes are the frame's last row, grey x 3.
             const uint8_t lastRowFirst = frames[1].bytes[479 * 640];
             EXPECT_EQ(b[second + 8], lastRowFirst);
             EXPECT_EQ(b[second + 9], lastRowFirst);
             EXPECT_EQ(b[second + 10], lastRowFirst);
             const uint32_t index = second + 8 + 921600 + 8;
             for (uint32_t i = 0; i < 2; ++i) {
                 EXPECT_EQ(Tag(b, index + 16 * i), "00db");
                 EXPECT_EQ(Le32(b, index + 16 * i + 4), 0x10u);
                 EXPECT_EQ(Le32(b, index + 16 * i + 8), i == 0 ? 2048u : second);
                 EXPECT_EQ(Le32(b, index + 16 * i + 12), 921600u);
             }
         }},
        {"3x3: 27-byte chunks and one pad byte, index length 27",
         25,
         {MakeFrame(3, 3, CAMERA_MEDIA_TYPE_BGR8, 1), MakeFrame(3, 3, CAMERA_MEDIA_TYPE_BGR8, 2)},
         [](const auto&, const std::vector<uint8_t>& b) {
             ExpectFinalHeader(b, 2, 3, 3, 40000, 25000000, 2048 + 2 * 36);
             EXPECT_EQ(Le32(b, 2052), 27u);
             EXPECT_EQ(b[2048 + 8 + 27], 0);
             EXPECT_EQ(Tag(b, 2048 + 36), "00db");
             EXPECT_EQ(Le32(b, 2048 + 72 + 8 + 16 + 8), 2048u + 36);
             EXPECT_EQ(Le32(b, 2048 + 72 + 8 + 16 + 12), 27u);
         }},
        {"no frames: 2056 bytes, movie list size 4, empty index",
         25,
         {},
         [](const auto&, const std::vector<uint8_t>& b) {
             ASSERT_EQ(b.size(), 2056u);
             EXPECT_EQ(Le32(b, 4), 2048u);
             EXPECT_EQ(Le32(b, 48), 0u);
             EXPECT_EQ(Le32(b, 2040), 4u);
             EXPECT_EQ(Tag(b, 2048), "idx1");
             EXPECT_EQ(Le32(b, 2052), 0u);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = m_dir / "layout.avi";
        ASSERT_EQ(Start(path, row.fps), 0);
        for (const TestFrame& f : row.frames) ASSERT_EQ(Push(f), 0);
        ASSERT_EQ(m_control.CameraStopRecord(), 0);
        row.check(row.frames, ReadAll(path));
    }
}

// While recording, the header is the provisional one and frames are in place; the index comes
// with the close.
TEST_F(AviRecord, ProvisionalHeaderWhileRecording) {
    const std::string path = m_dir / "open.avi";
    ASSERT_EQ(Start(path), 0);
    EXPECT_EQ(ReadAll(path), std::vector<uint8_t>(2048, 0));
    ASSERT_EQ(Push(MakeFrame(4, 4, CAMERA_MEDIA_TYPE_MONO8)), 0);
    const std::vector<uint8_t> b = ReadAll(path);
    ASSERT_EQ(b.size(), 2048u + 8 + 48);
    EXPECT_EQ(Le32(b, 4), 0xFEFFF003u);
    EXPECT_EQ(Le32(b, 48), 0u);
    EXPECT_EQ(Le32(b, 140), 0u);
    EXPECT_EQ(Tag(b, 212), "JUNK");
    EXPECT_EQ(Le32(b, 216), 1816u);
    EXPECT_EQ(Tag(b, 2036), "LIST");
    EXPECT_EQ(Le32(b, 2040), 0xFEFFF003u);
    EXPECT_EQ(Tag(b, 2044), "movi");
    EXPECT_EQ(Tag(b, 2048), "00db");
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
}

// Frames of every format play back in ffmpeg as what was pushed (top row first after its own
// flip of the bottom-up rows); ffprobe sees an uncompressed BGR stream with every frame.
TEST_F(AviRecord, PlaysInFfmpeg) {
    const std::string path = m_dir / "play.avi";
    const std::vector<uint32_t> types = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_MONO12_16,
                                         CAMERA_MEDIA_TYPE_RGB8,  CAMERA_MEDIA_TYPE_BGR8,
                                         CAMERA_MEDIA_TYPE_RGBA8, CAMERA_MEDIA_TYPE_BGRA8};
    ASSERT_EQ(Start(path, 25), 0);
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < types.size(); ++i) {
        const TestFrame f = MakeFrame(33, 17, types[i], static_cast<int>(i));
        ASSERT_EQ(Push(f), 0);
        const std::vector<uint8_t> bgr = filetest::ExpectedBgr(f);
        expected.insert(expected.end(), bgr.begin(), bgr.end());
    }
    ASSERT_EQ(m_control.CameraStopRecord(), 0);

    const filetest::AviProbe probe = filetest::ProbeAvi(path);
    EXPECT_EQ(probe.codec, "rawvideo");
    EXPECT_EQ(probe.pixFmt, "bgr24");
    EXPECT_EQ(probe.width, 33);
    EXPECT_EQ(probe.height, 17);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.frames, 6);
    EXPECT_EQ(probe.errors, "");
    EXPECT_TRUE(filetest::DecodeAvi(path) == expected);
}

// Another frame size after the first is refused and changes nothing in the file; another
// format of the same size is fine.
TEST_F(AviRecord, FrameSizeIsFixedByTheFirstFrame) {
    qvsim::LogCapture log;
    const std::string path = m_dir / "size.avi";
    ASSERT_EQ(Start(path), 0);
    ASSERT_EQ(Push(MakeFrame(8, 6, CAMERA_MEDIA_TYPE_MONO8)), 0);
    const std::vector<uint8_t> before = ReadAll(path);
    EXPECT_EQ(Push(MakeFrame(6, 8, CAMERA_MEDIA_TYPE_MONO8)), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(Push(MakeFrame(8, 7, CAMERA_MEDIA_TYPE_BGR8)), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(log.Count("frame size error, the width or height of frame is changed.\n"), 2);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(Push(MakeFrame(8, 6, CAMERA_MEDIA_TYPE_BGRA8)), 0);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
    EXPECT_EQ(filetest::ProbeAvi(path).frames, 2);
}

// Until a frame is in the file, the stream takes the size of the next frame: a refused first
// frame does not fix it.
TEST_F(AviRecord, RefusedFirstFrameFixesNothing) {
    const std::string path = m_dir / "first.avi";
    ASSERT_EQ(Start(path), 0);
    EXPECT_EQ(Push(MakeFrame(8, 6, filetest::kBayerGrbg8)), CAMERA_STATUS_NOT_SUPPORTED);
    ASSERT_EQ(Push(MakeFrame(5, 3, CAMERA_MEDIA_TYPE_RGB8)), 0);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
    const filetest::AviProbe probe = filetest::ProbeAvi(path);
    EXPECT_EQ(probe.width, 5);
    EXPECT_EQ(probe.height, 3);
    EXPECT_EQ(probe.frames, 1);
}

// Push and stop without a recording: -1 and the log line.
TEST_F(AviRecord, NoRecording) {
    qvsim::LogCapture log;
    EXPECT_EQ(Push(MakeFrame(4, 4, CAMERA_MEDIA_TYPE_MONO8)), CAMERA_STATUS_FAILED);
    EXPECT_EQ(m_control.CameraStopRecord(), CAMERA_STATUS_FAILED);
    EXPECT_EQ(log.Count("the record is not start, push frame to record file failed\n"), 2);
    // After a stop, the same again.
    ASSERT_EQ(Start(m_dir / "once.avi"), 0);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
    EXPECT_EQ(m_control.CameraStopRecord(), CAMERA_STATUS_FAILED);
}

// Bad input answers its code; a file that cannot be opened -22 with the log line.
TEST_F(AviRecord, BadInput) {
    qvsim::LogCapture log;
    EXPECT_EQ(m_control.CameraStartRecord(nullptr, 0, 0, 25), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(Start(m_dir / "no/such/folder.avi"), CAMERA_STATUS_FILE_OPEN_FAILED);
    EXPECT_EQ(log.Count("open avi file failed\n"), 1);
    EXPECT_EQ(AviLastError, AVI_ERR_OPEN);
    EXPECT_EQ(Push(MakeFrame(4, 4, CAMERA_MEDIA_TYPE_MONO8)), CAMERA_STATUS_FAILED);

    const std::string path = m_dir / "bad.avi";
    ASSERT_EQ(Start(path), 0);
    const TestFrame f = MakeFrame(4, 4, CAMERA_MEDIA_TYPE_MONO8);
    EXPECT_EQ(m_control.CameraPushOneFrame(nullptr, &f.head), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_control.CameraPushOneFrame(f.bytes.data(), nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    TestFrame zero = f;
    zero.head.iWidth = 0;
    EXPECT_EQ(Push(zero), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(Push(MakeFrame(4, 4, filetest::kBayerGrbg8)), CAMERA_STATUS_NOT_SUPPORTED);
    // A frame whose data would take the file past 2 GiB is refused before it is read (its head
    // claims all its bytes; the buffer behind it is 16 bytes).
    TestFrame huge = f;
    huge.head.iWidth = 32768;
    huge.head.iHeight = 21846;
    huge.head.TotalBytes = 32768u * 21846u;
    EXPECT_EQ(Push(huge), CAMERA_STATUS_FILE_TOO_LARGE);
    // A head whose byte count is short of its pixels is refused before anything is read.
    TestFrame wider = f;
    wider.head.iWidth = 8;
    EXPECT_EQ(Push(wider), CAMERA_STATUS_PARAMETER_INVALID);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
    EXPECT_EQ(ReadAll(path).size(), 2056u);

    EXPECT_EQ(CameraStartRecord(nullptr, path.c_str(), 0, 0, 25), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraPushOneFrame(nullptr, const_cast<BYTE*>(f.bytes.data()),
                                 const_cast<stImageInfo*>(&f.head)),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraStopRecord(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// Starting again while recording finishes the earlier file, which then plays.
TEST_F(AviRecord, StartWhileRecordingFinishesTheEarlierFile) {
    ASSERT_EQ(Start(m_dir / "a.avi"), 0);
    ASSERT_EQ(Push(MakeFrame(6, 4, CAMERA_MEDIA_TYPE_BGR8)), 0);
    ASSERT_EQ(Start(m_dir / "b.avi", 10), 0);
    ASSERT_EQ(Push(MakeFrame(2, 2, CAMERA_MEDIA_TYPE_MONO8)), 0);
    ASSERT_EQ(Push(MakeFrame(2, 2, CAMERA_MEDIA_TYPE_MONO8)), 0);
    ExpectFinalHeader(ReadAll(m_dir / "a.avi"), 1, 6, 4, 40000, 25000000, 2048 + 8 + 72);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);
    ExpectFinalHeader(ReadAll(m_dir / "b.avi"), 2, 2, 2, 100000, 10000000, 2048 + 2 * 20);
}

// Releasing the camera finishes an open recording, through the export too.
TEST_F(AviRecord, UninitFinishesTheRecording) {
    const std::string path = m_dir / "uninit.avi";
    ASSERT_EQ(CameraStartRecord(static_cast<HANDLE>(&m_control), path.c_str(), 0, 0, 25), 0);
    TestFrame f = MakeFrame(10, 4, CAMERA_MEDIA_TYPE_RGB8);
    ASSERT_EQ(CameraPushOneFrame(static_cast<HANDLE>(&m_control), f.bytes.data(), &f.head), 0);
    ASSERT_EQ(m_control.CameraUninit(), 0);
    ExpectFinalHeader(ReadAll(path), 1, 10, 4, 40000, 25000000, 2048 + 8 + 120);
    EXPECT_EQ(m_control.CameraStopRecord(), CAMERA_STATUS_FAILED);
}

// The writer's own limit (pending index included) and its error texts; the last error is the
// calling thread's.
TEST(AviWriterTest, SizeLimitAndErrors) {
    TempDir dir;
    std::unique_ptr<AviWriter> w = AviWriter::Open((dir / "w.avi").c_str());
    ASSERT_TRUE(w);
    ASSERT_EQ(w->SetVideo(2, 2, 25, "RGB"), 0);
    const uint8_t pixels[12] = {};
    ASSERT_EQ(w->WriteFrame(pixels, sizeof pixels, true), 0);
    // 2048 + 20 + n + 16 + 32 must stay at 0xFEFFF7FF: the largest n passes the check, one more
    // does not (the data is not read before the check).
    EXPECT_EQ(w->WriteFrame(pixels, 0xFEFFF7FF - 2048 - 20 - 16 - 32 + 1, true), -1);
    EXPECT_EQ(AviLastError, AVI_ERR_SIZELIM);
    EXPECT_STREQ(AviErrorText(AviLastError), "avilib - AVI file size limit reached");
    EXPECT_EQ(w->VideoFrames(), 1u);
    EXPECT_EQ(w->WritePosition(), 2048 + 20);

    int otherThread = -1;
    std::thread([&] { otherThread = AviLastError; }).join();
    EXPECT_EQ(otherThread, AVI_ERR_NONE);

    EXPECT_EQ(w->Close(), 0);
    EXPECT_STREQ(AviErrorText(0), "avilib - No Error");
    EXPECT_STREQ(AviErrorText(5), "avilib - Error writing index (file may still be useable)");
    EXPECT_STREQ(AviErrorText(14), "avilib - Unkown Error");
    EXPECT_STREQ(AviErrorText(15), "avilib - Unkown Error");
    EXPECT_STREQ(AviErrorText(-1), "avilib - Unkown Error");
}

// A new file is created with 0644 less the umask; an existing one is overwritten in place and
// cut to the recording's length.
TEST(AviWriterTest, OpenModeAndExistingFile) {
    TempDir dir;
    const std::string path = dir / "m.avi";
    filetest::WriteAll(path, std::vector<uint8_t>(100000, 0xEE));
    std::unique_ptr<AviWriter> w = AviWriter::Open(path.c_str());
    ASSERT_TRUE(w);
    EXPECT_EQ(w->Close(), 0);
    EXPECT_EQ(ReadAll(path).size(), 2056u);

    const mode_t old = umask(027);
    std::unique_ptr<AviWriter> fresh = AviWriter::Open((dir / "n.avi").c_str());
    umask(old);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->Close(), 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "n.avi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
