#include "upgrade/UpgradeFile.h"

#include "common/ByteOrder.h"

namespace upgrade {

void Decode(const uint8_t (&b)[sizeof(UpgradeFileHeader)], UpgradeFileHeader* h) {
    h->magic = qv::LoadLe32(b);
    h->deviceId = qv::LoadLe32(b + 4);
    h->total = qv::LoadLe32(b + 8);
    h->elementCount = qv::LoadLe32(b + 12);
    h->supportCount = qv::LoadLe32(b + 16);
}

void Decode(const uint8_t (&b)[sizeof(Tag_UpgradeCameraInfo)], Tag_UpgradeCameraInfo* info) {
    info->sensorType = qv::LoadLe32(b);
    info->boardCode = qv::LoadLe32(b + 4);
}

void Decode(const uint8_t (&b)[sizeof(UpgradeElmentHeader)], UpgradeElmentHeader* h) {
    h->magic = qv::LoadLe32(b);
    h->reserved = qv::LoadLe32(b + 4);
    h->length = qv::LoadLe32(b + 8);
    h->type = qv::LoadLe32(b + 12);
    for (int i = 0; i < 4; ++i) h->mask[i] = qv::LoadLe32(b + 16 + 4 * i);
}

void Unmask(uint8_t* data, size_t length, const uint32_t (&mask)[4]) {
    const size_t words = length / 4;
    for (size_t i = 0; i < words; ++i) {
        uint8_t* p = data + 4 * i;
        qv::StoreLe32(p, qv::LoadLe32(p) ^ mask[i % 4]);
    }
}

}  // namespace upgrade
