// Sensor factory: the sensor type table, the table of built drivers, and SensorInf's static
// factory functions on top of them.
#include "SensorFactory.h"

#include <cstring>

#include "AR0130C.h"
#include "AR0134.h"
#include "AR0135.h"
#include "AR0144.h"
#include "AR0234.h"
#include "AR052x.h"
#include "EV76C560.h"
#include "EV76C570.h"
#include "IMX178.h"
#include "IMX183.h"
#include "IMX206.h"
#include "IMX225.h"
#include "IMX226.h"
#include "IMX264.h"
#include "IMX265.h"
#include "IMX287.h"
#include "IMX290.h"
#include "IMX290_WDR.h"
#include "IMX294.h"
#include "IMX296.h"
#include "IMX297.h"
#include "IMX335.h"
#include "IMX377.h"
#include "IMX392.h"
#include "IMX487.h"
#include "IMX533.h"
#include "IMX577.h"
#include "IMX990.h"
#include "IMX991.h"
#include "IMX992.h"
#include "JXF28P.h"
#include "MT9J003.h"
#include "MT9M001.h"
#include "MT9P031.h"
#include "MT9T001.h"
#include "MT9V024.h"
#include "PYTHON1300.h"
#include "SC130GS.h"
#include "OV5640.h"
#include "OV7725.h"
#include "common/TextCopy.h"

namespace {

using enum ChipCheck;

// Every sensor type code with a driver class. Colour and mono variants share the class. Codes 0,
// 44, 45, 60 to 63 and above 74 are unknown.
constexpr SensorTypeRow kSensorTypes[] = {
    {1, "CMT9T001", "MT9T001", "CMOS_3M", Probe},
    {2, "CAR0130C", "AR0130", "CMOS_1.2M", Probe},
    {3, "CMT9P031", "MT9P031C", "CMOS_5M", Probe},
    {4, "CMT9P031", "MT9P031M", "CMOS_5M", Probe},
    {5, "CMT9V024", "MT9V024C", "CMOS_0.36M", Probe},
    {6, "CMT9V024", "MT9V024M", "CMOS_0.36M", Probe},
    {7, "CMT9M001", "MT9M001", "CMOS_1.3M", Probe},
    {8, "CMT9J003", "MT9J003C", "CMOS_10M", Probe},
    {9, "CMT9J003", "MT9J003M", "CMOS_10M", Probe},
    {10, "CAR0134", "AR0134M", "CMOS_1.2M", Probe},
    {11, "CAR0134", "AR0134C", "CMOS_1.2M", Probe},
    {12, "CMT9M001", "MT9M001", "CMOS_1.3M", Probe},
    {13, "CIMX290", "IMX290C_AST", "CMOS_2M", None},
    {14, "CIMX290", "IMX290C", "CMOS_2M", None},
    {15, "COV5640", "OV5640", "CMOS_5M", AlwaysPasses},
    {16, "CIMX206", "IMX206", "CMOS_16M", None},
    {17, "CIMX178", "IMX178C", "CMOS_6M", None},
    {18, "COV7725", "OV7725", "CMOS_36W", Probe},
    {19, "CAR0234", "AR0234M", "CMOS_2M10B", Probe},
    {20, "CAR0234", "AR0234C", "CMOS_2M10B", Probe},
    {21, "CIMX178", "IMX178M", "CMOS_6M", None},
    {22, "CIMX183", "IMX183C", "CMOS_20M", None},
    {23, "CIMX183", "IMX183M", "CMOS_20M", None},
    {24, "CEV76C560", "EV76C560C", "CMOS_1.3M10B", Probe},
    {25, "CEV76C560", "EV76C560M", "CMOS_1.3M10B", Probe},
    {26, "CEV76C570", "EV76C570C", "CMOS_2M10B", Probe},
    {27, "CEV76C570", "EV76C570M", "CMOS_2M10B", Probe},
    {28, "CPYTHON1300", "PYTHON1300C", "CMOS_1.2M", Probe},
    {29, "CPYTHON1300", "PYTHON1300M", "CMOS_1.2M", Probe},
    {30, "CIMX226", "IMX226C", "CMOS_12M", None},
    {31, "CIMX226", "IMX226M", "CMOS_12M", None},
    {32, "CIMX264", "IMX264C", "CMOS_5M", None},
    {33, "CIMX264", "IMX264M", "CMOS_5M", None},
    {34, "CIMX265", "IMX265C", "CMOS_3M", None},
    {35, "CIMX265", "IMX265M", "CMOS_3M", None},
    {36, "CIMX290", "IMX290M_AST", "CMOS_2M", None},
    {37, "CIMX290", "IMX290M", "CMOS_2M", None},
    {38, "CIMX533", "IMX533C", "CMOS_9M", None},
    {39, "CIMX294", "IMX294C", "CMOS_10M", None},
    {40, "CIMX335", "IMX335C", "CMOS_5M", None},
    {41, "CIMX335", "IMX335M", "CMOS_5M", None},
    {42, "CIMX297", "IMX297C", "CMOS_0.4M", None},
    {43, "CIMX297", "IMX297M", "CMOS_0.4M", None},
    {46, "CIMX287", "IMX287C", "CMOS_0.4M", None},
    {47, "CIMX287", "IMX287M", "CMOS_0.4M", None},
    {48, "CIMX296", "IMX296C", "CMOS_1.6M10B", None},
    {49, "CIMX296", "IMX296M", "CMOS_1.6M10B", None},
    {50, "CIMX290_WDR", "IMX290C WDR", "CMOS_2M", None},
    {51, "CIMX225", "IMX225C", "CMOS_1.2M", None},
    {52, "CAR0144", "AR0144", "CMOS_1M", Probe},
    {53, "CSC130GS", "SC130GSC", "CMOS_1.3M", AlwaysPasses},
    {54, "CSC130GS", "SC130GSM", "CMOS_1.3M", AlwaysPasses},
    {55, "CIMX392", "IMX392C", "CMOS_2.3M", None},
    {56, "CIMX392", "IMX392M", "CMOS_2.3M", None},
    {57, "CIMX990", "IMX990I", "CMOS_1.3I", None},
    {58, "CIMX487", "IMX487U", "CMOS_8M", None},
    {59, "CIMX991", "IMX991I", "CMOS_0.33I", None},
    {64, "CAR052x", "AR0521C", "CMOS_5M", Probe},
    {65, "CAR052x", "AR0521M", "CMOS_5M", Probe},
    {66, "CAR052x", "AR0522M", "CMOS_5M", Probe},
    {67, "CJXF28P", "JXF28PC", "CMOS_2M", Probe},
    {68, "CIMX335", "IMX335C", "CMOS_5M", None},
    {69, "CIMX335", "IMX335M", "CMOS_5M", None},
    {70, "CIMX377", "IMX377C", "CMOS_12M", None},
    {71, "CAR0135", "AR0135C", "CMOS_1.2M", Probe},
    {72, "CAR0135", "AR0135M", "CMOS_1.2M", Probe},
    {73, "CIMX992", "IMX992I", "CMOS_5I", None},
    {74, "CIMX577", "IMX577C", "CMOS_12M", None},
};

// The drivers that are built, one line each.
// clang-format off
constexpr SensorDriverOps kDrivers[] = {
    DriverOps<CIMX290>("CIMX290"),
    DriverOps<CIMX290_WDR>("CIMX290_WDR"),
    DriverOps<CIMX225>("CIMX225"),
    DriverOps<CIMX183>("CIMX183"),
    DriverOps<CIMX206>("CIMX206"),
    DriverOps<CIMX226>("CIMX226"),
    DriverOps<CIMX178>("CIMX178"),
    DriverOps<CIMX377>("CIMX377"),
    DriverOps<CIMX577>("CIMX577"),
    DriverOps<CIMX335>("CIMX335"),
    DriverOps<CAR0130C>("CAR0130C"),
    DriverOps<CAR0134>("CAR0134"),
    DriverOps<CAR0135>("CAR0135"),
    DriverOps<CAR0144>("CAR0144"),
    DriverOps<CAR0234>("CAR0234"),
    DriverOps<CAR052x>("CAR052x"),
    DriverOps<CMT9J003>("CMT9J003"),
    DriverOps<CMT9M001>("CMT9M001"),
    DriverOps<CMT9P031>("CMT9P031"),
    DriverOps<COV5640>("COV5640"),
    DriverOps<COV7725>("COV7725"),
    DriverOps<CIMX264>("CIMX264"),
    DriverOps<CIMX265>("CIMX265"),
    DriverOps<CIMX287>("CIMX287"),
    DriverOps<CIMX297>("CIMX297"),
    DriverOps<CIMX392>("CIMX392"),
    DriverOps<CIMX296>("CIMX296"),
    DriverOps<CIMX487>("CIMX487"),
    DriverOps<CIMX294>("CIMX294"),
    DriverOps<CIMX533>("CIMX533"),
    DriverOps<CIMX990>("CIMX990"),
    DriverOps<CIMX991>("CIMX991"),
    DriverOps<CIMX992>("CIMX992"),
    DriverOps<CEV76C560>("CEV76C560"),
    DriverOps<CEV76C570>("CEV76C570"),
    DriverOps<CMT9T001>("CMT9T001"),
    DriverOps<CMT9V024>("CMT9V024"),
    DriverOps<CPYTHON1300>("CPYTHON1300"),
    DriverOps<CSC130GS>("CSC130GS"),
    DriverOps<CJXF28P>("CJXF28P"),
};
// clang-format on

const SensorDriverOps* DriverFor(SensorTypeE type, const SensorTypeRow** rowOut) {
    const SensorTypeRow* row = FindSensorType(type);
    if (rowOut != nullptr) *rowOut = row;
    return row != nullptr ? FindSensorDriver(row->className) : nullptr;
}

}  // namespace

std::span<const SensorTypeRow> SensorTypeRows() {
    return kSensorTypes;
}

const SensorTypeRow* FindSensorType(SensorTypeE type) {
    for (const SensorTypeRow& row : kSensorTypes)
        if (row.code == type) return &row;
    return nullptr;
}

const SensorDriverOps* FindSensorDriver(const char* className) {
    for (const SensorDriverOps& ops : kDrivers)
        if (std::strcmp(ops.className, className) == 0) return &ops;
    return nullptr;
}

int FillSensorInfo(const char* className, SensorTypeE type, SensorInfo* info) {
    if (info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const SensorTypeRow* row = FindSensorType(type);
    if (row == nullptr || std::strcmp(row->className, className) != 0)
        return CAMERA_STATUS_NO_SENSOR;
    info->type = type;
    qv::CopyText(info->name, row->model);
    qv::CopyText(info->kind, row->kind);
    return CAMERA_STATUS_SUCCESS;
}

SensorInf* CreateSensorDriver(const SensorDriverOps& ops, const SensorTypeRow& row,
                              SensorTypeE type, imginf* inf, bool probe) {
    if (probe && row.check != ChipCheck::None && ops.probe(type, inf) != CAMERA_STATUS_SUCCESS)
        return nullptr;
    return ops.create(type, inf);
}

// ---- SensorInf's factory functions -----------------------------------------------------------

SensorInf* SensorInf::CreateSensor(SensorTypeE type, imginf* inf) {
    const SensorTypeRow* row = nullptr;
    const SensorDriverOps* ops = DriverFor(type, &row);
    return ops != nullptr ? CreateSensorDriver(*ops, *row, type, inf, true) : nullptr;
}

bool SensorInf::ProbeSensor(SensorTypeE type, imginf* inf) {
    const SensorTypeRow* row = nullptr;
    const SensorDriverOps* ops = DriverFor(type, &row);
    if (ops == nullptr) return false;
    return row->check == ChipCheck::None || ops->probe(type, inf) == CAMERA_STATUS_SUCCESS;
}

SensorInf* SensorInf::NewSensor(SensorTypeE type, imginf* inf) {
    const SensorTypeRow* row = nullptr;
    const SensorDriverOps* ops = DriverFor(type, &row);
    return ops != nullptr ? CreateSensorDriver(*ops, *row, type, inf, false) : nullptr;
}

int SensorInf::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    if (info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const SensorDriverOps* ops = DriverFor(type, nullptr);
    if (ops == nullptr) {
        std::memset(info, 0, sizeof *info);
        return CAMERA_STATUS_NO_SENSOR;
    }
    return ops->info(type, info);
}
