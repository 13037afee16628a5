// api_metadata.cpp - the exports of the full record (from a file, memory or a read callback),
// reader choice.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "error.h"
#include "formats/comic.h"
#include "formats/detect.h"
#include "formats/full_readers.h"
#include "formats/zip_books.h"
#include "full_record.h"
#include "io/file.h"
#include "io/source.h"
#include "io/zip_archive.h"
#include "quenfold_ebook.h"
#include "text/encoding.h"

namespace {

enum class reader { none, epub, fb2, fb2_zip, mobi, zip_by_content, comic, comic_by_content, pdf };

// The reader a name chooses by its extension; none when it names none.
// ".zip" alone names no book: an archive of several books is common, and
// only ".fb2.zip" promises one FictionBook inside.
reader by_name(const char *name, bool *refused) {
    *refused = false;
    if (!name) return reader::none;
    if (eb_ascii_iends_with(name, ".fb2.zip")) return reader::fb2_zip;
    char ext[32];
    eb_ext_lower(name, ext, sizeof ext);
    std::string_view e(ext);
    if (e == "epub") return reader::epub;
    if (e == "fb2") return reader::fb2;
    if (e == "fbz") return reader::fb2_zip;
    // Older Mobipocket books often carry the PalmDB extensions.
    if (e == "mobi" || e == "azw" || e == "azw3" || e == "prc" || e == "pdb") return reader::mobi;
    if (eb_comic_name(name)) return reader::comic;
    if (e == "pdf") return reader::pdf;
    if (e == "zip") *refused = true;
    return reader::none;
}

std::string_view skip_bom(std::string_view d) {
    if (d.size() >= 3 && d.substr(0, 3) == "\xEF\xBB\xBF") d.remove_prefix(3);
    return d;
}

// UTF-16 of either order: a byte order mark, or '<' beside a NUL.
bool utf16_start(std::string_view d) {
    return d.size() >= 2 &&
           ((d[0] == '\xFF' && d[1] == '\xFE') || (d[0] == '\xFE' && d[1] == '\xFF') ||
            (d[0] == '<' && d[1] == '\0') || (d[0] == '\0' && d[1] == '<'));
}

bool xml_start(std::string_view d) {
    return d.substr(0, 5) == "<?xml" || d.substr(0, 64).find('<') != std::string_view::npos;
}

// Whether a document starting with these bytes may be a FictionBook: only
// such a text is read whole to look for the root element.
bool may_be_fb2(std::string_view head) {
    head = skip_bom(head);
    return utf16_start(head) || xml_start(head);
}

// A FictionBook document: its root element's name near an XML start, in
// UTF-8 (with or without a byte order mark) or in UTF-16 of either order.
bool looks_like_fb2(std::string_view d) {
    d = skip_bom(d);
    if (utf16_start(d)) {
        // The ASCII of the first few kilobytes is enough to see the root.
        std::string narrow;
        for (std::size_t i = 0; i < d.size() && i < 8192; ++i)
            if (d[i] != '\0') narrow += d[i];
        return narrow.find("<FictionBook") != std::string::npos ||
               narrow.find("<fictionbook") != std::string::npos;
    }
    return xml_start(d) && (d.find("<FictionBook") != std::string_view::npos ||
                            d.find("<fictionbook") != std::string_view::npos);
}

// A book's whole text, which the FictionBook reader needs: the caller's bytes
// as they are, or the file read in one request into the thread's reusable
// block ("file too large: %s" above 512 MiB).
class whole_text {
  public:
    explicit whole_text(const eb_source &src) {
        if (src.memory()) {
            text_ = std::string_view(reinterpret_cast<const char *>(src.memory()), src.size());
            ok_ = true;
            return;
        }
        book_.emplace(src);
        ok_ = book_->ok();
        if (ok_) text_ = std::string_view(book_->data(), book_->size());
    }
    bool ok() const { return ok_; }
    std::string_view text() const { return text_; }

  private:
    std::optional<eb_whole_book> book_;
    std::string_view text_;
    bool ok_ = false;
};

// A PDF header within the first 1,024 bytes, where PDF readers look for it.
bool pdf_header(const eb_source &src) {
    char head[1024];
    const std::size_t n =
        src.size() < sizeof head ? static_cast<std::size_t>(src.size()) : sizeof head;
    return src.read(0, head, n) &&
           std::string_view(head, n).find("%PDF-") != std::string_view::npos;
}

// The reader the content chooses. The first 68 bytes decide, except for a
// text that may be a FictionBook: that one is read whole into *whole, and
// kept for the reader; and for a PDF header after other bytes, looked for
// last. none with the error text set when a read fails.
reader by_content(const eb_source &src, std::optional<whole_text> &whole) {
    const std::uint64_t len = src.size();
    if (len < 4) return reader::none;
    char head[68];
    const std::size_t n = len < sizeof head ? static_cast<std::size_t>(len) : sizeof head;
    if (!src.read(0, head, n)) return reader::none;
    const std::string_view h(head, n);
    if (h[0] == 'P' && h[1] == 'K') return reader::zip_by_content;
    if (h.find("%PDF-") != std::string_view::npos) return reader::pdf;
    if (eb_comic_signature(src)) return reader::comic_by_content;
    if (len == 4) return reader::none;
    if (may_be_fb2(h)) {
        whole.emplace(src);
        if (!whole->ok()) return reader::none;
        if (looks_like_fb2(whole->text())) return reader::fb2;
    }
    if (n >= 68 && (h.substr(60, 8) == "BOOKMOBI" || h.substr(60, 8) == "TEXtREAd"))
        return reader::mobi;
    return pdf_header(src) ? reader::pdf : reader::none;
}

// The one FictionBook document of a zipped FB2, read as that document.
int read_fb2_zip(const eb_zip_archive &za, const char *label, eb_record &r) {
    if (!za.ok()) {
        eb_set_error("not a valid ZIP archive");
        return -1;
    }
    std::int64_t idx = eb_zip_fb2_member(za);
    if (idx < 0) {
        eb_set_error("no single FB2 document in ZIP: %s", label);
        return -1;
    }
    std::string doc;
    switch (za.read(static_cast<std::uint64_t>(idx), EB_ZIP_DOC_CAP, &doc)) {
        case eb_zip_read::ok:
            break;
        case eb_zip_read::too_large:
            eb_set_error("zip member too large: %s", std::string(za.name(idx)).c_str());
            return -1;
        default:
            eb_set_error("missing zip entry: %s", std::string(za.name(idx)).c_str());
            return -1;
    }
    // The one member is a FictionBook only if it reads as one, whatever its name.
    if (!looks_like_fb2(doc)) {
        eb_set_error("no single FB2 document in ZIP: %s", label);
        return -1;
    }
    int rc = eb_record_fb2(doc, r);
    r.container = "fb2.zip";
    return rc;
}

// The FictionBook reader over the whole text, read now unless the content
// test already read it.
int read_fb2(const eb_source &src, std::optional<whole_text> &whole, eb_record &r) {
    if (!whole) whole.emplace(src);
    if (!whole->ok()) return -1;
    return eb_record_fb2(whole->text(), r);
}

// A ZIP under any name: one archive handle for the call. A zipped FB2 by
// name, else an EPUB when the archive has a container, else a single zipped
// FictionBook, else an EPUB (whose reader says what is missing).
int read_zip(const eb_source &src, reader which, const char *label, eb_record &r) {
    const eb_zip_archive za(src);
    int rc = 0;
    if (which == reader::fb2_zip)
        rc = read_fb2_zip(za, label, r);
    else if (eb_comic_zip_by_content(za))
        rc = eb_record_comic_zip(za, label, r);
    else if (za.ok() && za.find("META-INF/container.xml") < 0 && eb_zip_fb2_member(za) >= 0)
        rc = read_fb2_zip(za, label, r);
    else
        rc = eb_record_epub_zip(za, r);
    // A short read is the source's to report (describe does).
    return za.source_failed() ? -1 : rc;
}

int read_book(const char *name, const char *label, const eb_source &src, eb_record &r) {
    bool refused = false;
    reader which = by_name(name, &refused);
    std::optional<whole_text> whole;
    if (which == reader::none && !refused) {
        which = by_content(src, whole);
        if (src.failed() || (whole && !whole->ok())) return -1;
    }
    switch (which) {
        case reader::epub:
            return eb_record_epub(src, r);
        case reader::fb2:
            return read_fb2(src, whole, r);
        case reader::mobi:
            if (eb_palm_book(src)) return eb_record_mobi(src, r);
            if (src.failed()) return -1;  // describe says so
            break;
        case reader::fb2_zip:
        case reader::zip_by_content:
            return read_zip(src, which, label, r);
        case reader::comic:
            return eb_record_comic(src, name, label, r);
        case reader::comic_by_content:
            if (int rc = eb_record_comic_by_content(src, label, r); rc != 1) return rc;
            break;
        case reader::pdf:
            return eb_record_pdf(src, r);
        case reader::none:
            break;
    }
    eb_set_error("unsupported ebook format: %s", label);
    return -1;
}

// The readers promise valid UTF-8; should one slip, the host still gets valid
// JSON, with the bad bytes replaced and a warning saying so.
void ensure_utf8(eb_record &r) {
    bool replaced = false;
    auto fix = [&](std::string &s) {
        if (!eb_utf8_valid(s)) {
            s = eb_utf8_repair(s, nullptr);
            replaced = true;
        }
    };
    auto fix_opt = [&](std::optional<std::string> &s) {
        if (s) fix(*s);
    };
    for (std::string *s : {&r.format, &r.title, &r.title_sort, &r.subtitle, &r.language,
                           &r.publisher, &r.published, &r.modified, &r.rights, &r.description})
        fix(*s);
    fix_opt(r.container);
    fix_opt(r.version);
    fix_opt(r.drm_scheme);
    fix_opt(r.encoding);
    for (auto *list : {&r.authors, &r.contributors})
        for (eb_person &p : *list) {
            fix(p.name);
            fix(p.sort);
            fix(p.role);
        }
    for (auto *list : {&r.languages, &r.subjects, &r.warnings})
        for (std::string &s : *list)
            fix(s);
    for (eb_series &s : r.series) {
        fix(s.name);
        fix(s.index);
    }
    for (eb_identifier &id : r.identifiers) {
        fix(id.scheme);
        fix(id.value);
    }
    if (r.cover) {
        fix(r.cover->mime);
        fix(r.cover->from);
    }
    if (replaced) r.warnings.push_back("invalid UTF-8 replaced");
}

// A book that changed while it was read gives no record, protected or not:
// what was read of it cannot be trusted.
// label: what "unsupported ebook format: %s" names when name is null.
int read_record(const char *name, const eb_source &src, const char *label, eb_record &r) {
    const int rc = read_book(name, name ? name : label, src, r);
    if (src.failed()) {
        src.report_short_read();
        return -1;
    }
    if (rc != 0 && !r.drm) return -1;
    ensure_utf8(r);
    eb_record_settle(r);
    // Notices live in the record's warnings; after a success the text is empty.
    eb_clear_error();
    return 0;
}

char *describe(const char *name, const eb_source &src, const char *label = "(memory)") {
    eb_record r;
    if (read_record(name, src, label, r) != 0) return nullptr;
    return eb_record_to_json(r);
}

// No exception may cross the C boundary; the only ones possible here are
// allocation failures.
template <typename F>
char *guarded(F f) noexcept {
    try {
        return f();
    } catch (...) {
        eb_set_error("out of memory");
        return nullptr;
    }
}

}  // namespace

int eb_read_record(const char *name, const eb_source &src, eb_record &r) {
    return read_record(name, src, "(memory)", r);
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata(const char *path) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    return guarded([&]() -> char * {
        // One descriptor for the call; each reader asks only for the ranges
        // it needs (the FictionBook reader for the whole text).
        eb_source src;
        if (!src.open(path)) return nullptr;
        return describe(path, src);
    });
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata_from_memory(const void *data, size_t len,
                                                               const char *name) noexcept {
    eb_clear_error();
    if (!data) {
        eb_set_error("NULL data");
        return nullptr;
    }
    return guarded([&]() -> char * {
        const eb_source src(data, static_cast<std::uint64_t>(len));
        return describe(name, src);
    });
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata_from_reader(ebook_read_fn read, void *ctx,
                                                               unsigned long long size,
                                                               const char *name) noexcept {
    eb_clear_error();
    if (!read) {
        eb_set_error("NULL read");
        return nullptr;
    }
    return guarded([&]() -> char * {
        const eb_source src(read, ctx, size, name);
        return describe(name, src, src.path());
    });
}
