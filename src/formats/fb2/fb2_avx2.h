// fb2_avx2.h - the FictionBook scans' wide loops, for processors with AVX2.
#ifndef QUENFOLD_FORMATS_FB2_AVX2_H
#define QUENFOLD_FORMATS_FB2_AVX2_H

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define QEM_FB2_AVX2 1

// True when the processor runs AVX2 code.
bool fb2_have_avx2();

// The offset of the first 64-byte block, from i on while at least `reach`
// bytes remain, that holds a NUL (when nul is set) or a start of the pair
// a,b (b `gap` bytes after a, gap < reach - 63); where no block does, the
// offset where the blocks ran out. A scan may resume there as if it had read
// the blocks before it itself.
std::size_t fb2_quiet_blocks_avx2(const char *data, std::size_t size, std::size_t i,
                                  std::size_t reach, char a, char b, std::size_t gap, bool nul);

// Adds to *chars the Base64 alphabet characters of body's 64-byte blocks up
// to the first that holds '<' or '='; returns where counting stopped (the
// start of that block, or where fewer than 64 bytes remain).
std::size_t fb2_b64_blocks_avx2(const char *body, std::size_t size, std::uint64_t *chars);
#endif

#endif  // QUENFOLD_FORMATS_FB2_AVX2_H
