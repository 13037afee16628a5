// zip_writer.cpp - raw copies of untouched members, new members deflated, a new directory.
#include "io/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "error.h"
#include "io/cursor.h"

namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50, kEntrySig = 0x02014b50, kEndSig = 0x06054b50;
constexpr std::uint32_t kEnd64Sig = 0x06064b50, kLocatorSig = 0x07064b50, kDescSig = 0x08074b50;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;

void put16(std::string &s, std::uint64_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string &s, std::uint64_t v) {
    put16(s, v & 0xFFFF);
    put16(s, (v >> 16) & 0xFFFF);
}
void put64(std::string &s, std::uint64_t v) {
    put32(s, v & kMax32);
    put32(s, v >> 32);
}
void set32(std::string &s, std::size_t at, std::uint64_t v) {
    for (int k = 0; k < 4; ++k)
        s[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
}
void set64(std::string &s, std::size_t at, std::uint64_t v) {
    set32(s, at, v & kMax32);
    set32(s, at + 4, v >> 32);
}
std::uint32_t get32(std::string_view s, std::size_t at) {
    return eb_le32(reinterpret_cast<const unsigned char *>(s.data()) + at);
}
std::uint16_t get16(std::string_view s, std::size_t at) {
    return eb_le16(reinterpret_cast<const unsigned char *>(s.data()) + at);
}

// An extra field without its ZIP64 block: the writer states sizes and
// offsets itself.
std::string without_zip64(std::string_view extra) {
    std::string out;
    std::size_t i = 0;
    while (i + 4 <= extra.size()) {
        const std::size_t n = get16(extra, i + 2);
        if (i + 4 + n > extra.size()) break;
        if (get16(extra, i) != 0x0001) out.append(extra.substr(i, 4 + n));
        i += 4 + n;
    }
    return out;
}

// MS-DOS date and time of "YYYY-MM-DDThh:mm:ssZ" (1980-01-01 when unreadable).
void dos_time(const std::string &iso, std::uint16_t *time, std::uint16_t *date) {
    int y = 1980, mo = 1, d = 1, h = 0, mi = 0, s = 0;
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 || y < 1980)
        y = 1980, mo = 1, d = 1, h = mi = s = 0;
    *date = static_cast<std::uint16_t>((y - 1980) << 9 | mo << 5 | d);
    *time = static_cast<std::uint16_t>(h << 11 | mi << 5 | s / 2);
}

bool deflate_all(const std::string &in, std::string *out) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out->resize(deflateBound(&z, static_cast<uLong>(in.size())) + 16);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef *>(out->data());
    z.avail_out = static_cast<uInt>(out->size());
    const int rc = deflate(&z, Z_FINISH);
    out->resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

void eb_zip_rewrite::replace(std::uint64_t member, std::string data) {
    changes_.push_back({member, false, std::move(data)});
}

void eb_zip_rewrite::remove(std::uint64_t member) {
    changes_.push_back({member, true, {}});
}

void eb_zip_rewrite::add(std::string name, std::string data, bool stored) {
    added_.push_back({std::move(name), std::move(data), stored});
}

const eb_zip_rewrite::change *eb_zip_rewrite::changed(std::uint64_t i) const {
    for (const change &c : changes_)
        if (c.member == i) return &c;
    return nullptr;
}

namespace {

// n bytes of the book at off.
bool book_bytes(const eb_zip_index &x, std::uint64_t off, std::uint64_t n, std::string *out) {
    if (const unsigned char *p = x.at(off, n)) {
        out->assign(reinterpret_cast<const char *>(p), n);
        return true;
    }
    out->resize(n);
    return x.src->read(off, out->data(), n);
}

// The member's directory entry as the book stores it.
std::string_view entry_bytes(const eb_zip_index &x, const eb_zip_entry &m) {
    const auto *e = x.dir + m.name_at - 46;
    const std::string_view head(reinterpret_cast<const char *>(e), 46);
    const std::size_t len = 46 + m.stored_name_len + m.extra_len + get16(head, 32);
    return {reinterpret_cast<const char *>(e), len};
}

// The entry with its local header's new offset, in the ZIP64 block when
// the entry keeps its offset there.
bool set_offset(std::string &entry, std::uint64_t stated) {
    if (get32(entry, 42) != kMax32) {
        if (stated >= kMax32) return false;
        set32(entry, 42, stated);
        return true;
    }
    const std::size_t name = get16(entry, 28), extra = get16(entry, 30);
    std::size_t i = 46 + name;
    const std::size_t end = i + extra;
    while (i + 4 <= end) {
        const std::size_t n = get16(entry, i + 2);
        if (get16(entry, i) == 0x0001) {
            std::size_t at = i + 4;
            if (get32(entry, 24) == kMax32) at += 8;  // uncompressed size first
            if (get32(entry, 20) == kMax32) at += 8;  // then the compressed size
            if (at + 8 > i + 4 + n) return false;
            set64(entry, at, stated);
            return true;
        }
        i += 4 + n;
    }
    return false;
}

}  // namespace

bool eb_zip_rewrite::copy_member(eb_out_file &out, std::uint64_t i, std::string *entry) {
    const eb_zip_index &x = za_.index();
    const eb_zip_entry &m = x.members[i];
    const std::string shown(za_.name(i));
    std::string head;
    if (!book_bytes(x, m.local, 30, &head) || get32(head, 0) != kLocalSig) {
        eb_set_error("cannot copy zip member %s: no local header where the directory says",
                     shown.c_str());
        return false;
    }
    const std::uint64_t name_len = get16(head, 26), extra_len = get16(head, 28);
    std::string name;
    const std::string_view stored(reinterpret_cast<const char *>(x.dir + m.name_at),
                                  m.stored_name_len);
    if (name_len != m.stored_name_len || !book_bytes(x, m.local + 30, name_len, &name) ||
        name != stored) {
        eb_set_error("cannot copy zip member %s: its local header names another", shown.c_str());
        return false;
    }
    const std::uint64_t data_end = m.local + 30 + name_len + extra_len + m.comp_size;
    std::uint64_t total = data_end - m.local;
    if (m.flags & 0x0008) {
        // A data descriptor follows: an optional signature, the CRC, then
        // both sizes in 4 or 8 bytes, whichever agrees with the directory.
        std::string d;
        const std::uint64_t avail = x.src->size() > data_end ? x.src->size() - data_end : 0;
        if (!book_bytes(x, data_end, std::min<std::uint64_t>(24, avail), &d)) return false;
        std::size_t at = d.size() >= 4 && get32(d, 0) == kDescSig ? 4 : 0;
        std::uint64_t len = 0;
        if (d.size() >= at + 12 && get32(d, at) == m.crc && get32(d, at + 4) == m.comp_size &&
            get32(d, at + 8) == m.size)
            len = at + 12;
        else if (d.size() >= at + 20 && get32(d, at) == m.crc &&
                 (get32(d, at + 4) | std::uint64_t{get32(d, at + 8)} << 32) == m.comp_size)
            len = at + 20;
        if (len == 0) {
            eb_set_error(
                "cannot copy zip member %s: its data descriptor disagrees with the "
                "directory",
                shown.c_str());
            return false;
        }
        total += len;
    }
    const std::uint64_t at = out.offset();
    *entry = std::string(entry_bytes(x, m));
    if (!set_offset(*entry, at - x.shift)) {
        eb_set_error("cannot write an archive this large without ZIP64 offsets");
        return false;
    }
    return out.copy(*x.src, m.local, total);
}

bool eb_zip_rewrite::write_new(eb_out_file &out, const std::string &name, const std::string &data,
                               bool stored, const eb_zip_entry *old, std::string *entry) {
    const eb_zip_index &x = za_.index();
    std::string comp;
    if (stored) {
        comp = data;
    } else if (!deflate_all(data, &comp)) {
        eb_set_error("out of memory");
        return false;
    }
    if (data.size() >= kMax32 || comp.size() >= kMax32) {
        eb_set_error("zip member too large to write: %s", name.c_str());
        return false;
    }
    std::uint16_t flags = 0, made = 0x0314, time = 0, date = 0, internal = 0;
    std::uint32_t external = 0100644u << 16;
    std::string local_extra, central_extra, comment;
    dos_time(now_, &time, &date);
    for (unsigned char c : name)
        if (c >= 0x80) flags = 0x0800;  // the name is UTF-8
    const bool keep_extra = old && name != "mimetype";
    if (old) {
        const std::string_view e = entry_bytes(x, *old);
        made = get16(e, 4);
        flags = get16(e, 8) & 0x0800;
        time = get16(e, 12);
        date = get16(e, 14);
        internal = get16(e, 36);
        external = get32(e, 38);
        const std::size_t n = old->stored_name_len, ex = old->extra_len;
        if (keep_extra) central_extra = without_zip64(e.substr(46 + n, ex));
        comment = std::string(e.substr(46 + n + ex));
        std::string head, lextra;
        if (keep_extra && book_bytes(x, old->local, 30, &head) && get32(head, 0) == kLocalSig &&
            book_bytes(x, old->local + 30 + get16(head, 26), get16(head, 28), &lextra))
            local_extra = without_zip64(lextra);
    }
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
    const std::uint64_t at = out.offset(), stated = at - x.shift;
    const bool far = stated >= kMax32;
    if (far) {  // the offset in a ZIP64 block of its own
        central_extra += std::string("\x01\x00\x08\x00", 4);
        put64(central_extra, stated);
    }
    std::string h;
    put32(h, kLocalSig);
    put16(h, 20);
    put16(h, flags);
    put16(h, stored ? 0 : 8);
    put16(h, time);
    put16(h, date);
    put32(h, crc);
    put32(h, comp.size());
    put32(h, data.size());
    put16(h, name.size());
    put16(h, local_extra.size());
    h += name;
    h += local_extra;
    std::string &c = *entry;
    c.clear();
    put32(c, kEntrySig);
    put16(c, made);
    put16(c, far ? 45 : 20);
    put16(c, flags);
    put16(c, stored ? 0 : 8);
    put16(c, time);
    put16(c, date);
    put32(c, crc);
    put32(c, comp.size());
    put32(c, data.size());
    put16(c, name.size());
    put16(c, central_extra.size());
    put16(c, comment.size());
    put16(c, 0);
    put16(c, internal);
    put32(c, external);
    put32(c, far ? kMax32 : stated);
    c += name;
    c += central_extra;
    c += comment;
    return out.put(h) && out.put(comp);
}

bool eb_zip_rewrite::write(eb_out_file &out) {
    const eb_zip_index &x = za_.index();
    const std::uint64_t count = x.members.size();
    std::vector<std::uint64_t> order(count);
    for (std::uint64_t i = 0; i < count; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint64_t a, std::uint64_t b) {
        return x.members[a].local < x.members[b].local;
    });
    // A stub before the archive stays where it is.
    const std::uint64_t first = count ? x.members[order[0]].local : 0;
    if (first > 0 && first <= x.dir_start && !out.copy(*x.src, 0, first)) return false;

    std::int64_t mimetype = -1;
    if (mimetype_first_)
        for (std::uint64_t i = 0; i < count && mimetype < 0; ++i)
            if (za_.name(i) == "mimetype" && !changed(i)) mimetype = static_cast<std::int64_t>(i);
    std::vector<std::string> entries(count);
    if (mimetype >= 0) {
        const auto i = static_cast<std::uint64_t>(mimetype);
        const eb_zip_entry &m = x.members[i];
        std::string head;
        const bool fine = order[0] == i && m.method == 0 && !(m.flags & 0x0001) &&
                          book_bytes(x, m.local, 30, &head) && get16(head, 28) == 0;
        std::string text;
        if (fine) {
            if (!copy_member(out, i, &entries[i])) return false;
        } else if (za_.read(i, 1024, &text) != eb_zip_read::ok) {
            eb_set_error("cannot read zip member mimetype");
            return false;
        } else if (!write_new(out, "mimetype", text, true, &m, &entries[i])) {
            return false;
        }
    }
    for (std::uint64_t i : order) {
        if (static_cast<std::int64_t>(i) == mimetype) continue;
        const change *c = changed(i);
        if (c && c->removed) continue;
        const bool ok =
            c ? write_new(out, std::string(za_.name(i)), c->data, false, &x.members[i], &entries[i])
              : copy_member(out, i, &entries[i]);
        if (!ok) return false;
    }
    for (const added &a : added_) {
        entries.emplace_back();
        if (!write_new(out, a.name, a.data, a.stored, nullptr, &entries.back())) return false;
    }
    const std::uint64_t dir_at = out.offset();
    std::uint64_t written = 0;
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (entries[i].empty()) continue;  // removed
        if (!out.put(entries[i])) return false;
        ++written;
    }
    const std::uint64_t dir_size = out.offset() - dir_at, dir_stated = dir_at - x.shift;
    std::string tail;
    if (x.zip64 || written >= 0xFFFF || dir_stated >= kMax32 || dir_size >= kMax32) {
        const std::uint64_t rec = out.offset() - x.shift;
        put32(tail, kEnd64Sig);
        put64(tail, 44);
        put16(tail, 45);
        put16(tail, 45);
        put32(tail, 0);
        put32(tail, 0);
        put64(tail, written);
        put64(tail, written);
        put64(tail, dir_size);
        put64(tail, dir_stated);
        put32(tail, kLocatorSig);
        put32(tail, 0);
        put64(tail, rec);
        put32(tail, 1);
    }
    put32(tail, kEndSig);
    put16(tail, 0);
    put16(tail, 0);
    put16(tail, std::min<std::uint64_t>(written, 0xFFFF));
    put16(tail, std::min<std::uint64_t>(written, 0xFFFF));
    put32(tail, std::min(dir_size, kMax32));
    put32(tail, std::min(dir_stated, kMax32));
    put16(tail, x.comment.size());
    tail += x.comment;
    return out.put(tail) && out.flush();
}
