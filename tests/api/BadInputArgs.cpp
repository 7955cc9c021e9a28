#include "BadInputArgs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace badinput {

namespace {

constexpr int kStatusCodes[] = {0,   -1,  -4,  -5,  -6,  -7,  -8,  -12, -13,   -14,
                                -16, -18, -21, -22, -23, -28, -38, -40, -50,   -51,
                                -52, -53, -54, -55, -56, -57, -58, -59, kNull, kPointer};

// The largest output image a row asks for: the sensor's whole window, four bytes a pixel.
constexpr size_t kImageOutBytes = 2048u * 1200u * 4u;

std::string Number(int64_t v) {
    switch (v) {
        case INT32_MIN:
            return "INT_MIN";
        case INT32_MAX:
            return "INT_MAX";
        case UINT32_MAX:
            return "UINT_MAX";
        default:
            return std::to_string(v);
    }
}

}  // namespace

Expect::Expect(std::initializer_list<int> codes) {
    for (int c : codes)
        if (m_count < m_codes.size()) m_codes[m_count++] = c;
}

bool Expect::Accepts(int result) const {
    for (size_t i = 0; i < m_count; ++i) {
        if (m_codes[i] == kAny ? IsStatusCode(result) && result != kPointer && result != kNull
                               : m_codes[i] == result)
            return true;
    }
    return false;
}

bool Expect::IsFailure() const {
    for (size_t i = 0; i < m_count; ++i)
        if (m_codes[i] == CAMERA_STATUS_SUCCESS || m_codes[i] == kPointer || m_codes[i] == kAny)
            return false;
    return m_count > 0;
}

std::string Expect::ToString() const {
    std::string s;
    for (size_t i = 0; i < m_count; ++i) s += (i ? " or " : "") + ResultText(m_codes[i]);
    return s;
}

bool IsStatusCode(int result) {
    return std::find(std::begin(kStatusCodes), std::end(kStatusCodes), result) !=
           std::end(kStatusCodes);
}

std::string ResultText(int result) {
    switch (result) {
        case kNull:
            return "a null pointer";
        case kPointer:
            return "a pointer";
        case kAny:
            return "any status";
        case kMismatch:
            return "success, but the getter reports another value";
        default:
            return std::to_string(result);
    }
}

void Args::Begin(Mode mode, size_t slot, size_t badCase) {
    m_mode = mode;
    m_slot = slot;
    m_case = badCase;
    m_next = 0;
    m_expect = Expect(CAMERA_STATUS_SUCCESS);
    m_scratchUsed = 0;
    for (auto& s : m_scratch) std::memset(s.get(), 0, kScratchBytes);
    *m_foreign = 0;
}

void Args::End(bool released) {
    if (m_frame != nullptr && !released) m_context.releaseFrame(m_frame);
    m_frame = nullptr;
}

int Args::Enter(const char* kind, std::vector<std::string> labels, std::vector<Expect> expects,
                bool pointer) {
    const size_t index = m_next++;
    if (m_mode == Mode::kDiscover) {
        m_slots.push_back({kind, std::move(labels), std::move(expects), pointer});
        return -1;
    }
    if (m_mode == Mode::kBad && index == m_slot) {
        m_expect = m_slots.at(index).expects.at(m_case);
        return static_cast<int>(m_case);
    }
    return -1;
}

HANDLE Args::Handle(Expect ifNull) {
    m_hasHandle = true;
    m_next++;
    if (m_mode == Mode::kDiscover) {
        // The null handle is a run of its own (kNullHandle), not a bad value of this slot.
        m_slots.push_back({"handle", {}, {}, true});
        m_nullHandleExpect = ifNull;
        return nullptr;
    }
    if (m_mode == Mode::kNullHandle) {
        m_expect = ifNull;
        return nullptr;
    }
    return m_context.handle;
}

void* Args::Scratch() {
    if (m_scratchUsed == m_scratch.size()) {
        m_scratch.push_back(std::make_unique<std::byte[]>(kScratchBytes));
        std::memset(m_scratch.back().get(), 0, kScratchBytes);
    }
    return m_scratch[m_scratchUsed++].get();
}

void* Args::Pointer(const char* kind, const Expect& ifNull, void* valid) {
    const int active = Enter(kind, {"null"}, {ifNull}, true);
    if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero || active >= 0) return nullptr;
    return valid;
}

BYTE* Args::ImageOut(Expect ifNull) {
    if (m_imageOut.empty()) m_imageOut.resize(kImageOutBytes);
    return static_cast<BYTE*>(Pointer("image out", ifNull, m_imageOut.data()));
}

const char* Args::Text(const char* valid, Expect ifNull, std::initializer_list<TextCase> bad) {
    std::vector<std::string> labels{"null"};
    std::vector<Expect> expects{ifNull};
    if (m_mode == Mode::kDiscover) {
        for (const TextCase& c : bad) {
            const std::string text = c.value;
            labels.push_back("\"" +
                             (text.size() > 24 ? text.substr(0, 24) + "...\"" : text + "\""));
            expects.push_back(c.expect);
        }
    }
    const int active = Enter("text", std::move(labels), std::move(expects), true);
    if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero || active == 0) return nullptr;
    if (active > 0) return std::data(bad)[active - 1].value;
    return valid;
}

int64_t Args::Integer(const char* kind, int64_t valid, const std::vector<IntCase>& bad) {
    std::vector<std::string> labels;
    std::vector<Expect> expects;
    if (m_mode == Mode::kDiscover) {
        for (const IntCase& c : bad) {
            labels.push_back(Number(c.value));
            expects.push_back(c.expect);
        }
    }
    const int active = Enter(kind, std::move(labels), std::move(expects));
    if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero) return 0;
    if (active >= 0) return bad[static_cast<size_t>(active)].value;
    return valid;
}

int Args::Int(int valid, const std::vector<IntCase>& bad) {
    return static_cast<int>(Integer("int", valid, bad));
}

UINT Args::UInt(UINT valid, const std::vector<IntCase>& bad) {
    return static_cast<UINT>(Integer("unsigned", valid, bad));
}

USHORT Args::UShort(USHORT valid, std::initializer_list<IntCase> bad) {
    return static_cast<USHORT>(Integer("ushort", valid, std::vector<IntCase>(bad)));
}

uintptr_t Args::Word(uintptr_t valid, std::initializer_list<IntCase> bad) {
    return static_cast<uintptr_t>(
        Integer("word", static_cast<int64_t>(valid), std::vector<IntCase>(bad)));
}

double Args::Real(double valid, std::initializer_list<RealCase> bad) {
    std::vector<std::string> labels;
    std::vector<Expect> expects;
    if (m_mode == Mode::kDiscover) {
        for (const RealCase& c : bad) {
            std::ostringstream s;
            s << c.value;
            labels.push_back(s.str());
            expects.push_back(c.expect);
        }
    }
    const int active = Enter("double", std::move(labels), std::move(expects));
    if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero) return 0;
    if (active >= 0) return std::data(bad)[active].value;
    return valid;
}

CameraFrameHandle Args::Frame(Expect ifNull, Expect ifForeign) {
    const int active = Enter("frame", {"null", "not a frame"}, {ifNull, ifForeign}, true);
    if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero || active == 0) return nullptr;
    // Four bytes of the heap: a frame handle that is read as a frame shows under AddressSanitizer.
    if (active == 1) return m_foreign.get();
    if (m_frame == nullptr) m_frame = m_context.takeFrame();
    return m_frame;
}

}  // namespace badinput
