// CameraControl: the controller behind every camera handle (the handle is a pointer to it). The
// camera manager creates one per opened camera and runs CameraInit; each handle-taking export
// calls one method.
//
// Life cycle: created -> initialised (CameraInit 0: device attached, stream open, paused) <->
// playing (CameraPlay / CameraPause). CameraInit -51 leaves an initialised controller without a
// device and without device parameters; most operations then answer -1. A camera found lost
// (no frames for the loss time while playing, a posted -38, a failed alive check in the trigger
// modes, a failed capture start, a connection-status event) has its stream closed and its
// device detached, and the controller registers with the keep-alive service, which offers it the
// cameras present once per period; it re-attaches the one with its serial number, reopens the
// stream with every setting of the parameter record and resumes capture when it was playing.
//
// Threads that enter a controller: host threads (exports), the capture thread of callback mode,
// the keep-alive thread (KLive_Reconnect), the timer thread (DeviceLostTimerProc) and the
// transports' threads (ConnectionStatusCallback).
//
// Locks, in this order: m_apiMutex, then the attachment mutex of CJNCamObject (inside every
// device call, and held across several by HoldDevice), then the device's own; m_displayMutex
// after m_apiMutex. The frame wait runs without m_apiMutex. So do the trigger, strobe and
// I/O-line settings (not the trigger mode), the display settings, the cross-line getter and the
// overlay, the image settings (not frame speed, resolution and sensor format), the AE and WB
// windows, the dead-pixel calls, the parameter mode and saves, and the device information,
// storage, upgrade and integer-value operations (not the channel mask): they never wait for a
// stream change, a frame being processed or a snapshot waiting for its frame. They hold the
// attachment mutex instead, which also guards the records they share with the stream
// operations (marked below); the pipeline objects guard their pending values. Background threads
// never block on m_apiMutex: the keep-alive reconnection, the timer task and the connection-status
// handler only try it and come back at their next period. Registration with the keep-alive service
// happens with m_apiMutex held; the timer task only tries that too. CameraPause and CameraUninit
// release m_apiMutex while they join the capture thread, whose frame wait takes it.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraExposure.h"
#include "CameraISP.h"
#include "control/ApiMutex.h"
#include "control/AeLimits.h"
#include "control/CameraInitOption.h"
#include "control/DeadPixelList.h"
#include "control/DeviceRecords.h"
#include "control/WindowGeometry.h"
#include "device/CameraInitParam.h"
#include "params/CameraParameter.h"
#include "params/CameraParameterBuilder.h"
#include "CameraWhiteBalance.h"
#include "control/ControlClock.h"
#include "services/DevKeepAliveObj.h"
#include "device/DeviceMiscInfo.h"
#include "frames/FrameBucket.h"
#include "device/JNCamObject.h"
#include "QVDeviceDef.h"
#include "RawResizer.h"
#include "storage/CameraProperty.h"

class AviWriter;
class Display;
struct TimerEntry;

class CameraControl : public CJNCamObject, public CDevKeepAliveObj {
  public:
    static constexpr int kDefaultFrameCount = 6;
    static constexpr int kCaptureWaitMs = 1000;       // one frame wait of the capture thread
    static constexpr unsigned kCaptureRetryMs = 5;    // its pause after a failed wait
    static constexpr unsigned kLostWaitPauseMs = 10;  // every wait of a lost camera takes this
    static constexpr unsigned kSoftTriggerSettleMs = 10;

    explicit CameraControl(CJNDeviceMgr* manager);
    // Runs CameraUninit.
    ~CameraControl() override;

    CameraControl(const CameraControl&) = delete;
    CameraControl& operator=(const CameraControl&) = delete;

    // ---- Life cycle ----
    // Attaches device, reads its parameters, loads the parameter group (paramMode and paramGroup
    // below 0: the group saved last), opens the stream and starts the pipeline. 0; -51 for a
    // camera without written device parameters (the controller stays, without device); the
    // attachment's code (-52); -1 when the device parameters cannot be read; the stream open's
    // code (-53). options, when given, override stored settings (see CameraInitOption).
    int CameraInit(std::shared_ptr<CJNDevice> device, int paramMode, int paramGroup,
                   const CameraInitOption* options);
    // Stops capture and its thread, closes the stream, leaves the keep-alive service, detaches
    // and drops the frame pool. Safe on a controller whose initialisation failed, and twice.
    int CameraUninit();
    // -5 before initialisation, -1 without device parameters; 0 (also when already playing). A
    // failed capture start is handled as a lost camera and still answers 0.
    int CameraPlay();
    int CameraPause();  // -5 before initialisation; 0
    // -28 while playing; otherwise stores the callback (null: none) for the next CameraPlay and
    // returns the previous one through previous when given.
    int CameraSetCallbackFunction(CameraFrameCallback callback, void* context,
                                  CameraFrameCallback* previous);

    // ---- Raw frames ----
    // Waits up to timeoutMs for a frame the caller has not seen. 0 with *frame set (hold it until
    // CameraReleaseFrameHandle); -12 on a time-out, also for the call that finds the camera lost;
    // -38 while the camera is lost (each such call takes 10 ms); -50 for a frame that came without
    // a software trigger under the trigger emulation; -6 for a null frame; -5 before
    // initialisation. The loss rule applies only while playing.
    int CameraGetRawImageBuffer(CameraFrameHandle* frame, int timeoutMs);
    // -6 for a null frame or one that is not this camera's; 0.
    int CameraReleaseFrameHandle(CameraFrameHandle frame);

    // ---- Frames (CameraControlFrames.cpp) ----
    // The frame's data and descriptor. With a resize size in the current resolution (both
    // non-zero) the data is a resized copy, valid until the next call on this camera, and the
    // descriptor tells its size. Null for a null descriptor, a frame that is not this camera's,
    // or a frame the resize cannot take (samples wider than 8 bits).
    BYTE* CameraGetImageInfo(CameraFrameHandle frame, stImageInfo* info);
    // The frame's timestamp and frame number as the transport stored them; -6 for a null
    // pointer or a frame that is not this camera's.
    int CameraGetImageTimestamp(CameraFrameHandle frame, uint64_t* timestamp);
    int CameraGetImageFrameNo(CameraFrameHandle frame, uint64_t* frameNo);
    // The device's result of restarting its timestamp counter (-1 while detached).
    int CameraResetTimestamp();
    // Runs the per-frame steps (auto exposure, white balance, pipeline) on a raw frame the host
    // holds into out, which must hold width x height x bytes per pixel of the output format.
    // 0 with *info describing the output; -6 for a null pointer; otherwise the pipeline's
    // status, with neither *info nor out written (raw may be corrected in place).
    int CameraGetOutImageBuffer(stImageInfo* info, BYTE* raw, BYTE* out);
    // Wait for a frame and process it into the caller's out: 0, -6 for a null out, -1 for any
    // other failure (callback mode, time-out, loss, a frame the pipeline refuses); out and the
    // outputs are then left alone. info and timestamp may be null.
    int CameraGetImageBufferEx1(BYTE* out, stImageInfo* info, int timeoutMs);
    int CameraGetImageBufferEx2(BYTE* out, stImageInfo* info, uint64_t* timestamp, int timeoutMs);
    // As Ex1/Ex2 into a buffer the controller owns (grown to width x height x 4 when a frame
    // needs it, freed by CameraUninit): valid until the next call on this camera. Null for any
    // failure.
    BYTE* CameraGetImageBufferEx(stImageInfo* info, int timeoutMs);
    BYTE* CameraGetImageBufferEx3(stImageInfo* info, uint64_t* timestamp, int timeoutMs);
    // The descriptor of the sensor's current output; width and height both non-zero replace
    // its size (and TotalBytes becomes width x height). The device's result. Internal: info
    // must not be null.
    int CameraGetFrameHead(stImageInfo* info, int width, int height);
    // The resolution of snapshots (see CameraSnapToBuffer). The record is normalised in place;
    // image width or height 0 means the current resolution, whose index is written back.
    // -5 before initialisation, -1 without device parameters, -6 for a null record, a
    // reduction mode the sensor lacks, or a size outside the sensor's limits.
    int CameraSetResolutionForSnap(tSdkResolution* res);
    // The snapshot resolution, or the current one when none is set. -6 for null.
    int CameraGetResolutionForSnap(tSdkResolution* res);
    // One raw frame at the snapshot resolution, held until CameraReleaseFrameHandle. Switches
    // the stream to the snapshot resolution and a paused camera on for the shot, and back
    // afterwards. 0 with *frame (and *info, *data when given); -12 on a time-out or a loss;
    // -1 when capture or the switch fails; -5, -1 as CameraPlay; -6 for a null frame.
    int CameraSnapToBuffer(CameraFrameHandle* frame, stImageInfo* info, BYTE** data,
                           unsigned timeoutMs);

    // ---- Exposure (CameraControlExposure.cpp) ----
    // Setters answer -5 before initialisation and -1 without device parameters where noted.
    // Pending settings reach the pipeline objects at the next processed frame; the exposure
    // time, the analog gain and the camera's own AE target reach the device at once.
    int CameraSetAeState(int on);  // 0 or 1
    int CameraGetAeState(uint8_t* on);
    // The low 16 bits, brought into the sensor's target range. -5, -1.
    int CameraSetAeTarget(int target);
    int CameraGetAeTarget(uint16_t* target);
    // Brought into the sensor's gain range (unsigned), programmed and read back. -5, -1; -6 with
    // nothing written while auto exposure is on.
    int CameraSetAnalogGain(int gain);
    int CameraGetAnalogGain(int* gain);  // the device's value, else the stored one; -6 null
    // Programmed and read back (the value asked for stays when the read fails). -5, -1; -6
    // with nothing written while auto exposure is on.
    int CameraSetExposureTime(double us);
    int CameraGetExposureTime(double* us);      // as CameraGetAnalogGain
    int CameraGetExposureLineTime(double* us);  // the device's result; -1 for null
    // The sensor's frame time (also the pending exposure limit of auto exposure); 0 is
    // reported when the device cannot tell it. Always 0.
    int CameraGetFrameTime(double* us);
    // The AE window on the output image: width rounded down to even; -6 for a negative size.
    int CameraSetAeWindow(int left, int top, int width, int height);
    // The stored AE window as it lies on the current output image, clipped to it.
    int CameraGetAeWindow(int* left, int* top, int* width, int* height);
    int CameraSetAeWinVisible(int visible);  // -6 before the display is initialised
    int CameraGetAeWinVisible(uint8_t* visible);
    int CameraSetAntiFlick(int on);
    int CameraGetAntiFlick(uint8_t* on);
    int CameraSetLightFrequency(int frequency);  // 1 50 Hz, 2 60 Hz
    int CameraGetLightFrequency(int* frequency);
    int CameraSetAeExposureMode(int mode);  // -5, -1; -6 while auto exposure is off
    int CameraGetAeExposureMode(int* mode);
    // Microseconds, brought onto the sensor's exposure range. -5, -1; -6 while auto exposure
    // is off, for min > max and for a range outside the sensor's.
    int CameraSetAeExposureRange(double minUs, double maxUs);
    int CameraGetAeExposureRange(double* minUs, double* maxUs);
    // Brought onto the sensor's gain range. -5, -1; -6 for max < min and while auto exposure
    // is off.
    int CameraSetAeAnalogGainRange(int minGain, int maxGain);
    int CameraGetAeAnalogGainRange(int* minGain, int* maxGain);

    // ---- White balance (CameraControlExposure.cpp) ----
    int CameraSetWbMode(int automatic);  // 0 or 1
    int CameraGetWbMode(uint8_t* automatic);
    // Each gain's low 16 bits, brought into its channel's range; -6 while auto WB is on.
    int CameraSetGain(int red, int green, int blue);
    int CameraGetGain(uint16_t* red, uint16_t* green, uint16_t* blue);
    // One white-balance measurement; -4 without one-push support, -6 while auto WB is on. In
    // continuous mode waits up to 1 s for the next processed frame.
    int CameraSetOnceWB();
    int CameraSetWbWindow(int left, int top, int width, int height);  // as the AE window
    int CameraGetWbWindow(int* left, int* top, int* width, int* height);
    int CameraSetWbWinVisible(int visible);
    int CameraGetWbWinVisible(uint8_t* visible);

    // ---- Lookup tables and image settings (CameraControlImage.cpp) ----
    // The pipeline's result; the record follows on success.
    int CameraSetLutMode(int mode);
    int CameraGetLutMode(int* mode);
    int CameraSetGamma(int gamma);  // brought into the capability's range
    int CameraGetGamma(int* gamma);
    int CameraSetContrastLut(int contrast);  // brought into the capability's range
    int CameraGetContrastLut(int* contrast);
    int CameraSelectLutPreset(int preset);
    int CameraGetLutPresetSel(int* preset);
    // 4096 entries; -1 for a null table.
    int CameraSetCustomLut(int channel, const uint16_t* lut);
    int CameraGetCustomLut(int channel, uint16_t* lut);
    int CameraGetCurrentLut(int channel, uint16_t* lut);
    // -1 without device parameters; brought into the capability's range as unsigned values,
    // so a negative value becomes the maximum.
    int CameraSetSharpness(int sharpness);
    int CameraGetSharpness(int* sharpness);
    int CameraSetSaturation(int saturation);
    int CameraGetSaturation(int* saturation);
    int CameraSetContrast(int contrast);
    int CameraGetContrast(int* contrast);
    int CameraSetMirror(int direction, int on);  // 0 horizontal, 1 vertical; else -6
    int CameraGetMirror(int direction, uint8_t* on);
    int CameraSetMonochrome(int on);
    int CameraGetMonochrome(uint8_t* on);
    int CameraSetBlackLevel(int level);  // programmed and read back
    int CameraGetBlackLevel(int* level);
    // CAMERA_MEDIA_TYPE_MONO is kept as CAMERA_MEDIA_TYPE_MONO8. -5, -1.
    int CameraSetIspOutFormat(uint32_t mediaType);
    int CameraGetIspOutFormat(uint32_t* mediaType);
    int CameraSetBayerAlgMode(int mode);
    int CameraSetBayerAlgThreshold(int threshold);
    int CameraGetBayerAlgMode(int* mode);
    int CameraSetCorrectDeadPixel(int on);
    int CameraGetCorrectDeadPixel(uint8_t* on);  // -6 null
    // Lens-shading calibration and correction on the caller's buffers: the pipeline's result.
    int CameraLscCalib(tSdkLscCalibParam* param);
    int CameraLscCorrect(tSdkLscCorrectParam* param);
    int CameraGetFrameStatistic(tSdkFrameStatistic* statistic);  // -6 null
    int CameraGetOutImageSize(int* width, int* height);

    // ---- Frame speed and resolution (CameraControlResolution.cpp) ----
    // Each change closes and reopens the stream. -5, -1; -6 for a speed or preset the camera
    // does not offer.
    int CameraSetFrameSpeed(int speed);
    int CameraGetFrameSpeed(int* speed);
    int CameraSetResolution(int index);  // the reopen's result
    int CameraGetResolution(int* index);
    // A region of the caller's; the record is adjusted in place (see the source). An offset
    // change alone moves the region without a stream restart.
    int CameraSetResolutionEx(tSdkResolution* res);
    int CameraGetResolutionEx(int index, tSdkResolution* res);
    int CameraGetCurResolution(tSdkResolution* res);
    int CameraCustomizeResolution(tSdkResolution* res);  // -6 null, else -1
    // -4 for a format the sensor does not list.
    int CameraSetSensorOutPixelFormat(uint32_t mediaType);
    int CameraGetSensorOutPixelFormat(uint32_t* mediaType);  // -6 null

    // ---- Dead pixels (CameraControlDeadPixels.cpp) ----
    // The pixels of a frame taken of an even scene that differ from reference by more than
    // threshold, where at least two such pixels meet in a 3 x 3 neighbourhood. The list points
    // into storage of this controller, valid until the next dead-pixel call or CameraUninit.
    // -6 for a null argument, -4 for a media type other than mono 8, 12 or 16 bits.
    int CameraFindDeadPixels(const BYTE* image, const stImageInfo* info, int reference,
                             int threshold, tSdkDeadPixelList* out);
    // The camera's stored dead-pixel table into out: the storage's result, -8 for a table that
    // is not one; -6 null.
    int CameraLoadDeadPixels(tSdkDeadPixelList* out);
    // Writes list as the camera's dead-pixel table: the storage's result; -6 for a null or
    // empty list or one longer than the table holds.
    int CameraSaveDeadPixels(const tSdkDeadPixelList* list);

    // ---- Trigger and transfer ----
    // In software-trigger mode: the device's trigger, or under the emulation one more frame to
    // pass; -1 in the other modes.
    int CameraSoftTrigger();
    // A new mode reopens the stream (its result); -5, -1 as CameraPlay.
    int CameraSetImageTransferMode(int mode);
    int CameraGetImageTransferMode(int* mode);  // the mode last set; -6 for null
    int CameraRequestTransferImage();           // -1 unless playing; else the device's result
    int CameraRequestTransferImageEx(int value);

    // ---- Parameter groups and device information (CameraControlParameters.cpp) ----
    // The parameter mode names the group files: 0 product name, 1 friendly name, 2 serial
    // number. -6 for null.
    int CameraSetParameterMode(int mode);
    int CameraGetParameterMode(int* mode);
    // Makes group the current one and saves the record with the custom curves as that group's
    // file and as the "_SAVE" file (mode 0, group 255) that names it. 0 only when both files are
    // complete; -1 otherwise (or before initialisation).
    int CameraSaveParameter(int group);
    // Loads a group (255: the camera's defaults) with the stream closed and reopened; the
    // parameter mode stays, the current group becomes group (255 keeps the current one). The
    // builder's code when the file cannot be read (nothing changes); -1 when the device
    // parameters cannot be read again; else the reopen's result. -5 before initialisation.
    int CameraLoadParameter(int group);
    // The record and custom curves to / from a file the caller names. Save: 0 or -1. Read: the
    // builder's code when the file cannot be read, -40 for a file of another camera model; in
    // both cases the record and the curves stay as they were; else the reopen's result.
    int CameraSaveParameterToFile(const char* path);
    int CameraReadParameterFromFile(const char* path);
    int CameraGetCurrentParameterGroup(int* group);  // -6 null
    // The 480-byte capability with the sensor part refreshed: -5, -1, -6 for null.
    int CameraGetCapability(tSdkCapability* capability);
    // Device information (in-use 1) and the current settings block as the getters report it.
    // A null record: 0 without effect.
    int CameraGetCurDevInfo(CameraCurDevInfo* info);

    // ---- Device: serial numbers, user data, names, versions, upgrade, integer values
    // (CameraControlDevice.cpp) ----
    int CameraWriteSN(BYTE* sn, int level);  // levels 1, 2: the device's result; -6 null
    // Level 0: the serial number the camera was opened with; 1, 2: read from its storage.
    int CameraReadSN(BYTE* sn, int level);
    // length bytes at offset of the camera's user-data area: -4 when the camera has none, -6
    // when the span does not lie inside it (no wrap-around) or data is null, 0 without effect
    // for length 0; else the device's result.
    int CameraSaveUserData(uint32_t offset, BYTE* data, uint32_t length);
    int CameraLoadUserData(uint32_t offset, BYTE* data, uint32_t length);
    int CameraGetFriendlyName(char* name);  // 32 bytes; -5 before initialisation, -6 null
    // Stores the name in the camera; on success the device information takes it (31 characters
    // at most). -6 null.
    int CameraSetFriendlyName(const char* name);
    int CameraCheckFwUpdate(uint8_t* needUpdate);  // writes 0; 0
    // The firmware text (at most what its field holds, always terminated) into 32 bytes.
    int CameraGetFirmwareVision(char* version);
    int CameraGetDeviceType(int* type);  // the device ID word; -6 null
    // "V%d.%d.%d.%d" from the four 4-bit fields of the property record's interface-version
    // word (bits 15-12 first), into 32 bytes; -6 null.
    int CameraGetInerfaceVersion(char* version);
    int CameraUpgrade(const char* path, CameraUpgradeProgressCallback progress, void* context);
    // Integer values: 0 the channel mask (-6 for 0; the stream reopens), 1 and 3 controller
    // values re-sent at every stream open, 2 the sensor WDR mode, 13 an on/off value, 15 a
    // value kept in the record; others go to the device only.
    int CameraSetIntValue(int id, int value);
    // Ids 0 to 3 from the stored values; 15 from the device, the stored value when the device
    // cannot answer (its error still returned); others from the device. -6 null.
    int CameraGetIntValue(int id, int* value);
    // Settings pages: no window system, fixed answers.
    int CameraShowSettingPage(int show);
    int CameraSetActivePage(uintptr_t pages, int index);  // stores both
    int CameraCreateSettingPageEx();                      // clears the stored page value
    int CameraCustomizeReferWin();                        // -1

    // ---- Display, overlay and cross lines (CameraControlDisplay.cpp) ----
    // Creates the display object for window (replacing an earlier one): 0; -5 before
    // initialisation; -1 when the display cannot start.
    int CameraDisplayInit(uintptr_t window);
    int CameraSetDisplayMode(int mode);  // -5 without display
    // -5 without display; -1 unless the last display mode set was 1; else the display's result.
    int CameraSetDisplayScaleRadio(int scale);
    int CameraSetDisplayOffset(int x, int y);
    int CameraSetDisplaySize(int width, int height);  // -5 without display
    // -6 for a null callback or without display; previous (when given) gets the old one.
    int CameraSetDisplayCallbackFun(CameraDisplayCallback callback, void* context,
                                    CameraDisplayCallback* previous);
    // Nine cross lines: -6 for a line outside 0..8. Setting with visible 0 keeps the position
    // and colour.
    int CameraSetCrossLine(int line, int x, int y, uint32_t colour, int visible);
    int CameraGetCrossLine(int line, int* x, int* y, uint32_t* colour, uint8_t* visible);
    // Draws the visible cross lines and AE and WB windows into image (24- and 32-bit RGB or BGR
    // order only), clipped to head. -6 for null.
    int CameraImageOverlay(BYTE* image, const stImageInfo* head);
    // Converts image to 32-bit pixels and hands them to the display (and through it to the
    // display callback). -5 before initialisation or without display; -6 for null; else 0, also
    // when the display failed (it is then made anew).
    int CameraDisplay(const BYTE* image, const stImageInfo* head);

    // ---- Image files and recording (CameraControlFiles.cpp) ----
    // Writes image (described by head) to path + the extension of type (1 ".jpg", 2 ".bmp",
    // 4 ".raw" for mono and raw frames only, 8 ".png"), under the API mutex. The writer's
    // status; -6 for a null pointer, another type, a colour frame as RAW, a size that is not
    // positive, or a path that does not fit the 264-byte name with its extension.
    int CameraSaveImage(const char* path, const BYTE* image, const stImageInfo* head, int type,
                        int quality);
    // Opens an AVI recording (an open one is finished first): 0, -6 for a null path, -22 when
    // the file cannot be opened.
    int CameraStartRecord(const char* path, int format, int quality, int frameRate);
    // Appends a frame as 24-bit BGR, bottom row first; the first frame fixes the size. 0; -1
    // without a recording; -6 for a null pointer, a size that is not positive or differs from
    // the first frame's; -4 for a format without a conversion; -21 when the file would pass
    // 0x80000000 bytes; -23 when the stream header or the frame cannot be written.
    int CameraPushOneFrame(const BYTE* image, const stImageInfo* head);
    // Finishes the recording: 0; -1 without one; -23 when the index or the final header could
    // not be written.
    int CameraStopRecord();

    // ---- Trigger, strobe, I/O lines, GigE stream (CameraControlTrigger.cpp) ----
    // Every value lives in the parameter record and reaches the device at once when the line
    // (or camera) is in the matching mode, otherwise at the next mode switch or stream open.
    // Output lines 0 .. min(output count, 4) - 1 and inputs 0 .. min(input count, 2) - 1 exist;
    // the strobe and trigger-input operations answer -6 for any other, the I/O-mode, state and
    // PWM ones -4. A device failure of a setter is returned and leaves the stored value.
    //
    // 0 continuous, 1 software, 2 hardware: a new mode reopens the stream (its result); -6 for
    // any other mode or one the camera's trigger-mode mask lacks; -5, -1 as CameraPlay.
    int CameraSetTriggerMode(int mode);
    int CameraGetTriggerMode(int* mode);
    // Frames per trigger (the device takes the count as unsigned: 0 means 1) and the delay
    // after a trigger; the device's result, stored on success.
    int CameraSetTriggerFrameCount(int count);
    int CameraGetTriggerFrameCount(int* count);
    int CameraSetTriggerDelayTime(uint32_t delay);
    int CameraGetTriggerDelayTime(uint32_t* delay);
    // Trigger inputs: -4 on a camera without hardware trigger.
    int CameraSetTriggerJitterTime(int input, uint32_t time);
    int CameraGetTriggerJitterTime(int input, uint32_t* time);
    int CameraSetTriggerSignalType(int input, int type);
    int CameraGetTriggerSignalType(int input, int* type);
    // Strobe settings of an output line.
    int CameraSetStrobeMode(int output, int mode);
    int CameraGetStrobeMode(int output, int* mode);
    int CameraSetStrobeDelayTime(int output, uint32_t delay);
    int CameraGetStrobeDelayTime(int output, uint32_t* delay);
    int CameraSetStrobePulseWidth(int output, uint32_t width);
    int CameraGetStrobePulseWidth(int output, uint32_t* width);
    int CameraSetStrobePolarity(int output, int polarity);
    int CameraGetStrobePolarity(int output, int* polarity);
    // emSdkOutputIOMode (other modes -6): sends the line's stored values of the new mode, then
    // the mode; the bitwise or of the device results. The same mode again sends nothing.
    int CameraSetOutputIOMode(int output, int mode);
    int CameraGetOutputIOMode(int output, int* mode);
    int CameraSetOutputIOState(int output, int level);
    int CameraGetOutputIOState(int output, int* level);
    // -6 for a duty above the period, with nothing stored.
    int CameraSetOutputIOPWM(int output, uint32_t period, uint32_t duty);
    int CameraGetOutputIOPWM(int output, uint32_t* period, uint32_t* duty);
    // 0 makes the input a trigger input (sent at once in hardware-trigger mode); the other
    // byte values are kept for the device. -6 for a mode beyond a byte, with nothing stored.
    int CameraSetInputIOMode(int input, int mode);
    int CameraGetInputIOMode(int input, int* mode);
    // The input's level as the device reads it; -4 for an input the camera lacks.
    int CameraGetInputIOState(int input, uint32_t* state);
    // GigE stream: the packet size is rounded down to a multiple of 4 and kept within 1500 ..
    // 9000 (a negative size counts as above); a new size reopens the stream (its result).
    int CameraGigeSetTransPacketSize(int size);
    int CameraGigeGetTransPacketSize(int* size);
    // At most 1000 (larger values, and negative ones, become 1000); a new delay goes to the
    // device, stored on success.
    int CameraGigeSetPacketDelayTime(uint32_t delay);
    int CameraGigeGetPacketDelayTime(int* delay);
    int CameraGigeSetResend(int enable, int a, int b, int c);
    int CameraGigeGetOptimalPacketSize(int* size);

    // ---- Connection status and maintenance ----
    // Status callback (0 lost, 1 back; null removes it); the device's result of taking it.
    int CameraSetConnectionStatusCallback(CameraConnectionStatusCallback callback, void* context);
    int CameraReboot();

    // ---- Queries for the manager and the exports ----
    bool IsInitialized() const { return m_initialized.load(); }
    bool IsPlaying() const { return m_playing.load(); }
    bool HasValidDeviceParameters() const { return m_devParamValid.load(); }
    // Whether the calling thread is this controller's capture thread (a frame callback).
    bool IsCaptureThread() const;
    // Whether candidate is the camera this controller drives: attached now, or lost and waited
    // for by its serial number.
    bool HoldsCamera(const std::shared_ptr<CJNDevice>& candidate);

    // The time after which a continuous stream without frames counts as lost: with d the larger
    // of frame time and exposure in ms, 5000 ms below 2500, 2d + 500 below 5000, else d + 4000.
    static uint64_t DeviceLossTimeoutMs(double frameTimeUs, double exposureUs);

    // ---- Test seams (internal) ----
    // The loss rule's clock; set before CameraInit, not owned, must outlive the controller.
    void SetClock(CControlClock* clock);
    CameraParameter GetParameterRecord();
    tSdkResolution GetCurrentResolution();
    int GetPendingSoftTriggers();
    bool IsSoftTriggerEmulated();
    // The pipeline objects: their getters tell the settings they run with, which they take over
    // from the pending values at each processed frame.
    const CameraExposure& ExposureObject() const { return mExposure; }
    const CameraWhiteBalance& WhiteBalanceObject() const { return mWb; }
    const CameraISP& IspObject() const { return mIsp; }

  protected:
    int KLive_Reconnect(std::list<std::shared_ptr<CJNDevice>>& present) override;

  private:
    using ApiLock = std::unique_lock<CApiMutex>;
    using DeviceHold = std::unique_lock<std::recursive_mutex>;

    // ---- Opening (CameraControlLifecycle.cpp) ----
    // The device records, the parameter record and the resolutions, all zero (the capability's
    // lists must have been released).
    void ClearRecords();
    void ResetState();
    int CameraGetCameraDevParam();
    // CameraGetCameraDevParam apart from the controller's records: the device's into device,
    // the factory settings and stamp into record; its result. Stored by StoreDeviceRecords
    // (with the attachment mutex held).
    int ReadDeviceRecords(DeviceRecords& device, CameraParameter& record);
    void StoreDeviceRecords(DeviceRecords& device);
    // The capability's lists and those it replaced (with the attachment mutex held).
    void ReleaseCapabilities();
    int GetResolutionDesc(int index, tSdkResolution* out);
    // handed: the AE ranges auto exposure holds, when the record's were changed before the
    // call (the record's by default); they are handed over again only when they change.
    int CameraGetCameraSensorParam(const CameraSettings* handed = nullptr);
    // The sensor's limits into capability (kept when it cannot tell them), settings' AE limits
    // within them (ClampAeLimits) and defaultResolution into capability; the limits.
    SensorParam ReadSensorLimits(tSdkCapability& capability, CameraSettings& settings,
                                 const tSdkResolution& defaultResolution);
    // Each AE limit of settings within the sensor's (negative ones, "not set", become them); a
    // minimum then above its maximum gives the sensor's whole range.
    void ClampAeLimits(CameraSettings& settings, const SensorParam& sensor);
    // Loads the group CameraInit asks for into the record; the path of the file whose record is
    // in force, empty when none is (the camera's defaults).
    std::string LoadParameterGroup(int paramMode, int paramGroup);
    // The record's stream settings made usable for an open: a listed sensor format and a
    // resolution the camera has (else the default one).
    void SettleStreamSettings();
    void ApplyDeviceDefaults();  // gains and frame speed of DeviceMiscInfo after SetDefault
    void ApplyInitOptions(const CameraInitOption& options);
    void StartPipeline();
    // (Re)initialises the three pipeline objects from the parameter record and capability.
    void LoadPipeline();
    // A 32-bit word of the capability's feature block (bytes 64 to 119), by capability offset:
    // 64 the mono-sensor flag, 68 one-push white balance, 72 auto white balance, 76 software
    // auto exposure, 96 the sensor's own exposure control.
    static constexpr size_t kFeatureWordsOffset = 64;
    static constexpr size_t kMonoWord = 64;
    static constexpr size_t kOnceWbWord = 68;
    static constexpr size_t kAutoWbWord = 72;
    static constexpr size_t kSoftwareAeWord = 76;
    static constexpr size_t kAeTargetWord = 96;  // the sensor applies the AE target itself
    int32_t FeatureWord(size_t capabilityOffset) const;

    // ---- Stream (CameraControlStream.cpp) ----
    CameraInitParam BuildInitParam();
    int OpenCameraStream(CameraInitParam* param);
    int CloseCameraStream();
    int ReopenCameraStream(bool refreshFrameTime);
    // ReopenCameraStream at m_curResolution as it stands (the snapshot's own resolution).
    int RestartStream(bool refreshFrameTime);
    void ApplyOutputLines();
    void ApplyTriggerMode();
    // Line indices the trigger and I/O operations take: output lines below the capability's
    // count and kOutputLinesHandled, inputs below its count and kInputLinesHandled.
    static constexpr int kOutputLinesHandled = 4;
    static constexpr int kInputLinesHandled = 2;
    bool IsOutputLine(int output) const;
    bool IsInputLine(int input) const;
    bool HasHardwareTrigger() const;
    void SendWindowsToPipeline();
    // A stored AE or WB window with its snapshot block (resolution and mirror flags when it was
    // set) mapped into the raw frame of the current resolution and brought onto what the
    // statistics of cells read of it, as {left, top, width, height} (all 0 when nothing of it is
    // left); false for a window without area, which is left as stored.
    bool MapStoredWindow(const int32_t window[4], const uint8_t* snapshotBlock,
                         CWindowGeometry::Cells cells, int raw[4]) const;
    void CamThreadProc();
    // Ends the capture thread: sets the exit flag and, unless called on that thread, releases
    // lock (held once) while joining it.
    void StopCaptureThread(ApiLock& lock);

    // ---- Frames (CameraControlFrames.cpp) ----
    // With the API mutex held: whether frame is one of this camera's pool buffers.
    bool IsPoolFrame(CameraFrameHandle frame) const;
    // The per-frame steps, with the API mutex held.
    void ProcessAe(const stImageInfo& info, const BYTE* raw);
    void ProcessAwb(const stImageInfo& info, const BYTE* raw);
    void ProcessAeAwb(const stImageInfo& info, const BYTE* raw);
    int ProcessIsp(const stImageInfo& in, BYTE* raw, stImageInfo* out, BYTE* outBuffer);
    // The wait and processing behind the Ex family: the buffer holding the processed frame
    // (out, or for a null out mpRGBFrame, grown as needed); null for every failure.
    BYTE* GetProcessedFrame(BYTE* out, stImageInfo* info, uint64_t* timestamp, int timeoutMs);
    // Grows an owned buffer to at least bytes; false when the memory is not available.
    static bool GrowBuffer(std::unique_ptr<BYTE[]>& buffer, size_t& capacity, uint64_t bytes);
    void FreeFrameBuffers();
    // The snapshot's wait: 0 with taken; -12 for a time-out or a loss (handled here).
    int WaitSnapFrame(CFrameBufferShared& taken, int timeoutMs);

    // ---- Settings helpers ----
    // The resolution the host's calls refer to: the current one, or during a snapshot at its
    // own resolution the one the host set. With the attachment mutex held.
    const tSdkResolution& HostResolution() const {
        return m_snapSwitched ? m_hostResolution : m_curResolution;
    }
    // A sensor limit of the capability's sensor-parameter words (SensorParam order).
    uint32_t SensorLimit(int word) const { return m_capability.auSensorParam[word]; }
    // All of them, copied under the attachment mutex for code that does not hold it
    // (CameraGetCapability refreshes them with only that mutex).
    using SensorWords = std::array<UINT, sizeof(tSdkCapability::auSensorParam) / sizeof(UINT)>;
    SensorWords SensorWordsCopy();
    // A window {left, top, width, height} of the output image of the host's resolution:
    // stored in window with its snapshot (that resolution and the mirror flags), and its raw
    // position {left, top, width, height} for the statistics of cells in raw. False when the
    // window has no area on the current raw frame (the pipeline then measures the whole frame).
    bool StoreWindow(int left, int top, int width, int height, int32_t window[4],
                     uint8_t* snapshotBlock, CWindowGeometry::Cells cells, int raw[4]);
    // The stored window as CameraGetAeWindow and CameraGetWbWindow report it: what the
    // statistics of cells measure.
    void ReportWindow(const int32_t window[4], const uint8_t* snapshotBlock,
                      CWindowGeometry::Cells cells, int* left, int* top, int* width,
                      int* height) const;
    // The dead-pixel positions into the controller's storage and out pointing at them.
    void PublishDeadPixels(const uint32_t* positions, uint32_t count, tSdkDeadPixelList* out);

    // ---- Records from files (CameraControlRecordLimits.cpp) ----
    // Brings a record read from a parameter file within this camera's capability, property and
    // (once a stream was open) sensor limits, as the setters would: ranges clamped, values the
    // setters refuse replaced by the camera's defaults.
    void ClampFileRecord(CameraParameter& record);
    // After the first stream open of a record from a file: the limits only the sensor knows,
    // sent to the device, and the black level the device took.
    void ClampFileRecordToSensor();
    // The analog gain, AE target and AE limits within the sensor's limits (capability words).
    void ClampToSensorLimits(CameraSettings& settings);
    // The record's black level as the device took it.
    void KeepDeviceBlackLevel();
    // The sensor-limit words the resolution rules read (14): the sensor's, or before the first
    // stream open the window limits and reduction masks of the property record.
    void SensorRuleWords(UINT out[]) const;
    // mediaType when the camera lists it as a sensor format (or lists none), else its first.
    uint32_t SensorOutFormatFor(uint32_t mediaType) const;

    // ---- Parameter loads (CameraControlParameters.cpp) ----
    // The whole record, copied under the attachment mutex.
    CameraParameter RecordCopy();
    // The sensor's limits as the controller holds them now (with the attachment mutex held).
    qv::control::ClampedLimits LimitsNow();
    // With the API mutex held: record (and the custom curves, when given) in force with the
    // stream closed and reopened; the reopen's result. Device records, when given, are stored
    // in the same hold as the record. The record was brought onto limits; a refresh of them
    // since then is followed in that hold, as if it had come after the store.
    int ApplyLoadedRecord(const CameraParameter& record, const uint16_t* const curves[3],
                          const qv::control::ClampedLimits& limits,
                          DeviceRecords* device = nullptr);
    // ApplyLoadedRecord for a record read from a file, clamped first (ClampFileRecord).
    int ApplyFileRecord(CameraParameter& record, const uint16_t* const curves[3]);
    // The custom curves of the pipeline (red, green, blue) into three tables.
    void ReadCustomCurves(std::vector<uint16_t>& tables, uint16_t* curves[3]) const;

    uint32_t UserDataCapacity();  // bytes of the camera's user-data area

    // ---- Display (CameraControlDisplay.cpp) ----
    // With the API mutex held: a fresh display object, initialised; its Init result.
    int RecreateDisplay();
    void ReleaseDisplay();

    // ---- Recording (CameraControlFiles.cpp) ----
    // With m_recordMutex held: finishes and drops an open recording; the writer's Close status
    // (0 without one).
    int FinishRecording();

    // ---- Loss and reconnection (CameraControlLoss.cpp) ----
    // With the API mutex held: stream closed, device detached, registered for reconnection.
    void HandleDeviceLoss();
    // The outcome of a failed frame wait while playing: true when the camera is lost.
    bool IsLossAfterFailedWait(int waitResult);
    void OnConnectionStatus(int status);
    static void ConnectionStatusCallback(void* device, int status, void* context);
    static int DeviceLostTimerProc(TimerEntry* entry, void* user);
    int DeviceLostTask(TimerEntry* entry);

    // ---- The parameter record's integer values ----
    // CameraSetIntValue ids kept in the record: 0 the channel mask, 2 the sensor WDR mode (low
    // byte), 13 an on/off flag, 15 a plain value; 1, 3 and 14 are kept by the controller.
    int32_t& ChannelMask() { return m_param.intValueA; }
    uint8_t WdrMode() const { return static_cast<uint8_t>(m_param.intValueB); }
    int32_t& IntValue15() { return m_param.intValueC; }
    uint8_t& IntValue13Flag() { return m_param.settings.intValueFlag; }

    // ---- Pipeline (by value; each guards its pending values itself) ----
    CameraExposure mExposure;
    CameraWhiteBalance mWb;
    CameraISP mIsp;
    CameraParameterBuilder mParamBuilder;

    CApiMutex m_apiMutex;  // guards every member below not marked otherwise

    std::unique_ptr<std::thread> m_hCamThread;  // the capture thread, null when none
    std::atomic<bool> m_threadExit{true};       // tells the capture thread to end
    std::atomic<std::thread::id> m_camThreadId{};

    std::mutex m_callbackMutex;  // guards the frame callback and its context
    CameraFrameCallback m_frameCallback = nullptr;
    void* m_frameContext = nullptr;
    std::atomic<bool> m_callbackSet{false};

    std::string m_configDir;  // "<HOME>/.QVConfig/"

    // Records read from the device by CameraGetCameraDevParam. The marked ones are also
    // guarded by the attachment mutex (HoldDevice): operations without the API mutex read them,
    // and the friendly name of m_devInfo is written by one.
    tSdkCapability m_capability;  // also the attachment mutex; its lists are owned here
    // Lists a defaults load replaced, which hosts may still hold: released with m_capability's
    // (at the next CameraInit or with the controller). Also the attachment mutex.
    std::vector<tSdkCapability> m_replacedCapabilities;
    tDevInfo m_devInfo;              // also the attachment mutex
    uint8_t m_featureWords[56];      // capability bytes 64 to 119; also the attachment mutex
    CameraProperty m_property;       // also the attachment mutex
    DeviceMiscInfo m_miscInfo;       // also the attachment mutex
    uint32_t m_sensorMediaType = 0;  // what the sensor delivers, read at initialisation

    // Reads of the sensor's limits into m_capability (CameraGetCameraSensorParam), so that a
    // load can tell a refresh that came between its own read and its store; attachment mutex.
    uint64_t m_limitRefreshes = 0;
    // The record's AE ranges the host set that refreshes have cut (qv::control::HeldAeRanges);
    // attachment mutex.
    qv::control::HeldAeRanges m_heldAe;

    // Every persistent setting, also guarded by the attachment mutex: operations without the
    // API mutex read or write most fields (the lines, trigger count and delay, packet delay,
    // parameter mode and group, integer values 2, 13 and 15, cross lines, the image settings
    // with the AE and WB windows, their snapshots and visibility) and the saves copy it whole.
    // Every field is written with it held (and the API mutex too, except by those
    // operations); code holding only the API mutex takes it to read the fields they write.
    CameraParameter m_param;

    // Frame processing: the output of CameraGetImageBufferEx/Ex3 and the resized raw frame,
    // each grown to the largest frame seen and kept until CameraUninit.
    std::unique_ptr<BYTE[]> mpRGBFrame;
    size_t m_rgbFrameSize = 0;
    std::unique_ptr<BYTE[]> m_pResizeBuffer;
    size_t m_resizeBufferSize = 0;
    qv::isp::CRawResizer m_resizer;
    uint8_t m_brightness = 0;  // of the last frame auto exposure measured
    // Notified after the exposure and white-balance steps of every processed frame.
    std::condition_variable_any m_aeAwbDone;

    std::atomic<bool> m_initialized{false};
    std::atomic<bool> m_devParamValid{false};
    std::atomic<bool> m_playing{false};

    tSdkResolution m_curResolution;  // also the attachment mutex (the overlay reads it)
    // While a snapshot runs at its own resolution (m_curResolution), the host's resolution,
    // which the host's calls still refer to. Under the attachment mutex.
    bool m_snapSwitched = false;
    tSdkResolution m_hostResolution{};
    tSdkResolution m_defaultResolution;

    // Software-trigger emulation for devices without a software trigger of their own.
    bool m_softTriggerEmulation = false;
    int m_pendingTriggers = 0;
    uint64_t m_lastFrameMs = 0;  // last delivered frame, capture start or stream reopen
    CControlClock* m_clock;

    std::shared_ptr<CFrameBucket> m_frameBucket;  // dropped under the attachment mutex too
    CFrameBucketClient* m_bucketClient = nullptr;

    int32_t m_intValue1 = 0;   // also the attachment mutex
    int32_t m_intValue3 = 0;   // also the attachment mutex
    int32_t m_intValue14 = 0;  // read back at every stream close, re-sent at the next open

    // GigE resend: enable, then the transport's three values.
    bool m_resendEnable = true;
    int32_t m_resend[3] = {10, 30, 3};

    // Dead-pixel positions handed out by the dead-pixel calls: grown to the largest list seen,
    // freed by CameraUninit. Guarded by the attachment mutex only.
    std::vector<uint32_t> m_deadPixels;
    std::atomic<bool> m_displayInitialized{false};  // a display window has been given

    // Display: the settings calls run without the API mutex, so the display object and its
    // state have a mutex of their own (recursive: the display callback may set them).
    std::recursive_mutex m_displayMutex;  // guards the members up to the settings pages
    std::unique_ptr<Display> m_pDisplay;  // null until CameraDisplayInit
    uintptr_t m_displayWindow = 0;
    bool m_displayMode = false;  // true after display mode 0, false after mode 1
    std::unique_ptr<BYTE[]> m_pDisplayBuffer;
    size_t m_displayBufferSize = 0;
    CameraDisplayCallback m_displayCallback = nullptr;
    void* m_displayContext = nullptr;
    // Settings pages (stored only; the attachment mutex).
    uintptr_t m_settingPage = 0;
    int m_activePageIndex = 0;
    // Pairs with m_aeAwbDone for CameraSetOnceWB's wait; the per-frame notification takes it
    // too, so a frame processed between the request and the wait is not missed.
    std::mutex m_onceWbMutex;

    // Recording: its own mutex, not the API mutex, so that pushing frames never waits for frame
    // processing; taken inside the API mutex by CameraUninit.
    std::mutex m_recordMutex;               // guards the members up to the next blank line
    std::unique_ptr<AviWriter> m_pAviFile;  // null when not recording
    int m_aviFormat = 0;                    // kept, not used: frames are stored uncompressed
    int m_aviQuality = 0;                   // kept, not used
    int m_aviFrameRate = 0;
    std::unique_ptr<BYTE[]> m_pAviFrameBuffer;  // one converted frame, reused
    size_t m_aviFrameBufferSize = 0;

    CameraConnectionStatusCallback m_statusCallback = nullptr;
    void* m_statusContext = nullptr;
    bool m_disconnected = false;
    TimerEntry* m_deviceLostTimer = nullptr;
    bool m_lossDetached = false;  // the timer task has closed and detached, registration pending

    // Initialisation options kept for every stream open (0 = the transport's default).
    int m_optFrameCount = 0;
    int m_optHeartbeat = 0;
};
