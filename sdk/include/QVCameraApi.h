/*
 * QVCameraApi.h - exported functions of the QV camera SDK (libQVCameraSDK.so).
 *
 * Every function returns a status code of QVDeviceDef.h (0 on success) unless it is declared
 * to return a pointer. Handle-taking functions answer a null handle with
 * CAMERA_STATUS_PARAMETER_INVALID (or a null pointer) and touch nothing else.
 * All exports are bound to the symbol version node "libQVCameraSDK".
 *
 * Calls on one camera that take turns, each waiting while another runs (so also while
 * CameraSnapToBuffer waits for its frame and while CameraSaveImage writes): CameraInit,
 * CameraUnInit, CameraPlay, CameraPause, CameraSetCallbackFunction and
 * CameraSetConnectionStatusCallback; the frame calls
 * (CameraGetRawImageBuffer, apart from its own wait for a frame, CameraReleaseFrameHandle,
 * CameraGetImageInfo, CameraGetImageTimestamp, CameraGetImageFrameNo, CameraResetTimestamp,
 * CameraSoftTrigger, CameraRequestTransferImage, CameraGetOutImageBuffer, the
 * CameraGetImageBufferEx family, CameraSnapToBuffer, CameraSaveImage); the calls that restart
 * the stream (frame speed, resolution, sensor output format, trigger mode, transfer mode, GigE
 * packet size and resend, CameraSetIntValue of id 0, CameraLoadParameter,
 * CameraReadParameterFromFile); CameraGetImageTransferMode, CameraGigeGetTransPacketSize,
 * CameraGigeGetOptimalPacketSize, CameraGetIntValue of id 0, CameraSetResolutionForSnap,
 * CameraGetResolutionForSnap, CameraDisplayInit, CameraDisplay and CameraSetCrossLine. Every
 * other call (among them the image settings, the AE and WB windows, the other getters, the
 * trigger count and delay, strobe and I/O-line settings, the parameter saves, the device
 * information and storage) answers without waiting for these.
 */
#ifndef QV_CAMERA_API_H
#define QV_CAMERA_API_H

#include "QVDeviceDef.h"

#if defined(__GNUC__)
#define QVSDK_API __attribute__((visibility("default")))
#else
#define QVSDK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Enumeration ----------------------------------------------------------------------- */

/* Rescans the USB and GigE cameras and stores how many were found; the enumeration indices
 * 0 .. count - 1 are valid until the next enumeration (from any thread). Sorted by friendly
 * name, then serial number. CAMERA_STATUS_NO_DEVICE_FOUND with count 0 when there is none;
 * CAMERA_STATUS_PARAMETER_INVALID for a null count. The first call may wait up to 1.5 s for the
 * GigE discovery's first scan. */
QVSDK_API int CameraEnumerateDevice(int* pCount);
/* As CameraEnumerateDevice for the transports in flags: bit 1 USB, bit 0 GigE. */
QVSDK_API int CameraEnumerateDeviceEx(int* pCount, int flags);
/* Rescans only the USB cameras whose device files the host program has opened itself: n open
 * descriptors (fds), each with (vendor << 16) | product (vidPid) and the device path it was opened
 * at (paths, e.g. "/dev/bus/usb/001/005"). The library keeps its own duplicates of the
 * descriptors; the host's stay the host's. Entries whose path or descriptor cannot be used are
 * skipped. Stores the number found, as CameraEnumerateDevice, but unsorted;
 * CAMERA_STATUS_NO_DEVICE_FOUND when none; CAMERA_STATUS_PARAMETER_INVALID for a null count, a
 * negative n, or missing arrays. */
QVSDK_API int CameraEnumerateDeviceFromOpenedDevList(int* pCount, int n, int* fds, unsigned* vidPid,
                                                     char** paths);
/* Device information of an enumerated camera, with uInUse 1 while another host holds it.
 * CAMERA_STATUS_PARAMETER_INVALID (record untouched) for a null record or a bad index. */
QVSDK_API int CameraGetEnumIndexInfo(int index, tDevInfo* pInfo);

/* ---- Initialisation and release ------------------------------------------------------------
 *
 * The init functions open one enumerated camera and write its handle. 0 on success.
 * CAMERA_STATUS_EEPROM_NOT_WRITTEN (-51) and CAMERA_STATUS_PROPERTY_NOT_WRITTEN (-58) also
 * write a handle: the camera lacks its device parameters, most functions answer
 * CAMERA_STATUS_FAILED on it, and it stays allocated until CameraUnInit. Other results write
 * nothing: CAMERA_STATUS_PARAMETER_INVALID for a null handle pointer, a bad index or an unknown
 * name or serial number; CAMERA_STATUS_DEVICE_IS_OPENED for a camera held by another host or
 * already opened by this process; CAMERA_STATUS_DEVICE_OPEN_FAILED, CAMERA_STATUS_FAILED (device
 * parameters unreadable) and CAMERA_STATUS_STREAM_OPEN_FAILED when the camera cannot be opened.
 * The camera starts paused, with the settings of the parameter group saved last. */
QVSDK_API int CameraInit(HANDLE* pHandle, int index);
/* As CameraInit with the parameter mode (file key: 0 product name, 1 friendly name, 2 serial
 * number) and group (0 to 3; 255 the camera's defaults) to load. */
QVSDK_API int CameraInitEx(HANDLE* pHandle, int index, int paramMode, int paramGroup);
/* As CameraInit for the enumerated camera with this friendly name. */
QVSDK_API int CameraInitEx2(HANDLE* pHandle, const char* name);
/* As CameraInit for the enumerated camera with this serial number. */
QVSDK_API int CameraInitEx3(HANDLE* pHandle, const char* sn);
/* Stops capture, closes the camera and frees the handle. CAMERA_STATUS_PARAMETER_INVALID for a
 * handle that is not open; CAMERA_STATUS_BUSY when called from the handle's own frame callback. */
QVSDK_API int CameraUnInit(HANDLE hCamera);

/* ---- Capability and device information ----------------------------------------------------- */

/* The camera's capability (480 bytes) with its sensor part refreshed; its lists stay valid until
 * CameraUnInit. CAMERA_STATUS_NOT_INITIALIZED; CAMERA_STATUS_FAILED without device parameters;
 * CAMERA_STATUS_PARAMETER_INVALID for a null record. */
QVSDK_API int CameraGetCapability(HANDLE hCamera, tSdkCapability* pCapability);
/* The device information (uInUse 1) and the current settings block as the getters report them
 * (AE exposure and gain ranges, AE and WB windows, the 16-bit gains). A null record: 0 without
 * effect. */
QVSDK_API int CameraGetCurDevInfo(HANDLE hCamera, CameraCurDevInfo* pInfo);
/* The device ID word of the camera. */
QVSDK_API int CameraGetDeviceType(HANDLE hCamera, int* pType);
/* The firmware version text ("v1.2.3.4"), terminated, into a buffer of at least 32 bytes. */
QVSDK_API int CameraGetFirmwareVision(HANDLE hCamera, char* pVersion);
/* The interface version text "V%d.%d.%d.%d", into a buffer of at least 32 bytes. */
QVSDK_API int CameraGetInerfaceVersion(HANDLE hCamera, char* pVersion);
/* Integer values by id: 0 the sensor channel mask (not 0; the stream restarts), 1 and 3 values
 * re-sent at every stream start, 2 the sensor's wide-dynamic-range mode, 13 an on/off value, 15
 * a value kept with the settings (both re-sent at every stream start); other ids go to the
 * camera as they are. The camera's answer; CameraGetIntValue of id 15 stores the kept value when
 * the camera cannot answer (its error still returned). */
QVSDK_API int CameraSetIntValue(HANDLE hCamera, int id, int value);
QVSDK_API int CameraGetIntValue(HANDLE hCamera, int id, int* pValue);

/* ---- Image acquisition ---------------------------------------------------------------------- */

/* Starts image output. With a frame callback set, the library's capture thread calls it for
 * every raw frame from now until CameraPause or CameraUnInit. CAMERA_STATUS_NOT_INITIALIZED,
 * CAMERA_STATUS_FAILED without device parameters. */
QVSDK_API int CameraPlay(HANDLE hCamera);
/* Stops image output and ends the capture thread (waiting for a callback in progress unless
 * called from it). */
QVSDK_API int CameraPause(HANDLE hCamera);
/* Sets the raw-frame callback (null: none) for the next CameraPlay and returns the previous one
 * through pPrevious when it is not null. CAMERA_STATUS_BUSY while playing. */
QVSDK_API int CameraSetCallbackFunction(HANDLE hCamera, CameraFrameCallback pCallback,
                                        void* pContext, CameraFrameCallback* pPrevious);
/* Waits up to timeoutMs for a raw frame this handle has not taken yet. On 0, *pFrame holds it
 * until CameraReleaseFrameHandle. CAMERA_STATUS_TIMEOUT when none came (also when the camera
 * has just been found lost); CAMERA_STATUS_DEVICE_LOST while the camera is lost and the library
 * waits for it to come back (each call then takes 10 ms); CAMERA_STATUS_NOT_TRIGGERED for a
 * frame discarded in software-trigger mode; CAMERA_STATUS_PARAMETER_INVALID for a null pFrame. */
QVSDK_API int CameraGetRawImageBuffer(HANDLE hCamera, CameraFrameHandle* pFrame, int timeoutMs);
/* Gives a frame of CameraGetRawImageBuffer back. CAMERA_STATUS_PARAMETER_INVALID for a null
 * frame, one that is not this camera's, or one that nobody holds (given back already). */
QVSDK_API int CameraReleaseFrameHandle(HANDLE hCamera, CameraFrameHandle frame);
/* Image transfer mode of the transport; a change restarts the stream (its result). */
QVSDK_API int CameraSetImageTransferMode(HANDLE hCamera, int mode);
/* The transfer mode set last (0 after the camera opened). */
QVSDK_API int CameraGetImageTransferMode(HANDLE hCamera, int* pMode);
/* Asks the camera to transfer an image (transports that support it); CAMERA_STATUS_FAILED
 * unless playing. */
QVSDK_API int CameraRequestTransferImage(HANDLE hCamera);

/* ---- Frames ----------------------------------------------------------------------------------- */

/* The image data and descriptor of a frame of CameraGetRawImageBuffer or CameraSnapToBuffer.
 * When the current resolution has a resize size (both non-zero), the data is a resized copy
 * (8-bit raw frames only) that stays valid until the next call on the camera, and the
 * descriptor tells its size. Null for a null descriptor, a frame that is not this camera's, or
 * a frame the resize cannot take. */
QVSDK_API BYTE* CameraGetImageInfo(HANDLE hCamera, CameraFrameHandle frame, stImageInfo* pInfo);
/* The frame's timestamp and frame number as the camera sent them.
 * CAMERA_STATUS_PARAMETER_INVALID for a null pointer or a frame that is not this camera's. */
QVSDK_API int CameraGetImageTimestamp(HANDLE hCamera, CameraFrameHandle frame,
                                      uint64_t* pTimestamp);
QVSDK_API int CameraGetImageFrameNo(HANDLE hCamera, CameraFrameHandle frame, uint64_t* pFrameNo);
/* Restarts the camera's timestamp counter; the camera's answer. */
QVSDK_API int CameraResetTimestamp(HANDLE hCamera);
/* Processes a raw frame the host holds (data and descriptor of CameraGetImageInfo) into pOut,
 * which must hold width x height x bytes per pixel of the output format, with auto exposure and
 * white balance. On 0 *pInfo describes the output. CAMERA_STATUS_PARAMETER_INVALID for a null
 * pointer; otherwise the pipeline's status (CAMERA_STATUS_NOT_SUPPORTED for a frame format it
 * cannot process), with neither *pInfo nor pOut written. Dead-pixel correction works on pRaw in
 * place. */
QVSDK_API int CameraGetOutImageBuffer(HANDLE hCamera, stImageInfo* pInfo, BYTE* pRaw, BYTE* pOut);
/* Waits up to timeoutMs for a frame, processes it and returns the library's output buffer
 * (valid until the next call on the camera; grown as frames need, never freed by the host), with
 * the output's descriptor in *pInfo when pInfo is not null. Null when it fails: in callback mode,
 * on a time-out or loss, or for a frame the pipeline cannot process. */
QVSDK_API BYTE* CameraGetImageBufferEx(HANDLE hCamera, stImageInfo* pInfo, int timeoutMs);
/* As CameraGetImageBufferEx, with the frame's timestamp in *pTimestamp when it is not null. */
QVSDK_API BYTE* CameraGetImageBufferEx3(HANDLE hCamera, stImageInfo* pInfo, uint64_t* pTimestamp,
                                        int timeoutMs);
/* As CameraGetImageBufferEx into the caller's pOut (width x height x bytes per pixel of the
 * output format): 0; CAMERA_STATUS_PARAMETER_INVALID for a null pOut; CAMERA_STATUS_FAILED for
 * every other failure, with pOut and the outputs left alone. pInfo and pTimestamp may be null. */
QVSDK_API int CameraGetImageBufferEx1(HANDLE hCamera, BYTE* pOut, stImageInfo* pInfo,
                                      int timeoutMs);
QVSDK_API int CameraGetImageBufferEx2(HANDLE hCamera, BYTE* pOut, stImageInfo* pInfo,
                                      uint64_t* pTimestamp, int timeoutMs);
/* Takes one raw frame at the snapshot resolution: the stream switches to it for the shot (and a
 * paused camera starts) and back afterwards; in software-trigger mode the shot triggers itself.
 * On 0, *pFrame holds the frame until CameraReleaseFrameHandle, and *pInfo and *ppData (when not
 * null) its descriptor, with the exposure and gain as set, and its data. CAMERA_STATUS_TIMEOUT
 * when no frame came or the camera was lost; CAMERA_STATUS_FAILED when capture or the switch
 * failed or without device parameters; CAMERA_STATUS_NOT_INITIALIZED;
 * CAMERA_STATUS_PARAMETER_INVALID for a null pFrame. The calls that take turns (top of this
 * file) wait for it; the others answer meanwhile. The image settings and the AE and WB windows
 * refer to the host's resolution, which CameraGetCurResolution goes on answering;
 * CameraGetOutImageSize tells what the sensor puts out now, the snapshot's size. */
QVSDK_API int CameraSnapToBuffer(HANDLE hCamera, CameraFrameHandle* pFrame, stImageInfo* pInfo,
                                 BYTE** ppData, UINT timeoutMs);
/* The snapshot resolution. The record is adjusted in place: window sizes even, image width a
 * multiple of 4, image height even, no resize; a preset index whose preset has that size selects
 * the preset, else the index becomes 255. Image width or height 0 selects the current resolution
 * and writes its index back. CAMERA_STATUS_PARAMETER_INVALID for a null record, a reduction mode
 * the sensor lacks, a window that is not the image times the reduction, or a size outside the
 * sensor. */
QVSDK_API int CameraSetResolutionForSnap(HANDLE hCamera, tSdkResolution* pRes);
/* The snapshot resolution, or the current resolution when none is set. */
QVSDK_API int CameraGetResolutionForSnap(HANDLE hCamera, tSdkResolution* pRes);

/* Frame counts of the camera's frame pool since it was opened: total, good and lost.
 * CAMERA_STATUS_PARAMETER_INVALID for a null record. */
QVSDK_API int CameraGetFrameStatistic(HANDLE hCamera, tSdkFrameStatistic* pStatistic);

/* ---- Exposure ----------------------------------------------------------------------------------
 *
 * Auto exposure runs on the frames the library processes (CameraGetImageBufferEx and its
 * variants, CameraGetOutImageBuffer): it measures their brightness, compares it with the target
 * (0 to 255) and programs the exposure time and the analog gain. Its settings take effect at the
 * next processed frame. Setters marked "-5, -1" answer CAMERA_STATUS_NOT_INITIALIZED and, on a
 * camera without device parameters, CAMERA_STATUS_FAILED. Getters write through pointers that
 * are not null; those that report a flag answer CAMERA_STATUS_PARAMETER_INVALID for null. */

/* Auto exposure on (non-zero) or off. */
QVSDK_API int CameraSetAeState(HANDLE hCamera, int on);
QVSDK_API int CameraGetAeState(HANDLE hCamera, int* pOn);
/* Target brightness, brought into the sensor's target range. -5, -1. */
QVSDK_API int CameraSetAeTarget(HANDLE hCamera, USHORT target);
QVSDK_API int CameraGetAeTarget(HANDLE hCamera, USHORT* pTarget);
/* Analog gain in thousandths (1000 = unity), brought into the sensor's range and programmed at
 * once. -5, -1; CAMERA_STATUS_PARAMETER_INVALID with nothing programmed while auto exposure is
 * on. */
QVSDK_API int CameraSetAnalogGain(HANDLE hCamera, int gain);
/* The camera's gain (the one set last when the camera cannot tell). CAMERA_STATUS_PARAMETER_INVALID
 * for null. */
QVSDK_API int CameraGetAnalogGain(HANDLE hCamera, int* pGain);
/* Exposure time in microseconds, programmed at once (the sensor takes whole lines). -5, -1;
 * CAMERA_STATUS_PARAMETER_INVALID with nothing programmed while auto exposure is on. */
QVSDK_API int CameraSetExposureTime(HANDLE hCamera, double us);
QVSDK_API int CameraGetExposureTime(HANDLE hCamera, double* pUs);
/* Microseconds per sensor line; the camera's answer (CAMERA_STATUS_FAILED for null). */
QVSDK_API int CameraGetExposureLineTime(HANDLE hCamera, double* pUs);
/* The sensor's frame time in microseconds (0 when the camera cannot tell). */
QVSDK_API int CameraGetFrameTime(HANDLE hCamera, double* pUs);
/* The region auto exposure measures, on the output image: width rounded down to even, width or
 * height 0 measures the whole frame. It stays on the same part of the sensor when the resolution
 * changes. CAMERA_STATUS_PARAMETER_INVALID for a negative size. */
QVSDK_API int CameraSetAeWindow(HANDLE hCamera, int left, int top, int width, int height);
/* The part of the image auto exposure measures: the region as it lies on the current output
 * image, clipped to it, at least two pixels wide and high (a narrower remnant at an edge grows
 * inwards) and of even width on the sensor's frame; the whole image when nothing of the region
 * lies on it (auto exposure then measures the whole frame). */
QVSDK_API int CameraGetAeWindow(HANDLE hCamera, int* pLeft, int* pTop, int* pWidth, int* pHeight);
/* Whether the region is drawn into displayed frames; CAMERA_STATUS_PARAMETER_INVALID before the
 * display is set up. */
QVSDK_API int CameraSetAeWinVisible(HANDLE hCamera, int visible);
QVSDK_API int CameraGetAeWinVisible(HANDLE hCamera, int* pVisible);
/* Anti-flicker (non-zero on): exposures longer than one period of the lamps' flicker are whole
 * periods. */
QVSDK_API int CameraSetAntiFlick(HANDLE hCamera, int on);
QVSDK_API int CameraGetAntiFlick(HANDLE hCamera, int* pOn);
/* Mains frequency of the lamps for anti-flicker: 1 50 Hz, 2 60 Hz. */
QVSDK_API int CameraSetLightFrequency(HANDLE hCamera, int frequency);
QVSDK_API int CameraGetLightFrequency(HANDLE hCamera, int* pFrequency);
/* 1: auto exposure may use the whole frame time; otherwise the exposure range. -5, -1;
 * CAMERA_STATUS_PARAMETER_INVALID while auto exposure is off. */
QVSDK_API int CameraSetAeExposureMode(HANDLE hCamera, int mode);
QVSDK_API int CameraGetAeExposureMode(HANDLE hCamera, int* pMode);
/* Exposure range of auto exposure in microseconds: a maximum beyond the sensor's becomes the
 * sensor's, otherwise a minimum below the sensor's is raised to it. -5, -1;
 * CAMERA_STATUS_PARAMETER_INVALID while auto exposure is off, for min > max and for a range
 * outside the sensor's. */
QVSDK_API int CameraSetAeExposureRange(HANDLE hCamera, double minUs, double maxUs);
QVSDK_API int CameraGetAeExposureRange(HANDLE hCamera, double* pMinUs, double* pMaxUs);
/* Gain range of auto exposure: both ends brought onto the sensor's gain range (as ints), then
 * compared. -5, -1; CAMERA_STATUS_PARAMETER_INVALID, with nothing stored, when that leaves no
 * range (max < min, both above the sensor's maximum or below its minimum) and while auto
 * exposure is off. */
QVSDK_API int CameraSetAeAnalogGainRange(HANDLE hCamera, int minGain, int maxGain);
QVSDK_API int CameraGetAeAnalogGainRange(HANDLE hCamera, int* pMin, int* pMax);

/* ---- White balance ------------------------------------------------------------------------- */

/* Auto white balance on (non-zero) or off. */
QVSDK_API int CameraSetWbMode(HANDLE hCamera, int automatic);
QVSDK_API int CameraGetWbMode(HANDLE hCamera, int* pAutomatic);
/* Red, green and blue gains in hundredths (100 = unity), each brought into the camera's range.
 * CAMERA_STATUS_PARAMETER_INVALID while auto white balance is on. */
QVSDK_API int CameraSetGain(HANDLE hCamera, USHORT red, USHORT green, USHORT blue);
QVSDK_API int CameraGetGain(HANDLE hCamera, USHORT* pRed, USHORT* pGreen, USHORT* pBlue);
/* One white balance on the next processed frame; in continuous mode waits up to 1 s for it.
 * CAMERA_STATUS_NOT_SUPPORTED when the camera offers none; CAMERA_STATUS_PARAMETER_INVALID while
 * auto white balance is on. */
QVSDK_API int CameraSetOnceWB(HANDLE hCamera);
/* The region white balance measures; the rules of the AE window, except that white balance
 * measures whole 2 x 2 cells of the sensor's frame, from an even column and row, which
 * CameraGetWbWindow reports. */
QVSDK_API int CameraSetWbWindow(HANDLE hCamera, int left, int top, int width, int height);
QVSDK_API int CameraGetWbWindow(HANDLE hCamera, int* pLeft, int* pTop, int* pWidth, int* pHeight);
QVSDK_API int CameraSetWbWinVisible(HANDLE hCamera, int visible);
QVSDK_API int CameraGetWbWinVisible(HANDLE hCamera, int* pVisible);

/* ---- Lookup tables, gamma, contrast, sharpness and saturation ---------------------------------
 *
 * The lookup table comes from gamma and contrast (mode 0), a preset (mode 1) or the host's
 * curves (mode 2); the setters of one mode answer CAMERA_STATUS_PARAMETER_INVALID in the
 * others. Curves have 4096 entries; a null curve gives CAMERA_STATUS_FAILED. */

QVSDK_API int CameraSetLutMode(HANDLE hCamera, int mode);
QVSDK_API int CameraGetLutMode(HANDLE hCamera, int* pMode);
/* Brought into the camera's gamma / LUT contrast range. */
QVSDK_API int CameraSetGamma(HANDLE hCamera, int gamma);
QVSDK_API int CameraGetGamma(HANDLE hCamera, int* pGamma);
QVSDK_API int CameraSetContrastLut(HANDLE hCamera, int contrast);
QVSDK_API int CameraGetContrastLut(HANDLE hCamera, int* pContrast);
QVSDK_API int CameraSelectLutPreset(HANDLE hCamera, int preset);
QVSDK_API int CameraGetLutPresetSel(HANDLE hCamera, int* pPreset);
/* Channel 0 all three, 1 red, 2 green, 3 blue. */
QVSDK_API int CameraSetCustomLut(HANDLE hCamera, int channel, USHORT* pLut);
QVSDK_API int CameraGetCustomLut(HANDLE hCamera, int channel, USHORT* pLut);
QVSDK_API int CameraGetCurrentLut(HANDLE hCamera, int channel, USHORT* pLut);
/* Brought into the camera's ranges, a negative value counting as the largest. CAMERA_STATUS_FAILED
 * on a camera without device parameters. */
QVSDK_API int CameraSetSharpness(HANDLE hCamera, int sharpness);
QVSDK_API int CameraGetSharpness(HANDLE hCamera, int* pSharpness);
QVSDK_API int CameraSetSaturation(HANDLE hCamera, int saturation);
QVSDK_API int CameraGetSaturation(HANDLE hCamera, int* pSaturation);
/* 50 leaves the image unchanged. */
QVSDK_API int CameraSetContrast(HANDLE hCamera, int contrast);
QVSDK_API int CameraGetContrast(HANDLE hCamera, int* pContrast);

/* ---- Frame speed and resolution ------------------------------------------------------------
 *
 * Each change restarts the stream with every other setting. -5, -1 as above. */

/* A frame speed the camera offers; else CAMERA_STATUS_PARAMETER_INVALID. */
QVSDK_API int CameraSetFrameSpeed(HANDLE hCamera, int speed);
QVSDK_API int CameraGetFrameSpeed(HANDLE hCamera, int* pSpeed);
/* A preset the camera offers (0 to 63), or 255 for the custom region set last; else
 * CAMERA_STATUS_PARAMETER_INVALID. */
QVSDK_API int CameraSetResolution(HANDLE hCamera, int index);
QVSDK_API int CameraGetResolution(HANDLE hCamera, int* pIndex);
/* A region of the host's. The record is adjusted in place: offsets as seen on a mirrored image
 * become sensor offsets, window sizes even, image width a multiple of 4, image height even, a
 * resize size with a zero side none; a preset index whose preset has that size selects the
 * preset, else the index becomes 255. A region that only moves is moved without restarting the
 * stream. CAMERA_STATUS_PARAMETER_INVALID for a null record, a reduction mode the sensor lacks, a
 * negative offset, a window that is not the image times the reduction, or a size outside the
 * sensor. */
QVSDK_API int CameraSetResolutionEx(HANDLE hCamera, tSdkResolution* pRes);
/* The preset of an index (255: the custom region). */
QVSDK_API int CameraGetResolutionEx(HANDLE hCamera, int index, tSdkResolution* pRes);
QVSDK_API int CameraGetCurResolution(HANDLE hCamera, tSdkResolution* pRes);
/* Width and height of the sensor's current output (during CameraSnapToBuffer at its own
 * resolution, the snapshot's). */
QVSDK_API int CameraGetOutImageSize(HANDLE hCamera, int* pWidth, int* pHeight);
/* There is no resolution dialog: CAMERA_STATUS_FAILED (CAMERA_STATUS_PARAMETER_INVALID for a null
 * record). */
QVSDK_API int CameraCustomizeResolution(HANDLE hCamera, tSdkResolution* pRes);

/* ---- ISP output format, Bayer algorithm, mirror, monochrome, black level, dead pixels ------ */

/* Output format of processed frames (CAMERA_MEDIA_TYPE_MONO is kept as
 * CAMERA_MEDIA_TYPE_MONO8). -5, -1. */
QVSDK_API int CameraSetIspOutFormat(HANDLE hCamera, unsigned mediaType);
QVSDK_API int CameraGetIspOutFormat(HANDLE hCamera, unsigned* pMediaType);
/* Raw format asked of the sensor; CAMERA_STATUS_NOT_SUPPORTED for one the camera does not list.
 * The getter answers CAMERA_STATUS_PARAMETER_INVALID for null. */
QVSDK_API int CameraSetSensorOutPixelFormat(HANDLE hCamera, unsigned mediaType);
QVSDK_API int CameraGetSensorOutPixelFormat(HANDLE hCamera, unsigned* pMediaType);
QVSDK_API int CameraSetBayerAlgMode(HANDLE hCamera, int mode);
QVSDK_API int CameraSetBayerAlgThreshold(HANDLE hCamera, int threshold);
QVSDK_API int CameraGetBayerAlgMode(HANDLE hCamera, int* pMode);
/* direction 0 horizontal, 1 vertical (else CAMERA_STATUS_PARAMETER_INVALID). -5, -1. */
QVSDK_API int CameraSetMirror(HANDLE hCamera, int direction, int on);
QVSDK_API int CameraGetMirror(HANDLE hCamera, int direction, int* pOn);
/* Grey output from a colour camera. -5, -1. */
QVSDK_API int CameraSetMonochrome(HANDLE hCamera, int on);
QVSDK_API int CameraGetMonochrome(HANDLE hCamera, int* pOn);
/* Programmed at once; the level the camera took is kept. */
QVSDK_API int CameraSetBlackLevel(HANDLE hCamera, int level);
QVSDK_API int CameraGetBlackLevel(HANDLE hCamera, int* pLevel);
/* Correction of the camera's dead pixels in processed frames. */
QVSDK_API int CameraSetCorrectDeadPixel(HANDLE hCamera, int on);
QVSDK_API int CameraGetCorrectDeadPixel(HANDLE hCamera, int* pOn);

/* ---- Lens shading ----------------------------------------------------------------------------
 *
 * Calibration measures the fall-off of a lens from a monochrome image of a flat, evenly lit
 * field (8-bit: CAMERA_MEDIA_TYPE_MONO, CAMERA_MEDIA_TYPE_MONO8; 16-bit words: Mono12, Mono14,
 * Mono16) and writes one gain per node of an m x n grid into the caller's table; correction
 * multiplies every sample of an image by the gain interpolated between the nodes around it.
 * Both work at once on the caller's buffers. CAMERA_STATUS_PARAMETER_INVALID for a null record
 * or a request that does not fit its buffers (nothing is written then),
 * CAMERA_STATUS_NOT_SUPPORTED for another media type. */
QVSDK_API int CameraLscCalib(HANDLE hCamera, tSdkLscCalibParam* pParam);
QVSDK_API int CameraLscCorrect(HANDLE hCamera, tSdkLscCorrectParam* pParam);

/* ---- Trigger, strobe and I/O lines ------------------------------------------------------------
 *
 * Output lines are numbered from 0 below the camera's output count (tSdkCapability) and at most
 * 3; inputs from 0 below its input count and at most 1. The strobe and trigger-input functions
 * answer CAMERA_STATUS_PARAMETER_INVALID for a line the camera lacks, the I/O-mode, state and
 * PWM functions CAMERA_STATUS_NOT_SUPPORTED. Every value is kept with the camera's settings and
 * reaches the camera at once when the line is in the matching mode (a strobe setting on a strobe
 * output, a level on a general-purpose output, PWM values on a PWM output), otherwise when the
 * line is switched to that mode; the camera's refusal of a value is returned and the value is
 * not kept. Getters answer CAMERA_STATUS_PARAMETER_INVALID for null pointers. */

/* TRIGGER_MODE_CONTINUOUS, _SOFTWARE or _HARDWARE; a new mode restarts the stream (its result).
 * CAMERA_STATUS_PARAMETER_INVALID for another mode or one the camera does not offer. */
QVSDK_API int CameraSetTriggerMode(HANDLE hCamera, int mode);
QVSDK_API int CameraGetTriggerMode(HANDLE hCamera, int* pMode);
/* One trigger in software-trigger mode (CAMERA_STATUS_FAILED in the other modes): the camera
 * takes the trigger frame count of frames. */
QVSDK_API int CameraSoftTrigger(HANDLE hCamera);
/* Frames per trigger; the camera takes the count as unsigned 32-bit (0 gives one frame, a
 * negative count its two's-complement value, which many cameras cut to their register's
 * width). The camera's answer. */
QVSDK_API int CameraSetTriggerFrameCount(HANDLE hCamera, int count);
QVSDK_API int CameraGetTriggerFrameCount(HANDLE hCamera, int* pCount);
/* Delay from the trigger to the exposure, in the camera's units; the camera's answer. */
QVSDK_API int CameraSetTriggerDelayTime(HANDLE hCamera, UINT delay);
QVSDK_API int CameraGetTriggerDelayTime(HANDLE hCamera, UINT* pDelay);
/* Debounce time and signal kind of a trigger input; CAMERA_STATUS_NOT_SUPPORTED on a camera
 * without hardware trigger. The signal kind reaches the camera in hardware-trigger mode. The
 * signal type getter writes *pType only when it answers 0. */
QVSDK_API int CameraSetTriggerJitterTime(HANDLE hCamera, int input, UINT time);
QVSDK_API int CameraGetTriggerJitterTime(HANDLE hCamera, int input, UINT* pTime);
QVSDK_API int CameraSetTriggerSignalType(HANDLE hCamera, int input, int type);
QVSDK_API int CameraGetTriggerSignalType(HANDLE hCamera, int input, int* pType);
/* Strobe settings of an output line. CameraGetStrobeMode writes *pMode only when it answers 0. */
QVSDK_API int CameraSetStrobeMode(HANDLE hCamera, int output, int mode);
QVSDK_API int CameraGetStrobeMode(HANDLE hCamera, int output, int* pMode);
QVSDK_API int CameraSetStrobeDelayTime(HANDLE hCamera, int output, UINT delay);
QVSDK_API int CameraGetStrobeDelayTime(HANDLE hCamera, int output, UINT* pDelay);
QVSDK_API int CameraSetStrobePulseWidth(HANDLE hCamera, int output, UINT width);
QVSDK_API int CameraGetStrobePulseWidth(HANDLE hCamera, int output, UINT* pWidth);
QVSDK_API int CameraSetStrobePolarity(HANDLE hCamera, int output, int polarity);
QVSDK_API int CameraGetStrobePolarity(HANDLE hCamera, int output, int* pPolarity);
/* emSdkOutputIOMode of an output line (CAMERA_STATUS_PARAMETER_INVALID for another mode): the
 * line's kept values of the new mode go to the camera, then the mode; the same mode again sends
 * nothing. 0, or the camera's failures combined. */
QVSDK_API int CameraSetOutputIOMode(HANDLE hCamera, int output, int mode);
QVSDK_API int CameraGetOutputIOMode(HANDLE hCamera, int output, int* pMode);
/* Mode of an input line: 0 makes it a trigger input. */
QVSDK_API int CameraSetInputIOMode(HANDLE hCamera, int input, int mode);
QVSDK_API int CameraGetInputIOMode(HANDLE hCamera, int input, int* pMode);
/* Level of a general-purpose output (non-zero drives it). */
QVSDK_API int CameraSetOutputIOState(HANDLE hCamera, int output, int state);
QVSDK_API int CameraGetOutputIOState(HANDLE hCamera, int output, int* pState);
/* Period and duty of a PWM output; CAMERA_STATUS_PARAMETER_INVALID (nothing kept) when the duty
 * exceeds the period. */
QVSDK_API int CameraSetOutputIOPWM(HANDLE hCamera, int output, UINT period, UINT duty);
QVSDK_API int CameraGetOutputIOPWM(HANDLE hCamera, int output, UINT* pPeriod, UINT* pDuty);
/* The level of an input line as the camera reads it; CAMERA_STATUS_NOT_SUPPORTED for an input
 * below 0 or not below the input count. */
QVSDK_API int CameraGetInputIOState(HANDLE hCamera, int input, UINT* pState);

/* ---- GigE stream settings ---------------------------------------------------------------------
 *
 * Kept with the camera's settings on every camera; only GigE cameras use them (the device
 * operations answer CAMERA_STATUS_NOT_SUPPORTED on USB cameras). */

/* Stream packet size in bytes, rounded down to a multiple of 4 and kept within 1500 .. 9000 (a
 * negative size counts as above 9000); a new size restarts the stream (its result). */
QVSDK_API int CameraGigeSetTransPacketSize(HANDLE hCamera, int size);
QVSDK_API int CameraGigeGetTransPacketSize(HANDLE hCamera, int* pSize);
/* Delay between stream packets, at most 1000 (larger and negative values become 1000); a new
 * delay goes to the camera and is kept when it takes it: the camera's answer, or 0. */
QVSDK_API int CameraGigeSetPacketDelayTime(HANDLE hCamera, int delay);
QVSDK_API int CameraGigeGetPacketDelayTime(HANDLE hCamera, int* pDelay);
/* Packet resend: on or off and the transport's three parameters; the camera's answer. */
QVSDK_API int CameraGigeSetResend(HANDLE hCamera, int enable, int a, int b, int c);
/* The largest packet size the network path to the camera carries; the camera's answer. */
QVSDK_API int CameraGigeGetOptimalPacketSize(HANDLE hCamera, int* pSize);
/* ---- Display, overlay and text ------------------------------------------------------------- */

/* This library has no window system behind its display: frames handed to CameraDisplay are
 * converted to 32-bit B, G, R pixels and given to a display sink that shows nothing and offers
 * no surface, so the display callback is not called; text has no glyphs and paints nothing.
 * Overlays are drawn. */

/* Starts the display for a window (pointer-sized handle). CAMERA_STATUS_NOT_INITIALIZED;
 * CAMERA_STATUS_FAILED when the display cannot start. */
QVSDK_API int CameraDisplayInit(HANDLE hCamera, uintptr_t window);
/* Display mode 0 or 1; scale and offset apply in mode 1 only (CAMERA_STATUS_FAILED in mode 0).
 * CAMERA_STATUS_NOT_INITIALIZED before CameraDisplayInit. */
QVSDK_API int CameraSetDisplayMode(HANDLE hCamera, int mode);
QVSDK_API int CameraSetDisplayScaleRadio(HANDLE hCamera, int scale);
QVSDK_API int CameraSetDisplayOffset(HANDLE hCamera, int x, int y);
QVSDK_API int CameraSetDisplaySize(HANDLE hCamera, int width, int height);
/* Cross line 0 to 8 (else CAMERA_STATUS_PARAMETER_INVALID): position, colour 0x00BBGGRR and
 * visibility; a line set invisible keeps its position and colour. */
QVSDK_API int CameraSetCrossLine(HANDLE hCamera, int line, int x, int y, UINT colour,
                                 int visible);
QVSDK_API int CameraGetCrossLine(HANDLE hCamera, int line, int* pX, int* pY, UINT* pColour,
                                 int* pVisible);
/* Draws the visible cross lines (those inside the image, not on its first row or column) and
 * the visible AE (yellow) and WB (cyan) windows into an RGB or BGR image of 24 or 32 bits, in
 * its byte order, clipped to the image; other formats are left alone.
 * CAMERA_STATUS_PARAMETER_INVALID for a null pointer, and for a head whose TotalBytes is short
 * of its width x height pixels (nothing is drawn). */
QVSDK_API int CameraImageOverlay(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo);
/* Converts the image to 32-bit pixels and hands them to the display. 0, also when the display
 * failed (it is started anew); CAMERA_STATUS_NOT_INITIALIZED before CameraDisplayInit;
 * CAMERA_STATUS_PARAMETER_INVALID for a null pointer, a size that is not positive, or a head
 * whose TotalBytes is short of its width x height pixels. */
QVSDK_API int CameraDisplay(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo);
/* The display callback and its context; the previous one through pPrevious when not null.
 * CAMERA_STATUS_PARAMETER_INVALID for a null callback or before CameraDisplayInit. */
QVSDK_API int CameraSetDisplayCallbackFun(HANDLE hCamera, CameraDisplayCallback pCallback,
                                          void* pContext, CameraDisplayCallback* pPrevious);
/* Paints text (font name and two size parameters) into the width x height box at (x, y) of the
 * image, clipped to the image. CAMERA_STATUS_FAILED when the font or text is refused (a null
 * font text or text among them); CAMERA_STATUS_PARAMETER_INVALID for a null image or head. */
QVSDK_API int CameraDrawText(BYTE* pImage, stImageInfo* pInfo, const char* pFont, int a, int b,
                             const char* pText, int x, int y, int width, int height,
                             UINT colour);

/* ---- Image files and AVI recording ------------------------------------------------------- */

/* Writes a frame the host holds (an output of the pipeline or a raw frame) to path with the
 * extension of type: 1 JPEG ".jpg", 2 BMP ".bmp", 4 RAW ".raw", 8 PNG ".png". 8-bit mono,
 * 12-bit mono in 16 (stored as the top 8 bits), RGB8, BGR8, RGBA8 and BGRA8 frames as BMP, JPEG
 * (quality: its low 8 bits) or PNG; mono and raw frames as RAW (TotalBytes bytes as they are).
 * A file appears only complete: it is written under a temporary name beside the file and
 * renamed at the end, so a failure leaves no partial file and an existing file of that name
 * unchanged. Links are followed as opening the name follows them (fs.protected_symlinks, 40
 * links) and stay; only a regular file this user may write, or none, is replaced: a folder,
 * FIFO, device node or socket there is a file that cannot be created.
 * CAMERA_STATUS_PARAMETER_INVALID for a null pointer, an empty path, an unknown type, RAW of a colour frame, a
 * width or height that is not positive, a head whose TotalBytes is short of its width x height
 * pixels (except for RAW), or a path longer than 259 characters;
 * CAMERA_STATUS_NOT_SUPPORTED for a format the file type cannot hold (nothing is written);
 * CAMERA_STATUS_IO_ERROR when a write or the close fails (a full disk), when a BMP file
 * cannot be created, and when something other than a regular file takes the name's place
 * while the file is written (it stays); CAMERA_STATUS_FAILED when another file cannot be
 * created (a folder of that name among the reasons) or the encoder fails. Saves of one camera
 * take turns, and so do the other calls listed at the top of this file; the rest answer during
 * a save. */
QVSDK_API int CameraSaveImage(HANDLE hCamera, const char* path, BYTE* pImage, stImageInfo* pInfo,
                              int type, int quality);
/* Starts recording an AVI file at path (created, or overwritten once the recording is closed)
 * with frameRate frames per second. Frames are stored uncompressed as 24-bit BGR; format and
 * quality are kept but not used. A recording already open is closed first.
 * CAMERA_STATUS_FILE_OPEN_FAILED when the file cannot be opened or written, or when path leads
 * to something other than a regular file (a folder, FIFO, device node or socket: left alone);
 * CAMERA_STATUS_PARAMETER_INVALID for a null path. */
QVSDK_API int CameraStartRecord(HANDLE hCamera, const char* path, int format, int quality,
                                int frameRate);
/* Appends one frame (8-bit or 12-in-16 mono, RGB8, BGR8, RGBA8, BGRA8) to the recording; the
 * first frame fixes the size. CAMERA_STATUS_FAILED without a recording;
 * CAMERA_STATUS_PARAMETER_INVALID for a null pointer, a size that is not positive or differs
 * from the first frame's, or a head whose TotalBytes is short of its width x height pixels (the
 * file is unchanged); CAMERA_STATUS_NOT_SUPPORTED for another
 * format; CAMERA_STATUS_FILE_TOO_LARGE when the file would pass 2 GiB;
 * CAMERA_STATUS_FILE_IO_FAILED when the frame cannot be written (a full disk: nothing of it is
 * kept, and the recording goes on). */
QVSDK_API int CameraPushOneFrame(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo);
/* Finishes the recording: index and final header. CAMERA_STATUS_FAILED without a recording;
 * CAMERA_STATUS_FILE_IO_FAILED when the index or the header could not be written (the file may
 * not play). CameraUnInit finishes an open recording too. */
QVSDK_API int CameraStopRecord(HANDLE hCamera);

/* ---- Parameter groups and files ------------------------------------------------------------ */

/* Which name keys the parameter files: 0 product name, 1 friendly name, 2 serial number. */
QVSDK_API int CameraSetParameterMode(HANDLE hCamera, int mode);
QVSDK_API int CameraGetParameterMode(HANDLE hCamera, int* pMode);
/* Saves the settings (with the custom lookup tables) as group 0 to 3 (files "_A" to "_D") in
 * $HOME/.QVConfig and remembers the group for the next CameraInit. CAMERA_STATUS_FAILED unless
 * both files were written completely. */
QVSDK_API int CameraSaveParameter(HANDLE hCamera, int group);
/* Loads a saved group (255: the camera's defaults, keeping the current group number); the
 * stream restarts. The file's error when it cannot be read, with nothing changed. */
QVSDK_API int CameraLoadParameter(HANDLE hCamera, int group);
/* The settings to and from a file the caller names. Reading a file of another camera model
 * answers CAMERA_STATUS_PARAMETER_MISMATCH; then, as after any read failure, nothing changes. */
QVSDK_API int CameraSaveParameterToFile(HANDLE hCamera, const char* path);
QVSDK_API int CameraReadParameterFromFile(HANDLE hCamera, const char* path);
QVSDK_API int CameraGetCurrentParameterGroup(HANDLE hCamera, int* pGroup);

/* ---- Serial number, user data and names --------------------------------------------------- */

/* Serial numbers of 32 bytes in the camera's storage: write levels 1 and 2, read levels 0 (the
 * serial number the camera was opened with), 1 and 2; other levels
 * CAMERA_STATUS_PARAMETER_INVALID. */
QVSDK_API int CameraWriteSN(HANDLE hCamera, BYTE* pSn, int level);
QVSDK_API int CameraReadSN(HANDLE hCamera, BYTE* pSn, int level);
/* length bytes at offset of the camera's user-data area. CAMERA_STATUS_NOT_SUPPORTED for a
 * camera without one; CAMERA_STATUS_PARAMETER_INVALID when the span does not lie inside it; a
 * length of 0 changes nothing. */
QVSDK_API int CameraSaveUserData(HANDLE hCamera, UINT offset, BYTE* pData, UINT length);
QVSDK_API int CameraLoadUserData(HANDLE hCamera, UINT offset, BYTE* pData, UINT length);
/* The camera's friendly name: 32 bytes read; at most 31 characters stored. */
QVSDK_API int CameraGetFriendlyName(HANDLE hCamera, char* pName);
QVSDK_API int CameraSetFriendlyName(HANDLE hCamera, const char* pName);

/* ---- Firmware upgrade ------------------------------------------------------------------------ */

/* Updates the camera's firmware from an upgrade file, with progress 0 to 100 through the
 * callback; the camera's result. */
QVSDK_API int CameraUpgrade(HANDLE hCamera, const char* path,
                            CameraUpgradeProgressCallback pProgress, void* pContext);
/* Stores 0: no update is offered. */
QVSDK_API int CameraCheckFwUpdate(HANDLE hCamera, int* pNeedUpdate);

/* ---- Maintenance ------------------------------------------------------------------------------ */

/* Restarts the camera; the library reconnects it when it is back. */
QVSDK_API int CameraReboot(HANDLE hCamera);

/* Settings pages: this library has no window system; the calls are answered and do nothing
 * (CameraCustomizeReferWin answers CAMERA_STATUS_FAILED). */
QVSDK_API int CameraShowSettingPage(HANDLE hCamera, int show);
QVSDK_API int CameraSetActivePage(HANDLE hCamera, uintptr_t pages, int index);
QVSDK_API int CameraCreateSettingPageEx(HANDLE hCamera);
QVSDK_API int CameraCustomizeReferWin(HANDLE hCamera, int type, uintptr_t parent, int* pLeft,
                                      int* pTop, int* pWidth, int* pHeight);

/* ---- GigE IP settings ----------------------------------------------------------------- */

/* IP configuration of the enumerated GigE camera with serial number sn; changing it is refused
 * with CAMERA_STATUS_NOT_SUPPORTED by USB cameras. CAMERA_STATUS_PARAMETER_INVALID for a null
 * sn or record, or when no enumerated camera has that serial number. */
QVSDK_API int CameraGigeGetIp(const char* sn, tGigeIpConfig* pConfig);
QVSDK_API int CameraGigeSetIp(const char* sn, tGigeIpConfig* pConfig);

/* ---- Version strings ---------------------------------------------------------------------- */

/* Writes "V1.32.0.0" followed by zero bytes, 31 bytes in all: the buffer must hold at least
 * 32 bytes (its 32nd byte is left unchanged). Returns 0, also for a null buffer. */
QVSDK_API int CameraSdkGetVersionString(char* pVersion);

#ifdef __cplusplus
}
#endif

#endif /* QV_CAMERA_API_H */
