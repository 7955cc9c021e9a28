// The four upper cameras: capture threads that keep each camera's newest frame, the contact
// shot that freezes them and composes the 320x180 preview mosaic, and the saved full-size views.
//
// Camera i (0 to 3) is the device behind the link /dev/wcam<i+1>. Mosaic quarters (160x90):
// camera 0 top left, 1 top right, 2 bottom left, 3 bottom right; cameras 1 and 3 are
// lens-corrected.
//
// Locks: m_frameMutexes[i] guards m_wCameraFrames[i] (capture thread i and the shot);
// m_shotMutex guards m_shotFrames (the shot and the save's snapshot); m_previewMutex guards
// m_previewImage and m_newPreviewAvailable (the shot and the preview fetch). No two are held at
// once. All of them are constant-initialised statics that are never destroyed, so a shot or a
// save is safe at any time, also while the cameras are closed.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <type_traits>

#include <opencv2/core.hpp>

#include "WcamFrameSource.h"

constexpr int CAMERA_NUM = 4;

// Size of a preview quarter and of the whole mosaic (blue, green, red; rows of 960 bytes).
constexpr int kQuarterWidth = 160;
constexpr int kQuarterHeight = 90;
constexpr int kMosaicWidth = 2 * kQuarterWidth;
constexpr int kMosaicHeight = 2 * kQuarterHeight;
constexpr size_t kMosaicBytes = static_cast<size_t>(kMosaicWidth) * kMosaicHeight * 3;

extern cv::Mat m_wCameraFrames[CAMERA_NUM];
extern std::mutex m_frameMutexes[CAMERA_NUM];
extern cv::Mat m_shotFrames[CAMERA_NUM];
extern std::mutex m_shotMutex;
extern std::atomic<bool> m_wcamThreadState;
extern cv::Mat m_previewImage;
extern std::mutex m_previewMutex;
extern bool m_newPreviewAvailable;
static_assert(std::is_trivially_destructible_v<std::mutex>,
              "the station's mutexes must outlive every thread that may still lock them");

// The canonical path behind a link, or an empty string (after perror("realpath")).
std::string resolveSymlink(const std::string& path);
// Resolves and opens /dev/wcam1 to /dev/wcam4 and prepares the mosaic.
bool wcam_Open();
// The same for four other links, in camera order.
bool wcam_OpenPaths(const std::array<std::string, CAMERA_NUM>& links);
// Starts the four capture threads.
bool wcam_StartStreaming();
// Body of capture thread `arg` (the camera index as a pointer-sized integer).
void* wcam_SingleCameraProc(void* arg);
// Stops and joins the capture threads; always true.
bool wcam_StopStreaming();
// Stops the threads and releases the cameras; always true.
bool wcam_Close();
// The contact shot: freezes the newest frames and composes the mosaic; always true.
bool wcam_shot();
void wcam_StitchCameraFrames();
// Lens correction of a preview view into a 160x90 quarter.
void OnCorrectMiddle0(cv::Mat frame, cv::Mat& drc, int cx, int cy, int x, int y, float ratio);
// Copies the mosaic (kMosaicBytes) to `dst` when a new one was composed since the last fetch,
// and clears the flag; true when it copied.
bool wcam_FetchPreview(unsigned char* dst);

// Writes the four frozen views (1280x720) and the 2560x1440 group image. True when every file
// was written or nothing was due (a camera not frozen yet); false, after an error line, when a
// save was refused or a file could not be written.
bool wcam_save(char XMImageFullPath[4][260], char* XMGroupImageFullPath);
// Lens correction of one full-size view: the rectangle (x, y, 1031, 580) of the corrected frame,
// scaled to 1280x720. drc is left empty for a frame that is not 8-bit blue-green-red or too
// small for the rectangle.
void wcam_OnCorrectMiddleForSave(cv::Mat frame, cv::Mat& drc, int cx, int cy, int x, int y,
                                 float ratio);
// The corrected rectangle itself (1031x580, before the scaling).
void wcam_CorrectRectForSave(const cv::Mat& frame, cv::Mat& corrected, int cx, int cy, int x, int y,
                             float ratio);

// Test seam: the factory of frame sources (nullptr: the V4L2 capture).
void wcam_SetFrameSourceFactory(WcamFrameSourceFactory factory);
