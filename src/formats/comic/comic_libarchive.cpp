// comic_libarchive.cpp - RAR, 7z and tar through libarchive over the book source, names as UTF-8.
#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "formats/comic/comic_archive.h"
#include "heap.h"

namespace {

// libarchive converts names stored as UTF-16 (7z, RAR 4's Unicode names)
// into the calling thread's locale, and in the "C" locale every character
// beyond ASCII would be lost. Each call therefore runs with a UTF-8
// character type on its own thread, whatever locale the host chose, and
// gives the thread its locale back afterwards.
class utf8_names {
  public:
    utf8_names() {
        static thread_local holder h;
        if (h.loc) old_ = uselocale(h.loc);
    }
    ~utf8_names() {
        if (old_) uselocale(old_);
    }
    utf8_names(const utf8_names &) = delete;
    utf8_names &operator=(const utf8_names &) = delete;

  private:
    struct holder {
        locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        ~holder() {
            if (loc) freelocale(loc);
        }
    };
    locale_t old_ = nullptr;
};

// The callbacks' state: a position in the book source. Bytes in memory are
// handed over in place; a file is read through one buffer, 4 KiB after each
// jump and twice as much with each read that follows on, so that listing a
// tar of large pages reads its headers, not 64 KiB behind each of them.
struct cursor {
    static constexpr std::size_t kFirst = 4096;
    const eb_source *src;
    std::uint64_t pos = 0;
    std::size_t ahead = kFirst;
    unsigned char buf[65536];
};

la_ssize_t on_read(archive *a, void *ud, const void **out) {
    auto *c = static_cast<cursor *>(ud);
    const std::uint64_t size = c->src->size();
    if (c->pos >= size) return 0;
    const std::uint64_t left = size - c->pos;
    if (const unsigned char *mem = c->src->memory()) {
        const std::uint64_t n = left < (1u << 20) ? left : (1u << 20);
        *out = mem + c->pos;
        c->pos += n;
        return static_cast<la_ssize_t>(n);
    }
    const std::size_t n = left < c->ahead ? static_cast<std::size_t>(left) : c->ahead;
    if (!c->src->read(c->pos, c->buf, n)) {
        archive_set_error(a, EIO, "short read");
        return ARCHIVE_FATAL;
    }
    *out = c->buf;
    c->pos += n;
    if (c->ahead < sizeof c->buf) c->ahead *= 2;
    return static_cast<la_ssize_t>(n);
}

la_int64_t on_skip(archive *, void *ud, la_int64_t n) {
    auto *c = static_cast<cursor *>(ud);
    const std::uint64_t size = c->src->size();
    if (n <= 0 || c->pos >= size) return 0;
    const std::uint64_t left = size - c->pos;
    const std::uint64_t step =
        static_cast<std::uint64_t>(n) < left ? static_cast<std::uint64_t>(n) : left;
    c->pos += step;
    c->ahead = cursor::kFirst;
    return static_cast<la_int64_t>(step);
}

la_int64_t on_seek(archive *, void *ud, la_int64_t off, int whence) {
    auto *c = static_cast<cursor *>(ud);
    const auto size = static_cast<la_int64_t>(c->src->size());
    const la_int64_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? static_cast<la_int64_t>(c->pos)
                                                 : size;
    if ((off < 0 && -off > base) || (off > 0 && off > INT64_MAX - base)) return ARCHIVE_FATAL;
    c->pos = static_cast<std::uint64_t>(base + off);
    c->ahead = cursor::kFirst;
    return base + off;
}

struct archive_free {
    void operator()(archive *a) const noexcept { archive_read_free(a); }
};
using archive_ptr = std::unique_ptr<archive, archive_free>;

// An archive of the one format asked for (no other is tried), opened over
// the cursor. Null when libarchive has no memory for it; check open_ok.
archive_ptr open_archive(cursor &c, eb_comic_kind kind, bool *open_ok) {
    archive_ptr a(archive_read_new());
    *open_ok = false;
    if (!a) return a;
    switch (kind) {
        case eb_comic_kind::rar4:
            archive_read_support_format_rar(a.get());
            break;
        case eb_comic_kind::rar5:
            archive_read_support_format_rar5(a.get());
            break;
        case eb_comic_kind::sevenzip:
            archive_read_support_format_7zip(a.get());
            break;
        default:
            archive_read_support_format_tar(a.get());
            break;
    }
    archive_read_set_read_callback(a.get(), on_read);
    archive_read_set_skip_callback(a.get(), on_skip);
    archive_read_set_seek_callback(a.get(), on_seek);
    archive_read_set_callback_data(a.get(), &c);
    *open_ok = archive_read_open1(a.get()) == ARCHIVE_OK;
    return a;
}

std::string error_of(archive *a) {
    const char *e = a ? archive_error_string(a) : nullptr;
    return e ? e : "unknown error";
}

// The entry's name as stored, in UTF-8 where libarchive decoded it; bytes
// it could not convert stay as they are.
std::string_view name_of(archive_entry *e) {
    const char *p = archive_entry_pathname(e);
    if (!p) p = archive_entry_pathname_utf8(e);
    return p ? std::string_view(p) : std::string_view();
}

// Reads the current member's data to its end, counting it against *left;
// false as soon as it goes past. Data that cannot be read is left to
// libarchive's next header.
bool passed_within(archive *a, std::uint64_t *left) {
    char buf[65536];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buf, sizeof buf);
        if (n <= 0) return true;
        if (static_cast<std::uint64_t>(n) > *left) return false;
        *left -= static_cast<std::uint64_t>(n);
    }
}

}  // namespace

eb_comic_listing eb_la_list(const eb_source &src, eb_comic_kind kind) {
    eb_comic_listing l;
    // libarchive allocates for every member a 7z directory declares before
    // it lists one: the counts are read first.
    if (kind == eb_comic_kind::sevenzip) {
        const eb_7z_directory d = eb_7z_check(src);
        if (!d.ok && !d.encrypted) {
            l.warnings.push_back("archive listing stopped after 0 entries: " + d.why);
            return l;
        }
    }
    const utf8_names names;
    std::unique_ptr<cursor> c(new cursor);  // the buffer needs no zeroing
    c->src = &src;
    bool open_ok = false;
    archive_ptr a = open_archive(*c, kind, &open_ok);
    if (!a) throw std::bad_alloc();
    if (!open_ok) {
        l.warnings.push_back("archive cannot be read: " + error_of(a.get()));
        return l;
    }
    for (std::uint64_t ordinal = 0;; ++ordinal) {
        archive_entry *e = nullptr;
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF) {
            l.complete = true;
            break;
        }
        if (r < ARCHIVE_WARN) {
            // A 7z whose directory is encrypted says so only now.
            if (ordinal == 0 && archive_read_has_encrypted_entries(a.get()) == 1)
                l.header_encrypted = true;
            else
                l.warnings.push_back("archive listing stopped after " + std::to_string(ordinal) +
                                     " entries: " + error_of(a.get()));
            break;
        }
        if (ordinal >= EB_COMIC_MAX_MEMBERS) {
            l.warnings.push_back("archive listing stopped after " + std::to_string(ordinal) +
                                 " entries: too many members");
            break;
        }
        if (archive_entry_filetype(e) != AE_IFREG) continue;
        const std::string_view name = name_of(e);
        const std::uint64_t size = archive_entry_size_is_set(e) && archive_entry_size(e) > 0
                                       ? static_cast<std::uint64_t>(archive_entry_size(e))
                                       : 0;
        const bool encrypted = archive_entry_is_data_encrypted(e) > 0;
        l.files.push_back({l.names.size(), name.size(), size, ordinal, encrypted});
        l.names.append(name);
    }
    return l;
}

eb_comic_read eb_la_read(const eb_source &src, eb_comic_kind kind, const eb_comic_member &m,
                         std::uint64_t cap, std::uint64_t *unsized, char **out,
                         std::uint64_t *len) {
    *out = nullptr;
    *len = 0;
    const utf8_names names;
    std::unique_ptr<cursor> c(new cursor);  // the buffer needs no zeroing
    c->src = &src;
    bool open_ok = false;
    archive_ptr a = open_archive(*c, kind, &open_ok);
    if (!a) throw std::bad_alloc();
    if (!open_ok) return eb_comic_read::damaged;
    archive_entry *e = nullptr;
    for (std::uint64_t i = 0;; ++i) {
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF || r < ARCHIVE_WARN) return eb_comic_read::damaged;
        if (i == m.ordinal) break;
        // In a solid archive libarchive decompresses each member to pass
        // it; one that states no size ("size unknown" in RAR 5) is read here
        // instead, so that what it decompresses to is counted.
        if (unsized && !(archive_entry_size_is_set(e) && archive_entry_size(e) > 0) &&
            archive_entry_filetype(e) == AE_IFREG && !passed_within(a.get(), unsized))
            return eb_comic_read::over_budget;
    }
    // The entry must still be the one listed: the book may have changed.
    if (name_of(e) != m.name) return eb_comic_read::damaged;
    if (archive_entry_is_data_encrypted(e) > 0) return eb_comic_read::encrypted;
    // The declared size sizes the first block, up to 16 MiB; a member that
    // claims more than it holds costs no more than it holds.
    std::uint64_t room = m.size < (16u << 20) ? m.size + 1 : (16u << 20);
    eb_unique<char> block(static_cast<char *>(std::malloc(room)));
    if (!block) throw std::bad_alloc();
    std::uint64_t got = 0;
    for (;;) {
        if (got == room) {
            const std::uint64_t more = room * 2 < cap + 1 ? room * 2 : cap + 1;
            if (more <= room) return eb_comic_read::too_large;
            char *grown = static_cast<char *>(std::realloc(block.get(), more));
            if (!grown) throw std::bad_alloc();
            block.release();
            block.reset(grown);
            room = more;
        }
        const la_ssize_t n = archive_read_data(a.get(), block.get() + got, room - got);
        if (n < 0) return eb_comic_read::damaged;
        if (n == 0) break;
        got += static_cast<std::uint64_t>(n);
        if (got > cap) return eb_comic_read::too_large;
    }
    if (m.size != 0 && got != m.size) return eb_comic_read::damaged;
    *out = block.release();
    *len = got;
    return eb_comic_read::ok;
}
