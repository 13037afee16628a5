// mobi_write.cpp - a Mobipocket book written anew: the PalmDB header and record list, the rebuilt
// record 0s and cover, and every other record copied from the old book byte for byte.
#include "formats/mobi/mobi_write.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "error.h"
#include "formats/mobi/mobi_record0.h"
#include "io/write_out.h"

namespace {

constexpr std::uint64_t kPalmHeader = 78;  // fixed PalmDB header, then the record list
constexpr std::uint64_t kModifiedAt = 40;  // the database's modification date
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Seconds from 1904-01-01, the PalmOS epoch, to 1970-01-01.
constexpr std::uint64_t kPalmEpoch = 2082844800u;

std::uint32_t u32(std::string_view b, std::uint64_t at) {
    const auto *p = reinterpret_cast<const unsigned char *>(b.data() + at);
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void put_u32(std::string &b, std::uint64_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b[at + k] = static_cast<char>(v >> (24 - 8 * k));
}

// The PalmDB header and record list, and where each record lies: off[i]
// to off[i + 1], the last to the end of the file.
struct palm_layout {
    std::string head;  // the header and the list, [0, 78 + 8n)
    std::uint32_t n = 0;
    std::vector<std::uint64_t> off;  // n + 1 entries
};

bool read_layout(const eb_source &book, palm_layout &l) {
    const std::uint64_t size = book.size();
    std::string h(kPalmHeader, '\0');
    if (size < kPalmHeader || !book.read(0, h.data(), kPalmHeader)) {
        eb_set_error("MOBI too short for PalmDB header");
        return false;
    }
    l.n = static_cast<unsigned char>(h[76]) << 8 | static_cast<unsigned char>(h[77]);
    const std::uint64_t list_end = kPalmHeader + 8ull * l.n;
    l.head = std::move(h);
    l.head.resize(list_end);
    if (l.n == 0 || size < list_end ||
        !book.read(kPalmHeader, l.head.data() + kPalmHeader, list_end - kPalmHeader)) {
        eb_set_error("MOBI record list is damaged; write refused, nothing changed");
        return false;
    }
    // Records in ascending order, inside the file, after the list: the
    // only layout in which shifting them keeps every one whole.
    std::uint64_t last = list_end;
    for (std::uint32_t i = 0; i < l.n; ++i) {
        const std::uint64_t o = u32(l.head, kPalmHeader + 8ull * i);
        if (o < last || o > size) {
            eb_set_error("MOBI record list is damaged; write refused, nothing changed");
            return false;
        }
        l.off.push_back(last = o);
    }
    l.off.push_back(size);
    return true;
}

bool read_record(const eb_source &book, const palm_layout &l, std::uint32_t i, std::string *out) {
    out->assign(l.off[i + 1] - l.off[i], '\0');
    if (book.read(l.off[i], out->data(), out->size())) return true;
    book.report_short_read();
    return false;
}

// The modification date in the epoch the book's creation date uses: PalmOS
// counts from 1904 (dates after 1972 have the top bit set), most Kindle
// tools from 1970.
std::uint32_t palm_date(const std::string &head, const std::string &now) {
    std::tm tm{};
    std::time_t t = std::time(nullptr);
    if (std::sscanf(now.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) == 6) {
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        t = timegm(&tm);
    }
    const bool palm = u32(head, 36) >= 0x80000000u;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(t) + (palm ? kPalmEpoch : 0));
}

bool is_image(std::string_view b) {
    return (b.size() >= 3 && b.substr(0, 3) == "\xFF\xD8\xFF") ||
           (b.size() >= 4 && (b.substr(0, 4) == "\x89PNG" || b.substr(0, 4) == "GIF8")) ||
           (b.size() >= 2 && b.substr(0, 2) == "BM");
}

// The record a new cover replaces: the image the EXTH cover offset names.
bool cover_record(const eb_source &book, const palm_layout &l, const eb_mobi_record0 &r0,
                  std::uint32_t boundary, std::uint32_t *index) {
    const std::uint32_t k = r0.exth_u32(201), first = r0.first_image();
    const std::uint64_t i = std::uint64_t{first} + k;
    char magic[4] = {};
    const std::uint64_t len = i < l.n ? l.off[i + 1] - l.off[i] : 0;
    if (k == kNone || first == 0 || i >= l.n || i == boundary || len == 0 ||
        !book.read(l.off[i], magic, len < 4 ? len : 4) ||
        !is_image({magic, len < 4 ? static_cast<std::size_t>(len) : 4})) {
        eb_set_error(
            "cover: this MOBI book names no cover image to replace; write refused, "
            "nothing changed");
        return false;
    }
    *index = static_cast<std::uint32_t>(i);
    return true;
}

// Record 0, a combined book's KF8 record 0 and the cover: their new bytes
// by record index.
bool new_records(const eb_source &book, const palm_layout &l, const eb_changes &changes,
                 std::map<std::uint32_t, std::string> &out) {
    std::string bytes;
    eb_mobi_record0 r0;
    if (!read_record(book, l, 0, &bytes) || !eb_mobi_parse_record0(std::move(bytes), r0) ||
        !eb_mobi_rebuild_record0(r0, changes, &out[0]))
        return false;
    // The KF8 part's record 0 states the same metadata for KF8 readers.
    const std::uint32_t boundary = r0.exth_u32(121);
    if (boundary != kNone && boundary > 0 && boundary < l.n) {
        eb_mobi_record0 k8;
        if (!read_record(book, l, boundary, &bytes) ||
            !eb_mobi_parse_record0(std::move(bytes), k8) ||
            !eb_mobi_rebuild_record0(k8, changes, &out[boundary]))
            return false;
    }
    if (changes.cover.sets()) {
        if (changes.cover.value->mime == "image/webp") {
            eb_set_error("cover: MOBI books hold JPEG, PNG or GIF images, not WebP");
            return false;
        }
        std::uint32_t i = 0;
        if (!cover_record(book, l, r0, boundary, &i)) return false;
        out[i] = changes.cover.value->bytes;
    }
    return true;
}

}  // namespace

int eb_write_mobi(const eb_source &book, const eb_record &, const eb_changes &changes, int out_fd) {
    palm_layout l;
    std::map<std::uint32_t, std::string> changed;
    if (!read_layout(book, l) || !new_records(book, l, changes, changed)) return -1;

    // Every record after a changed one moves by the change in its length.
    std::int64_t shift = 0;
    for (std::uint32_t i = 0; i < l.n; ++i) {
        const std::int64_t at = static_cast<std::int64_t>(l.off[i]) + shift;
        if (at > static_cast<std::int64_t>(kNone)) {
            eb_set_error(
                "MOBI book would outgrow its 32-bit offsets; write refused, nothing "
                "changed");
            return -1;
        }
        put_u32(l.head, kPalmHeader + 8ull * i, static_cast<std::uint32_t>(at));
        if (auto it = changed.find(i); it != changed.end())
            shift += static_cast<std::int64_t>(it->second.size()) -
                     static_cast<std::int64_t>(l.off[i + 1] - l.off[i]);
    }
    put_u32(l.head, kModifiedAt, palm_date(l.head, changes.now));

    // The header, whatever lies between the list and record 0, then the
    // records: runs of unchanged ones copied in one go.
    if (!eb_write_all(out_fd, l.head)) return -1;
    std::uint64_t copy_from = l.head.size();
    for (const auto &[i, bytes] : changed) {
        if (!eb_copy_range(book, copy_from, l.off[i] - copy_from, out_fd) ||
            !eb_write_all(out_fd, bytes))
            return -1;
        copy_from = l.off[i + 1];
    }
    return eb_copy_range(book, copy_from, l.off[l.n] - copy_from, out_fd) ? 0 : -1;
}

const eb_format_writer eb_mobi_writer = {"MOBI books", eb_mobi_stores, eb_write_mobi};
const eb_format_writer eb_azw3_writer = {"AZW3 books", eb_mobi_stores, eb_write_mobi};
