// A 256-entry byte table looked up 32 bytes at a time in AVX2, shared by the AVX2 mono and
// colour kernels. Included only by AVX2 sources, after their target pragma and after
// <immintrin.h> and <cstdint>, so that nothing but these functions is built for AVX2.
#pragma once

namespace qv::isp::avx2 {

// Byte shuffles pick from 16 bytes by the low four bits of each index and give 0 where its top
// bit is set. Row h of the table serves the indexes 16h to 16h + 15. For indexes below 128,
// subtracting 16h with signed saturation leaves the top bit clear exactly for those from 16h
// on, with the low four bits kept; so the shuffles of the rows 0 to h, each holding the
// difference (exclusive or) of its table row to the row before, add up by exclusive or to the
// table row of the index. Indexes from 128 on do the same with their top bit flipped, against
// the rows 8 to 15. A shuffle never crosses the 128-bit lanes, so each lane may have a table
// of its own: the colour kernels look up two Bayer sites at once that way.
struct ByteLookup {
    __m256i rows[16];  // difference rows: the low lane's table, then the high lane's

    explicit ByteLookup(const uint8_t* table) : ByteLookup(table, table) {}

    // From the rows of a lookup built before.
    explicit ByteLookup(const __m256i* differenceRows) {
        for (int h = 0; h < 16; ++h) rows[h] = differenceRows[h];
    }

    ByteLookup(const uint8_t* lowLaneTable, const uint8_t* highLaneTable) {
        for (int h = 0; h < 16; ++h)
            rows[h] =
                _mm256_setr_m128i(DifferenceRow(lowLaneTable, h), DifferenceRow(highLaneTable, h));
    }

    inline __attribute__((always_inline)) __m256i operator()(__m256i v) const {
        const __m256i flipped = _mm256_xor_si256(v, _mm256_set1_epi8(static_cast<char>(0x80)));
        __m256i low = _mm256_shuffle_epi8(rows[0], v);
        __m256i high = _mm256_shuffle_epi8(rows[8], flipped);
#pragma GCC unroll 8
        for (int h = 1; h < 8; ++h) {
            const __m256i step = _mm256_set1_epi8(static_cast<char>(16 * h));
            low = _mm256_xor_si256(low, _mm256_shuffle_epi8(rows[h], _mm256_subs_epi8(v, step)));
            high = _mm256_xor_si256(
                high, _mm256_shuffle_epi8(rows[8 + h], _mm256_subs_epi8(flipped, step)));
        }
        return _mm256_xor_si256(low, high);
    }

  private:
    static __m128i DifferenceRow(const uint8_t* table, int h) {
        alignas(16) uint8_t row[16];
        for (int i = 0; i < 16; ++i) {
            const int before = h % 8 == 0 ? 0 : table[16 * (h - 1) + i];
            row[i] = static_cast<uint8_t>(table[16 * h + i] ^ before);
        }
        return _mm_load_si128(reinterpret_cast<const __m128i*>(row));
    }
};

}  // namespace qv::isp::avx2
