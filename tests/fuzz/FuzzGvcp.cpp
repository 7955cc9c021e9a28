// GVCP command answers from arbitrary bytes, as the device's channel takes them: a simulated
// GigE camera (its own network namespace, loopback) opens the device normally, then for each
// input one command's answer datagram is replaced by the input. The first byte chooses the
// command (register read, memory read, flash read, register writes; each with a short timeout
// and two tries); the low bit of the second byte keeps the real acknowledge code and id in the
// replaced answer, so both answers that are taken and answers that are skipped are reached (the
// camera repeats its answer to a repeated request id: a skipped answer ends in the timeout).
// The command's result is a status code, and nothing may be read beyond the datagram or
// written beyond the caller's buffer.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimGigeImx290Camera.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GvcpProtocol.h"

namespace gige = qv::gige;

namespace {

struct Rig {
    Rig() : sim(SimGigeImx290Options{}) {
        gige::DISCOVERY_ACK_DATA ack;
        const std::vector<uint8_t> answer = sim.Firmware().DiscoveryAnswer();
        std::memset(&ack, 0, sizeof ack);
        std::memcpy(&ack, answer.data(), std::min(answer.size(), sizeof ack));
        const std::string serial(ack.serialNumber, strnlen(ack.serialNumber, 16));
        const std::string model(ack.modelName, strnlen(ack.modelName, 32));
        device =
            std::make_shared<CGigeCameraBySocket>(serial.c_str(), model.c_str(), "v1.2", "lo", ack);
        if (device->Open(nullptr) != 0) std::abort();
        sim.Camera().SetAnswerEditor([this](uint16_t, std::vector<uint8_t>& datagram) {
            std::lock_guard lock(mutex);
            if (!armed) return;
            armed = false;
            std::vector<uint8_t> fuzzed = replacement;
            if (keepHeader && fuzzed.size() >= gige::kHeaderSize &&
                datagram.size() >= gige::kHeaderSize) {
                std::memcpy(fuzzed.data() + 2, datagram.data() + 2, 2);  // acknowledge code
                std::memcpy(fuzzed.data() + 6, datagram.data() + 6, 2);  // acknowledge id
            }
            datagram = std::move(fuzzed);
        });
    }

    CSimGigeImx290Camera sim;
    std::shared_ptr<CGigeCameraBySocket> device;
    std::mutex mutex;
    bool armed = false;
    bool keepHeader = false;
    std::vector<uint8_t> replacement;
};

bool IsStatus(int r) {
    return r <= 0 && r >= -100;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Never destroyed: the simulated camera's thread runs until the process ends.
    static Rig* rig = new Rig();
    {
        std::lock_guard lock(rig->mutex);
        rig->replacement.assign(data + 2, data + size);
        rig->keepHeader = (data[1] & 1) != 0;
        rig->armed = true;
    }
    CGigeCameraBySocket& d = *rig->device;
    int r = 0;
    switch (data[0] % 4) {
        case 0: {
            uint32_t value = 0;
            r = d.ReadReg(0x0934, &value, 30, 2);
            break;
        }
        case 1: {
            // A memory read as ReadMem sends it, with this target's short timeout.
            uint8_t request[8] = {0, 3, 0, 0x24, 0, 0, 0, 32};
            uint8_t answer[37];
            answer[36] = 0xA5;
            size_t got = 36;
            r = d.Transact(gige::kReadMemCmd, request, sizeof request, gige::kReadMemAck, answer,
                           &got, 30, 2);
            if (answer[36] != 0xA5) __builtin_trap();
            break;
        }
        case 2: {
            // A flash read as ReadFlash sends it, with this target's short timeout.
            uint8_t payload[8] = {0, 1, 0, 0, 0, 0, 0, 64};
            uint8_t flash[65];
            flash[64] = 0xA5;
            size_t got = 64;
            r = d.Vendor(gige::kVendorFlashRead, payload, sizeof payload, flash, &got, 30, 2);
            if (flash[64] != 0xA5) __builtin_trap();
            break;
        }
        default:
            r = d.WriteRegs({0x0A00, 1, 0x0A04, 2}, 30, 2);
            break;
    }
    if (!IsStatus(r)) __builtin_trap();
    std::lock_guard lock(rig->mutex);
    rig->armed = false;
    return 0;
}
