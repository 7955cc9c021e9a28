// Discovery answers from arbitrary bytes, taken the way the discovery cycle takes them: a
// datagram shorter than header and answer is dropped, the header is decoded, and a camera
// object is made from the answer (serial number and model as bounded texts); then everything
// read from the answer: device information with its texts, firmware version, access state,
// matching and updating by a second answer, and the FORCEIP command built from it. Every
// text handed on is terminated within its field; nothing may read outside the answer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/ByteOrder.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GvcpProtocol.h"

namespace gige = qv::gige;

namespace {

template <size_t N>
std::string Field(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

template <size_t N>
void Terminated(const char (&text)[N]) {
    if (strnlen(text, N) >= N) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kWhole = gige::kHeaderSize + gige::kDiscoveryAckSize;
    if (size < kWhole) return 0;
    gige::AckHeader ack{};
    gige::DecodeAckHeader(data, gige::kHeaderSize, &ack);
    gige::DISCOVERY_ACK_DATA answer;
    std::memcpy(&answer, data + gige::kHeaderSize, sizeof answer);
    // A second answer for the same camera: the rest of the input over the first.
    gige::DISCOVERY_ACK_DATA again = answer;
    std::memcpy(&again, data + gige::kHeaderSize + (size - kWhole) % 64,
                std::min(sizeof again, size - gige::kHeaderSize - (size - kWhole) % 64));

    const std::string serial = Field(answer.serialNumber);
    const std::string model = Field(answer.modelName);
    char version[32];
    std::snprintf(version, sizeof version, "v%d.%d", qv::LoadBe16(answer.specVersionMajor),
                  qv::LoadBe16(answer.specVersionMinor));
    CGigeCameraBySocket camera(serial.c_str(), model.c_str(), version, "lo", answer);

    tDevInfo info;
    std::memset(&info, 0xA5, sizeof info);
    DeviceMiscInfo misc{};
    if (camera.GetDeviceInfo(&info, &misc) != 0) __builtin_trap();
    Terminated(info.acProductSeries);
    Terminated(info.acProductName);
    Terminated(info.acFriendlyName);
    Terminated(info.acSn);
    Terminated(info.acPortType);
    Terminated(info.acSymbolicName);
    Terminated(info.acDriverVersion);
    Terminated(info.acSensorName);
    uint16_t word = 0;
    camera.GetFirmwareVersion(&word);
    camera.GetDeviceType(&word);
    DevAccessStatus access;
    camera.GetAccessStatus(&access);
    if (camera.MatchDiscoveryAck(again))
        camera.UpdateDiscoveryAck(again, std::chrono::steady_clock::now());
    if (camera.GetDeviceInfo(&info, nullptr) != 0) __builtin_trap();
    Terminated(info.acFriendlyName);
    uint8_t command[gige::kForceIpCommandSize];
    gige::BuildForceIpCommand(command, camera.GetDiscoveryAck(), 0xC6120002, 0xFFFFFF00, 0);
    return 0;
}
