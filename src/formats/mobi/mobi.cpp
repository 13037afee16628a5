// mobi.cpp - metadata of Mobipocket-family books (MOBI, AZW, AZW3): the
// PalmDB record list, the MOBI header in record 0 and its EXTH block.
//
// Every integer in these files is unsigned big-endian. The reader fetches only
// the ranges it needs and never decompresses or decrypts text records;
// strings are copied as the raw bytes the book holds (the declared text
// encoding is not consulted).

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "error.h"
#include "formats/mobi/palm.h"
#include "formats/readers.h"
#include "heap.h"
#include "io/range.h"
#include "record.h"

namespace {

constexpr std::uint32_t kNoCover = 0xFFFFFFFFu;

// The start of the book read in one request: the PalmDB header, the record
// list and, in most books, record 0 with its EXTH block.
constexpr std::uint64_t kFirstRead = 16 * 1024;

// Copy of n bytes with a NUL after them; trailing NUL and space bytes are
// cleared (padding of fixed fields), leading spaces stay. Null on no memory.
char *dup_n(const unsigned char *src, std::uint64_t n) {
    char *s = static_cast<char *>(std::malloc(n + 1));
    if (!s) return nullptr;
    if (n) std::memcpy(s, src, n);
    s[n] = '\0';
    for (std::uint64_t i = n; i > 0 && (s[i - 1] == '\0' || s[i - 1] == ' '); --i)
        s[i - 1] = '\0';
    return s;
}

// The 32-byte PalmDB database name as a title: a name of only padding gives
// an empty title, and the text ends at the first NUL inside the name.
char *palm_name(const eb_range &file) {
    const unsigned char *name = file.bytes(0, 32);
    return name ? dup_n(name, 32) : nullptr;
}

// Record i's file offset from the record list (the caller checked i < n).
std::uint32_t record_offset(const eb_range &file, std::uint32_t i) {
    return file.u32(EB_PALM_HEADER + 8ull * i);
}

// Stores a text field from an EXTH record unless the field is already set.
void take_text(char *&field, const unsigned char *bytes, std::uint64_t n) {
    if (field || n == 0) return;
    field = dup_n(bytes, n);
}

void set_format(eb_meta *meta, const char *word) {
    std::free(meta->format);
    meta->format = eb_strdup(word);
}

const char *cover_mime_of(const unsigned char *b, std::uint64_t n) {
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8) return "image/jpeg";
    if (n >= 8 && b[0] == 0x89) return "image/png";
    return "application/octet-stream";
}

// The PalmDB header and the record list: the number of records, or -1
// with the error text set when the list does not fit or is empty.
long read_record_list(const eb_range &file, eb_meta *meta) {
    if (file.n < EB_PALM_HEADER) {
        eb_set_error("MOBI too short for PalmDB header");
        return -1;
    }
    set_format(meta, "mobi");

    const std::uint32_t n = file.u16(76);
    if (file.n < EB_PALM_HEADER + 8ull * n) {
        eb_set_error("MOBI record list truncated");
        return -1;
    }
    if (n == 0) {
        eb_set_error("MOBI has no records");
        return -1;
    }
    return static_cast<long>(n);
}

// Record 0 runs to the next record's offset, or to the end of the file
// when that offset is missing or nonsensical. False with the error text set
// when it starts past the file or is too small for the PalmDOC header.
bool find_record_zero(const eb_range &file, std::uint32_t n, std::uint64_t *start,
                      std::uint64_t *size) {
    const std::uint64_t len = file.n;
    const std::uint64_t start0 = record_offset(file, 0);
    std::uint64_t end0 = n == 1 ? len : record_offset(file, 1);
    if (start0 >= len) {
        eb_set_error("MOBI record 0 offset invalid");
        return false;
    }
    if (end0 > len || end0 <= start0) end0 = len;
    *start = start0;
    *size = end0 - start0;
    if (*size < 16) {
        eb_set_error("MOBI record 0 too small");
        return false;
    }
    return true;
}

// What the PalmDOC and MOBI headers in record 0 let the reader do next.
enum class header_result { failed, done, go_on };

// Encryption, the MOBI signature and the header length. A PalmDOC-only book
// is done here with its database name as title; otherwise *hlen is the MOBI
// header's length.
header_result read_mobi_header(const eb_range &file, const eb_range &r0, eb_meta *meta,
                               std::uint64_t *hlen) {
    // Encrypted text means DRM, PalmDOC-only files included.
    const std::uint32_t encryption = r0.u16(12);
    if (encryption != 0) {
        meta->drm = 1;
        eb_set_error("DRM protected MOBI (encryption type %u); will not decrypt", encryption);
        return header_result::failed;
    }

    if (!r0.tag(16, "MOBI")) {
        eb_set_error("no MOBI header (PalmDOC-only); limited support");
        meta->title = palm_name(file);
        return header_result::done;
    }
    // The header length itself lies at offsets 20..23; a record too short to
    // hold it has no usable header.
    if (!r0.has(20, 4)) {
        eb_set_error("invalid MOBI header length");
        return header_result::failed;
    }
    *hlen = r0.u32(20);
    if (*hlen < 8) {
        eb_set_error("invalid MOBI header length");
        return header_result::failed;
    }
    return header_result::go_on;
}

// The full name from the MOBI header, else the PalmDB database name.
void read_title(const eb_range &file, const eb_range &r0, eb_meta *meta) {
    const std::uint64_t size0 = r0.n;
    if (size0 >= 100) {
        const std::uint64_t off = r0.u32(84), nlen = r0.u32(88);
        if (off != 0 && nlen != 0 && off + nlen <= size0) {
            const unsigned char *name = r0.bytes(off, nlen);
            if (name) meta->title = dup_n(name, nlen);
        }
    }
    if (!meta->title || !meta->title[0]) {
        std::free(meta->title);
        meta->title = palm_name(file);
    }
}

// The EXTH records after the MOBI header: author, ASIN, language and the
// cover offset (into *cover_k). False when the block declares no records,
// which ends the reading of the book.
bool read_exth(const eb_range &r0, std::uint64_t hlen, eb_meta *meta, std::uint32_t *cover_k) {
    eb_exth_records exth(r0, hlen);
    if (exth.declared() == 0) return false;
    std::uint32_t type;
    const unsigned char *bytes;
    std::uint64_t nbytes;
    for (std::uint32_t seen = 0; seen < exth.declared() && exth.next(type, bytes, nbytes); ++seen) {
        // 101 (publisher) and 503 (updated title) are not author or
        // language, whatever their position: only the dedicated types count.
        switch (type) {
            case 100:
                take_text(meta->author, bytes, nbytes);
                break;
            case 113:
            case 504:
                take_text(meta->asin, bytes, nbytes);
                break;
            case 524:
                take_text(meta->language, bytes, nbytes);
                break;
            case 201:
                if (nbytes >= 4) *cover_k = eb_be32(bytes);
                break;
            default:
                break;
        }
    }
    return true;
}

// The cover record, first image plus the EXTH cover offset: named whenever
// both are known, loaded only when wanted and when the record lies whole
// inside the file.
void read_cover(const eb_source &src, const eb_range &file, std::uint32_t n,
                std::uint32_t first_image, std::uint32_t cover_k, eb_meta *meta, int want_cover) {
    const std::uint64_t len = file.n;
    if (cover_k == kNoCover || first_image == 0) return;
    // In 64 bits: a 32-bit sum could wrap around to record 0 (the header)
    // and export it as the cover. An index at or past the end of the record
    // list names no image.
    const std::uint64_t index = std::uint64_t{first_image} + cover_k;
    meta->has_cover = 1;
    if (index >= n || !want_cover) return;
    const std::uint64_t start = record_offset(file, static_cast<std::uint32_t>(index));
    const std::uint64_t end =
        index + 1 < n ? record_offset(file, static_cast<std::uint32_t>(index + 1)) : len;
    if (!(start < end && start < len && end <= len)) return;
    const std::uint64_t clen = end - start;
    auto *block = static_cast<unsigned char *>(std::malloc(clen));
    if (!block) return;
    if (!src.read(start, block, clen)) {
        std::free(block);
        return;
    }
    meta->cover_data = block;
    meta->cover_len = clen;
    std::snprintf(meta->cover_mime, sizeof meta->cover_mime, "%s", cover_mime_of(block, clen));
}

// Reads only the PalmDB header, the record list, record 0 and, when the
// cover is wanted, the cover record: the file's size bounds every offset as
// the whole file's length did.
int read_mobi(const eb_source &src, eb_meta *meta, int want_cover) {
    const eb_range file(src, 0, src.size(), kFirstRead);
    const long records = read_record_list(file, meta);
    if (records < 0) return -1;
    const std::uint32_t n = static_cast<std::uint32_t>(records);

    std::uint64_t start0 = 0, size0 = 0;
    if (!find_record_zero(file, n, &start0, &size0)) return -1;
    const eb_range r0(src, start0, size0, kFirstRead, &file);
    std::uint64_t hlen = 0;
    switch (read_mobi_header(file, r0, meta, &hlen)) {
        case header_result::failed:
            return -1;
        case header_result::done:
            return 0;
        case header_result::go_on:
            break;
    }

    // Which header fields exist depends on how long record 0 is. The first
    // image index lives at offset 108 in every MOBI header version.
    const std::uint32_t first_image = size0 >= 128 ? (r0.u32(108) & 0xFFFFu) : 0;
    const bool exth_flag = size0 >= 144 && (r0.u32(128) & 0x40u) != 0;

    if (size0 >= 40 && (r0.u32(24) == 248 || r0.u32(36) > 7)) set_format(meta, "azw3");
    read_title(file, r0, meta);

    std::uint32_t cover_k = kNoCover;
    if (exth_flag && size0 >= hlen + 28 && r0.tag(16 + hlen, "EXTH") &&
        !read_exth(r0, hlen, meta, &cover_k))
        return 0;
    read_cover(src, file, n, first_image, cover_k, meta, want_cover);
    return 0;
}

}  // namespace

int eb_parse_mobi_source(const eb_source &src, eb_meta *meta, int want_cover) {
    int rc = read_mobi(src, meta, want_cover);
    if (src.failed()) {
        src.report_short_read();
        return -1;
    }
    return rc;
}

int eb_parse_mobi(const char *data, std::uint64_t len, eb_meta *meta, int want_cover) {
    eb_source src(data, len);
    return eb_parse_mobi_source(src, meta, want_cover);
}
