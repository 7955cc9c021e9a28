#include "upgrade/ElementRunRecorder.h"

namespace {

size_t NumberBytes(uint64_t v) {
    size_t n = 1;
    for (; v >= 0x80; v >>= 7) ++n;
    return n;
}

void PutNumber(uint64_t v, std::vector<uint8_t>* out) {
    for (; v >= 0x80; v >>= 7) out->push_back(static_cast<uint8_t>(v | 0x80));
    out->push_back(static_cast<uint8_t>(v));
}

bool GetNumber(const std::vector<uint8_t>& in, size_t* at, uint64_t* v) {
    *v = 0;
    for (unsigned shift = 0; *at < in.size() && shift < 64; shift += 7) {
        const uint8_t b = in[(*at)++];
        *v |= uint64_t{b & 0x7Fu} << shift;
        if ((b & 0x80) == 0) return true;
    }
    return false;
}

size_t RecordBytes(const ElementRun& run) {
    return NumberBytes(run.skipBefore) + NumberBytes(run.type) + NumberBytes(run.length) +
           NumberBytes(run.count);
}

}  // namespace

bool GetElementRun(const std::vector<uint8_t>& records, size_t* at, ElementRun* run) {
    uint64_t type = 0;
    uint64_t length = 0;
    uint64_t count = 0;
    if (!GetNumber(records, at, &run->skipBefore) || !GetNumber(records, at, &type) ||
        !GetNumber(records, at, &length) || !GetNumber(records, at, &count) || type > UINT32_MAX ||
        length > UINT32_MAX || count > UINT32_MAX)
        return false;
    run->type = static_cast<uint32_t>(type);
    run->length = static_cast<uint32_t>(length);
    run->count = static_cast<uint32_t>(count);
    return true;
}

bool ElementRunRecorder::Add(uint64_t skip, uint32_t type, uint32_t length) {
    if (m_open && skip == 0 && m_run.type == type && m_run.length == length &&
        m_run.count < UINT32_MAX) {
        ++m_run.count;
        return true;
    }
    const bool closed = Close();
    m_run = {skip, type, length, 1};
    m_open = true;
    return closed;
}

bool ElementRunRecorder::Close() {
    if (!m_open) return true;
    m_open = false;
    const size_t n = RecordBytes(m_run);
    if (n > m_limit - m_bytes) return false;
    m_bytes += n;
    if (m_records != nullptr) {
        PutNumber(m_run.skipBefore, m_records);
        PutNumber(m_run.type, m_records);
        PutNumber(m_run.length, m_records);
        PutNumber(m_run.count, m_records);
    }
    return true;
}
