// Four scripted upper cameras behind the station's frame-source seam. The constructor makes a
// folder with the links wcam1 to wcam4 (each to a file camN of its own, which is what a source
// "opens") and installs a factory whose sources serve what the test scripts per camera:
// a frame (by default 1280x720 of a colour of the camera's own with a white landmark block),
// failed reads, reads held until the test lets them go, or a refused open. Every read and every
// property set is counted or recorded, so tests wait on conditions instead of sleeping.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "Wcam.h"

class CScriptedUpperCameras {
  public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;

    // A kWidth x kHeight frame of `colour` with a block of `mark` at `landmark` (none when empty).
    static cv::Mat Frame(const cv::Scalar& colour, const cv::Rect& landmark = {},
                         const cv::Scalar& mark = cv::Scalar(255, 255, 255));
    // The colour camera i serves unless told otherwise (blue, green, red, yellow-ish ...).
    static cv::Scalar DefaultColour(int camera);

    CScriptedUpperCameras();
    ~CScriptedUpperCameras();
    CScriptedUpperCameras(const CScriptedUpperCameras&) = delete;
    CScriptedUpperCameras& operator=(const CScriptedUpperCameras&) = delete;

    // The links, in camera order, for wcam_OpenPaths.
    std::array<std::string, CAMERA_NUM> Links() const;
    const std::string& Folder() const { return m_folder; }
    // Another path that names camera's device (as the station will see it resolved).
    void Alias(int camera, const std::string& path);

    void Serve(int camera, const cv::Mat& frame);  // every read from now on gives this frame
    void ServeNothing(int camera);                 // every read fails
    void Hold(int camera);                         // reads block until Let(camera)
    void Let(int camera);
    // Every camera's reads after its first `reads` block until LetAll (a station that needs only
    // some frames of each then does not copy frames all the time).
    void HoldAfter(uint64_t reads);
    void LetAll();
    void RefuseOpen(int camera);

    uint64_t Reads(int camera) const;
    // Waits until camera has completed `reads` reads in total; false after `timeout`.
    bool WaitForReads(int camera, uint64_t reads,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until every camera has completed `more` reads after this call.
    bool WaitForFreshReads(uint64_t more = 2) const;
    // Whether a read of camera is blocked in Hold right now.
    bool WaitUntilHeld(int camera,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Ends every wait for reads at once, now and from now on (before the cameras stop reading).
    void StopWaiting();
    std::vector<std::pair<int, double>> SetCalls(int camera) const;
    int Opens() const;  // sources opened successfully, all cameras

    // Used by the sources.
    int CameraOf(const std::string& resolvedPath) const;
    bool OpenCamera(int camera);
    void RecordSet(int camera, int propId, double value);
    bool ReadFrame(int camera, cv::Mat& image);

  private:
    struct Camera {
        cv::Mat frame;
        bool nothing = false;
        bool held = false;
        bool blocked = false;
        bool refuseOpen = false;
        uint64_t reads = 0;
        std::vector<std::pair<int, double>> sets;
    };

    std::string m_folder;
    mutable std::mutex m_mutex;  // guards m_cameras and m_opens
    mutable std::condition_variable m_changed;
    Camera m_cameras[CAMERA_NUM];
    int m_opens = 0;
    bool m_stopWaiting = false;
    uint64_t m_holdAfter = UINT64_MAX;
    std::string m_aliases[CAMERA_NUM];
    // Frames served earlier, kept until the end: a read hands out a shared reference, and the
    // last reference must not be dropped in one thread while another still copies the pixels
    // (the reference count lives in OpenCV, out of a thread checker's sight).
    std::vector<cv::Mat> m_retired;
};
