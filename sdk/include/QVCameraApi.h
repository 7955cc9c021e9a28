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
/* Device information of an enumerated camera, with uInUse 1 while another host holds it.
 * CAMERA_STATUS_PARAMETER_INVALID (record untouched) for a null record or a bad index. */
QVSDK_API int CameraGetEnumIndexInfo(int index, tDevInfo* pInfo);

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
