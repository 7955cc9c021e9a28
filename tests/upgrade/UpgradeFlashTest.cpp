// The flash-writing update procedures (USB 3.0 cameras and the three GigE flash maps) on a fake
// camera with a NOR flash: where each element lands and how it is paged, the boot record, the
// progress the caller sees, and the files that are refused without a single erase.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

#include "LogCapture.h"
#include "UpgradeFiles.h"
#include "UpgradeTestSupport.h"
#include "upgrade/UpgradeGigeCamera.h"
#include "upgrade/UpgradeGigeCameraFlash4M.h"
#include "upgrade/UpgradeGigeCameraFlash4MEF.h"
#include "upgrade/UpgradeU3Camera.h"

namespace {

using qvsim::StorageLayout;
using qvsim::TempFile;
using qvsim::UpgradeFileSpec;
using upgradetest::FlashCamera;
using upgradetest::ProgressLog;

constexpr uint16_t kDeviceId = 0x0290;

enum class Family { kUsb3, kGige, kGige4M, kGige4MEF };

struct FamilySetup {
    StorageLayout layout;
    const char* hardwareVersion;
};

FamilySetup SetupOf(Family f) {
    switch (f) {
        case Family::kUsb3:
            return {StorageLayout::kUsb3Flash, nullptr};
        case Family::kGige:
            return {StorageLayout::kGigeFlash, "v1.0"};
        case Family::kGige4M:
            return {StorageLayout::kGigeFlash4M, "v3.0"};
        case Family::kGige4MEF:
            break;
    }
    return {StorageLayout::kGigeFlash4MEF, "v4.0"};
}

std::unique_ptr<CUpgrade> UpgradeFor(Family f, CJNDevice* device) {
    switch (f) {
        case Family::kUsb3:
            return std::make_unique<CUpgradeU3Camera>(device);
        case Family::kGige:
            return std::make_unique<CUpgradeGigeCamera>(device);
        case Family::kGige4M:
            return std::make_unique<CUpgradeGigeCameraFlash4M>(device);
        case Family::kGige4MEF:
            break;
    }
    return std::make_unique<CUpgradeGigeCameraFlash4MEF>(device);
}

UpgradeFileSpec FileFor(std::vector<qvsim::UpgradeElementSpec> elements) {
    UpgradeFileSpec f;
    f.deviceId = kDeviceId;
    f.support = {{17, 0xAA220001}, {upgradetest::kSensorType, upgradetest::kBoardCode}};
    f.elements = std::move(elements);
    return f;
}

int RunUpgrade(Family family, FlashCamera& cam, const UpgradeFileSpec& spec, ProgressLog* log) {
    const TempFile file(qvsim::BuildUpgradeFile(spec));
    const std::unique_ptr<CUpgrade> up = UpgradeFor(family, &cam.Device());
    return up->Upgrade(file.CPath(), log != nullptr ? &ProgressLog::Callback : nullptr, log);
}

std::vector<uint8_t> Word(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// ---- Where each element lands ---------------------------------------------------------------

struct LandingCase {
    const char* name;
    Family family;
    uint32_t type;
    uint32_t length;
    uint32_t region;  // 0 with noWrite: nothing is written
    uint32_t pageSize;
    int bootWord;  // -1: the boot record stays as it was
    uint32_t bootRecord;
    std::vector<int> progress;
    bool noWrite = false;
};

const LandingCase kLandings[] = {
    {"Usb3Type1", Family::kUsb3, 1, 1500, 0x00000, 1024, -1, 0, {0, 67, 99, 100}},
    {"Usb3Type2", Family::kUsb3, 2, 1500, 0x20000, 1024, -1, 0, {0, 67, 99, 100}},
    {"GigeType1", Family::kGige, 1, 600, 0x5C000, 512, 0, 0x5B000, {0, 84, 99, 100}},
    {"GigeType2", Family::kGige, 2, 600, 0x70000, 512, 1, 0x5B000, {0, 84, 99, 100}},
    {"GigeType3", Family::kGige, 3, 600, 0xF0000, 512, -1, 0x5B000, {0, 84, 99, 100}},
    {"Gige4MType1", Family::kGige4M, 1, 600, 0x185000, 512, 0, 0x184000, {0, 84, 99, 100}},
    {"Gige4MType2", Family::kGige4M, 2, 600, 0x1C5000, 512, 1, 0x184000, {0, 84, 99, 100}},
    {"Gige4MType3", Family::kGige4M, 3, 600, 0x3C5000, 512, -1, 0x184000, {0, 84, 99, 100}},
    {"Gige4MEFType1", Family::kGige4MEF, 1, 600, 0x231000, 512, 0, 0x2B1000, {0, 84, 99, 100}},
    {"Gige4MEFType2", Family::kGige4MEF, 2, 600, 0x138000, 512, 1, 0x2B1000, {0, 84, 99, 100}},
    {"Gige4MEFType3", Family::kGige4MEF, 3, 600, 0, 512, -1, 0x2B1000, {0, 100}, true},
};

class UpgradeLanding : public ::testing::TestWithParam<LandingCase> {};

TEST_P(UpgradeLanding, ElementLandsPagedWithItsBootRecord) {
    const LandingCase& c = GetParam();
    const FamilySetup setup = SetupOf(c.family);
    FlashCamera cam(setup.layout, kDeviceId, setup.hardwareVersion);
    // Something in the boot record (and beside it in its sector) and in the region beforehand.
    const uint32_t boot = c.bootRecord;
    if (boot != 0) {
        cam.Device().WriteFlash(boot, 4, Word(0x11111111).data());
        cam.Device().WriteFlash(boot + 4, 4, Word(0x22222222).data());
        cam.Device().WriteFlash(boot + 8, 4, Word(0x33333333).data());
    }
    if (!c.noWrite) cam.Device().WriteFlash(c.region + 8, 4, Word(0).data());
    cam.Device().ClearCalls();
    const std::vector<uint8_t> before = cam.Image();

    const std::vector<uint8_t> data = qvsim::RandomBytes(c.length, c.length + c.type);
    ProgressLog log;
    qvsim::LogCapture logs;
    ASSERT_EQ(RunUpgrade(c.family, cam, FileFor({{.type = c.type, .data = data}}), &log), 0);
    EXPECT_EQ(log.values, c.progress);

    if (c.noWrite) {
        EXPECT_EQ(cam.FlashChanges(), 0u);
        EXPECT_EQ(cam.Image(), before);
        return;
    }
    // One erased sector, then full pages from the region's start, each read back.
    std::vector<qvsim::FakeCall> expected{{"EraseFlashSector", {c.region, 0}}};
    const std::vector<qvsim::FakeCall> calls =
        cam.Device().CallsNamed({"EraseFlashSector", "WriteFlash", "ReadFlash"});
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[0], expected[0]);
    for (uint32_t page = 0; page < 2; ++page) {
        const qvsim::FakeCall& w = calls[1 + 2 * page];
        const qvsim::FakeCall& r = calls[2 + 2 * page];
        EXPECT_EQ(w.name, "WriteFlash");
        EXPECT_EQ(r.name, "ReadFlash");
        EXPECT_EQ(w.args[0], c.region + page * c.pageSize);
        EXPECT_EQ(w.args[1], c.pageSize);
        EXPECT_EQ(r.args[0], w.args[0]);
        EXPECT_EQ(r.args[1], w.args[1]);
    }
    EXPECT_EQ(cam.FlashBytes(c.region, c.length), data);
    // The rest of the last page and of the sector read as erased.
    const std::vector<uint8_t> rest = cam.FlashBytes(c.region + c.length, 0x1000 - c.length);
    EXPECT_EQ(rest, std::vector<uint8_t>(rest.size(), 0xFF));
    EXPECT_EQ(logs.Count("write total byte size " + std::to_string(c.pageSize) + "\r\n"), 1);
    EXPECT_EQ(logs.Count("write total byte size " + std::to_string(c.length) + "\r\n"), 1);

    if (c.bootWord < 0) {
        if (boot != 0) {
            EXPECT_EQ(cam.FlashBytes(boot, 12),
                      std::vector<uint8_t>(before.begin() + boot, before.begin() + boot + 12));
        }
        return;
    }
    // The stamped word changes, the other stays as read; the sector was erased, so nothing
    // but the record is left in it.
    const std::vector<uint8_t> w0 = c.bootWord == 0 ? Word(0x20190719) : Word(0x11111111);
    const std::vector<uint8_t> w1 = c.bootWord == 1 ? Word(0x20190719) : Word(0x22222222);
    EXPECT_EQ(cam.FlashBytes(boot, 4), w0);
    EXPECT_EQ(cam.FlashBytes(boot + 4, 4), w1);
    EXPECT_EQ(cam.FlashBytes(boot + 8, 4), Word(0xFFFFFFFF));
}

INSTANTIATE_TEST_SUITE_P(Maps, UpgradeLanding, ::testing::ValuesIn(kLandings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeFlash, ElementFillingItsRegionLeavesTheCameraDataAlone) {
    // 64 KiB at 0: the last page ends right where parameter block A begins.
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    const std::vector<uint8_t> blocks = cam.FlashBytes(0x10000, 0x2000);
    const std::vector<uint8_t> data = qvsim::RandomBytes(0x10000, 5);
    ASSERT_EQ(RunUpgrade(Family::kUsb3, cam, FileFor({{.type = 1, .data = data}}), nullptr), 0);
    EXPECT_EQ(cam.FlashBytes(0, data.size()), data);
    EXPECT_EQ(cam.FlashBytes(0x10000, 0x2000), blocks);
    EXPECT_EQ(cam.Device().CallCount("EraseFlashSector"), 16u);
}

TEST(UpgradeFlash, EmptyElementDoesNotEndTheFile) {
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    const std::vector<uint8_t> data = qvsim::RandomBytes(100, 6);
    ProgressLog log;
    ASSERT_EQ(RunUpgrade(Family::kUsb3, cam,
                         FileFor({{.type = 1, .data = {}}, {.type = 2, .data = data}}), &log),
              0);
    EXPECT_EQ(cam.FlashBytes(0x20000, data.size()), data);
    EXPECT_EQ(log.values, (std::vector<int>{0, 99, 100}));
    // The empty element erased nothing.
    EXPECT_EQ(cam.Device().CallsNamed({"EraseFlashSector"}),
              (std::vector<qvsim::FakeCall>{{"EraseFlashSector", {0x20000, 0}}}));
}

TEST(UpgradeFlash, EmptyElementsWriteNothing) {
    // An element without bytes has nothing to put into the camera: no region is erased and no
    // boot record says a new image is there.
    for (const Family family : {Family::kUsb3, Family::kGige, Family::kGige4M, Family::kGige4MEF}) {
        SCOPED_TRACE(static_cast<int>(family));
        const FamilySetup setup = SetupOf(family);
        FlashCamera cam(setup.layout, kDeviceId, setup.hardwareVersion);
        const std::vector<uint8_t> before = cam.Image();
        ProgressLog log;
        ASSERT_EQ(RunUpgrade(family, cam,
                             FileFor({{.type = 1, .data = {}},
                                      {.type = 2, .data = {}},
                                      {.type = 3, .data = {}}}),
                             &log),
                  0);
        EXPECT_EQ(cam.FlashChanges(), 0u);
        EXPECT_TRUE(cam.Image() == before);
        EXPECT_EQ(log.values, (std::vector<int>{0, 100}));
    }
}

TEST(UpgradeFlash, ElementsLandOneByOneInFileOrder) {
    // Elements of one type and length in a row, others between them that write nothing (a
    // type the camera does not know, an empty one): each element to write lands in turn, from
    // its own bytes, and the progress counts every element in file order. An unknown type is
    // logged as the check passes over it, before anything is written.
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    std::vector<qvsim::UpgradeElementSpec> elements;
    uint32_t seed = 1;
    for (const auto& [type, length] : std::vector<std::pair<uint32_t, size_t>>{
             {2, 1500}, {2, 1500}, {9, 100}, {2, 1500}, {1, 0}, {2, 700}, {2, 1500}, {1, 600}})
        elements.push_back({.type = type, .data = qvsim::RandomBytes(length, seed++)});
    // What the type 2 region holds as each erase of it begins, and at the end.
    std::vector<std::vector<uint8_t>> region;
    cam.Device().SetCallHook([&](const qvsim::FakeCall& call) {
        if (call.name == "EraseFlashSector" && call.args.at(0) == 0x20000)
            region.push_back(cam.FlashBytes(0x20000, 1500));
    });
    ProgressLog log;
    qvsim::LogCapture logs;
    ASSERT_EQ(RunUpgrade(Family::kUsb3, cam, FileFor(elements), &log), 0);
    cam.Device().SetCallHook(nullptr);
    region.push_back(cam.FlashBytes(0x20000, 1500));

    std::vector<uint8_t> short5 = elements[5].data;
    short5.resize(1500, 0xFF);  // the rest of its page and sector as erased
    const std::vector<std::vector<uint8_t>> landed{elements[0].data, elements[1].data,
                                                   elements[3].data, short5, elements[6].data};
    ASSERT_EQ(region.size(), landed.size() + 1);
    for (size_t k = 0; k < landed.size(); ++k) EXPECT_TRUE(region[k + 1] == landed[k]) << k;
    EXPECT_EQ(cam.FlashBytes(0, 600), elements[7].data);

    std::vector<std::string> flow;
    for (const std::string& line : logs.Lines())
        if (line.rfind("flash type", 0) == 0 || line.rfind("write total byte size", 0) == 0)
            flow.push_back(line);
    std::vector<std::string> expected{"flash type 9\n"};
    for (const unsigned total : {1024, 1500, 2524, 3000, 4124, 4600, 5300, 6324, 6800, 7400})
        expected.push_back("write total byte size " + std::to_string(total) + "\r\n");
    EXPECT_EQ(flow, expected);
    EXPECT_EQ(log.values, (std::vector<int>{0, 13, 20, 33, 40, 55, 61, 70, 84, 90, 99, 100}));
}

TEST(UpgradeFlash, ProgressCountsMoreThanFourGibibytesPassedOverBeforeAnElement) {
    // Three elements of a type the camera does not know, of 2 GiB less a byte each (the file
    // holds them as holes), then one element to write. The progress counts what was passed
    // over before it: past the header's largest total, so the write reports 99.
    constexpr uint32_t kSkipped = INT32_MAX;
    UpgradeFileSpec spec = FileFor({{.type = 9, .data = {}},
                                    {.type = 9, .data = {}},
                                    {.type = 9, .data = {}},
                                    {.type = 1, .data = qvsim::RandomBytes(4, 7)}});
    spec.total = UINT32_MAX;
    const std::vector<uint8_t> compact = qvsim::BuildUpgradeFile(spec);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("qv_upgrade_holes_" + std::to_string(getpid()));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        const size_t first = qvsim::ElementOffset(spec, 0);
        out.write(reinterpret_cast<const char*>(compact.data()),
                  static_cast<std::streamsize>(first));
        uint64_t at = first;
        for (size_t k = 0; k < 3; ++k) {
            std::vector<uint8_t> header(
                compact.begin() + static_cast<long>(qvsim::ElementOffset(spec, k)),
                compact.begin() + static_cast<long>(qvsim::ElementOffset(spec, k)) + 32);
            for (int b = 0; b < 4; ++b) header[8 + b] = static_cast<uint8_t>(kSkipped >> 8 * b);
            out.seekp(static_cast<std::streamoff>(at));
            out.write(reinterpret_cast<const char*>(header.data()), 32);
            at += 32 + uint64_t{kSkipped};
        }
        out.seekp(static_cast<std::streamoff>(at));
        const size_t last = qvsim::ElementOffset(spec, 3);
        out.write(reinterpret_cast<const char*>(compact.data() + last),
                  static_cast<std::streamsize>(compact.size() - last));
        ASSERT_TRUE(out.good());
    }
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    ProgressLog log;
    const std::unique_ptr<CUpgrade> up = UpgradeFor(Family::kUsb3, &cam.Device());
    const int r = up->Upgrade(path.c_str(), &ProgressLog::Callback, &log);
    std::filesystem::remove(path);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(cam.FlashBytes(0, 4), spec.elements[3].data);
    EXPECT_EQ(log.values, (std::vector<int>{0, 99, 100}));
}

// ---- Progress -------------------------------------------------------------------------------

struct ProgressCase {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> elements;  // {type, length}
    std::optional<uint32_t> total;
    std::vector<int> progress;
};

const ProgressCase kProgress[] = {
    // Byte counting against the header's total, reported on change only.
    {"TwoElements", {{1, 1024}, {2, 1024}}, std::nullopt, {0, 49, 99, 100}},
    {"ManyPages", {{2, 5 * 1024}}, std::nullopt, {0, 19, 39, 59, 79, 99, 100}},
    // A skipped type still counts.
    {"SkippedType", {{9, 1024}, {2, 2048}}, std::nullopt, {0, 66, 99, 100}},
    // No total: nothing between 0 and 100.
    {"TotalZero", {{1, 1024}, {2, 1024}}, 0u, {0, 100}},
    // A total that understates the elements stays below 100 until the end.
    {"TotalUnderstated", {{1, 2048}, {2, 2048}}, 1000u, {0, 99, 100}},
};

class UpgradeProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(UpgradeProgress, ReportsAsTheBytesLand) {
    const ProgressCase& c = GetParam();
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    std::vector<qvsim::UpgradeElementSpec> elements;
    uint32_t seed = 1;
    for (const auto& [type, length] : c.elements)
        elements.push_back({.type = type, .data = qvsim::RandomBytes(length, seed++)});
    UpgradeFileSpec spec = FileFor(elements);
    spec.total = c.total;
    ProgressLog log;
    qvsim::LogCapture logs;
    ASSERT_EQ(RunUpgrade(Family::kUsb3, cam, spec, &log), 0);
    EXPECT_EQ(log.values, c.progress);
    EXPECT_EQ(logs.Count("flash type 9\n"), c.name == std::string("SkippedType") ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Sequences, UpgradeProgress, ::testing::ValuesIn(kProgress),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Refusals: nothing erased, nothing written ----------------------------------------------

struct RefusalCase {
    const char* name;
    Family family;
    int result;
    // Makes the file from a good one (two elements that fit).
    std::function<std::vector<uint8_t>(UpgradeFileSpec&)> damage;
};

std::vector<uint8_t> Build(UpgradeFileSpec& f) {
    return qvsim::BuildUpgradeFile(f);
}

UpgradeFileSpec GoodFile(Family family) {
    const uint32_t second = family == Family::kUsb3 ? 2 : 1;
    return FileFor({{.type = 1, .data = qvsim::RandomBytes(3000, 1)},
                    {.type = second, .data = qvsim::RandomBytes(2000, 2)}});
}

const RefusalCase kRefusals[] = {
    {"ShortHeader", Family::kUsb3, CAMERA_STATUS_FILE_IO_FAILED,
     [](UpgradeFileSpec& f) {
         std::vector<uint8_t> b = Build(f);
         b.resize(19);
         return b;
     }},
    {"WrongMagic", Family::kUsb3, CAMERA_STATUS_NOT_SUPPORTED,
     [](UpgradeFileSpec& f) {
         f.magic = 0xBB7863D2;
         return Build(f);
     }},
    {"OtherDevice", Family::kUsb3, CAMERA_STATUS_NOT_SUPPORTED,
     [](UpgradeFileSpec& f) {
         f.deviceId = kDeviceId + 1;
         return Build(f);
     }},
    {"OtherSensorAndBoard", Family::kGige, CAMERA_STATUS_NOT_SUPPORTED,
     [](UpgradeFileSpec& f) {
         f.support = {{upgradetest::kSensorType, 0xAA220001}, {17, upgradetest::kBoardCode}};
         return Build(f);
     }},
    {"NoSupportList", Family::kUsb3, CAMERA_STATUS_NOT_SUPPORTED,
     [](UpgradeFileSpec& f) {
         f.support.clear();
         return Build(f);
     }},
    {"LastElementTruncated", Family::kUsb3, CAMERA_STATUS_UPGRADE_READ_FAILED,
     [](UpgradeFileSpec& f) {
         std::vector<uint8_t> b = Build(f);
         b.pop_back();
         return b;
     }},
    {"LastElementDamaged", Family::kGige4M, CAMERA_STATUS_UPGRADE_READ_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1].magic ^= 0x100;
         return Build(f);
     }},
    {"MoreElementsCounted", Family::kGige4MEF, CAMERA_STATUS_UPGRADE_READ_FAILED,
     [](UpgradeFileSpec& f) {
         f.elementCount = 3;
         return Build(f);
     }},
    {"Usb3Type1TooLarge", Family::kUsb3, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 1, .data = std::vector<uint8_t>(0x10001, 0x5A)};
         return Build(f);
     }},
    {"Usb3Type2TooLarge", Family::kUsb3, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 2, .data = std::vector<uint8_t>(0xA0001, 0x5A)};
         return Build(f);
     }},
    {"GigeType1TooLarge", Family::kGige, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 1, .data = std::vector<uint8_t>(0x14001, 0x5A)};
         return Build(f);
     }},
    {"GigeType2TooLarge", Family::kGige, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 2, .data = std::vector<uint8_t>(0x80001, 0x5A)};
         return Build(f);
     }},
    {"GigeType3PastTheFlash", Family::kGige, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 3, .data = std::vector<uint8_t>(0x310001, 0x5A)};
         return Build(f);
     }},
    {"Gige4MType1TooLarge", Family::kGige4M, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 1, .data = std::vector<uint8_t>(0x40001, 0x5A)};
         return Build(f);
     }},
    {"Gige4MType2TooLarge", Family::kGige4M, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 2, .data = std::vector<uint8_t>(0x200001, 0x5A)};
         return Build(f);
     }},
    {"Gige4MType3PastTheFlash", Family::kGige4M, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 3, .data = std::vector<uint8_t>(0x3B001, 0x5A)};
         return Build(f);
     }},
    {"Gige4MEFType1TooLarge", Family::kGige4MEF, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 1, .data = std::vector<uint8_t>(0x80001, 0x5A)};
         return Build(f);
     }},
    {"Gige4MEFType2TooLarge", Family::kGige4MEF, CAMERA_STATUS_UPGRADE_WRITE_FAILED,
     [](UpgradeFileSpec& f) {
         f.elements[1] = {.type = 2, .data = std::vector<uint8_t>(0xF9001, 0x5A)};
         return Build(f);
     }},
};

class UpgradeRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(UpgradeRefusal, NothingErasedNothingWritten) {
    const RefusalCase& c = GetParam();
    const FamilySetup setup = SetupOf(c.family);
    FlashCamera cam(setup.layout, kDeviceId, setup.hardwareVersion);
    const std::vector<uint8_t> before = cam.Image();
    UpgradeFileSpec spec = GoodFile(c.family);
    const TempFile file(c.damage(spec));
    ProgressLog log;
    const std::unique_ptr<CUpgrade> up = UpgradeFor(c.family, &cam.Device());
    EXPECT_EQ(up->Upgrade(file.CPath(), &ProgressLog::Callback, &log), c.result);
    EXPECT_EQ(cam.FlashChanges(), 0u);
    EXPECT_EQ(cam.Image(), before);
    EXPECT_TRUE(log.values.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, UpgradeRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A file that changes on disk while the camera is written -----------------------------------

// Overwrites bytes of the file in place, as another program writing it would.
void Patch(const std::filesystem::path& path, size_t at, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good());
}

struct ChangeCase {
    const char* name;
    // Changes the file once the first sector is being erased (after the whole file was checked).
    std::function<void(const std::filesystem::path&, const UpgradeFileSpec&)> change;
};

const ChangeCase kChanges[] = {
    // A skipped element of the size of the region and beyond (it would reach the stored identity
    // at 0x2B8000) turns into one for the type 1 region.
    {"SkippedElementBecomesType1",
     [](const std::filesystem::path& p, const UpgradeFileSpec& f) {
         Patch(p, qvsim::ElementOffset(f, 2) + 12, Word(1));
     }},
    // The bytes of an element that was checked and is still to be written.
    {"ElementDataReplaced",
     [](const std::filesystem::path& p, const UpgradeFileSpec& f) {
         Patch(p, qvsim::ElementOffset(f, 1) + qvsim::kElementHeaderBytes,
               qvsim::RandomBytes(f.elements[1].data.size(), 99));
     }},
    // Cut short behind the first element.
    {"FileCutShort",
     [](const std::filesystem::path& p, const UpgradeFileSpec& f) {
         std::filesystem::resize_file(p, qvsim::ElementOffset(f, 1));
     }},
};

class UpgradeFileChanged : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(UpgradeFileChanged, WritesExactlyWhatWasChecked) {
    // Elements larger than the buffer a file reader keeps: what follows the first one is read
    // from the disk again, not from memory, by a reader that reads the file twice.
    const UpgradeFileSpec spec =
        FileFor({{.type = 1, .data = qvsim::RandomBytes(20000, 1)},
                 {.type = 2, .data = qvsim::RandomBytes(20000, 2)},
                 {.type = 9, .data = std::vector<uint8_t>(0x89000, 0x5A)}});
    // The same file, unchanged, on a camera of its own: what the update must leave behind.
    FlashCamera reference(StorageLayout::kGigeFlash4MEF, kDeviceId, "v4.0");
    ASSERT_EQ(RunUpgrade(Family::kGige4MEF, reference, spec, nullptr), 0);

    FlashCamera cam(StorageLayout::kGigeFlash4MEF, kDeviceId, "v4.0");
    const TempFile file(qvsim::BuildUpgradeFile(spec));
    bool changed = false;
    cam.Device().SetCallHook([&](const qvsim::FakeCall& call) {
        if (call.name != "EraseFlashSector" || changed) return;
        changed = true;
        GetParam().change(file.Path(), spec);
    });
    ProgressLog log;
    CUpgradeGigeCameraFlash4MEF up(&cam.Device());
    EXPECT_EQ(up.Upgrade(file.CPath(), &ProgressLog::Callback, &log), 0);
    cam.Device().SetCallHook(nullptr);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(log.Sound());
    EXPECT_TRUE(cam.Image() == reference.Image());
    EXPECT_EQ(cam.FlashBytes(0x138000, spec.elements[1].data.size()), spec.elements[1].data);
}

INSTANTIATE_TEST_SUITE_P(WhileWriting, UpgradeFileChanged, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeFlash, MissingFileAndNullPath) {
    FlashCamera cam(StorageLayout::kUsb3Flash, kDeviceId, nullptr);
    CUpgradeU3Camera up(&cam.Device());
    EXPECT_EQ(up.Upgrade("/nonexistent/qv.bin", nullptr, nullptr), CAMERA_STATUS_FILE_OPEN_FAILED);
    EXPECT_EQ(up.Upgrade(nullptr, nullptr, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(cam.FlashChanges(), 0u);
}

TEST(UpgradeFlash, MapOfAnotherCameraNeverReachesItsStoredData) {
    // A camera whose stored layout is the "v3.0" map but whose upgrade class is the Flash4MEF
    // one: its type 2 region (0x138000) lies on this camera's user data and bad-pixel table.
    FlashCamera cam(StorageLayout::kGigeFlash4M, kDeviceId, "v3.0");
    const std::vector<uint8_t> before = cam.Image();
    EXPECT_EQ(RunUpgrade(Family::kGige4MEF, cam,
                         FileFor({{.type = 2, .data = qvsim::RandomBytes(0x10000, 3)}}), nullptr),
              CAMERA_STATUS_UPGRADE_WRITE_FAILED);
    EXPECT_EQ(cam.FlashChanges(), 0u);
    EXPECT_EQ(cam.Image(), before);
}

TEST(UpgradeFlash, FailedPageEndsWithWriteFailure) {
    struct Case {
        const char* what;
        Family family;
        std::function<void(qvsim::CNorFlash&)> fault;
    };
    const Case cases[] = {
        {"usb3 page does not stick", Family::kUsb3, [](qvsim::CNorFlash& f) { f.Drop(1, 1); }},
        {"usb3 write fails", Family::kUsb3,
         [](qvsim::CNorFlash& f) { f.Fail(qvsim::StorageOp::kWrite, CAMERA_STATUS_IO_ERROR); }},
        {"gige erase fails", Family::kGige,
         [](qvsim::CNorFlash& f) { f.Fail(qvsim::StorageOp::kErase, CAMERA_STATUS_COMM_ERROR); }},
        {"gige read back fails", Family::kGige,
         [](qvsim::CNorFlash& f) { f.Fail(qvsim::StorageOp::kRead, CAMERA_STATUS_COMM_ERROR); }},
        // The boot record's write is read back too.
        {"gige boot record does not stick", Family::kGige,
         [](qvsim::CNorFlash& f) {
             f.Drop(1, 0, {0x5B000, 0x5C000});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FamilySetup setup = SetupOf(c.family);
        FlashCamera cam(setup.layout, kDeviceId, setup.hardwareVersion);
        c.fault(cam.Flash());
        ProgressLog log;
        EXPECT_EQ(RunUpgrade(c.family, cam,
                             FileFor({{.type = 1, .data = qvsim::RandomBytes(2000, 4)}}), &log),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        ASSERT_FALSE(log.values.empty());
        EXPECT_NE(log.values.back(), 100);
    }
}

}  // namespace
