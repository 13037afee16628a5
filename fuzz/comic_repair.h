// comic_repair.h - a mutator for comic archives: after libFuzzer's mutation the checksums that
// guard RAR headers and stored RAR data, and stored ZIP members, match their bytes again, so a
// changed byte reaches the listing and the documents instead of failing a CRC test.
#ifndef QEM_FUZZ_COMIC_REPAIR_H
#define QEM_FUZZ_COMIC_REPAIR_H

#include <cstring>

#include "zip_repair.h"

namespace qfuzz {

inline bool rar_vint(const std::uint8_t *d, std::size_t n, std::size_t &at, std::uint64_t &v) {
    v = 0;
    for (unsigned shift = 0; at < n && shift < 64; shift += 7) {
        const std::uint8_t b = d[at++];
        v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

// RAR 5: each header's CRC, and before it the data CRC of a file header
// whose data lies wholly inside the input.
inline void repair_rar5(std::uint8_t *d, std::size_t n) {
    std::size_t pos = 8;
    while (pos + 5 < n) {
        std::size_t at = pos + 4;
        std::uint64_t size, type, flags, extra = 0, data = 0, v;
        if (!rar_vint(d, n, at, size) || size > n - at) return;
        const std::size_t start = pos + 4, end = at + size;
        if (!rar_vint(d, end, at, type) || !rar_vint(d, end, at, flags)) return;
        if ((flags & 1) && !rar_vint(d, end, at, extra)) return;
        if ((flags & 2) && !rar_vint(d, end, at, data)) return;
        std::uint64_t file_flags = 0;
        if (type == 2 && rar_vint(d, end, at, file_flags) && rar_vint(d, end, at, v) &&
            rar_vint(d, end, at, v)) {
            if (file_flags & 2) at += 4;
            if ((file_flags & 4) && at + 4 <= end && data <= n - end)
                put_le32(d + at, crc32(d + end, data));
        }
        put_le32(d + pos, crc32(d + start, end - start));
        if (data > n - end) return;
        pos = end + data;
    }
}

// RAR 4: each block's 16-bit header CRC, and the data CRC of stored files.
inline void repair_rar4(std::uint8_t *d, std::size_t n) {
    std::size_t pos = 7;
    while (pos + 7 <= n) {
        const std::size_t size = le16(d + pos + 5);
        if (size < 7 || size > n - pos) return;
        std::size_t add = (le16(d + pos + 3) & 0x8000) && size >= 11 ? le32(d + pos + 7) : 0;
        if (d[pos + 2] == 0x74 && size >= 32 && d[pos + 25] == 0x30 && add <= n - pos - size)
            put_le32(d + pos + 16, crc32(d + pos + size, add));
        const std::uint32_t crc = crc32(d + pos + 2, size - 2) & 0xFFFF;
        d[pos] = static_cast<std::uint8_t>(crc);
        d[pos + 1] = static_cast<std::uint8_t>(crc >> 8);
        if (add > n - pos - size) return;
        pos += size + add;
    }
}

inline void repair_comic(std::uint8_t *d, std::size_t n) {
    if (n >= 8 && std::memcmp(d, "Rar!\x1A\x07\x01\x00", 8) == 0)
        repair_rar5(d, n);
    else if (n >= 7 && std::memcmp(d, "Rar!\x1A\x07\x00", 7) == 0)
        repair_rar4(d, n);
    else
        repair_stored_crcs(d, n);
}

}  // namespace qfuzz

// Three mutations in four get their checksums repaired; the rest keep
// whatever the mutation left.
#define QFUZZ_COMIC_MUTATOR                                                                   \
    extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t *data, std::size_t size,      \
                                                   std::size_t max_size, unsigned int seed) { \
        size = LLVMFuzzerMutate(data, size, max_size);                                        \
        if (seed % 4 != 0) qfuzz::repair_comic(data, size);                                   \
        return size;                                                                          \
    }

#endif
