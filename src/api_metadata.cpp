// api_metadata.cpp - the exports ebook_metadata and ebook_metadata_from_memory, reader choice.
#include <cstring>
#include <string>
#include <string_view>

#include "eb_internal.h"
#include "formats/full_readers.h"
#include "formats/zip_books.h"
#include "full_record.h"
#include "io/zip_archive.h"
#include "text/encoding.h"

namespace {

enum class reader { none, epub, fb2, fb2_zip, mobi, zip_by_content };

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
    if (e == "zip") *refused = true;
    return reader::none;
}

// A FictionBook document: its root element's name near an XML start, in
// UTF-8 (with or without a byte order mark) or in UTF-16 of either order.
bool looks_like_fb2(std::string_view d) {
    if (d.size() >= 3 && d.substr(0, 3) == "\xEF\xBB\xBF") d.remove_prefix(3);
    bool utf16 = d.size() >= 2 &&
                 ((d[0] == '\xFF' && d[1] == '\xFE') || (d[0] == '\xFE' && d[1] == '\xFF') ||
                  (d[0] == '<' && d[1] == '\0') || (d[0] == '\0' && d[1] == '<'));
    if (utf16) {
        // The ASCII of the first few kilobytes is enough to see the root.
        std::string narrow;
        for (std::size_t i = 0; i < d.size() && i < 8192; ++i)
            if (d[i] != '\0') narrow += d[i];
        return narrow.find("<FictionBook") != std::string::npos ||
               narrow.find("<fictionbook") != std::string::npos;
    }
    bool xmlish = d.substr(0, 5) == "<?xml" || d.substr(0, 64).find('<') != std::string_view::npos;
    return xmlish && (d.find("<FictionBook") != std::string_view::npos ||
                      d.find("<fictionbook") != std::string_view::npos);
}

reader by_content(std::string_view d) {
    if (d.size() < 4) return reader::none;
    if (d[0] == 'P' && d[1] == 'K') return reader::zip_by_content;
    if (d.size() == 4) return reader::none;
    if (looks_like_fb2(d)) return reader::fb2;
    if (d.size() >= 68 && (d.substr(60, 8) == "BOOKMOBI" || d.substr(60, 8) == "TEXtREAd"))
        return reader::mobi;
    return reader::none;
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
    int rc = eb_record_fb2(doc, r);
    r.container = "fb2.zip";
    return rc;
}

int read_book(const char *name, const char *data, std::uint64_t len, eb_record &r) {
    const char *label = name ? name : "(memory)";
    bool refused = false;
    reader which = by_name(name, &refused);
    if (which == reader::none && !refused) which = by_content(std::string_view(data, len));
    switch (which) {
        case reader::epub:
            return eb_record_epub(data, len, r);
        case reader::fb2:
            return eb_record_fb2(std::string_view(data, len), r);
        case reader::mobi:
            return eb_record_mobi(data, len, r);
        case reader::fb2_zip:
            return read_fb2_zip(eb_zip_archive(data, len), label, r);
        case reader::zip_by_content: {
            // Any ZIP under another name: an EPUB when it has a container,
            // else a single zipped FictionBook; the archive is opened once.
            eb_zip_archive za(data, len);
            if (za.ok() && za.find("META-INF/container.xml") < 0 && eb_zip_fb2_member(za) >= 0)
                return read_fb2_zip(za, label, r);
            return eb_record_epub_zip(za, r);
        }
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

char *describe(const char *name, const char *data, std::uint64_t len) {
    eb_record r;
    if (read_book(name, data, len, r) != 0 && !r.drm) return nullptr;
    ensure_utf8(r);
    // Notices live in the record's warnings; after a success the text is empty.
    eb_clear_error();
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

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata(const char *path) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    return guarded([&]() -> char * {
        char *raw = nullptr;
        std::uint64_t len = 0;
        if (eb_read_file(path, &raw, &len) != 0) return nullptr;
        eb_unique<char> bytes(raw);
        return describe(path, bytes.get(), len);
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
        return describe(name, static_cast<const char *>(data), static_cast<std::uint64_t>(len));
    });
}
