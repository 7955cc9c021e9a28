#include "gige/GigeCameraBySocket.h"

#include <cctype>
#include <cstring>

#include "gige/GVSPReceiverBySocket.h"

CGigeCameraBySocket::CGigeCameraBySocket(const char* serial, const char* model, const char* version,
                                         const char* netcard, const DISCOVERY_ACK_DATA& ack)
    : CGigeCamera(serial, model, version, netcard, ack) {}

CGigeCameraBySocket::~CGigeCameraBySocket() {
    // While the receiver this class makes can still be closed by the base's shutdown.
    Shutdown();
}

int CGigeCameraBySocket::GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) {
    const int r = CGigeCamera::GetDeviceInfo(info, misc);
    const size_t n = strnlen(info->acSn, sizeof info->acSn);
    int word = 0;
    if (n >= 2) {
        const char hi = info->acSn[n - 2];
        const char lo = info->acSn[n - 1];
        auto digit = [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                               : std::tolower(c) - 'a' + 10;
        };
        if (std::isxdigit(static_cast<unsigned char>(hi)) &&
            std::isxdigit(static_cast<unsigned char>(lo)))
            word = digit(hi) * 16 + digit(lo);
    }
    info->iAccess = word;
    return r;
}

CGVSPReceiver* CGigeCameraBySocket::CreateGVSPReceiver(const LQComponent::Address& streamAddress,
                                                       int frameCount) {
    return new CGVSPReceiverBySocket(this, streamAddress, frameCount);
}
