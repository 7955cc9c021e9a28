// What the firmware update holds in memory: only the bytes of the elements the camera takes,
// and never more than the camera holds, however large the file. Heap use is counted by a
// replacement of the global allocation operators in this test program (its own, so that no
// other test pays for the counting).
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "UpgradeFiles.h"
#include "UpgradeTestSupport.h"
#include "upgrade/UpgradeGigeCamera.h"
#include "upgrade/UpgradeGigeCameraFlash4M.h"
#include "upgrade/UpgradeGigeCameraFlash4MEF.h"
#include "upgrade/UpgradeU2Camera.h"
#include "upgrade/UpgradeU3Camera.h"

namespace {

std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};

void* Allocate(size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) return nullptr;
    const size_t now = g_live.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Release(void* p) {
    if (p == nullptr) return;
    g_live.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

// Heap bytes held at the highest point while it lives, above those held when it was made.
class PeakMeter {
  public:
    PeakMeter() : m_base(g_live.load()) { g_peak.store(m_base); }
    size_t Above() const { return g_peak.load() - m_base; }

  private:
    size_t m_base;
};

}  // namespace

void* operator new(size_t n) {
    void* p = Allocate(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n) {
    void* p = Allocate(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace {

using qvsim::StorageLayout;
using qvsim::TempFile;
using qvsim::UpgradeElementSpec;
using qvsim::UpgradeFileSpec;
using upgradetest::FlashCamera;

constexpr uint16_t kDeviceId = 0x0290;
constexpr size_t kMiB = 1024 * 1024;
// What the update may hold beside the elements it writes: page buffers, the fake camera's
// record of calls, the file's stream.
constexpr size_t kSlack = 512 * 1024;

UpgradeFileSpec FileFor(std::vector<UpgradeElementSpec> elements) {
    UpgradeFileSpec f;
    f.deviceId = kDeviceId;
    f.support = {{upgradetest::kSensorType, upgradetest::kBoardCode}};
    f.elements = std::move(elements);
    return f;
}

TEST(UpgradeMemory, ElementsTheCameraDoesNotWriteAreNeverHeld) {
    // A Flash4MEF camera writes nothing for type 3 and skips type 9: 20 MiB of such elements
    // around one written element of 256 KiB.
    const std::vector<uint8_t> written = qvsim::RandomBytes(256 * 1024, 1);
    std::vector<UpgradeElementSpec> elements;
    for (int i = 0; i < 4; ++i)
        elements.push_back({.type = 3, .data = std::vector<uint8_t>(4 * kMiB, 0x3C)});
    elements.push_back({.type = 1, .data = written});
    elements.push_back({.type = 9, .data = std::vector<uint8_t>(4 * kMiB, 0x9A)});
    const UpgradeFileSpec spec = FileFor(std::move(elements));
    const TempFile file(qvsim::BuildUpgradeFile(spec));

    FlashCamera cam(StorageLayout::kGigeFlash4MEF, kDeviceId, "v4.0");
    size_t atFirstErase = 0;
    size_t erases = 0;
    upgradetest::ProgressLog log;
    size_t peak = 0;
    {
        CUpgradeGigeCameraFlash4MEF up(&cam.Device());
        const PeakMeter meter;
        cam.Device().SetCallHook([&](const qvsim::FakeCall& call) {
            if (call.name == "EraseFlashSector" && erases++ == 0) atFirstErase = meter.Above();
        });
        ASSERT_EQ(up.Upgrade(file.CPath(), &upgradetest::ProgressLog::Callback, &log), 0);
        peak = meter.Above();
        cam.Device().SetCallHook(nullptr);
    }
    EXPECT_TRUE(log.Sound());
    EXPECT_EQ(cam.FlashBytes(0x231000, written.size()), written);
    EXPECT_GT(erases, 0u);
    EXPECT_GE(atFirstErase, written.size());
    EXPECT_LT(atFirstErase, written.size() + kSlack);
    EXPECT_LT(peak, written.size() + kSlack);
}

TEST(UpgradeMemory, MoreToWriteThanTheFlashIsRefusedBeforeItIsRead) {
    // Three type 2 elements that each fit the 2 MiB region of a Flash4M camera: the third
    // would write past the 4 MiB of its flash, and is refused before its bytes are read.
    std::vector<UpgradeElementSpec> elements;
    for (uint32_t i = 0; i < 3; ++i)
        elements.push_back({.type = 2, .data = qvsim::RandomBytes(2 * kMiB, i)});
    const TempFile file(qvsim::BuildUpgradeFile(FileFor(std::move(elements))));

    FlashCamera cam(StorageLayout::kGigeFlash4M, kDeviceId, "v3.0");
    const std::vector<uint8_t> before = cam.Image();
    upgradetest::ProgressLog log;
    qvsim::LogCapture logs;
    size_t peak = 0;
    {
        CUpgradeGigeCameraFlash4M up(&cam.Device());
        const PeakMeter meter;
        EXPECT_EQ(up.Upgrade(file.CPath(), &upgradetest::ProgressLog::Callback, &log),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        peak = meter.Above();
    }
    EXPECT_EQ(logs.Count("upgrade elements to write exceed the camera's 4194304 bytes at element "
                         "2 (type 2, 2097152 bytes)\n"),
              1);
    EXPECT_EQ(cam.FlashChanges(), 0u);
    EXPECT_EQ(cam.Image(), before);
    EXPECT_TRUE(log.values.empty());
    EXPECT_LT(peak, 4 * kMiB + kSlack);
}

TEST(UpgradeMemory, ManySmallElementsAreNotHeldOneByOne) {
    // A file of many small elements: of a type the camera does not write (the header and the
    // length are all that count of them), or of a type it writes with no or one byte each.
    // What the check holds stays near the bytes to write, not near the number of elements
    // the file counts.
    struct Case {
        const char* what;
        std::function<std::unique_ptr<CUpgrade>()> make;
        uint32_t type;
        size_t length;
    };
    const Case cases[] = {
        {"Usb3 type 9, empty", [] { return std::make_unique<CUpgradeU3Camera>(nullptr); }, 9, 0},
        {"Gige4MEF type 3, empty",
         [] { return std::make_unique<CUpgradeGigeCameraFlash4MEF>(nullptr); }, 3, 0},
        {"Gige type 2, empty", [] { return std::make_unique<CUpgradeGigeCamera>(nullptr); }, 2, 0},
        {"Usb3 type 1, one byte", [] { return std::make_unique<CUpgradeU3Camera>(nullptr); }, 1, 1},
    };
    constexpr size_t kElements = 1u << 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpgradeFileSpec spec = FileFor({});
        spec.elements.resize(kElements, {.type = c.type, .data = std::vector<uint8_t>(c.length)});
        const std::vector<uint8_t> bytes = qvsim::BuildUpgradeFile(spec);
        spec.elements.clear();
        spec.elements.shrink_to_fit();
        const std::unique_ptr<CUpgrade> up = c.make();
        UpgradeFileHeader header{};
        ASSERT_EQ(up->OpenUpgradeBuffer(bytes.data(), bytes.size(), &header), 0);
        size_t peak = 0;
        {
            const PeakMeter meter;
            EXPECT_EQ(up->CheckElements(header), CAMERA_STATUS_SUCCESS);
            peak = meter.Above();
        }
        EXPECT_LT(peak, kElements * c.length + kSlack);
    }
}

TEST(UpgradeMemory, OneByteElementsOfAlternatingKindsAreNotHeldOneByOne) {
    // One-byte elements to write whose type changes from each to the next (or with a byte of
    // an element the camera does not write between them): every element starts a run of its
    // own. What the check holds must stay near the bytes to write, not grow by a record per
    // element.
    struct Case {
        const char* what;
        uint32_t other;
    };
    const Case cases[] = {{"types 1 and 2 in turn", 2}, {"type 1 and unknown type 9 in turn", 9}};
    constexpr size_t kElements = 1u << 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpgradeFileSpec spec = FileFor({});
        for (size_t i = 0; i < kElements; ++i)
            spec.elements.push_back(
                {.type = i % 2 == 0 ? 1u : c.other, .data = std::vector<uint8_t>(1, 0x5A)});
        const std::vector<uint8_t> bytes = qvsim::BuildUpgradeFile(spec);
        spec.elements.clear();
        spec.elements.shrink_to_fit();
        CUpgradeU3Camera up(nullptr);
        UpgradeFileHeader header{};
        ASSERT_EQ(up.OpenUpgradeBuffer(bytes.data(), bytes.size(), &header), 0);
        size_t peak = 0;
        {
            const PeakMeter meter;
            EXPECT_EQ(up.CheckElements(header), CAMERA_STATUS_SUCCESS);
            peak = meter.Above();
        }
        EXPECT_LT(peak, kElements + kSlack);
    }
}

// ---- The bound of each family, to the byte ----------------------------------------------------

struct BoundCase {
    const char* name;
    uint64_t bound;
    // The elements of a file that writes exactly the bound, each within its region; a further
    // byte goes to the last element.
    std::vector<std::pair<uint32_t, uint32_t>> elements;  // {type, length}
    std::vector<uint32_t> passedOver;                     // types that write nothing
    std::function<std::unique_ptr<CUpgrade>()> make;
};

const BoundCase kBounds[] = {
    {"Usb3",
     0x100000,
     {{2, 0xA0000}, {9, 0x10}, {2, 0x5FFFF}, {1, 1}},
     {9},
     [] { return std::make_unique<CUpgradeU3Camera>(nullptr); }},
    {"Gige",
     0x400000,
     {{3, 0x310000}, {2, 0x80000}, {1, 0x14000}, {2, 0x5C000}},
     {},
     [] { return std::make_unique<CUpgradeGigeCamera>(nullptr); }},
    // The last element would also be too large for its region: the bound is checked first.
    {"Gige4M",
     0x400000,
     {{2, 0x200000}, {9, 0x10}, {2, 0x200000}},
     {9},
     [] { return std::make_unique<CUpgradeGigeCameraFlash4M>(nullptr); }},
    // Type 3 elements put nothing into this camera.
    {"Gige4MEF",
     0x400000,
     {{2, 0xF9000}, {3, 0x100000}, {2, 0xF9000}, {2, 0xF9000}, {2, 0xF9000}, {1, 0x1C000}},
     {3},
     [] { return std::make_unique<CUpgradeGigeCameraFlash4MEF>(nullptr); }},
    {"Usb2",
     8 * kMiB,
     {{1, 0x3800}, {2, 0x10}, {4, 8 * kMiB - 0x3800}},
     {2},
     [] { return std::make_unique<CUpgradeU2Camera>(nullptr); }},
};

class UpgradeBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(UpgradeBound, ExactlyTheCameraIsTakenAByteMoreIsNot) {
    const BoundCase& c = GetParam();
    for (const uint32_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra);
        UpgradeFileSpec spec = FileFor({});
        uint64_t written = 0;
        for (const auto& [type, length] : c.elements) {
            spec.elements.push_back({.type = type, .data = std::vector<uint8_t>(length, 0x5A)});
            if (std::find(c.passedOver.begin(), c.passedOver.end(), type) == c.passedOver.end())
                written += length;
        }
        ASSERT_EQ(written, c.bound);
        if (extra != 0) spec.elements.back().data.push_back(0x5A);
        const std::vector<uint8_t> bytes = qvsim::BuildUpgradeFile(spec);
        const std::unique_ptr<CUpgrade> up = c.make();
        UpgradeFileHeader header{};
        ASSERT_EQ(up->OpenUpgradeBuffer(bytes.data(), bytes.size(), &header), 0);
        qvsim::LogCapture logs;
        EXPECT_EQ(up->CheckElements(header),
                  extra == 0 ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        const std::string refusal = "upgrade elements to write exceed the camera's " +
                                    std::to_string(c.bound) + " bytes at element " +
                                    std::to_string(c.elements.size() - 1) + " (type " +
                                    std::to_string(c.elements.back().first) + ", " +
                                    std::to_string(c.elements.back().second + extra) + " bytes)\n";
        EXPECT_EQ(logs.Count(refusal), extra == 0 ? 0 : 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, UpgradeBound, ::testing::ValuesIn(kBounds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
