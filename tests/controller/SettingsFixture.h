// The fixture of the image settings tests: a settings camera opened afresh for each case, and
// what the pipeline objects run with after a processed frame.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ControllerTestBase.h"
#include "SettingsCamera.h"

namespace ctltest {

class Settings : public ControllerTest {
  public:
    CameraControl* OpenCamera(CSettingsCamera::Options options = {}) {
        m_camera = std::make_shared<CSettingsCamera>(options);
        int r = 0;
        CameraControl* control = Open(m_camera, -1, -1, &r);
        // Without device parameters the handle stays, without its device.
        EXPECT_EQ(r, options.devParamResult == 0 ? 0 : CAMERA_STATUS_EEPROM_NOT_WRITTEN);
        m_camera->ClearCalls();
        return control;
    }
    // The calls of these names the device received since the last ClearCalls, as texts.
    std::vector<std::string> Writes(std::initializer_list<std::string> names) const {
        std::vector<std::string> out;
        for (const qvsim::FakeCall& c : m_camera->CallsNamed(names)) out.push_back(c.ToString());
        return out;
    }
    std::shared_ptr<CSettingsCamera> m_camera;
};

using Record = CameraParameter;
using Check = std::function<void(const Record&)>;
using ExposureSettings = CameraExposure::Settings;
using WbSettings = CameraWhiteBalance::Settings;
using IspSettings = CameraISP::Settings;

// The settings the pipeline objects run with, after a processed frame.
struct Pipeline {
    ExposureSettings exposure;
    WbSettings wb;
    IspSettings isp;
    const CameraISP* ispObject;  // its lookup-table getters
};
using PipelineCheck = std::function<void(const Pipeline&)>;

// One frame through the pipeline (the pending settings become active at its start, also when
// the output format then has no kernel), and what the objects run with afterwards.
inline Pipeline ProcessOneFrame(Settings& t, CameraControl* c) {
    EXPECT_EQ(t.m_camera->PushTestFrame(), 0);
    c->CameraGetImageBufferEx(nullptr, 1000);
    return {c->ExposureObject().GetActiveSettings(), c->WhiteBalanceObject().GetActiveSettings(),
            c->IspObject().GetActiveSettings(), &c->IspObject()};
}

inline void AeOn(CameraControl* c) {
    ASSERT_EQ(c->CameraSetAeState(1), 0);
}

}  // namespace ctltest
