// zip_repair.h - a mutator for ZIP inputs: after libFuzzer's own mutation the
// CRC-32 of every stored member is made to match its bytes again, so that a
// changed byte inside a stored XML member reaches the parser behind the
// archive instead of failing the archive's checksum test.
#ifndef QEM_FUZZ_ZIP_REPAIR_H
#define QEM_FUZZ_ZIP_REPAIR_H

#include <cstddef>
#include <cstdint>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t *data, std::size_t size, std::size_t max_size);

namespace qfuzz {

inline std::uint32_t le16(const std::uint8_t *p) {
    return p[0] | p[1] << 8;
}
inline std::uint32_t le32(const std::uint8_t *p) {
    return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
inline void put_le32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t crc32(const std::uint8_t *p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Walks the central directory named by the last end record and rewrites the
// CRC of each stored member (central entry and local header) whose data lies
// wholly inside the input. Anything that does not add up is left alone.
inline void repair_stored_crcs(std::uint8_t *d, std::size_t n) {
    if (n < 22) return;
    std::size_t eocd = n - 22;
    for (;; --eocd) {
        if (le32(d + eocd) == 0x06054b50u) break;
        if (eocd == 0 || n - 22 - eocd > 65535) return;
    }
    std::size_t count = le16(d + eocd + 10);
    std::size_t at = le32(d + eocd + 16);
    for (std::size_t i = 0; i < count; ++i) {
        if (at > n || n - at < 46 || le32(d + at) != 0x02014b50u) return;
        const std::size_t local = le32(d + at + 42);
        const std::size_t size = le32(d + at + 20);
        if (le16(d + at + 10) == 0 && local < n && n - local >= 30 &&
            le32(d + local) == 0x04034b50u) {
            const std::size_t data = local + 30 + le16(d + local + 26) + le16(d + local + 28);
            if (data <= n && n - data >= size) {
                const std::uint32_t crc = crc32(d + data, size);
                put_le32(d + at + 16, crc);
                put_le32(d + local + 14, crc);
            }
        }
        at += 46 + le16(d + at + 28) + le16(d + at + 30) + le16(d + at + 32);
    }
}

}  // namespace qfuzz

// Three mutations in four get their stored members' checksums repaired; the
// rest keep whatever checksum the mutation left, damaged ones included.
#define QFUZZ_ZIP_MUTATOR                                                                     \
    extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t *data, std::size_t size,      \
                                                   std::size_t max_size, unsigned int seed) { \
        size = LLVMFuzzerMutate(data, size, max_size);                                        \
        if (seed % 4 != 0) qfuzz::repair_stored_crcs(data, size);                             \
        return size;                                                                          \
    }

#endif
