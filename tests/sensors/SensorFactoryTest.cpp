// The sensor factory: the type table, creation with and without the chip identity check, and
// the answers for codes without a driver.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "FakeDevice.h"
#include "SensorTrace.h"
#include "TestChip.h"
#include "sensors/AR0130C.h"
#include "sensors/AR0134.h"
#include "sensors/AR0135.h"
#include "sensors/AR0144.h"
#include "sensors/AR0234.h"
#include "sensors/AR052x.h"
#include "sensors/EV76C560.h"
#include "sensors/EV76C570.h"
#include "sensors/IMX178.h"
#include "sensors/IMX183.h"
#include "sensors/IMX206.h"
#include "sensors/IMX225.h"
#include "sensors/IMX226.h"
#include "sensors/IMX264.h"
#include "sensors/IMX265.h"
#include "sensors/IMX287.h"
#include "sensors/IMX290.h"
#include "sensors/IMX290_WDR.h"
#include "sensors/IMX294.h"
#include "sensors/IMX296.h"
#include "sensors/IMX297.h"
#include "sensors/IMX335.h"
#include "sensors/IMX377.h"
#include "sensors/IMX392.h"
#include "sensors/IMX487.h"
#include "sensors/IMX533.h"
#include "sensors/IMX577.h"
#include "sensors/IMX990.h"
#include "sensors/IMX991.h"
#include "sensors/IMX992.h"
#include "sensors/JXF28P.h"
#include "sensors/MT9J003.h"
#include "sensors/MT9M001.h"
#include "sensors/MT9P031.h"
#include "sensors/MT9T001.h"
#include "sensors/MT9V024.h"
#include "sensors/OV5640.h"
#include "sensors/OV7725.h"
#include "sensors/PYTHON1300.h"
#include "sensors/SC130GS.h"

namespace {

using namespace qvsim;

// The sensor type codes, their driver classes, model names, kinds and chip checks.
struct TypeRow {
    int code;
    const char* className;
    const char* model;
    const char* kind;
    ChipCheck check;
};
constexpr ChipCheck Y = ChipCheck::Probe, N = ChipCheck::None, A = ChipCheck::AlwaysPasses;
const TypeRow kExpectedTypes[] = {
    {1, "CMT9T001", "MT9T001", "CMOS_3M", Y},
    {2, "CAR0130C", "AR0130", "CMOS_1.2M", Y},
    {3, "CMT9P031", "MT9P031C", "CMOS_5M", Y},
    {4, "CMT9P031", "MT9P031M", "CMOS_5M", Y},
    {5, "CMT9V024", "MT9V024C", "CMOS_0.36M", Y},
    {6, "CMT9V024", "MT9V024M", "CMOS_0.36M", Y},
    {7, "CMT9M001", "MT9M001", "CMOS_1.3M", Y},
    {12, "CMT9M001", "MT9M001", "CMOS_1.3M", Y},
    {8, "CMT9J003", "MT9J003C", "CMOS_10M", Y},
    {9, "CMT9J003", "MT9J003M", "CMOS_10M", Y},
    {10, "CAR0134", "AR0134M", "CMOS_1.2M", Y},
    {11, "CAR0134", "AR0134C", "CMOS_1.2M", Y},
    {13, "CIMX290", "IMX290C_AST", "CMOS_2M", N},
    {14, "CIMX290", "IMX290C", "CMOS_2M", N},
    {36, "CIMX290", "IMX290M_AST", "CMOS_2M", N},
    {37, "CIMX290", "IMX290M", "CMOS_2M", N},
    {15, "COV5640", "OV5640", "CMOS_5M", A},
    {16, "CIMX206", "IMX206", "CMOS_16M", N},
    {17, "CIMX178", "IMX178C", "CMOS_6M", N},
    {21, "CIMX178", "IMX178M", "CMOS_6M", N},
    {18, "COV7725", "OV7725", "CMOS_36W", Y},
    {19, "CAR0234", "AR0234M", "CMOS_2M10B", Y},
    {20, "CAR0234", "AR0234C", "CMOS_2M10B", Y},
    {22, "CIMX183", "IMX183C", "CMOS_20M", N},
    {23, "CIMX183", "IMX183M", "CMOS_20M", N},
    {24, "CEV76C560", "EV76C560C", "CMOS_1.3M10B", Y},
    {25, "CEV76C560", "EV76C560M", "CMOS_1.3M10B", Y},
    {26, "CEV76C570", "EV76C570C", "CMOS_2M10B", Y},
    {27, "CEV76C570", "EV76C570M", "CMOS_2M10B", Y},
    {28, "CPYTHON1300", "PYTHON1300C", "CMOS_1.2M", Y},
    {29, "CPYTHON1300", "PYTHON1300M", "CMOS_1.2M", Y},
    {30, "CIMX226", "IMX226C", "CMOS_12M", N},
    {31, "CIMX226", "IMX226M", "CMOS_12M", N},
    {32, "CIMX264", "IMX264C", "CMOS_5M", N},
    {33, "CIMX264", "IMX264M", "CMOS_5M", N},
    {34, "CIMX265", "IMX265C", "CMOS_3M", N},
    {35, "CIMX265", "IMX265M", "CMOS_3M", N},
    {38, "CIMX533", "IMX533C", "CMOS_9M", N},
    {39, "CIMX294", "IMX294C", "CMOS_10M", N},
    {40, "CIMX335", "IMX335C", "CMOS_5M", N},
    {41, "CIMX335", "IMX335M", "CMOS_5M", N},
    {68, "CIMX335", "IMX335C", "CMOS_5M", N},
    {69, "CIMX335", "IMX335M", "CMOS_5M", N},
    {42, "CIMX297", "IMX297C", "CMOS_0.4M", N},
    {43, "CIMX297", "IMX297M", "CMOS_0.4M", N},
    {46, "CIMX287", "IMX287C", "CMOS_0.4M", N},
    {47, "CIMX287", "IMX287M", "CMOS_0.4M", N},
    {48, "CIMX296", "IMX296C", "CMOS_1.6M10B", N},
    {49, "CIMX296", "IMX296M", "CMOS_1.6M10B", N},
    {50, "CIMX290_WDR", "IMX290C WDR", "CMOS_2M", N},
    {51, "CIMX225", "IMX225C", "CMOS_1.2M", N},
    {52, "CAR0144", "AR0144", "CMOS_1M", Y},
    {53, "CSC130GS", "SC130GSC", "CMOS_1.3M", A},
    {54, "CSC130GS", "SC130GSM", "CMOS_1.3M", A},
    {55, "CIMX392", "IMX392C", "CMOS_2.3M", N},
    {56, "CIMX392", "IMX392M", "CMOS_2.3M", N},
    {57, "CIMX990", "IMX990I", "CMOS_1.3I", N},
    {58, "CIMX487", "IMX487U", "CMOS_8M", N},
    {59, "CIMX991", "IMX991I", "CMOS_0.33I", N},
    {64, "CAR052x", "AR0521C", "CMOS_5M", Y},
    {65, "CAR052x", "AR0521M", "CMOS_5M", Y},
    {66, "CAR052x", "AR0522M", "CMOS_5M", Y},
    {67, "CJXF28P", "JXF28PC", "CMOS_2M", Y},
    {70, "CIMX377", "IMX377C", "CMOS_12M", N},
    {71, "CAR0135", "AR0135C", "CMOS_1.2M", Y},
    {72, "CAR0135", "AR0135M", "CMOS_1.2M", Y},
    {73, "CIMX992", "IMX992I", "CMOS_5I", N},
    {74, "CIMX577", "IMX577C", "CMOS_12M", N},
};

// Every code of the type table has its driver.
const std::set<int> kBuiltCodes = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
    24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46, 47, 48,
    49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74};

class SensorFactory : public ::testing::Test {
  protected:
    CVirtualSensorClock clock;
    std::shared_ptr<CFakeDevice> dev = std::make_shared<CFakeDevice>();
};

TEST_F(SensorFactory, TypeTableHoldsEveryCodeWithItsNamesAndCheck) {
    std::set<int> seen;
    for (const TypeRow& want : kExpectedTypes) {
        const SensorTypeRow* row = FindSensorType(static_cast<SensorTypeE>(want.code));
        ASSERT_NE(row, nullptr) << want.code;
        EXPECT_STREQ(row->className, want.className) << want.code;
        EXPECT_STREQ(row->model, want.model) << want.code;
        EXPECT_STREQ(row->kind, want.kind) << want.code;
        EXPECT_EQ(row->check, want.check) << want.code;
        seen.insert(want.code);
    }
    EXPECT_EQ(SensorTypeRows().size(), seen.size());
    for (int code : {0, 44, 45, 60, 61, 62, 63, 75, 255, -1})
        EXPECT_EQ(FindSensorType(static_cast<SensorTypeE>(code)), nullptr) << code;
}

TEST_F(SensorFactory, ImxTwoNinetyCodesMakeItsDriverWithoutTouchingTheDevice) {
    dev->SetHardwareType(102);
    CSensorTrace trace(*dev);
    for (int code : {13, 14, 36, 37}) {
        const auto type = static_cast<SensorTypeE>(code);
        std::unique_ptr<SensorInf> created(SensorInf::CreateSensor(type, dev.get()));
        std::unique_ptr<SensorInf> made(SensorInf::NewSensor(type, dev.get()));
        ASSERT_NE(dynamic_cast<CIMX290*>(created.get()), nullptr) << code;
        ASSERT_NE(dynamic_cast<CIMX290*>(made.get()), nullptr) << code;
        EXPECT_TRUE(SensorInf::ProbeSensor(type, dev.get()));

        const TypeRow* want = nullptr;
        for (const TypeRow& row : kExpectedTypes)
            if (row.code == code) want = &row;
        SensorInfo info{};
        ASSERT_EQ(created->GetInfo(&info), 0);
        EXPECT_EQ(info.type, code);
        EXPECT_STREQ(info.name, want->model);
        EXPECT_STREQ(info.kind, "CMOS_2M");
        SensorInfo byCode{};
        ASSERT_EQ(SensorInf::GetSensorInfo(type, &byCode), 0);
        EXPECT_EQ(std::memcmp(&info, &byCode, sizeof info), 0);
    }
    EXPECT_TRUE(trace.Steps().empty());
}

// Every built code makes the driver of its class, whose records carry the code's names, and
// neither creation nor the records touch the device.
TEST_F(SensorFactory, EveryBuiltCodeMakesItsClassWithoutTouchingTheDevice) {
    const std::pair<int, bool (*)(SensorInf*)> kClasses[] = {
        {16, [](SensorInf* s) { return dynamic_cast<CIMX206*>(s) != nullptr; }},
        {17, [](SensorInf* s) { return dynamic_cast<CIMX178*>(s) != nullptr; }},
        {21, [](SensorInf* s) { return dynamic_cast<CIMX178*>(s) != nullptr; }},
        {22, [](SensorInf* s) { return dynamic_cast<CIMX183*>(s) != nullptr; }},
        {23, [](SensorInf* s) { return dynamic_cast<CIMX183*>(s) != nullptr; }},
        {30, [](SensorInf* s) { return dynamic_cast<CIMX226*>(s) != nullptr; }},
        {31, [](SensorInf* s) { return dynamic_cast<CIMX226*>(s) != nullptr; }},
        {40, [](SensorInf* s) { return dynamic_cast<CIMX335*>(s) != nullptr; }},
        {41, [](SensorInf* s) { return dynamic_cast<CIMX335*>(s) != nullptr; }},
        {50, [](SensorInf* s) { return dynamic_cast<CIMX290_WDR*>(s) != nullptr; }},
        {51, [](SensorInf* s) { return dynamic_cast<CIMX225*>(s) != nullptr; }},
        {68, [](SensorInf* s) { return dynamic_cast<CIMX335*>(s) != nullptr; }},
        {69, [](SensorInf* s) { return dynamic_cast<CIMX335*>(s) != nullptr; }},
        {70, [](SensorInf* s) { return dynamic_cast<CIMX377*>(s) != nullptr; }},
        {74, [](SensorInf* s) { return dynamic_cast<CIMX577*>(s) != nullptr; }},
        {2, [](SensorInf* s) { return dynamic_cast<CAR0130C*>(s) != nullptr; }},
        {3, [](SensorInf* s) { return dynamic_cast<CMT9P031*>(s) != nullptr; }},
        {4, [](SensorInf* s) { return dynamic_cast<CMT9P031*>(s) != nullptr; }},
        {7, [](SensorInf* s) { return dynamic_cast<CMT9M001*>(s) != nullptr; }},
        {8, [](SensorInf* s) { return dynamic_cast<CMT9J003*>(s) != nullptr; }},
        {9, [](SensorInf* s) { return dynamic_cast<CMT9J003*>(s) != nullptr; }},
        {10, [](SensorInf* s) { return dynamic_cast<CAR0134*>(s) != nullptr; }},
        {11, [](SensorInf* s) { return dynamic_cast<CAR0134*>(s) != nullptr; }},
        {12, [](SensorInf* s) { return dynamic_cast<CMT9M001*>(s) != nullptr; }},
        {19, [](SensorInf* s) { return dynamic_cast<CAR0234*>(s) != nullptr; }},
        {20, [](SensorInf* s) { return dynamic_cast<CAR0234*>(s) != nullptr; }},
        {52, [](SensorInf* s) { return dynamic_cast<CAR0144*>(s) != nullptr; }},
        {64, [](SensorInf* s) { return dynamic_cast<CAR052x*>(s) != nullptr; }},
        {65, [](SensorInf* s) { return dynamic_cast<CAR052x*>(s) != nullptr; }},
        {66, [](SensorInf* s) { return dynamic_cast<CAR052x*>(s) != nullptr; }},
        {71, [](SensorInf* s) { return dynamic_cast<CAR0135*>(s) != nullptr; }},
        {72, [](SensorInf* s) { return dynamic_cast<CAR0135*>(s) != nullptr; }},
        {15, [](SensorInf* s) { return dynamic_cast<COV5640*>(s) != nullptr; }},
        {18, [](SensorInf* s) { return dynamic_cast<COV7725*>(s) != nullptr; }},
        {32, [](SensorInf* s) { return dynamic_cast<CIMX264*>(s) != nullptr; }},
        {33, [](SensorInf* s) { return dynamic_cast<CIMX264*>(s) != nullptr; }},
        {34, [](SensorInf* s) { return dynamic_cast<CIMX265*>(s) != nullptr; }},
        {35, [](SensorInf* s) { return dynamic_cast<CIMX265*>(s) != nullptr; }},
        {38, [](SensorInf* s) { return dynamic_cast<CIMX533*>(s) != nullptr; }},
        {39, [](SensorInf* s) { return dynamic_cast<CIMX294*>(s) != nullptr; }},
        {42, [](SensorInf* s) { return dynamic_cast<CIMX297*>(s) != nullptr; }},
        {43, [](SensorInf* s) { return dynamic_cast<CIMX297*>(s) != nullptr; }},
        {46, [](SensorInf* s) { return dynamic_cast<CIMX287*>(s) != nullptr; }},
        {47, [](SensorInf* s) { return dynamic_cast<CIMX287*>(s) != nullptr; }},
        {48, [](SensorInf* s) { return dynamic_cast<CIMX296*>(s) != nullptr; }},
        {49, [](SensorInf* s) { return dynamic_cast<CIMX296*>(s) != nullptr; }},
        {55, [](SensorInf* s) { return dynamic_cast<CIMX392*>(s) != nullptr; }},
        {56, [](SensorInf* s) { return dynamic_cast<CIMX392*>(s) != nullptr; }},
        {58, [](SensorInf* s) { return dynamic_cast<CIMX487*>(s) != nullptr; }},
        {1, [](SensorInf* s) { return dynamic_cast<CMT9T001*>(s) != nullptr; }},
        {5, [](SensorInf* s) { return dynamic_cast<CMT9V024*>(s) != nullptr; }},
        {6, [](SensorInf* s) { return dynamic_cast<CMT9V024*>(s) != nullptr; }},
        {24, [](SensorInf* s) { return dynamic_cast<CEV76C560*>(s) != nullptr; }},
        {25, [](SensorInf* s) { return dynamic_cast<CEV76C560*>(s) != nullptr; }},
        {26, [](SensorInf* s) { return dynamic_cast<CEV76C570*>(s) != nullptr; }},
        {27, [](SensorInf* s) { return dynamic_cast<CEV76C570*>(s) != nullptr; }},
        {28, [](SensorInf* s) { return dynamic_cast<CPYTHON1300*>(s) != nullptr; }},
        {29, [](SensorInf* s) { return dynamic_cast<CPYTHON1300*>(s) != nullptr; }},
        {53, [](SensorInf* s) { return dynamic_cast<CSC130GS*>(s) != nullptr; }},
        {54, [](SensorInf* s) { return dynamic_cast<CSC130GS*>(s) != nullptr; }},
        {57, [](SensorInf* s) { return dynamic_cast<CIMX990*>(s) != nullptr; }},
        {59, [](SensorInf* s) { return dynamic_cast<CIMX991*>(s) != nullptr; }},
        {67, [](SensorInf* s) { return dynamic_cast<CJXF28P*>(s) != nullptr; }},
        {73, [](SensorInf* s) { return dynamic_cast<CIMX992*>(s) != nullptr; }},
    };
    CSensorTrace trace(*dev);
    for (int hw : {0, 110, 201}) {
        dev->SetHardwareType(hw);
        for (const auto& [code, isClass] : kClasses) {
            const auto type = static_cast<SensorTypeE>(code);
            const SensorTypeRow* row = FindSensorType(type);
            // Codes with a chip check are created after it (see the drivers' tests); without
            // it every code makes its class.
            std::unique_ptr<SensorInf> made(SensorInf::NewSensor(type, dev.get()));
            std::unique_ptr<SensorInf> created(row->check == ChipCheck::None
                                                   ? SensorInf::CreateSensor(type, dev.get())
                                                   : SensorInf::NewSensor(type, dev.get()));
            ASSERT_TRUE(isClass(created.get())) << code;
            ASSERT_TRUE(isClass(made.get())) << code;
            if (row->check == ChipCheck::None) {
                EXPECT_TRUE(SensorInf::ProbeSensor(type, dev.get()));
            }
            SensorInfo byCode{};
            ASSERT_EQ(SensorInf::GetSensorInfo(type, &byCode), 0);
            EXPECT_STREQ(byCode.name, row->model);
            EXPECT_STREQ(byCode.kind, row->kind);
            SensorInfo info{};
            ASSERT_EQ(created->GetInfo(&info), 0);
            EXPECT_EQ(info.type, code);
            // The PYTHON1300 names its own size class after its 1280 x 1024 array.
            const bool python = code == 28 || code == 29;
            EXPECT_STREQ(info.kind, python ? "CMOS_1.3M" : row->kind);
            SensorCapability cap;
            made->GetCapability(cap);
            EXPECT_FALSE(cap.supportMediaType.empty()) << code;
            SensorParam param{};
            ASSERT_EQ(made->GetSensorParam(&param), 0);
            EXPECT_GT(param.maxWidth, 0u);
        }
    }
    EXPECT_TRUE(trace.Steps().empty());
}

TEST_F(SensorFactory, CodesWithoutADriverGiveNoSensorAndAZeroRecord) {
    for (int code = -1; code <= 80; ++code) {
        if (kBuiltCodes.count(code)) continue;
        const auto type = static_cast<SensorTypeE>(code);
        EXPECT_EQ(SensorInf::CreateSensor(type, dev.get()), nullptr) << code;
        EXPECT_EQ(SensorInf::NewSensor(type, dev.get()), nullptr) << code;
        EXPECT_FALSE(SensorInf::ProbeSensor(type, dev.get())) << code;
        SensorInfo info;
        std::memset(&info, 0xAB, sizeof info);
        EXPECT_EQ(SensorInf::GetSensorInfo(type, &info), CAMERA_STATUS_NO_SENSOR) << code;
        const SensorInfo zero{};
        EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0) << code;
    }
    EXPECT_EQ(SensorInf::GetSensorInfo(SENSOR_TYPE_IMX290C, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(SensorFactory, AClassAnswersOnlyForItsOwnCodes) {
    SensorInfo info;
    std::memset(&info, 0xAB, sizeof info);
    const SensorInfo before = info;
    EXPECT_EQ(CIMX290::GetSensorInfo(SENSOR_TYPE_IMX178C, &info), CAMERA_STATUS_NO_SENSOR);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
}

// Creation runs the chip identity check only where the type table asks for it.
TEST_F(SensorFactory, CreationChecksTheChipWhereTheTableSaysSo) {
    const SensorDriverOps ops = DriverOps<CTestChip>("CAR0144");
    const SensorTypeRow probed{52, "CAR0144", "AR0144", "CMOS_1M", ChipCheck::Probe};
    const SensorTypeRow unchecked{52, "CAR0144", "AR0144", "CMOS_1M", ChipCheck::None};
    dev->SetHardwareType(201);

    dev->SetSensorReg(0x3000, 0x0357);  // another chip answers
    EXPECT_EQ(CTestChip::Probe(SENSOR_TYPE_AR0144, dev.get()), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_EQ(CreateSensorDriver(ops, probed, SENSOR_TYPE_AR0144, dev.get(), true), nullptr);
    EXPECT_EQ(dev->CallCount("ReadSensorReg"), 2u);

    dev->ClearCalls();
    std::unique_ptr<SensorInf> unprobed(
        CreateSensorDriver(ops, unchecked, SENSOR_TYPE_AR0144, dev.get(), true));
    EXPECT_NE(unprobed, nullptr);
    std::unique_ptr<SensorInf> fresh(
        CreateSensorDriver(ops, probed, SENSOR_TYPE_AR0144, dev.get(), false));
    EXPECT_NE(fresh, nullptr);
    EXPECT_EQ(dev->CallCount("ReadSensorReg"), 0u);

    dev->SetSensorReg(0x3000, 0x0356);  // the right chip
    std::unique_ptr<SensorInf> checked(
        CreateSensorDriver(ops, probed, SENSOR_TYPE_AR0144, dev.get(), true));
    EXPECT_NE(checked, nullptr);
    EXPECT_EQ(dev->CallCount("ReadSensorReg"), 1u);
}

// The OV7725 is made only when register 0x0A on its 8-bit bus reads 0x77; another value, or a
// read that fails, makes no driver.
TEST_F(SensorFactory, Ov7725IsMadeOnlyWhenItsChipAnswers) {
    for (int hw : {0, 303}) {
        SCOPED_TRACE(hw);
        dev->SetHardwareType(hw);
        dev->SetSensorReg(0x0A, 0x77);
        std::unique_ptr<SensorInf> made(SensorInf::CreateSensor(SENSOR_TYPE_OV7725, dev.get()));
        EXPECT_NE(dynamic_cast<COV7725*>(made.get()), nullptr);
        const auto buses = dev->CallsNamed({"SetSensorBus"});
        ASSERT_FALSE(buses.empty());
        EXPECT_EQ(buses.back().args, (std::vector<int64_t>{0x42, 0x11}));
        EXPECT_EQ(dev->CallCount("SetGpioMode") != 0, hw == 303);  // the reset line of 303 only

        dev->SetSensorReg(0x0A, 0x76);
        EXPECT_EQ(COV7725::Probe(SENSOR_TYPE_OV7725, dev.get()), CAMERA_STATUS_HARDWARE_NOT_FOUND);
        EXPECT_EQ(SensorInf::CreateSensor(SENSOR_TYPE_OV7725, dev.get()), nullptr);
        EXPECT_FALSE(SensorInf::ProbeSensor(SENSOR_TYPE_OV7725, dev.get()));

        dev->SetSensorReg(0x0A, 0x77);
        dev->SetResult("ReadSensorReg", CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(COV7725::Probe(SENSOR_TYPE_OV7725, dev.get()), CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(SensorInf::CreateSensor(SENSOR_TYPE_OV7725, dev.get()), nullptr);
        dev->ClearResults();
        dev->ClearCalls();
    }
}

}  // namespace
