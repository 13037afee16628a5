// mobi_full.cpp - the full record of a Mobipocket-family book or plain PalmDOC database:
// the PalmDB header, record 0's MOBI header and its EXTH block, decoded to UTF-8.
//
// Integers are unsigned big-endian. The header and EXTH block are never
// encrypted, so a protected book still gives its metadata; no text record is
// decompressed or decrypted. Only the PalmDB header, the record list, record
// 0, the first bytes of a KF8 part's record 0 and of the cover record are
// read; the file's size bounds every offset as the whole file's length did.
#include <cstring>
#include <string>

#include "error.h"
#include "formats/full_readers.h"
#include "formats/mobi/palm.h"
#include "io/range.h"
#include "text/encoding.h"
#include "text/isbn.h"
#include "text/plain_text.h"

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The start of the book read in one request: the PalmDB header, the record
// list and, in most books, record 0 with its EXTH block.
constexpr std::uint64_t kFirstRead = 16 * 1024;

// Where record i lies, from the record list; false when the list puts it
// outside the file (or makes it empty).
bool record_at(const eb_range &file, std::uint32_t n, std::uint32_t i, std::uint64_t *start,
               std::uint64_t *size) {
    const std::uint64_t from = file.u32(EB_PALM_HEADER + 8ull * i);
    const std::uint64_t end = i + 1ull < n ? file.u32(EB_PALM_HEADER + 8ull * (i + 1)) : file.n;
    if (!(from < end && end <= file.n)) return false;
    *start = from;
    *size = end - from;
    return true;
}

// The image type from the first bytes of the cover record.
const char *sniff_mime(const eb_range &img) {
    const unsigned char *p = img.bytes(0, img.n < 4 ? img.n : 4);
    const std::uint64_t n = p ? (img.n < 4 ? img.n : 4) : 0;
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8) return "image/jpeg";
    if (n >= 4 && std::memcmp(p, "\x89PNG", 4) == 0) return "image/png";
    if (n >= 4 && std::memcmp(p, "GIF8", 4) == 0) return "image/gif";
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') return "image/bmp";
    return "application/octet-stream";
}

// Texts as the book info cuts them (at the first NUL, without trailing
// spaces), decoded by the header's text encoding.
class texts {
  public:
    explicit texts(std::uint32_t codepage) : codepage_(codepage) {}

    std::string operator()(const unsigned char *b, std::uint64_t n) {
        const void *nul = std::memchr(b, 0, n);
        if (nul) n = static_cast<std::uint64_t>(static_cast<const unsigned char *>(nul) - b);
        while (n > 0 && b[n - 1] == ' ')
            --n;
        const std::string_view raw(reinterpret_cast<const char *>(b), n);
        bool replaced = false;
        std::string out;
        if (codepage_ == 1252)
            eb_decode(raw, "windows-1252", &out, &replaced);
        else
            out = eb_utf8_repair(raw, &replaced);
        replaced_ = replaced_ || replaced;
        return out;
    }
    bool replaced() const { return replaced_; }

  private:
    std::uint32_t codepage_;
    bool replaced_ = false;
};

// The 32-byte database name, cut the same way, in the PalmOS character set.
std::string palm_name(const eb_range &file) {
    texts latin(1252);
    const unsigned char *name = file.bytes(0, 32);
    return name ? latin(name, 32) : std::string();
}

// Lists keep repeats here; they are dropped when the record is settled.
void add_identifier(eb_record &r, std::string scheme, std::string value) {
    if (!value.empty()) r.identifiers.push_back({std::move(scheme), std::move(value)});
}

void set_once(std::string &field, std::string value) {
    if (field.empty()) field = std::move(value);
}

// What the EXTH block gives beyond the record's own fields.
struct exth_extra {
    std::uint32_t cover = kNone;     // 201: offset from the first image record
    std::uint32_t boundary = kNone;  // 121: record 0 of the KF8 part
    std::string updated_title;       // 503
};

void read_exth(const eb_range &r0, std::uint64_t hlen, texts &text, eb_record &r, exth_extra &x) {
    eb_exth_records exth(r0, hlen);
    std::uint32_t type;
    const unsigned char *bytes;
    std::uint64_t n;
    for (std::uint32_t seen = 0; seen < exth.declared() && exth.next(type, bytes, n); ++seen) {
        if (n == 0) continue;
        switch (type) {
            case 100:
                if (std::string name = text(bytes, n); !name.empty())
                    r.authors.push_back({std::move(name), "", "aut"});
                break;
            case 101:
                set_once(r.publisher, text(bytes, n));
                break;
            case 103:
                set_once(r.description, eb_markup_to_text(text(bytes, n)));
                break;
            case 104: {
                std::string raw = text(bytes, n);
                std::string isbn = eb_isbn13(raw);
                // A number whose check digit fails is kept, but never as an ISBN.
                if (isbn.empty())
                    add_identifier(r, "isbn-invalid", std::move(raw));
                else
                    add_identifier(r, "isbn", std::move(isbn));
                break;
            }
            case 105:
                if (std::string s = text(bytes, n); !s.empty()) r.subjects.push_back(std::move(s));
                break;
            case 106:
                set_once(r.published, text(bytes, n));
                break;
            case 109:
                set_once(r.rights, text(bytes, n));
                break;
            case 113:
            case 504:
                add_identifier(r, "asin", text(bytes, n));
                break;
            case 503:
                set_once(x.updated_title, text(bytes, n));
                break;
            case 508:
                set_once(r.title_sort, text(bytes, n));
                break;
            case 524:
                if (std::string lang = text(bytes, n); !lang.empty()) {
                    if (r.languages.empty()) r.language = lang;
                    r.languages.push_back(std::move(lang));
                }
                break;
            case 121:
                if (n >= 4 && x.boundary == kNone) x.boundary = eb_be32(bytes);
                break;
            case 201:
                if (n >= 4) x.cover = eb_be32(bytes);  // a later one replaces it
                break;
            default:
                break;
        }
    }
}

// The header fields and EXTH block of a record 0 that holds a MOBI header.
int read_mobi_header(const eb_range &file, const eb_range &r0, eb_record &r, exth_extra &x) {
    r.format = "mobi";
    const std::uint64_t hlen = r0.u32(20);
    if (hlen < 8) {
        eb_set_error("invalid MOBI header length");
        return -1;
    }
    const std::uint64_t size0 = r0.n;
    if (size0 >= 40 && (r0.u32(24) == 248 || r0.u32(36) > 7)) r.format = "azw3";
    if (size0 >= 40) r.version = std::to_string(r0.u32(36));

    const std::uint32_t codepage = size0 >= 32 ? r0.u32(28) : 65001;
    if (codepage == 1252)
        r.encoding = "windows-1252";
    else if (codepage != 65001)
        r.warnings.push_back("unknown text encoding " + std::to_string(codepage) +
                             "; read as UTF-8");
    texts text(codepage);

    const bool exth_flag = size0 >= 144 && (r0.u32(128) & 0x40u) != 0;
    if (exth_flag && size0 >= hlen + 28 && r0.tag(16 + hlen, "EXTH"))
        read_exth(r0, hlen, text, r, x);

    // Title: the full name, else the updated title, else the database name.
    if (size0 >= 100) {
        const std::uint64_t off = r0.u32(84), nlen = r0.u32(88);
        if (off != 0 && nlen != 0 && off + nlen <= size0)
            if (const unsigned char *name = r0.bytes(off, nlen)) r.title = text(name, nlen);
    }
    if (r.title.empty()) r.title = !x.updated_title.empty() ? x.updated_title : palm_name(file);
    if (text.replaced()) r.warnings.push_back("invalid bytes in header texts replaced by U+FFFD");
    return 0;
}

// The records after record 0 that the record names: a hybrid book's KF8
// record 0 (its version) and the cover (its size from the record list, its
// type from its first bytes).
void read_linked_records(const eb_source &src, const eb_range &file, std::uint32_t n,
                         const eb_range &r0, const exth_extra &x, eb_record &r) {
    std::uint64_t start = 0, size = 0;
    if (x.boundary != kNone && x.boundary < n && record_at(file, n, x.boundary, &start, &size)) {
        const eb_range k0(src, start, size, 40, &file);
        if (k0.n >= 40 && k0.tag(16, "MOBI")) r.version = std::to_string(k0.u32(36));
    }

    // Cover: first image index (low 16 bits) plus the EXTH offset, summed
    // without wrapping; an index past the record list means no cover.
    const std::uint32_t first_image = r0.n >= 128 ? (r0.u32(108) & 0xFFFFu) : 0;
    if (x.cover != kNone && first_image != 0) {
        const std::uint64_t index = static_cast<std::uint64_t>(first_image) + x.cover;
        if (index < n && record_at(file, n, static_cast<std::uint32_t>(index), &start, &size)) {
            const eb_range img(src, start, size, 4, &file);
            r.cover = eb_cover_info{sniff_mime(img), size, "exth-201"};
        }
    }
}

int read_mobi(const eb_source &src, eb_record &r) {
    const std::uint64_t len = src.size();
    const eb_range file(src, 0, len, kFirstRead);
    if (len < EB_PALM_HEADER) {
        eb_set_error("MOBI too short for PalmDB header");
        return -1;
    }
    const std::uint32_t n = file.u16(76);
    if (len < EB_PALM_HEADER + 8ull * n) {
        eb_set_error("MOBI record list truncated");
        return -1;
    }
    if (n == 0) {
        eb_set_error("MOBI has no records");
        return -1;
    }
    // Record 0 runs to the next record, or to the end of the file when that
    // offset is missing or nonsensical (as the book info reads it).
    const std::uint64_t start0 = file.u32(EB_PALM_HEADER);
    std::uint64_t end0 = n == 1 ? len : file.u32(EB_PALM_HEADER + 8);
    if (start0 >= len) {
        eb_set_error("MOBI record 0 offset invalid");
        return -1;
    }
    if (end0 > len || end0 <= start0) end0 = len;
    const eb_range r0(src, start0, end0 - start0, kFirstRead, &file);
    if (r0.n < 16) {
        eb_set_error("MOBI record 0 too small");
        return -1;
    }

    // The encryption type covers the text records only.
    if (const std::uint32_t enc = r0.u16(12); enc != 0) {
        r.drm = true;
        r.drm_scheme = "mobipocket";
    }
    if (!r0.tag(16, "MOBI")) {
        // A plain PalmDOC database names itself and says nothing more.
        const unsigned char *head = file.bytes(0, EB_PALM_KIND_AT + 8);
        const std::string_view start(reinterpret_cast<const char *>(head),
                                     head ? EB_PALM_KIND_AT + 8 : 0);
        r.format = eb_palm_kind_of(start) == eb_palm_kind::doc ? "palmdoc" : "mobi";
        r.title = palm_name(file);
        if (r.format == "mobi") r.warnings.push_back("no MOBI header; only the database name read");
        return 0;
    }
    exth_extra x;
    if (read_mobi_header(file, r0, r, x) != 0) return -1;
    read_linked_records(src, file, n, r0, x, r);
    return 0;
}

}  // namespace

// A book that changed while it was read says so, whatever the reader made of
// the bytes it got.
int eb_record_mobi(const eb_source &src, eb_record &r) {
    int rc = read_mobi(src, r);
    if (src.failed()) {
        src.report_short_read();
        return -1;
    }
    return rc;
}

int eb_record_mobi(const char *data, std::uint64_t len, eb_record &r) {
    eb_source src(data, len);
    return eb_record_mobi(src, r);
}
