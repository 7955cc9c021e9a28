// Parameter-group files that cannot be used: short, corrupt, unreadable or arbitrary files, null
// arguments, truncated tables, and what a failed save leaves behind.
#include "ParameterFileFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <random>

namespace {

using namespace paramtest;

// ---- Bad files ------------------------------------------------------------------------------

struct BadFile {
    const char* what;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Header(uint32_t magic, int32_t version, size_t size) {
    FileImage image(size);
    if (size >= 8) image.U32(0, magic).I32(4, version);
    return image.Bytes();
}

std::vector<uint8_t> Legacy(size_t size, bool signed_) {
    FileImage image(size, 0x11);
    if (signed_ && size >= 1628) image.Raw(1600, "JNCamera Better And Better!", 28);
    return image.Bytes();
}

TEST_F(ParameterFiles, ShortOrCorruptFileFailsAndLeavesRecordAndTablesInForce) {
    std::vector<uint8_t> badSignature = Legacy(1640, true);
    badSignature[1627] = '!';  // the terminating zero is part of the signature
    const std::vector<BadFile> cases = {
        {"empty", {}},
        {"half a header", {0xF1, 0x3E, 0x67, 0xAB}},
        {"version 4, one byte short", Header(kMagic, 4, 1215)},
        {"version 3, short", Header(kMagic, 3, 1000)},
        {"version 2, one byte short", Header(kMagic, 2, 1095)},
        {"version 5", Header(kMagic, 5, 1216)},
        {"version 1", Header(kMagic, 1, 1216)},
        {"version -1", Header(kMagic, -1, 1216)},
        {"legacy, one byte short", Legacy(1639, true)},
        {"legacy without signature", Legacy(1640, false)},
        {"legacy, signature not terminated", badSignature},
    };
    for (const BadFile& c : cases) {
        const std::string path = Path("bad.bin");
        FileImage image(0);
        image.Append(c.bytes.data(), c.bytes.size());
        image.WriteTo(path);
        const CameraParameter before = PatternedRecord(21);
        CameraParameter r = before;
        const Table t = MakeTable(4);
        Table l1 = t, l2 = t, l3 = t;
        EXPECT_EQ(m_builder.GetCfgFile(path.c_str(), &r, l1.data(), l2.data(), l3.data()),
                  CAMERA_STATUS_FAILED)
            << c.what;
        EXPECT_TRUE(SameBytes(r, before)) << c.what;
        EXPECT_TRUE(l1 == t && l2 == t && l3 == t) << c.what;
    }
}

TEST_F(ParameterFiles, UnreadableFileGivesFileIoFailedWithItsLogLine) {
    const std::string missing = Path("missing.bin");
    const CameraParameter before = PatternedRecord(8);
    CameraParameter r = before;
    EXPECT_EQ(m_builder.GetCfgFile(missing.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_TRUE(SameBytes(r, before));
    EXPECT_EQ(Log(), std::vector<std::string>{"GetCfgFile err:" + missing + "\n"});

    EXPECT_EQ(m_builder.GetCfgFile(m_dir.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(m_builder.GetCfgFile(fifo.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_TRUE(SameBytes(r, before));
}

TEST_F(ParameterFiles, NullArgumentsGiveTheirCodes) {
    CameraParameter r{};
    EXPECT_EQ(m_builder.GetCfgFile("x", nullptr, nullptr, nullptr, nullptr), CAMERA_STATUS_FAILED);
    EXPECT_EQ(m_builder.LoadFromFile("x", nullptr, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.LoadFromFile(nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.SaveToFile(nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    const tDevInfo info = MakeDevInfo("P", "F", "S");
    EXPECT_EQ(m_builder.SaveGroup(nullptr, &r, 0, 0, &info, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 0, nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(ParameterFiles, TruncatedTablesFillAsFarAsTheFileGoes) {
    CameraParameter saved = PatternedRecord(6);
    const Table t1 = MakeTable(100), t2 = MakeTable(200), t3 = MakeTable(300);
    const std::string full = Path("full.bin");
    ASSERT_EQ(m_builder.SaveToFile(full.c_str(), &saved, t1.data(), t2.data(), t3.data()), 0);
    const std::vector<uint8_t> bytes = ReadFile(full);

    const Table old = MakeTable(7);
    // Every size inside the record fails; sizes inside the tables fill whole entries only.
    for (size_t size = 0; size <= bytes.size(); size += (size < 1240 ? 1 : 331)) {
        FileImage image(0);
        image.Append(bytes.data(), size);
        const std::string path = Path("cut.bin");
        image.WriteTo(path);
        CameraParameter r = PatternedRecord(50);
        const CameraParameter before = r;
        Table l[3] = {old, old, old};
        const int result =
            m_builder.GetCfgFile(path.c_str(), &r, l[0].data(), l[1].data(), l[2].data());
        if (size < 1216) {
            ASSERT_EQ(result, CAMERA_STATUS_FAILED) << size;
            ASSERT_TRUE(SameBytes(r, before)) << size;
            continue;
        }
        ASSERT_EQ(result, 0) << size;
        ASSERT_TRUE(SameBytes(r, saved)) << size;
        const Table* written[3] = {&t1, &t2, &t3};
        for (size_t t = 0; t < 3; ++t) {
            const size_t start = 1216 + t * kTableBytes;
            const size_t entries = size > start ? std::min<size_t>((size - start) / 2, 4096) : 0;
            for (size_t i = 0; i < 4096; ++i) {
                const uint16_t expected = i < entries ? (*written[t])[i] : old[i];
                ASSERT_EQ(l[t][i], expected) << "size " << size << " table " << t << " entry " << i;
            }
        }
    }
}

// Arbitrary bytes, some with a valid magic or legacy signature: a load either fails and changes
// nothing, or succeeds with the clamped fields in range.
TEST_F(ParameterFiles, ArbitraryBytesNeverCorruptTheRecord) {
    std::mt19937 rng(20240611);
    const std::string path = Path("fuzz.bin");
    for (int i = 0; i < 400; ++i) {
        const size_t size = std::uniform_int_distribution<size_t>(0, 28000)(rng);
        std::vector<uint8_t> bytes(size);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        const int kind = i % 4;
        if (kind == 1 && size >= 8) {
            const int32_t version = std::uniform_int_distribution<int32_t>(1, 5)(rng);
            std::memcpy(bytes.data(), &kMagic, 4);
            std::memcpy(bytes.data() + 4, &version, 4);
        } else if (kind == 2 && size >= 1628) {
            std::memcpy(bytes.data() + 1600, "JNCamera Better And Better!", 28);
        }
        FileImage image(0);
        image.Append(bytes.data(), bytes.size());
        image.WriteTo(path);

        const CameraParameter before = PatternedRecord(static_cast<uint8_t>(i));
        CameraParameter r = before;
        Table l1{}, l2{}, l3{};
        const int result = m_builder.GetCfgFile(path.c_str(), &r, l1.data(), l2.data(), l3.data());
        if (result != 0) {
            ASSERT_EQ(result, CAMERA_STATUS_FAILED);
            ASSERT_TRUE(SameBytes(r, before)) << i;
            continue;
        }
        ASSERT_TRUE(r.settings.lightFrequency == 1 || r.settings.lightFrequency == 2);
        ASSERT_LE(r.settings.correctDeadPixel, 1);
        ASSERT_LE(r.settings.intValueFlag, 1);
        ASSERT_GE(r.packetSize, 1500);
        ASSERT_LE(r.packetSize, 9000);
        ASSERT_EQ(r.packetSize % 4, 0);
        ASSERT_LE(r.packetDelay, 1000u);
        ASSERT_NE(r.intValueA, 0);
        ASSERT_EQ(r.transferMode, 0);
    }
}

// A valid file in front of gigabytes of holes (a damaged or tampered disk): read as far as a
// file of any version reaches, the rest never touched.
TEST_F(ParameterFiles, HugeSparseFileLoadsItsRecordAndTables) {
    CameraParameter saved = PatternedRecord(9);
    const Table t1 = MakeTable(10), t2 = MakeTable(20), t3 = MakeTable(30);
    const std::string path = Path("sparse.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &saved, t1.data(), t2.data(), t3.data()), 0);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{6} << 30), 0);
    ::close(fd);

    CameraParameter r = PatternedRecord(77);
    Table l1{}, l2{}, l3{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &r, l1.data(), l2.data(), l3.data()), 0);
    EXPECT_TRUE(SameBytes(r, saved));
    EXPECT_TRUE(l1 == t1 && l2 == t2 && l3 == t3);
}

// ---- Failed saves ---------------------------------------------------------------------------

TEST_F(ParameterFiles, SaveIntoMissingFolderFailsAndSaysSo) {
    CameraParameter r = PatternedRecord(2);
    const std::string path = m_root + "/no-such-folder/p.bin";
    EXPECT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(Log(), std::vector<std::string>{"CreateCfgFile err:" + path + "\n"});
    EXPECT_FALSE(fs::exists(m_root + "/no-such-folder"));

    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    const std::string missingDir = m_root + "/gone";
    EXPECT_EQ(m_builder.SaveGroup(missingDir.c_str(), &r, 0, 1, &info, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
}

TEST_F(ParameterFiles, ShortWriteKeepsThePreviousFile) {
    CameraParameter good = PatternedRecord(11);
    const Table t = MakeTable(3);
    const std::string path = Path("keep.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &good, t.data(), nullptr, nullptr), 0);
    const std::vector<uint8_t> before = ReadFile(path);

    // A file-size limit below the new file's 1216 + 3 * 8192 bytes makes the write come up
    // short, as a full disk does.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    CameraParameter bigger = PatternedRecord(12);
    const int result = m_builder.SaveToFile(path.c_str(), &bigger, t.data(), t.data(), t.data());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_EQ(result, CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"keep.bin"});
    EXPECT_EQ(Log(), std::vector<std::string>{"CreateCfgFile err:" + path + "\n"});
}

TEST_F(ParameterFiles, SaveOverAFolderFailsAndCleansUp) {
    fs::create_directory(Path("taken.bin"));
    fs::create_directory(Path("taken.bin/inside"));
    CameraParameter r = PatternedRecord(1);
    const std::string path = Path("taken.bin");
    EXPECT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"taken.bin"});
}

}  // namespace
