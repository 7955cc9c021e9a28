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

/* ---- Version strings ---------------------------------------------------------------------- */

/* Writes "V1.32.0.0" followed by zero bytes, 31 bytes in all: the buffer must hold at least
 * 32 bytes (its 32nd byte is left unchanged). Returns 0, also for a null buffer. */
QVSDK_API int CameraSdkGetVersionString(char* pVersion);

#ifdef __cplusplus
}
#endif

#endif /* QV_CAMERA_API_H */
