// comic_archive.cpp - the archive kind by signature, members over ZIP or the other listings, reads
// under the solid budget.
#include "formats/comic/comic_archive.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/lazy_readers.h"
#include "heap.h"
#include "io/cursor.h"

namespace {

constexpr std::string_view kRar4("Rar!\x1A\x07\x00", 7);
constexpr std::string_view kRar5("Rar!\x1A\x07\x01\x00", 8);
constexpr std::string_view k7z("7z\xBC\xAF\x27\x1C", 6);

// RAR 5's first header: the archive encryption header when every header is
// encrypted, else the main archive header with its flags.
void sniff_rar5(std::string_view h, eb_comic_sniff &s) {
    eb_cursor c(h);
    c.skip(kRar5.size() + 4);  // past the header's CRC
    c.vint();                  // header size
    const std::uint64_t type = c.vint();
    if (!c.ok()) return;
    if (type == 4) {
        s.header_encrypted = true;
        return;
    }
    const std::uint64_t flags = c.vint();
    if (type != 1 || !c.ok()) return;
    if (flags & 1) c.vint();  // extra area size
    if (flags & 2) c.vint();  // data size
    const std::uint64_t archive_flags = c.vint();
    if (c.ok()) s.solid = archive_flags & 0x0004;
}

}  // namespace

eb_comic_sniff eb_comic_sniff_source(const eb_source &src) {
    char head[EB_COMIC_SNIFF];
    const std::size_t n =
        src.size() < sizeof head ? static_cast<std::size_t>(src.size()) : sizeof head;
    if (!src.read(0, head, n)) return {};
    return eb_comic_sniff_bytes(std::string_view(head, n));
}

eb_comic_sniff eb_comic_sniff_bytes(std::string_view h) {
    eb_comic_sniff s;
    if (h.size() > EB_COMIC_SNIFF) h = h.substr(0, EB_COMIC_SNIFF);
    const std::size_t n = h.size();
    if (h.substr(0, kRar5.size()) == kRar5) {
        s.kind = eb_comic_kind::rar5;
        sniff_rar5(h, s);
    } else if (h.substr(0, kRar4.size()) == kRar4) {
        // The archive header follows the marker: CRC, type 0x73, flags.
        s.kind = eb_comic_kind::rar4;
        if (n >= 12 && static_cast<unsigned char>(h[9]) == 0x73) {
            const unsigned flags = eb_le16(reinterpret_cast<const unsigned char *>(h.data()) + 10);
            s.solid = flags & 0x0008;
            s.header_encrypted = flags & 0x0080;
        }
    } else if (h.substr(0, k7z.size()) == k7z) {
        s.kind = eb_comic_kind::sevenzip;
    } else if (n == EB_COMIC_SNIFF && h.substr(257, 5) == "ustar") {
        s.kind = eb_comic_kind::tar;
    } else if (n >= 4 && h[0] == 'P' && h[1] == 'K' &&
               ((h[2] == 3 && h[3] == 4) || (h[2] == 5 && h[3] == 6) || (h[2] == 7 && h[3] == 8))) {
        s.kind = eb_comic_kind::zip;
    }
    return s;
}

eb_comic_archive::eb_comic_archive(const eb_source &src, const eb_comic_sniff &sniff)
    : src_(&src), kind_(sniff.kind), solid_(sniff.solid) {
    switch (kind_) {
        case eb_comic_kind::zip:
            own_zip_ = std::make_unique<eb_zip_archive>(src);
            zip_ = own_zip_.get();
            break;
        case eb_comic_kind::rar5:
            if (sniff.header_encrypted) {
                opened_ = header_encrypted_ = true;
                return;
            }
            take(eb_rar5_list(src, &solid_));
            return;
        case eb_comic_kind::rar4:
            if (sniff.header_encrypted) {
                opened_ = header_encrypted_ = true;
                return;
            }
            take(eb_rar4_list(src, &solid_));
            return;
        case eb_comic_kind::sevenzip:
        case eb_comic_kind::tar:
            // 7z keeps its directory at the end and lists without touching
            // data, but a member's data lies behind those decompressed in
            // the same block; the blocks are not told, so every 7z counts as
            // solid.
            if (kind_ == eb_comic_kind::sevenzip) solid_ = true;
            take(eb_lazy_archive_list(src, kind_));
            return;
        case eb_comic_kind::none:
            return;
    }
    list_zip();
}

eb_comic_archive::eb_comic_archive(const eb_zip_archive &za)
    : kind_(eb_comic_kind::zip), zip_(&za) {
    list_zip();
}

// The central directory as the handle keeps it; names stay the handle's.
void eb_comic_archive::list_zip() {
    if (!zip_->ok()) return;
    opened_ = complete_ = true;
    for (std::uint64_t i = 0; i < zip_->count(); ++i) {
        if (members_.size() >= EB_COMIC_MAX_MEMBERS) {
            complete_ = false;
            warnings_.push_back("archive listing stopped after " + std::to_string(i) +
                                " entries: too many members");
            break;
        }
        std::string_view name = zip_->name(i);
        if (name.empty() || name.back() == '/') continue;
        std::uint64_t size = 0;
        zip_->size(i, &size);
        members_.push_back({name, size, i, zip_->encrypted(i)});
    }
}

eb_comic_archive::~eb_comic_archive() = default;

// The listing's names move into this object once; the members' views point
// into them and never move again.
void eb_comic_archive::take(eb_comic_listing &&l) {
    names_ = std::move(l.names);
    // An archive of which nothing at all could be listed is no comic.
    opened_ = l.complete || !l.files.empty() || l.header_encrypted;
    complete_ = l.complete;
    header_encrypted_ = l.header_encrypted;
    warnings_ = std::move(l.warnings);
    members_.reserve(l.files.size());
    for (const eb_comic_listing::entry &e : l.files)
        members_.push_back({std::string_view(names_).substr(e.name_at, e.name_len), e.size,
                            e.ordinal, e.encrypted});
}

std::string_view eb_comic_archive::comment() const {
    return zip_ ? zip_->comment() : std::string_view();
}

bool eb_comic_archive::source_failed() const {
    if (zip_) return zip_->source_failed();
    return src_ && src_->failed();
}

eb_comic_read eb_comic_archive::read_block(const eb_comic_member &m, std::uint64_t cap, char **out,
                                           std::uint64_t *len) const {
    *out = nullptr;
    *len = 0;
    if (m.encrypted) return eb_comic_read::encrypted;
    if (zip_) {
        switch (zip_->read_block(m.ordinal, cap, out, len)) {
            case eb_zip_read::ok:
                return eb_comic_read::ok;
            case eb_zip_read::too_large:
                return eb_comic_read::too_large;
            default:
                return eb_comic_read::damaged;
        }
    }
    if (m.size > cap) return eb_comic_read::too_large;
    if (!solid_) return eb_lazy_archive_read(*src_, kind_, m, cap, nullptr, out, len);
    // Everything before the member is decompressed to reach it: what states
    // its size counts by that size, the rest by what it decompresses to.
    std::uint64_t cost = m.size;
    for (const eb_comic_member &o : members_)
        if (o.ordinal < m.ordinal) cost += o.size;
    if (spent_ + cost > EB_COMIC_SOLID_BUDGET) return eb_comic_read::over_budget;
    std::uint64_t unsized = EB_COMIC_SOLID_BUDGET - spent_ - cost;
    const std::uint64_t allowed = unsized;
    const eb_comic_read r = eb_lazy_archive_read(*src_, kind_, m, cap, &unsized, out, len);
    spent_ += cost + (allowed - unsized);
    return r;
}

eb_comic_read eb_comic_archive::read(const eb_comic_member &m, std::uint64_t cap,
                                     std::string *out) const {
    out->clear();
    char *block = nullptr;
    std::uint64_t len = 0;
    eb_comic_read r = read_block(m, cap, &block, &len);
    eb_unique<char> owner(block);
    if (r == eb_comic_read::ok) out->assign(block, len);
    return r;
}
