// The sole camera: 1280x1024 8-bit grey frames through the camera SDK, the plate light on the
// camera's output line 0, and the sole thread that turns each frame into the upright 520x1200
// sole image, watches it for full contact (which takes the upper cameras' shot), accumulates the
// impression, stretches it and publishes it through a double buffer. The saved sole image and
// the measurements are made from the published image.
//
// Locks: m_qvBufferMutex guards readBuffer and the swap; it is a constant-initialised static
// that is never destroyed, so a save or a preview fetch works while the camera is closed (it then
// gets the image published last).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include <opencv2/core.hpp>

constexpr int kQvFrameWidth = 1280;
constexpr int kQvFrameHeight = 1024;
constexpr int kSoleWidth = 520;
constexpr int kSoleHeight = 1200;
constexpr size_t kSoleBytes = static_cast<size_t>(kSoleWidth) * kSoleHeight;

extern std::mutex m_qvBufferMutex;
extern std::atomic<bool> m_bQVThreadState;
extern std::atomic<bool> m_bQVStartGrabbing;

// Opens and configures the camera and prepares the buffers; false after a message.
bool qvcam_Open();
// Starts the sole thread.
bool qvcam_StartThreads();
// The sole thread's body; the argument is not read.
void* qvcam_ThreadProc(void* arg);
// The plate light; nothing without a camera.
void qvcam_LightControl(bool isOn);
// Cuts (cropX, cropY, cropWidth, cropHeight) out of srcHeight rows of srcWidth bytes, transposes
// it and reverses its row order (rotateLeft false) or its column order (true), into
// cropHeight x cropWidth bytes at dstImageData. With the sole thread's values the destination
// pixel (x, y) is the frame pixel at row 252 + x, column 1239 - y. Nothing is written for a
// rectangle outside the source.
void qvcam_processImage(unsigned char* srcImageData, int srcWidth, int srcHeight, int cropX,
                        int cropY, int cropWidth, int cropHeight, bool rotateLeft,
                        unsigned char* dstImageData);
// True on the frame of full contact: the half that touched first starts to lose contact pixels
// while the other half holds more than 1000; once until the plate is nearly empty again.
bool qvcam_DetectFullContact(unsigned char* imageData, int width, int height);
// Clears the contact detector's state, as at load.
void qvcam_ResetDetector();
// Stretches the values' range over 0..255 (a flat image stays as it is).
void qvcam_ContrastStretchingAuto(const unsigned char* srcImage, unsigned char* dstImage, int width,
                                  int height);
// Copies the published sole image (kSoleBytes) to dst, under m_qvBufferMutex.
void qvcam_CopyPublished(unsigned char* dst);
// Copies the sole preview and, when new, the upper mosaic: 2, 1, or -1 for a NULL pointer.
int qvcam_GetPreviewImage(unsigned char* pFootPreviewData, unsigned char* pUpperData);
// Stops and joins the sole thread; the camera stays open.
void qvcam_StopThread();
// Stops the sole thread, switches the light off, closes the camera; always true.
bool qvcam_Close();

// Writes the published sole image, scaled to 300 dpi (1774x4134) with a millimetre ruler on the
// side `dir` gives (0 right, 1 left), and the four measurements. False, after an error line, when
// the file could not be written (the measurements are written all the same).
bool qvcam_save(char* XDImageFullPath, int dir, int* footLongth, int* footFrontWidth,
                int* footBackWidth, int* score);
// The measurements of a scaled 8-bit grey sole image: 1, or -1 (nothing written) when the image
// has nothing inside its 40-pixel border.
int qvcam_Analysis(cv::Mat imageInput, int* footLongth, int* footFrontWidth, int* footBackWidth,
                   int* score);
