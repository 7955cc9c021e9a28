// CGigeCameraBySocket: the GigE camera device discovery makes; its streams are received by a
// CGVSPReceiverBySocket.
#pragma once

#include "gige/GigeCamera.h"

class CGigeCameraBySocket : public CGigeCamera {
  public:
    CGigeCameraBySocket(const char* serial, const char* model, const char* version,
                        const char* netcard, const DISCOVERY_ACK_DATA& ack);
    ~CGigeCameraBySocket() override;

    // As CGigeCamera, with the word after the port text taken from the serial number's last
    // two characters read as a hexadecimal number (0 when they are not hexadecimal digits or
    // the serial number is shorter).
    int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) override;
    CGVSPReceiver* CreateGVSPReceiver(const LQComponent::Address& streamAddress,
                                      int frameCount) override;
};
