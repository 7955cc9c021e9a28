// Image files, recordings and parameter files on a full disk: a small tmpfs mounted in a mount
// namespace of this process's own (root only; the tests skip themselves otherwise). The process
// must still be single-threaded when the namespace is made, so nothing here starts a thread
// first.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileReaders.h"
#include "FrameMaker.h"
#include "LogCapture.h"
#include "control/CameraControl.h"
#include "params/CameraParameterBuilder.h"

namespace {

using filetest::MakeFrame;
using filetest::ReadAll;
using filetest::TestFrame;

// The mount namespace, made once for the process: empty when it could be made, else why not.
const std::string& NamespaceProblem() {
    static const std::string problem = [] {
        if (geteuid() != 0) return std::string("needs root for a mount namespace");
        if (unshare(CLONE_NEWNS) != 0)
            return "unshare(CLONE_NEWNS): " + std::string(strerror(errno));
        // Nothing mounted here may reach the machine's own mount table.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "private mounts: " + std::string(strerror(errno));
        return std::string();
    }();
    return problem;
}

class DiskFull : public ::testing::Test {
  protected:
    // A tmpfs of bytes at m_dir.
    void MountTmpfs(size_t bytes) {
        if (!NamespaceProblem().empty())
            GTEST_SKIP() << "disk-full tests skipped: " << NamespaceProblem();
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        ASSERT_EQ(mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, options.c_str()), 0)
            << strerror(errno);
        m_mounted = true;
    }
    void TearDown() override {
        if (m_mounted) umount2(m_dir.Path().c_str(), MNT_DETACH);
    }

    // Fills what is left of the disk with a file of its own.
    void FillDisk() {
        FILE* f = std::fopen((m_dir / "filler").c_str(), "ab");
        ASSERT_NE(f, nullptr);
        const std::vector<uint8_t> block(4096, 0xAA);
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
        }
        std::fclose(f);
    }
    void FreeDisk() { std::remove((m_dir / "filler").c_str()); }
    // Gives the disk back the pages of a file's first 4 KiB (they read as zeros), so that
    // writing there needs room again.
    void PunchHead(const std::string& path) {
        const int fd = open(path.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 4096), 0)
            << strerror(errno);
        close(fd);
    }

    filetest::TempDir m_dir;
    bool m_mounted = false;
    CameraControl m_control{nullptr};
};

// A save that does not fit fails with -13 and leaves neither a partial file nor its temporary
// file; a file already under that name stays as it was.
TEST_F(DiskFull, ImageFilesAreWholeOrAbsent) {
    MountTmpfs(64 * 1024);
    if (IsSkipped()) return;
    // Noise compresses badly, so every format is larger than the disk.
    TestFrame big = MakeFrame(256, 256, CAMERA_MEDIA_TYPE_BGR8);
    uint32_t state = 12345;
    for (uint8_t& b : big.bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    TestFrame bigMono = big;
    bigMono.head.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    bigMono.head.iWidth = 512;
    bigMono.head.iHeight = 384;
    bigMono.head.TotalBytes = 512 * 384;
    const TestFrame small = MakeFrame(8, 8, CAMERA_MEDIA_TYPE_MONO8);

    struct Row {
        int type;
        const char* extension;
        const TestFrame* frame;
    };
    const std::vector<Row> rows = {
        {2, ".bmp", &big}, {8, ".png", &big}, {1, ".jpg", &big}, {4, ".raw", &bigMono}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extension);
        const std::string base = m_dir / "img";
        ASSERT_EQ(
            m_control.CameraSaveImage(base.c_str(), small.bytes.data(), &small.head, row.type, 95),
            0);
        const std::vector<uint8_t> good = ReadAll(base + row.extension);
        ASSERT_FALSE(good.empty());
        EXPECT_EQ(m_control.CameraSaveImage(base.c_str(), row.frame->bytes.data(), &row.frame->head,
                                            row.type, 95),
                  CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(ReadAll(base + row.extension), good);
        EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"img" + std::string(row.extension)});
        std::remove((base + row.extension).c_str());
    }
}

// A parameter file that does not fit fails (-13 from the builder, -1 through the controller)
// and leaves neither a partial file nor its temporary file; the file it would replace stays
// whole and loads as before.
TEST_F(DiskFull, ParameterFilesAreWholeOrAbsent) {
    // One file (the record and three tables, 25792 bytes) fits in eight pages; a second does not.
    MountTmpfs(8 * 4096);
    if (IsSkipped()) return;
    CameraParameterBuilder builder;
    CameraParameter record{};
    builder.SetDefault(&record);
    record.triggerDelayTime = 777;
    std::vector<uint16_t> tables(3 * CameraParameterBuilder::kTableEntries, 0x0123);
    const uint16_t* t[3] = {tables.data(), tables.data() + CameraParameterBuilder::kTableEntries,
                            tables.data() + 2 * CameraParameterBuilder::kTableEntries};
    const std::string kept = m_dir / "kept_Cfg_A.bin";
    ASSERT_EQ(builder.SaveToFile(kept.c_str(), &record, t[0], t[1], t[2]), 0);
    const std::vector<uint8_t> good = ReadAll(kept);
    ASSERT_EQ(good.size(), 1216u + 3u * 8192u);

    const std::string other = m_dir / "other_Cfg_A.bin";
    EXPECT_EQ(builder.SaveToFile(other.c_str(), &record, t[0], t[1], t[2]),
              CAMERA_STATUS_FILE_IO_FAILED);
    record.triggerDelayTime = 333;  // a save that would change the kept file
    EXPECT_EQ(builder.SaveToFile(kept.c_str(), &record, t[0], t[1], t[2]),
              CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_EQ(m_control.CameraSaveParameterToFile(other.c_str()), CAMERA_STATUS_FAILED);
    EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"kept_Cfg_A.bin"});
    EXPECT_EQ(ReadAll(kept), good);

    CameraParameter loaded{};
    std::vector<uint16_t> back(3 * CameraParameterBuilder::kTableEntries, 0);
    ASSERT_EQ(builder.LoadFromFile(kept.c_str(), &loaded, back.data(),
                                   back.data() + CameraParameterBuilder::kTableEntries,
                                   back.data() + 2 * CameraParameterBuilder::kTableEntries),
              0);
    EXPECT_EQ(back, tables);
}

// A frame that does not fit is refused whole (-23), again and again; the recording then
// closes with the frames before it, and the file plays them.
TEST_F(DiskFull, RecordingKeepsTheFramesWritten) {
    MountTmpfs(256 * 1024);
    if (IsSkipped()) return;
    const std::string path = m_dir / "full.avi";
    ASSERT_EQ(m_control.CameraStartRecord(path.c_str(), 0, 0, 25), 0);
    std::vector<TestFrame> written;
    int r = 0;
    for (int i = 0; i < 100 && r == 0; ++i) {
        TestFrame f = MakeFrame(64, 48, CAMERA_MEDIA_TYPE_BGR8, i);
        r = m_control.CameraPushOneFrame(f.bytes.data(), &f.head);
        if (r == 0) written.push_back(std::move(f));
    }
    ASSERT_EQ(r, CAMERA_STATUS_FILE_IO_FAILED);
    ASSERT_GE(written.size(), 5u);
    const TestFrame late = MakeFrame(64, 48, CAMERA_MEDIA_TYPE_BGR8, 99);
    EXPECT_EQ(m_control.CameraPushOneFrame(late.bytes.data(), &late.head),
              CAMERA_STATUS_FILE_IO_FAILED);
    ASSERT_EQ(m_control.CameraStopRecord(), 0);

    const std::vector<uint8_t> b = ReadAll(path);
    const size_t frames = written.size();
    EXPECT_EQ(b.size(), 2048 + frames * (8 + 64 * 48 * 3) + 8 + 16 * frames);
    EXPECT_EQ(filetest::Le32(b, 4), b.size() - 8);
    EXPECT_EQ(filetest::Le32(b, 44), 0x110u);  // with its index
    const filetest::AviProbe probe = filetest::ProbeAvi(path);
    EXPECT_EQ(probe.frames, static_cast<int>(frames));
    EXPECT_EQ(probe.errors, "");
    const std::vector<uint8_t> decoded = filetest::DecodeAvi(path);
    const std::vector<uint8_t> last = filetest::ExpectedBgr(written.back());
    ASSERT_EQ(decoded.size(), frames * last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), decoded.end() - last.size()));
}

// The stream header the first frame writes, and the index and final header the stop writes,
// can fail on a full disk too: each is reported (-23), not taken for done. A first frame that
// could not state the stream fixes nothing; the next one, with room again, does.
TEST_F(DiskFull, RecordingHeadersThatDoNotFitAreReported) {
    MountTmpfs(64 * 1024);
    if (IsSkipped()) return;
    const std::string path = m_dir / "head.avi";
    ASSERT_EQ(m_control.CameraStartRecord(path.c_str(), 0, 0, 25), 0);
    PunchHead(path);
    FillDisk();
    const TestFrame f = MakeFrame(16, 8, CAMERA_MEDIA_TYPE_BGR8, 1);
    qvsim::LogCapture log;
    EXPECT_EQ(m_control.CameraPushOneFrame(f.bytes.data(), &f.head), CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_EQ(log.Count("write frame to avi file failed\n"), 1);
    FreeDisk();
    const TestFrame other = MakeFrame(8, 8, CAMERA_MEDIA_TYPE_BGR8, 2);
    ASSERT_EQ(m_control.CameraPushOneFrame(other.bytes.data(), &other.head), 0);
    EXPECT_EQ(filetest::Le32(ReadAll(path), 64), 8u);  // the stream is the second frame's

    PunchHead(path);
    FillDisk();
    EXPECT_EQ(m_control.CameraStopRecord(), CAMERA_STATUS_FILE_IO_FAILED);
    // Stopped all the same.
    EXPECT_EQ(m_control.CameraStopRecord(), CAMERA_STATUS_FAILED);
    FreeDisk();
}

}  // namespace
