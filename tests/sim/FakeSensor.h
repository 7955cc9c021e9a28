// CFakeSensor: a sensor driver that keeps what it is given and answers scripted results, for
// tests of the device base and the controller. It never touches its device unless a test asks
// for it through the hooks. Calls are recorded by name.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sensors/SensorInf.h"

namespace qvsim {

class CFakeSensor : public SensorInf {
  public:
    CFakeSensor(SensorTypeE type, imginf* inf);

    void SetResult(const std::string& op, int result);  // 0 unless set
    std::vector<std::string> CallNames();

    // What the getters report.
    SensorInfo info{};
    SensorParam param{};
    SensorCapability capability;
    stImageInfo imageInfo{};
    // Runs inside Init after the scripted result is 0 (e.g. to write registers through the
    // device); its result is Init's.
    std::function<int(imginf&)> onInit;

    int Reset() override;
    int Init(CameraInitParam* p) override;
    int Uninit() override;
    int SetAuxValue(int value) override;
    int GetLineTime(int* ns) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int GetExposure(double* us) override;
    int GetExposureLineTime(double* us) override;
    int GetFrameTime(double* us) override;
    int SetFrameSpeed(int speed) override;
    int GetFrameSpeed(int* speed) override;
    int GetAnalogGainRange(int* min, int* max) override;
    int SetAnalogGain(uint32_t gain) override;
    int GetAnalogGain(int* gain) override;
    int SetBlackLevel(uint32_t level) override;
    int GetBlackLevel(int* level) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int GetInfo(SensorInfo* out) override;
    int GetSensorParam(SensorParam* out) override;
    int GetImageInfo(stImageInfo* out) override;
    int SetResolution(tSdkResolution* res) override;
    int GetResolution(tSdkResolution* res) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    int Rec(const char* op);

    std::mutex m_mutex;  // guards the results, the call names and the values below
    std::map<std::string, int> m_results;
    std::vector<std::string> m_calls;
    double m_exposureUs = 0;
    double m_lineTimeUs = 10;
    int m_gain = 1000;
    int m_blackLevel = 0;
    int m_frameSpeed = 0;
    tSdkResolution m_resolution{};
};

}  // namespace qvsim
