#include "GigeFlashData.h"

#include <cstring>

namespace {
constexpr size_t kSerialField = 32;
constexpr size_t kLevel0Chars = 15;
constexpr size_t kUserLevelChars = 31;
}  // namespace

int CGigeFlashData::ReadSN(uint8_t* sn, INT level) {
    if (sn == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint8_t* field = level == 0   ? m_blockA.serial0
                           : level == 1 ? m_blockB.serial1
                                        : m_blockB.serial2;
    const size_t limit = level == 0 ? kLevel0Chars : kUserLevelChars;
    std::memset(sn, 0, kSerialField);
    std::memcpy(sn, field, strnlen(reinterpret_cast<const char*>(field), limit));
    return CAMERA_STATUS_SUCCESS;
}

const char* CGigeFlashData::DefaultParamLog() const {
    return "gige flash param error, use default param\n";
}
