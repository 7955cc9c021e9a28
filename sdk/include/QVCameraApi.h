/*
 * QVCameraApi.h - exported functions of the QV camera SDK (libQVCameraSDK.so).
 *
 * Every function returns a status code of QVDeviceDef.h (0 on success) unless it is declared
 * to return a pointer. Handle-taking functions answer a null handle with
 * CAMERA_STATUS_PARAMETER_INVALID (or a null pointer) and touch nothing else.
 * All exports are bound to the symbol version node "libQVCameraSDK".
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
 * frame or one that is not this camera's. */
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
 * CAMERA_STATUS_PARAMETER_INVALID for a null pFrame. Other calls on the camera wait meanwhile. */
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

/* ---- Maintenance ------------------------------------------------------------------------------ */

/* Restarts the camera; the library reconnects it when it is back. */
QVSDK_API int CameraReboot(HANDLE hCamera);

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
