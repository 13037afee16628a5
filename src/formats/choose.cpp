// choose.cpp - a book's format chosen through the format table: by the ending of its name, else by
// its content, for the full record and for the cover.
#include <cstdint>
#include <vector>

#include "error.h"
#include "formats/registry.h"
#include "text/ascii.h"

const eb_format *eb_format_by_name(const char *name, std::string_view *suffix) {
    *suffix = {};
    if (!name) return nullptr;
    for (const eb_format &f : eb_formats())
        for (std::string_view e : f.extensions)
            if (eb_ascii_iends_with(name, e)) {
                *suffix = e;
                return &f;
            }
    return nullptr;
}

const eb_format *eb_format_named(std::string_view format) {
    for (const eb_format &f : eb_formats())
        if (f.name == format) return &f;
    return nullptr;
}

bool eb_name_refused(const char *name) {
    return name && eb_ascii_iends_with(name, ".zip");
}

namespace {

struct probe_step {
    const eb_format *format;
    bool (*holds)(eb_book &);
};

// Every content test of the table in the order they run, made once.
const std::vector<probe_step> &probe_order() {
    static const std::vector<probe_step> order = [] {
        std::vector<probe_step> o;
        for (auto w = static_cast<std::uint8_t>(eb_probe::zip_comic);
             w <= static_cast<std::uint8_t>(eb_probe::late); ++w)
            for (const eb_format &f : eb_formats())
                for (const eb_content_test &t : f.content)
                    if (t.holds && static_cast<std::uint8_t>(t.when) == w)
                        o.push_back({&f, t.holds});
        return o;
    }();
    return order;
}

}  // namespace

// Fewer than four bytes say nothing of any format.
const eb_format *eb_format_by_content(eb_book &b) {
    if (b.src().size() < 4) return nullptr;
    for (const probe_step &s : probe_order()) {
        if (s.holds(b)) return s.format;
        if (b.failed()) return nullptr;
    }
    return nullptr;
}

const eb_format *eb_format_for_info(std::string_view ext) {
    for (const eb_format &f : eb_formats())
        for (std::string_view e : f.info_extensions)
            if (e.substr(1) == ext) return &f;
    return nullptr;
}

int eb_read_record(const eb_source &src, const char *name, const char *label, eb_record &r) {
    eb_book b(src, name, label);
    std::string_view suffix;
    const eb_format *f = eb_format_by_name(name, &suffix);
    if (f) {
        b.chosen_by(suffix);
        if (f->vet && !f->vet(b)) {
            if (src.failed()) return -1;  // the caller says so
            f = nullptr;
        }
    } else if (!eb_name_refused(name)) {
        f = eb_format_by_content(b);
        if (b.failed()) return -1;
    }
    if (f) {
        const int rc = f->read(b, r);
        if (rc != EB_NOT_THIS_FORMAT) return rc;
    }
    eb_set_error("unsupported ebook format: %s", label);
    return -1;
}

int eb_format_cover(const eb_source &src, const char *name, unsigned char **data,
                    std::uint64_t *len) {
    std::string_view suffix;
    const eb_format *named = eb_format_by_name(name, &suffix);
    if (named && named->cover) return named->cover(src, name, false, data, len);
    // Rows share their cover function (the comic archives'): each is asked once.
    const std::span<const eb_format> rows = eb_formats();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto cover = rows[i].cover;
        bool asked = false;
        for (std::size_t j = 0; j < i && !asked; ++j)
            asked = rows[j].cover == cover;
        if (!cover || asked) continue;
        if (const int rc = cover(src, name, true, data, len); rc != 1) return rc;
    }
    return 1;
}
