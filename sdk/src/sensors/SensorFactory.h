// The sensor type table and the driver table behind SensorInf's factory functions.
//
// The type table has one row per sensor type code (model name, kind, driver class, identity
// check). The driver table has one line per driver class that is built; a code whose class has no
// line yet behaves as an unknown code (no driver, CAMERA_STATUS_NO_SENSOR).
#pragma once

#include <cstdint>
#include <span>

#include "SensorInf.h"

// How the factory checks the chip before creating a driver.
enum class ChipCheck : uint8_t {
    None,          // no check
    Probe,         // the class's Probe reads the chip's identity
    AlwaysPasses,  // the class's Probe answers 0 without touching the device
};

struct SensorTypeRow {
    int32_t code;
    const char* className;  // "CIMX290"
    const char* model;      // "IMX290C"
    const char* kind;       // "CMOS_2M"
    ChipCheck check;
};

// What the factory needs of a driver class: its construction, static Probe and static
// GetSensorInfo.
struct SensorDriverOps {
    const char* className;
    SensorInf* (*create)(SensorTypeE type, imginf* inf);
    int (*probe)(SensorTypeE type, imginf* inf);
    int (*info)(SensorTypeE type, SensorInfo* info);
};

template <class Driver>
constexpr SensorDriverOps DriverOps(const char* className) {
    return {className,
            [](SensorTypeE type, imginf* inf) -> SensorInf* { return new Driver(type, inf); },
            &Driver::Probe, &Driver::GetSensorInfo};
}

std::span<const SensorTypeRow> SensorTypeRows();
const SensorTypeRow* FindSensorType(SensorTypeE type);           // null for an unknown code
const SensorDriverOps* FindSensorDriver(const char* className);  // null while not built

// A class's static GetSensorInfo: fills the record from the type table when the code belongs to
// className (0), else CAMERA_STATUS_NO_SENSOR with the record untouched; -6 for a null record.
int FillSensorInfo(const char* className, SensorTypeE type, SensorInfo* info);

// The creation steps of CreateSensor for one class: when probe is set and the row asks for a
// check, the class's Probe first (any non-zero result gives null); then the driver.
SensorInf* CreateSensorDriver(const SensorDriverOps& ops, const SensorTypeRow& row,
                              SensorTypeE type, imginf* inf, bool probe);
