// comic_write.cpp - the CBZ writer: ComicInfo.xml edited in place or made, every page copied raw.
//
// Rules where the format leaves a choice:
// - The ComicInfo.xml the reader reads (the root one, else one a folder
//   down) is edited; a book without one gets one at the root, deflated.
// - Elements are matched in any letter case; new ones go where ComicInfo's
//   schema orders them. Elements the record does not manage (Pages,
//   PageCount, Characters, Count...) are kept byte for byte.
// - Series: the primary in Series/Number, a second in AlternateSeries/
//   AlternateNumber, a third in StoryArc/StoryArcNumber. A primary without
//   index loses Volume too, which the reader would take for its index.
// - Credits: authors in Writer, contributors by role in Penciller,
//   Inker, Colorist (clr), Letterer, CoverArtist (cov), Editor (edt) and
//   Translator (trl), names joined by ", " (so none may hold a comma).
// - Subjects in Genre (Tags, which the reader adds to them, is removed);
//   ISBN or GTIN in GTIN; url identifiers in Web, separated by spaces.
// - Clearing the publisher clears Imprint too, which the reader falls back on.
#include <map>
#include <string>
#include <vector>

#include "error.h"
#include "formats/comic/comic.h"
#include "formats/comic/comic_write.h"
#include "formats/comic/comic_archive.h"
#include "formats/comic/comic_order.h"
#include "io/out_file.h"
#include "io/zip_writer.h"
#include "text/ascii.h"
#include "text/plain_markup.h"
#include "text/xml_patch.h"

namespace {

constexpr const char *kFresh =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n</ComicInfo>\n";

constexpr std::string_view kOrder[] = {"Title",
                                       "Series",
                                       "Number",
                                       "Count",
                                       "Volume",
                                       "AlternateSeries",
                                       "AlternateNumber",
                                       "AlternateCount",
                                       "Summary",
                                       "Notes",
                                       "Year",
                                       "Month",
                                       "Day",
                                       "Writer",
                                       "Penciller",
                                       "Inker",
                                       "Colorist",
                                       "Letterer",
                                       "CoverArtist",
                                       "Editor",
                                       "Translator",
                                       "Publisher",
                                       "Imprint",
                                       "Genre",
                                       "Tags",
                                       "Web",
                                       "PageCount",
                                       "LanguageISO",
                                       "Format",
                                       "BlackAndWhite",
                                       "Manga",
                                       "Characters",
                                       "Teams",
                                       "Locations",
                                       "ScanInformation",
                                       "StoryArc",
                                       "StoryArcNumber",
                                       "SeriesGroup",
                                       "AgeRating",
                                       "Pages",
                                       "CommunityRating",
                                       "MainCharacterOrTeam",
                                       "Review",
                                       "GTIN"};

// The ComicInfo element a contributor's role is credited in.
const char *credit_of(const std::string &role) {
    static const std::map<std::string, const char *> m = {
        {"penciller", "Penciller"}, {"inker", "Inker"},     {"clr", "Colorist"},
        {"letterer", "Letterer"},   {"cov", "CoverArtist"}, {"edt", "Editor"},
        {"trl", "Translator"}};
    const auto it = m.find(role);
    return it == m.end() ? nullptr : it->second;
}

int rank(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kOrder); ++i)
        if (eb_ascii_iequal(kOrder[i], name)) return static_cast<int>(i);
    return -1;
}

class comicinfo {
  public:
    explicit comicinfo(std::string_view doc) : doc_(doc) {}

    bool read() {
        std::string why;
        auto keep = [](const eb_xml_tree &, int, int depth, std::string_view) {
            return depth == 1   ? eb_xml_keep::keep
                   : depth == 2 ? eb_xml_keep::text
                                : eb_xml_keep::skip;
        };
        if (!eb_xml_tree_read(doc_, keep, &t_, &why)) {
            eb_xml_tree_refuse("ComicInfo.xml", why);
            return false;
        }
        p_.emplace(doc_, t_);
        gone_.assign(t_.elems.size(), false);
        return !t_.elems.empty();
    }

    // Sets an element's text (the first of that name), removing its repeats.
    void set(std::string_view name, const std::string &text) {
        const std::vector<int> have = find(name);
        for (std::size_t i = 1; i < have.size(); ++i)
            drop(have[i]);
        if (!have.empty()) return p_->set_text(el(have[0]), text);
        const int r = rank(name);
        int anchor = -1, first_kept = -1;
        for (int k : t_.children(0)) {
            const int kr = rank(el(k).local());
            if (kr >= 0 && kr <= r) anchor = k;
            if (first_kept < 0 && !gone_[static_cast<std::size_t>(k)]) first_kept = k;
        }
        const std::string bytes = p_->element(name, {}, text);
        if (anchor >= 0)
            p_->insert_after(el(anchor), bytes);
        else if (first_kept >= 0)
            p_->insert_before(el(first_kept), bytes);
        else
            p_->append_child(el(0), bytes);
    }
    void clear(std::string_view name) {
        for (int e : find(name))
            drop(e);
    }
    void put(std::string_view name, const std::string &text) {
        if (text.empty())
            clear(name);
        else
            set(name, text);
    }
    bool apply(std::string *out) {
        if (p_->apply(out)) return true;
        eb_set_error("cannot edit ComicInfo.xml: two changes overlap");
        return false;
    }

  private:
    const eb_xml_elem &el(int i) const { return t_.elems[static_cast<std::size_t>(i)]; }
    std::vector<int> find(std::string_view name) const {
        std::vector<int> out;
        for (int k : t_.children(0))
            if (eb_ascii_iequal(el(k).local(), name)) out.push_back(k);
        return out;
    }
    void drop(int e) {
        if (gone_[static_cast<std::size_t>(e)]) return;
        gone_[static_cast<std::size_t>(e)] = true;
        p_->remove(el(e));
    }

    std::string_view doc_;
    eb_xml_tree t_;
    std::optional<eb_xml_patch> p_;
    std::vector<bool> gone_;
};

bool fail(const char *fmt, const std::string &what = "") {
    eb_set_error(fmt, what.c_str());
    return false;
}

// Names joined for one credit element; none may hold the separator.
bool joined(const std::vector<std::string> &names, const char *field, std::string *out) {
    for (const std::string &n : names) {
        if (n.find(',') != std::string::npos) {
            eb_set_error("%s: a ComicInfo list cannot hold a comma: %s", field, n.c_str());
            return false;
        }
        *out += (out->empty() ? "" : ", ") + n;
    }
    return true;
}

bool edit(comicinfo &ci, const eb_changes &c) {
    if (c.title.given) ci.put("Title", c.title.value.value_or(""));
    if (c.series.given) {
        const auto &s = c.series.value ? *c.series.value : std::vector<eb_series>{};
        if (s.size() > 3) return fail("series: comic books store three series at most");
        static constexpr const char *slots[3][2] = {{"Series", "Number"},
                                                    {"AlternateSeries", "AlternateNumber"},
                                                    {"StoryArc", "StoryArcNumber"}};
        for (std::size_t i = 0; i < 3; ++i) {
            ci.put(slots[i][0], i < s.size() ? s[i].name : "");
            ci.put(slots[i][1], i < s.size() ? s[i].index : "");
        }
        if (!s.empty() && s[0].index.empty()) ci.clear("Volume");
    }
    if (c.published.given) {
        const std::string v = c.published.value.value_or("");
        if (v.size() > 10) return fail("published: comic books store a date without a time");
        ci.put("Year", v.substr(0, 4));
        ci.put("Month", v.size() >= 7 ? v.substr(5, 2) : "");
        ci.put("Day", v.size() >= 10 ? v.substr(8, 2) : "");
    }
    if (c.description.given)
        ci.put("Summary", c.description.value ? eb_plain_to_markup(*c.description.value) : "");
    if (c.authors.given) {
        std::vector<std::string> names;
        for (const eb_person &p : c.authors.value.value_or(std::vector<eb_person>{})) {
            if (!p.sort.empty()) return fail("authors: comic books store no sort form: %s", p.sort);
            names.push_back(p.name);
        }
        std::string w;
        if (!joined(names, "authors", &w)) return false;
        ci.put("Writer", w);
    }
    if (c.contributors.given) {
        std::map<std::string, std::vector<std::string>> credits;
        for (const char *role : {"penciller", "inker", "clr", "letterer", "cov", "edt", "trl"})
            credits[credit_of(role)];
        for (const eb_person &p : c.contributors.value.value_or(std::vector<eb_person>{})) {
            const char *credit = credit_of(p.role);
            if (!credit) return fail("contributors: role %s not stored by comic books", p.role);
            if (!p.sort.empty())
                return fail("contributors: comic books store no sort form: %s", p.sort);
            credits[credit].push_back(p.name);
        }
        for (const auto &[credit, names] : credits) {
            std::string v;
            if (!joined(names, "contributors", &v)) return false;
            ci.put(credit, v);
        }
    }
    if (c.publisher.given) {
        ci.put("Publisher", c.publisher.value.value_or(""));
        if (!c.publisher.value) ci.clear("Imprint");
    }
    if (c.subjects.given) {
        std::string g;
        if (!joined(c.subjects.value.value_or(std::vector<std::string>{}), "subjects", &g))
            return false;
        ci.put("Genre", g);
        ci.clear("Tags");
    }
    if (c.languages.given) {
        const auto &l = c.languages.value.value_or(std::vector<std::string>{});
        if (l.size() > 1) return fail("language: comic books store one language");
        ci.put("LanguageISO", l.empty() ? "" : l[0]);
    }
    if (c.identifiers.given) {
        std::string gtin, web;
        for (const eb_identifier &id : c.identifiers.value.value_or(std::vector<eb_identifier>{})) {
            if (id.scheme == "url") {
                if (id.value.find_first_of(" \t,") != std::string::npos)
                    return fail("identifiers: a Web address cannot hold a space or comma: %s",
                                id.value);
                web += (web.empty() ? "" : " ") + id.value;
            } else if ((id.scheme == "isbn" || id.scheme == "gtin") && gtin.empty()) {
                gtin = id.value;
            } else {
                return fail(
                    "identifiers: comic books store one ISBN or GTIN and Web addresses, "
                    "not %s",
                    id.scheme);
            }
        }
        ci.put("GTIN", c.isbn.value.value_or(gtin));
        ci.put("Web", web);
    } else if (c.isbn.given) {
        ci.put("GTIN", c.isbn.value.value_or(""));
    }
    return true;
}

int write_cbz(const eb_source &book, const eb_record &, const eb_changes &c, int out_fd) {
    const eb_zip_archive za(book);
    if (!za.ok()) {
        eb_set_error("not a comic archive: %s", book.path());
        return -1;
    }
    const eb_comic_archive ar(za);
    const eb_comic_member *info = eb_comic_find_doc(ar.members(), "ComicInfo.xml");
    std::string doc = kFresh, edited;
    if (info) {
        const std::string name(info->name);
        switch (ar.read(*info, EB_COMIC_DOC_CAP, &doc)) {
            case eb_comic_read::ok:
                break;
            case eb_comic_read::too_large:
                return fail("zip member too large: %s", name), -1;
            default:
                return fail("cannot read %s", name), -1;
        }
    }
    comicinfo ci(doc);
    if (!ci.read() || !edit(ci, c) || !ci.apply(&edited)) return -1;
    eb_zip_rewrite rw(za);
    rw.set_time(c.now);
    if (info)
        rw.replace(info->ordinal, std::move(edited));
    else
        rw.add("ComicInfo.xml", std::move(edited), false);
    eb_out_file out(out_fd);
    if (!rw.write(out)) return -1;
    return za.source_failed() ? (book.report_short_read(), -1) : 0;
}

}  // namespace

const eb_format_writer eb_cbz_writer = {"comic books",
                                        EB_W_TITLE | EB_W_AUTHORS | EB_W_CONTRIBUTORS |
                                            EB_W_LANGUAGES | EB_W_SERIES | EB_W_IDENTIFIERS |
                                            EB_W_ISBN | EB_W_PUBLISHER | EB_W_PUBLISHED |
                                            EB_W_DESCRIPTION | EB_W_SUBJECTS,
                                        write_cbz};
