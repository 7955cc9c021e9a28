#include "SensorInf.h"

#include "Log.h"

SensorInf::SensorInf(SensorTypeE type, imginf* inf) : m_inf(inf), m_sensorType(type) {
    QV_ASSERT(inf != NULL);
}

SensorInf::~SensorInf() = default;

int SensorInf::SetFrameTime(double us) {
    (void)us;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::GetFrameTimeRange(int* min, int* max) {
    (void)min, (void)max;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetAuxPair(int a, unsigned b) {
    (void)a, (void)b;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetWdrMode(int mode) {
    (void)mode;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::GetWdrMode(int* mode) {
    if (mode != nullptr) *mode = 0;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::SetRoiOffset(int x, int y) {
    (void)x, (void)y;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetAeTarget(int target) {
    (void)target;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::GetTemperature(float* celsius) {
    (void)celsius;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
