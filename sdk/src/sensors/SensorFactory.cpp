// Sensor factory. Placeholder until the drivers are built: no type code has a driver, so a
// device answers CAMERA_STATUS_NO_SENSOR. The sensor driver work replaces this file with the
// table of codes, classes and identity checks.
#include <cstring>

#include "SensorInf.h"

SensorInf* SensorInf::CreateSensor(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return nullptr;
}

bool SensorInf::ProbeSensor(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return false;
}

SensorInf* SensorInf::NewSensor(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return nullptr;
}

int SensorInf::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    (void)type;
    if (info != nullptr) std::memset(info, 0, sizeof *info);
    return CAMERA_STATUS_NO_SENSOR;
}
