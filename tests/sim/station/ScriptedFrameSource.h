// One scripted upper camera: answers the station's frame-source calls from the script of the
// camera whose file the resolved path names.
#pragma once

#include <string>

#include "ScriptedUpperCameras.h"
#include "WcamFrameSource.h"

class CScriptedFrameSource : public CWcamFrameSource {
  public:
    explicit CScriptedFrameSource(CScriptedUpperCameras& cameras) : m_cameras(cameras) {}

    void Open(const std::string& path) override;
    bool IsOpened() const override { return m_camera >= 0; }
    bool Set(int propId, double value) override;
    bool Read(cv::Mat& image) override;
    void Release() override { m_camera = -1; }

  private:
    CScriptedUpperCameras& m_cameras;
    int m_camera = -1;
};
