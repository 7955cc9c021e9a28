// The upgrade-file reader: header, support list, elements with their masks, and the checks that
// keep a damaged file from being allocated for or half-written.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <list>
#include <memory>

#include "UpgradeFiles.h"
#include "upgrade/UpgradeU3Camera.h"

namespace {

using qvsim::BuildUpgradeFile;
using qvsim::TempFile;
using qvsim::UpgradeElementSpec;
using qvsim::UpgradeFileSpec;

// The reader's operations need no camera.
class Reader : public CUpgradeU3Camera {
  public:
    Reader() : CUpgradeU3Camera(nullptr) {}
    bool HasFile() const { return m_pFile != nullptr; }
};

int OpenDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    return n;
}

UpgradeFileSpec TwoElements() {
    UpgradeFileSpec f;
    f.deviceId = 0x0102;
    f.support = {{37, 0xAA220002}, {17, 0xAA220001}};
    f.elements = {{.type = 1, .data = qvsim::RandomBytes(37, 1)},
                  {.type = 2, .data = qvsim::RandomBytes(64, 2)}};
    return f;
}

TEST(UpgradeFileReader, HeaderSupportListAndElements) {
    const UpgradeFileSpec spec = TwoElements();
    const std::vector<uint8_t> bytes = BuildUpgradeFile(spec);
    Reader r;
    UpgradeFileHeader h{};
    ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
    EXPECT_EQ(h.magic, 0xBB7863D1u);
    EXPECT_EQ(h.deviceId, 0x0102u);
    EXPECT_EQ(h.total, 101u);
    EXPECT_EQ(h.elementCount, 2u);
    EXPECT_EQ(h.supportCount, 2u);

    std::list<Tag_UpgradeCameraInfo> list{{1, 1}};
    ASSERT_EQ(r.ReadSupportCameraList(&h, list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front().sensorType, 37u);
    EXPECT_EQ(list.front().boardCode, 0xAA220002u);
    EXPECT_EQ(list.back().sensorType, 17u);

    for (const UpgradeElementSpec& e : spec.elements) {
        UpgradeElmentHeader eh{};
        BYTE* data = nullptr;
        ASSERT_EQ(r.ReadUpgradeFile(&eh, &data), static_cast<int>(e.data.size()));
        EXPECT_EQ(eh.type, e.type);
        EXPECT_EQ(eh.mask[3], e.mask[3]);
        EXPECT_EQ(std::vector<uint8_t>(data, data + e.data.size()), e.data);
        r.FreeReadDataBuffer(data);
    }
    EXPECT_EQ(r.CloseUpgradeFile(), 0);
    EXPECT_FALSE(r.HasFile());
}

TEST(UpgradeFileReader, UnmasksWholeWordsAndKeepsTheTailPlain) {
    // Six bytes: word 0 restored with mask[0], the last two bytes as stored.
    UpgradeFileSpec f;
    f.elements = {{.type = 1,
                   .data = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66},
                   .mask = {0xA0B0C0D0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}}};
    std::vector<uint8_t> bytes = BuildUpgradeFile(f);
    const size_t data = qvsim::ElementOffset(f, 0) + qvsim::kElementHeaderBytes;
    // As stored: 0x11 ^ 0xD0, 0x22 ^ 0xC0, ... and the tail untouched.
    ASSERT_EQ(bytes[data], 0x11 ^ 0xD0);
    ASSERT_EQ(bytes[data + 3], 0x44 ^ 0xA0);
    ASSERT_EQ(bytes[data + 4], 0x55);

    Reader r;
    UpgradeFileHeader h{};
    ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
    UpgradeElmentHeader eh{};
    BYTE* out = nullptr;
    ASSERT_EQ(r.ReadUpgradeFile(&eh, &out), 6);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 6), f.elements[0].data);
    r.FreeReadDataBuffer(out);

    // Nine words cycle through the four masks twice and then once more.
    f.elements = {{.type = 1, .data = qvsim::RandomBytes(36, 9)}};
    bytes = BuildUpgradeFile(f);
    ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
    ASSERT_EQ(r.ReadUpgradeFile(&eh, &out), 36);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 36), f.elements[0].data);
    r.FreeReadDataBuffer(out);
}

TEST(UpgradeFileReader, EmptyElementIsNoEndOfFile) {
    UpgradeFileSpec f;
    f.elements = {{.type = 1, .data = {}}, {.type = 2, .data = {1, 2, 3, 4, 5}}};
    const std::vector<uint8_t> bytes = BuildUpgradeFile(f);
    Reader r;
    UpgradeFileHeader h{};
    ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
    UpgradeElmentHeader eh{};
    BYTE* out = reinterpret_cast<BYTE*>(&h);
    ASSERT_EQ(r.ReadUpgradeFile(&eh, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(eh.type, 1u);
    ASSERT_EQ(r.ReadUpgradeFile(&eh, &out), 5);
    EXPECT_EQ(eh.type, 2u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), f.elements[1].data);
    r.FreeReadDataBuffer(out);
    // Past the last element there is none: a failure, not an empty element.
    EXPECT_EQ(r.ReadUpgradeFile(&eh, &out), -1);
}

TEST(UpgradeFileReader, DamagedElementsAreRefusedBeforeAnythingIsAllocated) {
    struct Case {
        const char* what;
        std::optional<uint32_t> length;
        uint32_t magic;
        size_t cut;  // bytes taken off the end of the file
    };
    const Case cases[] = {
        // A length near 4 GiB on a small file would be a huge allocation if it were trusted.
        {"length beyond the file", 0xFFFFFFF0u, qvsim::kUpgradeElementMagic, 0},
        {"length one past the file", 41u, qvsim::kUpgradeElementMagic, 0},
        {"data cut short", std::nullopt, qvsim::kUpgradeElementMagic, 1},
        {"header cut short", std::nullopt, qvsim::kUpgradeElementMagic, 40 + 20},
        {"wrong magic", std::nullopt, 0xBB7863DC, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpgradeFileSpec f;
        f.elements = {
            {.type = 1, .data = qvsim::RandomBytes(40, 3), .magic = c.magic, .length = c.length}};
        std::vector<uint8_t> bytes = BuildUpgradeFile(f);
        bytes.resize(bytes.size() - c.cut);
        Reader r;
        UpgradeFileHeader h{};
        ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
        UpgradeElmentHeader eh{};
        BYTE* out = nullptr;
        EXPECT_EQ(r.ReadUpgradeFile(&eh, &out), -1);
        EXPECT_EQ(out, nullptr);
        // The whole-file check says the same before any writer runs.
        EXPECT_EQ(r.CheckElements(h), CAMERA_STATUS_UPGRADE_READ_FAILED);
    }
}

TEST(UpgradeFileReader, CheckElementsCountsRegionsAndUnknownTypes) {
    Reader r;
    UpgradeFileHeader h{};
    auto check = [&](const UpgradeFileSpec& f) {
        const std::vector<uint8_t> bytes = BuildUpgradeFile(f);
        EXPECT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
        return r.CheckElements(h);
    };
    UpgradeFileSpec f = TwoElements();
    EXPECT_EQ(check(f), 0);
    f.elementCount = 3;  // one more than present
    EXPECT_EQ(check(f), CAMERA_STATUS_UPGRADE_READ_FAILED);
    f.elementCount = 1;  // fewer: the rest of the file is not read
    EXPECT_EQ(check(f), 0);
    f.elementCount.reset();
    f.elements.push_back({.type = 1, .data = std::vector<uint8_t>(0x10001, 0)});
    EXPECT_EQ(check(f), CAMERA_STATUS_UPGRADE_WRITE_FAILED);
    f.elements.back().type = 9;  // a type this family skips is not measured
    EXPECT_EQ(check(f), 0);
}

TEST(UpgradeFileReader, ElementHeadersThatChangeBetweenTheTwoReadingsAreRefused) {
    // The check reads the element headers twice: alone, to size what it keeps, then with the
    // bytes. A header that changes in between (here as the first reading ends) must not make
    // it keep more or other than it sized.
    class ChangingReader : public Reader {
      public:
        std::function<void()> change;
        mutable int kindCalls = 0;
        int changeAt = 0;

      protected:
        ElementKind KindOf(uint32_t type) const override {
            if (++kindCalls == changeAt && change) change();
            return Reader::KindOf(type);
        }
    };
    UpgradeFileSpec f;
    f.elements = {{.type = 2, .data = qvsim::RandomBytes(100, 1)},
                  {.type = 2, .data = qvsim::RandomBytes(100, 2)},
                  {.type = 1, .data = qvsim::RandomBytes(100, 3)},
                  {.type = 9, .data = qvsim::RandomBytes(100, 4)}};
    struct Case {
        const char* what;
        size_t element;
        uint32_t type;
        int result;
    };
    const Case cases[] = {
        {"unchanged", 0, 2, 0},
        {"more to write", 3, 2, CAMERA_STATUS_UPGRADE_READ_FAILED},
        {"less to write", 1, 9, CAMERA_STATUS_UPGRADE_READ_FAILED},
        {"as much, in more runs", 0, 1, CAMERA_STATUS_UPGRADE_READ_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = BuildUpgradeFile(f);
        ChangingReader r;
        // The first reading asks for the kind of each element with bytes, once.
        r.changeAt = static_cast<int>(f.elements.size());
        r.change = [&] {
            const size_t at = qvsim::ElementOffset(f, c.element) + 12;
            for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(c.type >> 8 * k);
        };
        UpgradeFileHeader h{};
        ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
        EXPECT_EQ(r.CheckElements(h), c.result);
        EXPECT_GT(r.kindCalls, r.changeAt);
    }
}

TEST(UpgradeFileReader, OpenFailuresCloseTheFile) {
    const std::vector<uint8_t> good = BuildUpgradeFile(TwoElements());
    std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 19);
    std::vector<uint8_t> wrongMagic = good;
    wrongMagic[0] ^= 1;
    const TempFile goodFile(good), shortFile(shortHeader), magicFile(wrongMagic),
        emptyFile(std::vector<uint8_t>{});
    struct Case {
        const char* what;
        std::string path;
        int result;
    };
    const Case cases[] = {
        {"good", goodFile.CPath(), 0},
        {"missing", "/nonexistent/qv-upgrade.bin", -1},
        {"a folder", "/tmp", -1},
        {"empty", emptyFile.CPath(), -2},
        {"short header", shortFile.CPath(), -2},
        {"wrong magic", magicFile.CPath(), -3},
    };
    const int before = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reader r;
        UpgradeFileHeader h{};
        EXPECT_EQ(r.OpenUpgradeFile(c.path.c_str(), &h), c.result);
        EXPECT_EQ(r.HasFile(), c.result == 0);
        r.CloseUpgradeFile();
        EXPECT_EQ(OpenDescriptors(), before);
    }
    Reader r;
    UpgradeFileHeader h{};
    EXPECT_EQ(r.OpenUpgradeBuffer(good.data(), 19, &h), -2);
    EXPECT_EQ(r.OpenUpgradeBuffer(wrongMagic.data(), wrongMagic.size(), &h), -3);
}

TEST(UpgradeFileReader, SupportListLongerThanTheFileIsRefused) {
    UpgradeFileSpec f = TwoElements();
    std::vector<uint8_t> bytes = BuildUpgradeFile(f);
    bytes[16] = 0xFF, bytes[17] = 0xFF, bytes[18] = 0xFF, bytes[19] = 0x7F;
    Reader r;
    UpgradeFileHeader h{};
    ASSERT_EQ(r.OpenUpgradeBuffer(bytes.data(), bytes.size(), &h), 0);
    std::list<Tag_UpgradeCameraInfo> list;
    EXPECT_EQ(r.ReadSupportCameraList(&h, list), -1);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(r.CheckElements(h), CAMERA_STATUS_UPGRADE_READ_FAILED);
}

}  // namespace
