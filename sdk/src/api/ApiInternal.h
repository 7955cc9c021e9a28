// Entries of the same kind as the exports that the library does not export, and the handle
// helper the export files share.
#pragma once

#include "control/CameraInitOption.h"
#include "control/DeadPixelList.h"
#include "QVDeviceDef.h"

class CameraControl;

// A camera handle is the controller the manager created for it; the exports check it for null
// before they call this.
inline CameraControl* Control(HANDLE hCamera) {
    return static_cast<CameraControl*>(hCamera);
}

extern "C" {
// Sends the GigE software-trigger command to every camera of a subnet at once, from localIp;
// -6 for a null localIp, -1 when the socket cannot be bound or a send fails.
int CameraGigeBroadcastSoftTrigger(const char* localIp, int value);

// CameraInitEx3 with initialisation options (null: none); see CameraInitOption.
int CameraInitEx3WithParam(HANDLE* pHandle, const char* sn, CameraInitOption* pOptions);
// The connection-status callback (0 lost, 1 back; null removes it); the device's result, -1
// while the camera has no device.
int CameraSetConnectionStatusCallback(HANDLE hCamera, CameraConnectionStatusCallback pCallback,
                                      void* pContext);
// The device's second transfer request, with a value; -1 unless playing.
int CameraRequestTransferImageEx(HANDLE hCamera, int value);
// How often the camera was found lost since it was opened.
int CameraGetDeviceLostCount(HANDLE hCamera, int* pCount);
// 1 when the camera answers, 0 when it does not, 255 while it has no device (lost).
int CameraCheckConnection(HANDLE hCamera);
// The dead pixels of a frame of an even scene (mono 8 or 16 bits): pixels further than
// threshold from reference, where two of them meet in a 3 x 3 neighbourhood; the list points
// into the handle's storage until the next dead-pixel call or CameraUnInit.
int CameraFindDeadPixels(HANDLE hCamera, BYTE* pImage, stImageInfo* pInfo, int reference,
                         int threshold, tSdkDeadPixelList* pOut);
// The camera's stored dead-pixel table (-8 for one that is not a table) and writing one.
int CameraLoadDeadPixels(HANDLE hCamera, tSdkDeadPixelList* pOut);
int CameraSaveDeadPixels(HANDLE hCamera, tSdkDeadPixelList* pList);
}
