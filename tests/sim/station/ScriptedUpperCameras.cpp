#include "ScriptedUpperCameras.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <opencv2/imgproc.hpp>

#include "ScriptedFrameSource.h"

namespace fs = std::filesystem;

cv::Mat CScriptedUpperCameras::Frame(const cv::Scalar& colour, const cv::Rect& landmark,
                                     const cv::Scalar& mark) {
    cv::Mat frame(kHeight, kWidth, CV_8UC3, colour);
    if (!landmark.empty()) frame(landmark & cv::Rect(0, 0, kWidth, kHeight)).setTo(mark);
    return frame;
}

cv::Scalar CScriptedUpperCameras::DefaultColour(int camera) {
    static const cv::Scalar kColours[CAMERA_NUM] = {
        cv::Scalar(0, 0, 200),    // camera 0: red
        cv::Scalar(0, 180, 0),    // camera 1: green
        cv::Scalar(190, 0, 0),    // camera 2: blue
        cv::Scalar(0, 170, 170),  // camera 3: yellow
    };
    return kColours[camera];
}

CScriptedUpperCameras::CScriptedUpperCameras() {
    char pattern[] = "/tmp/qv-wcam-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_folder = pattern;
    for (int i = 0; i < CAMERA_NUM; ++i) {
        const std::string target = m_folder + "/cam" + std::to_string(i + 1);
        std::ofstream(target).put('\n');
        std::error_code ec;
        fs::create_symlink(target, m_folder + "/wcam" + std::to_string(i + 1), ec);
        m_cameras[i].frame = Frame(DefaultColour(i));
    }
    wcam_SetFrameSourceFactory([this] { return std::make_unique<CScriptedFrameSource>(*this); });
}

CScriptedUpperCameras::~CScriptedUpperCameras() {
    wcam_SetFrameSourceFactory(nullptr);
    LetAll();
    std::error_code ec;
    if (!m_folder.empty()) fs::remove_all(m_folder, ec);
}

std::array<std::string, CAMERA_NUM> CScriptedUpperCameras::Links() const {
    std::array<std::string, CAMERA_NUM> links;
    for (int i = 0; i < CAMERA_NUM; ++i) links[i] = m_folder + "/wcam" + std::to_string(i + 1);
    return links;
}

void CScriptedUpperCameras::Serve(int camera, const cv::Mat& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_retired.push_back(m_cameras[camera].frame);
    m_cameras[camera].frame = frame.clone();
    m_cameras[camera].nothing = false;
}

void CScriptedUpperCameras::ServeNothing(int camera) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cameras[camera].nothing = true;
}

void CScriptedUpperCameras::Hold(int camera) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cameras[camera].held = true;
}

void CScriptedUpperCameras::Let(int camera) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cameras[camera].held = false;
    }
    m_changed.notify_all();
}

void CScriptedUpperCameras::HoldAfter(uint64_t reads) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdAfter = reads;
}

void CScriptedUpperCameras::LetAll() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdAfter = UINT64_MAX;
        for (Camera& c : m_cameras) c.held = false;
    }
    m_changed.notify_all();
}

void CScriptedUpperCameras::RefuseOpen(int camera) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cameras[camera].refuseOpen = true;
}

uint64_t CScriptedUpperCameras::Reads(int camera) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cameras[camera].reads;
}

bool CScriptedUpperCameras::WaitForReads(int camera, uint64_t reads,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout,
                       [&] { return m_stopWaiting || m_cameras[camera].reads >= reads; });
    return m_cameras[camera].reads >= reads;
}

bool CScriptedUpperCameras::WaitForFreshReads(uint64_t more) const {
    uint64_t target[CAMERA_NUM];
    for (int i = 0; i < CAMERA_NUM; ++i) target[i] = Reads(i) + more;
    for (int i = 0; i < CAMERA_NUM; ++i)
        if (!WaitForReads(i, target[i])) return false;
    return true;
}

bool CScriptedUpperCameras::WaitUntilHeld(int camera, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_cameras[camera].blocked; });
}

void CScriptedUpperCameras::StopWaiting() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopWaiting = true;
    }
    m_changed.notify_all();
}

std::vector<std::pair<int, double>> CScriptedUpperCameras::SetCalls(int camera) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cameras[camera].sets;
}

int CScriptedUpperCameras::Opens() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opens;
}

void CScriptedUpperCameras::Alias(int camera, const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aliases[camera] = path;
}

int CScriptedUpperCameras::CameraOf(const std::string& resolvedPath) const {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < CAMERA_NUM; ++i)
            if (!m_aliases[i].empty() && m_aliases[i] == resolvedPath) return i;
    }
    for (int i = 0; i < CAMERA_NUM; ++i) {
        std::error_code ec;
        if (fs::equivalent(resolvedPath, m_folder + "/cam" + std::to_string(i + 1), ec)) return i;
    }
    return -1;
}

bool CScriptedUpperCameras::OpenCamera(int camera) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cameras[camera].refuseOpen) return false;
    ++m_opens;
    return true;
}

void CScriptedUpperCameras::RecordSet(int camera, int propId, double value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cameras[camera].sets.emplace_back(propId, value);
}

bool CScriptedUpperCameras::ReadFrame(int camera, cv::Mat& image) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Camera& c = m_cameras[camera];
    if (c.held || c.reads >= m_holdAfter) {
        c.blocked = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !c.held && c.reads < m_holdAfter; });
        c.blocked = false;
    }
    // A shared reference: the script only ever replaces its frame, never draws into it.
    const bool ok = !c.nothing && !c.frame.empty();
    if (ok)
        image = c.frame;
    else
        image.release();
    ++c.reads;
    m_changed.notify_all();
    return ok;
}
