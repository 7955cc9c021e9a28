#include "SimGvcpDatagram.h"

#include <algorithm>

namespace qvsim {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr uint8_t kKey = 0x42;

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace

bool ParseGvcpCommand(std::span<const uint8_t> d, uint32_t fromIp, uint16_t fromPort,
                      CSimGigeFirmware::Request* request) {
    if (d.size() < kHeaderSize || d[0] != kKey) return false;
    request->flags = d[1];
    request->command = Be16(&d[2]);
    const size_t announced = Be16(&d[4]);
    request->reqId = Be16(&d[6]);
    request->payload.assign(
        d.begin() + kHeaderSize,
        d.begin() + static_cast<std::ptrdiff_t>(std::min(d.size(), kHeaderSize + announced)));
    request->fromIp = fromIp;
    request->fromPort = fromPort;
    return true;
}

void BuildGvcpAnswer(const CSimGigeFirmware::Answer& answer, uint16_t reqId,
                     std::vector<uint8_t>* out) {
    out->resize(kHeaderSize);
    Put16(out->data(), answer.status);
    Put16(out->data() + 2, answer.ackCode);
    Put16(out->data() + 4, static_cast<uint16_t>(answer.payload.size()));
    Put16(out->data() + 6, reqId);
    out->insert(out->end(), answer.payload.begin(), answer.payload.end());
}

}  // namespace qvsim
