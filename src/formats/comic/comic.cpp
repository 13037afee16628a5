// comic.cpp - the comic archive reader: archive by content, metadata by precedence, pages and
// cover.
#include "formats/comic/comic.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "error.h"
#include "formats/comic/comic_archive.h"
#include "formats/comic/comic_meta.h"
#include "formats/comic/comic_order.h"
#include "formats/detect.h"
#include "io/file.h"
#include "text/encoding.h"

namespace {

const char *kind_word(eb_comic_kind k) {
    switch (k) {
        case eb_comic_kind::zip:
            return "ZIP";
        case eb_comic_kind::rar4:
        case eb_comic_kind::rar5:
            return "RAR";
        case eb_comic_kind::sevenzip:
            return "7z";
        default:
            return "tar";
    }
}

const char *format_of(eb_comic_kind k) {
    switch (k) {
        case eb_comic_kind::zip:
            return "cbz";
        case eb_comic_kind::rar4:
        case eb_comic_kind::rar5:
            return "cbr";
        case eb_comic_kind::sevenzip:
            return "cb7";
        case eb_comic_kind::tar:
            return "cbt";
        case eb_comic_kind::none:
            break;
    }
    return "";
}

std::string ext_of(const char *name) {
    char ext[32];
    eb_ext_lower(name, ext, sizeof ext);
    return ext;
}

// A member's name where it enters the record: valid UTF-8.
std::string text_of(std::string_view name) {
    return eb_utf8_valid(name) ? std::string(name) : eb_utf8_repair(name, nullptr);
}

// One archive's reading: what the record states, and the cover it chose.
class comic_reader {
  public:
    comic_reader(const eb_comic_archive &ar, eb_record &r) : ar_(ar), r_(r) {}

    // 0; -1 with the error text set; 1 when require_info and the archive
    // holds no ComicInfo.xml (nothing said then).
    int run(bool require_info) {
        const auto &members = ar_.members();
        bool encrypted = ar_.header_encrypted();
        for (const eb_comic_member &m : members)
            encrypted = encrypted || m.encrypted;
        const eb_comic_member *info = eb_comic_find_doc(members, "ComicInfo.xml");
        if (require_info && !info) return 1;
        r_.format = format_of(ar_.kind());
        r_.warnings = ar_.warnings();
        if (encrypted) {
            r_.drm = true;
            r_.drm_scheme = "archive-password";
        }
        if (ar_.header_encrypted()) {
            r_.warnings.push_back("archive headers are encrypted: member names need a password");
            return 0;
        }
        // Each source fills only what those before it left empty.
        eb_comic_meta ci, cbi, comet;
        if (info && read_doc(*info, [&](std::string_view d) { ci = eb_comicinfo_read(d); }) < 0)
            return -1;
        eb_comicbookinfo_read(ar_.comment(), &cbi);
        const eb_comic_member *cm = eb_comic_find_doc(members, "comet.xml");
        if (cm && read_doc(*cm, [&](std::string_view d) { comet = eb_comet_read(d); }) < 0)
            return -1;
        const std::uint64_t stated = ci.page_count ? ci.page_count : comet.page_count;
        for (eb_comic_meta *m : {&ci, &cbi, &comet})
            eb_comic_fill(r_, *m);
        if (!ar_.complete()) {
            if (stated) r_.pages = stated;
            r_.warnings.push_back(
                "image count and cover unknown: not every member could be listed");
            return 0;
        }
        const std::vector<const eb_comic_member *> pages = eb_comic_pages(members);
        r_.pages = stated ? stated : pages.size();
        if (stated && stated != pages.size())
            r_.warnings.push_back("PageCount " + std::to_string(stated) + " differs from the " +
                                  std::to_string(pages.size()) + " images in the archive");
        cover_ = eb_comic_choose_cover(pages, ci.front_cover, comet.cover_name, &r_.warnings);
        if (cover_.member)
            r_.cover = eb_cover_info{std::string(eb_comic_image_mime(cover_.member->name)),
                                     cover_.member->size, cover_.from};
        return 0;
    }

    const eb_comic_member *cover() const { return cover_.member; }

  private:
    // A metadata document, handed to use when it could be read; one that
    // cannot be read is a warning, one above the cap fails the book.
    template <typename F>
    int read_doc(const eb_comic_member &m, F use) {
        std::string doc;
        const std::string shown = text_of(m.name);
        switch (ar_.read(m, EB_COMIC_DOC_CAP, &doc)) {
            case eb_comic_read::ok:
                use(doc);
                return 0;
            case eb_comic_read::too_large:
                eb_set_error("zip member too large: %s", std::string(m.name).c_str());
                return -1;
            case eb_comic_read::encrypted:
                r_.warnings.push_back(shown + " is encrypted; not read");
                return 0;
            case eb_comic_read::over_budget:
                r_.warnings.push_back(shown +
                                      " not read: it lies past the 64 MiB a solid archive may "
                                      "decompress");
                return 0;
            case eb_comic_read::damaged:
                r_.warnings.push_back(shown + " cannot be read");
                return 0;
        }
        return 0;
    }

    const eb_comic_archive &ar_;
    eb_record &r_;
    eb_comic_cover_choice cover_;
};

bool libarchive_kind(eb_comic_kind k) {
    return k == eb_comic_kind::rar4 || k == eb_comic_kind::rar5 || k == eb_comic_kind::sevenzip ||
           k == eb_comic_kind::tar;
}

// The archive a comic's name promises, whatever its bytes are: by
// signature, else a ZIP found from its end (bytes before it), else, for
// .cbt, an old tar without the POSIX signature. Empty with the error text
// set when it is none of these.
void open_named(const eb_source &src, const char *name, const char *label,
                std::optional<eb_comic_archive> &ar) {
    eb_comic_sniff sniff = eb_comic_sniff_source(src);
    if (src.failed()) return;
    if (sniff.kind == eb_comic_kind::none) sniff.kind = eb_comic_kind::zip;
    ar.emplace(src, sniff);
    if (!ar->opened() && sniff.kind == eb_comic_kind::zip && ext_of(name) == "cbt") {
        ar.reset();
        sniff.kind = eb_comic_kind::tar;
        ar.emplace(src, sniff);
    }
    if (!ar->opened() && !src.failed()) {
        if (ar->warnings().empty())
            eb_set_error("not a comic archive: %s", label);
        else
            eb_set_error("not a comic archive: %s (%s)", label, ar->warnings().back().c_str());
        ar.reset();
    }
}

// A book that fell short while it was read says so, whatever else failed.
int finish(const eb_source &src, const eb_comic_archive &ar, int rc) {
    if (ar.source_failed() || src.failed()) {
        src.report_short_read();
        return -1;
    }
    return rc;
}

}  // namespace

int eb_record_comic(const eb_source &src, const char *name, const char *label, eb_record &r) {
    std::optional<eb_comic_archive> ar;
    open_named(src, name, label, ar);
    if (!ar) {
        if (src.failed()) src.report_short_read();
        return -1;
    }
    int rc = comic_reader(*ar, r).run(false);
    const std::string ext = ext_of(name);
    if (rc == 0 && !ext.empty() && ext != r.format)
        r.warnings.push_back("extension ." + ext + " but the content is a " +
                             kind_word(ar->kind()) + " archive, read as " + r.format);
    return finish(src, *ar, rc);
}

int eb_record_comic_by_content(const eb_source &src, const char *, eb_record &r) {
    const eb_comic_sniff sniff = eb_comic_sniff_source(src);
    if (!libarchive_kind(sniff.kind)) return 1;
    const eb_comic_archive ar(src, sniff);
    eb_record scratch;
    const int rc = comic_reader(ar, scratch).run(true);
    if (rc == 1) return src.failed() ? finish(src, ar, -1) : 1;
    r = std::move(scratch);
    return finish(src, ar, rc);
}

bool eb_comic_zip_by_content(const eb_zip_archive &za) {
    if (!za.ok() || za.find("META-INF/container.xml") >= 0) return false;
    const eb_comic_archive ar(za);
    return eb_comic_find_doc(ar.members(), "ComicInfo.xml") != nullptr;
}

int eb_record_comic_zip(const eb_zip_archive &za, const char *, eb_record &r) {
    const eb_comic_archive ar(za);
    return comic_reader(ar, r).run(false);
}

int eb_comic_cover(const eb_source &src, const char *name, bool by_content, unsigned char **data,
                   std::uint64_t *len) {
    *data = nullptr;
    *len = 0;
    const char *label = name ? name : "(memory)";
    std::optional<eb_zip_archive> za;
    std::optional<eb_comic_archive> ar;
    if (by_content) {
        const eb_comic_sniff sniff = eb_comic_sniff_source(src);
        if (sniff.kind == eb_comic_kind::zip) {
            za.emplace(src);
            if (!eb_comic_zip_by_content(*za)) {
                if (!src.failed()) return 1;
                src.report_short_read();
                return -1;
            }
            ar.emplace(*za);
        } else if (libarchive_kind(sniff.kind)) {
            ar.emplace(src, sniff);
        } else {
            return src.failed() ? (src.report_short_read(), -1) : 1;
        }
    } else {
        open_named(src, name, label, ar);
        if (!ar) {
            if (src.failed()) src.report_short_read();
            return -1;
        }
    }
    eb_record r;
    comic_reader reader(*ar, r);
    int rc = reader.run(by_content);
    if (rc != 0) return rc == 1 ? finish(src, *ar, 1) : finish(src, *ar, -1);
    if (ar->header_encrypted()) {
        eb_set_error("archive headers are encrypted: %s; will not decrypt", label);
        return finish(src, *ar, -1);
    }
    const eb_comic_member *m = reader.cover();
    if (!m) {
        if (ar->complete())
            eb_set_error("no cover image found");
        else
            eb_set_error("no cover image found: not every member of %s could be listed", label);
        return finish(src, *ar, -1);
    }
    char *block = nullptr;
    const std::string member(m->name);
    switch (ar->read_block(*m, EB_MAX_FILE, &block, len)) {
        case eb_comic_read::ok:
            if (finish(src, *ar, 0) != 0) {
                std::free(block);
                *len = 0;
                return -1;
            }
            *data = reinterpret_cast<unsigned char *>(block);
            return 0;
        case eb_comic_read::encrypted:
            eb_set_error("cover image is encrypted: %s; will not decrypt", member.c_str());
            break;
        case eb_comic_read::too_large:
            eb_set_error("zip member too large: %s", member.c_str());
            break;
        case eb_comic_read::over_budget:
            eb_set_error("cover image lies past the 64 MiB a solid archive may decompress: %s",
                         member.c_str());
            break;
        case eb_comic_read::damaged:
            eb_set_error("cannot read cover image: %s", member.c_str());
            break;
    }
    *len = 0;
    return finish(src, *ar, -1);
}
