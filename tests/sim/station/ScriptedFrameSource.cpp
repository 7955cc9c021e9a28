#include "ScriptedFrameSource.h"

void CScriptedFrameSource::Open(const std::string& path) {
    const int camera = m_cameras.CameraOf(path);
    m_camera = camera >= 0 && m_cameras.OpenCamera(camera) ? camera : -1;
}

bool CScriptedFrameSource::Set(int propId, double value) {
    if (m_camera < 0) return false;
    m_cameras.RecordSet(m_camera, propId, value);
    return true;
}

bool CScriptedFrameSource::Read(cv::Mat& image) {
    if (m_camera < 0) {
        image.release();
        return false;
    }
    return m_cameras.ReadFrame(m_camera, image);
}
