// fb2_avx2.cpp - the FictionBook scans' wide loops, for processors with AVX2.
#include "formats/fb2/fb2_avx2.h"

#if defined(QEM_FB2_AVX2)
#include <immintrin.h>

namespace {

__attribute__((target("avx2"))) inline __m256i load32(const char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// 0xFF in the lanes of v whose bytes lie in lo..lo+n-1 (as in_span).
__attribute__((target("avx2"))) inline __m256i in_span32(__m256i v, unsigned char lo, int n) {
    const __m256i shifted = _mm256_add_epi8(v, _mm256_set1_epi8(static_cast<char>(0x80 - lo)));
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(-128 + n)), shifted);
}

// 0xFF in the lanes of v that hold a Base64 alphabet character (as b64_lanes).
__attribute__((target("avx2"))) inline __m256i b64_lanes32(__m256i v) {
    const __m256i letter = in_span32(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), 'a', 26);
    const __m256i digit = in_span32(v, '/', 11);
    return _mm256_or_si256(_mm256_or_si256(letter, digit),
                           _mm256_cmpeq_epi8(v, _mm256_set1_epi8('+')));
}

}  // namespace

// Blocks without a hit are passed over 64 bytes a step, half the
// instructions of the SSE2 scan that resumes where this one stops.
__attribute__((target("avx2"))) std::size_t fb2_quiet_blocks_avx2(const char *data,
                                                                  std::size_t size, std::size_t i,
                                                                  std::size_t reach, char a, char b,
                                                                  std::size_t gap, bool nul) {
    const __m256i va = _mm256_set1_epi8(a), vb = _mm256_set1_epi8(b);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i nul_mask = nul ? _mm256_set1_epi8(-1) : zero;
    for (; size - i >= reach; i += 64) {
        const char *p = data + i;
        const __m256i v0 = load32(p), v1 = load32(p + 32);
        const __m256i h0 = _mm256_or_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(v0, va), _mm256_cmpeq_epi8(load32(p + gap), vb)),
            _mm256_and_si256(_mm256_cmpeq_epi8(v0, zero), nul_mask));
        const __m256i h1 =
            _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v1, va),
                                             _mm256_cmpeq_epi8(load32(p + 32 + gap), vb)),
                            _mm256_and_si256(_mm256_cmpeq_epi8(v1, zero), nul_mask));
        if (!_mm256_testz_si256(_mm256_or_si256(h0, h1), _mm256_or_si256(h0, h1))) break;
    }
    return i;
}

__attribute__((target("avx2"))) std::size_t fb2_b64_blocks_avx2(const char *body, std::size_t size,
                                                                std::uint64_t *chars) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i total = zero, lanes = zero;  // per-byte counts, added to total before they can wrap
    int rounds = 0;
    std::size_t i = 0;
    for (; size - i >= 64; i += 64) {
        const __m256i v0 = load32(body + i), v1 = load32(body + i + 32);
        const __m256i stop = _mm256_or_si256(in_span32(v0, '<', 2), in_span32(v1, '<', 2));
        if (!_mm256_testz_si256(stop, stop)) break;
        lanes = _mm256_sub_epi8(lanes, b64_lanes32(v0));
        lanes = _mm256_sub_epi8(lanes, b64_lanes32(v1));
        if (++rounds == 127) {
            total = _mm256_add_epi64(total, _mm256_sad_epu8(lanes, zero));
            lanes = zero;
            rounds = 0;
        }
    }
    total = _mm256_add_epi64(total, _mm256_sad_epu8(lanes, zero));
    alignas(32) std::uint64_t sums[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(sums), total);
    *chars += sums[0] + sums[1] + sums[2] + sums[3];
    return i;
}

bool fb2_have_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

#endif
