// Texts into fixed character fields (device records, storage fields, names).
#pragma once

#include <cstddef>
#include <cstring>

namespace qv {

// Copies at most room - 1 characters of src into the room bytes of dst (room >= 1) and zeroes
// the rest, so the field is always terminated and nothing past src's terminator (or past
// room - 1 bytes of an unterminated src) is read. A null src leaves an empty field.
inline void CopyText(char* dst, size_t room, const char* src) {
    std::memset(dst, 0, room);
    if (src != nullptr) std::memcpy(dst, src, strnlen(src, room - 1));
}

template <size_t N>
inline void CopyText(char (&dst)[N], const char* src) {
    CopyText(dst, N, src);
}

}  // namespace qv
