// verify.cpp - what the new book states, field by field, against the request and the old book.
#include "ops/write/verify.h"

#include <algorithm>
#include <string_view>
#include <tuple>

#include "error.h"
#include "ops/write/changes.h"

namespace {

bool is_isbn(const eb_identifier &i) {
    return i.scheme == "isbn" || i.scheme == "isbn-invalid";
}

std::string isbn_of(const eb_record &r) {
    for (const eb_identifier &i : r.identifiers)
        if (i.scheme == "isbn") return i.value;
    return {};
}

bool same_id(const eb_identifier &a, const eb_identifier &b) {
    return a.scheme == b.scheme && a.value == b.value;
}

bool has_id(const std::vector<eb_identifier> &list, const eb_identifier &id) {
    return std::any_of(list.begin(), list.end(),
                       [&](const eb_identifier &x) { return same_id(x, id); });
}

std::vector<eb_identifier> without_isbn(std::vector<eb_identifier> l) {
    std::erase_if(l, is_isbn);
    return l;
}

bool same_ids(const std::vector<eb_identifier> &a, const std::vector<eb_identifier> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same_id);
}

// want's people as got states them; a sort form not asked for is the format's.
// Contributors of several roles come back in the order of the format's
// credits, so they are compared by role and name.
bool people_match(std::vector<eb_person> want, std::vector<eb_person> got, bool any_sort,
                  bool ordered = true) {
    if (!ordered) {
        const auto by = [](const eb_person &a, const eb_person &b) {
            return std::tie(a.role, a.name) < std::tie(b.role, b.name);
        };
        std::stable_sort(want.begin(), want.end(), by);
        std::stable_sort(got.begin(), got.end(), by);
    }
    return std::equal(want.begin(), want.end(), got.begin(), got.end(),
                      [any_sort](const eb_person &w, const eb_person &g) {
                          return w.name == g.name && w.role == g.role &&
                                 ((any_sort && w.sort.empty()) || w.sort == g.sort);
                      });
}

bool same_series(const std::vector<eb_series> &a, const std::vector<eb_series> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
        return x.name == y.name && x.index == y.index;
    });
}

bool same_set(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

bool same_cover(const std::optional<eb_cover_info> &a, const std::optional<eb_cover_info> &b) {
    if (!a || !b) return !a && !b;
    return a->mime == b->mime && a->size == b->size && a->from == b->from;
}

// Whether r states what f asks for (a value, or nothing).
bool states(const eb_field_change<std::string> &f, const std::string &have) {
    return f.value ? *f.value == have : have.empty();
}

// Identifiers stated as asked: every one requested, and none beyond those
// but the ones the book keeps by rule (they were there before) and the isbn.
bool ids_match(const eb_changes &c, const eb_record &before, const eb_record &after) {
    const std::vector<eb_identifier> want =
        c.identifiers.value ? *c.identifiers.value : std::vector<eb_identifier>{};
    for (const eb_identifier &w : want)
        if (!has_id(after.identifiers, w)) return false;
    for (const eb_identifier &g : after.identifiers) {
        if (has_id(want, g) || has_id(before.identifiers, g)) continue;
        if (c.isbn.value && g.scheme == "isbn" && g.value == *c.isbn.value) continue;
        return false;
    }
    return true;
}

class checker {
  public:
    checker(const eb_record &b, const eb_record &a, const eb_changes &c) : b_(b), a_(a), c_(c) {}

    bool run() {
        text(c_.title, b_.title, a_.title, "title");
        text(c_.title_sort, b_.title_sort, a_.title_sort, "title_sort");
        text(c_.subtitle, b_.subtitle, a_.subtitle, "subtitle");
        text(c_.publisher, b_.publisher, a_.publisher, "publisher");
        text(c_.published, b_.published, a_.published, "published");
        text(c_.description, b_.description, a_.description, "description");
        text(c_.rights, b_.rights, a_.rights, "rights");
        people(c_.authors, b_.authors, a_.authors, "authors");
        people(c_.contributors, b_.contributors, a_.contributors, "contributors");
        if (c_.languages.given) {
            const auto want = c_.languages.value ? *c_.languages.value : std::vector<std::string>{};
            asked(a_.languages == want && a_.language == (want.empty() ? "" : want[0]), "language");
        } else {
            kept(a_.languages == b_.languages && a_.language == b_.language, "language");
        }
        if (c_.series.given)
            asked(same_series(c_.series.value ? *c_.series.value : std::vector<eb_series>{},
                              a_.series),
                  "series");
        else
            kept(same_series(b_.series, a_.series), "series");
        if (c_.subjects.given)
            asked(same_set(c_.subjects.value ? *c_.subjects.value : std::vector<std::string>{},
                           a_.subjects),
                  "subjects");
        else
            kept(a_.subjects == b_.subjects, "subjects");
        identifiers();
        cover();
        kept(a_.format == b_.format && a_.container == b_.container, "format");
        kept(a_.version == b_.version, "version");
        kept(a_.pages == b_.pages, "pages");
        kept(a_.drm == b_.drm && a_.drm_scheme == b_.drm_scheme, "protection");
        kept(a_.obfuscated_fonts == b_.obfuscated_fonts, "font obfuscation");
        kept(a_.encoding == b_.encoding, "encoding");
        for (const std::string &w : a_.warnings)
            if (std::find(b_.warnings.begin(), b_.warnings.end(), w) == b_.warnings.end() && ok_) {
                eb_set_error("verification failed: the new book reads with a new warning: %s",
                             w.c_str());
                ok_ = false;
            }
        return ok_;
    }

  private:
    const eb_record &b_, &a_;
    const eb_changes &c_;
    bool ok_ = true;

    void asked(bool fine, const char *what) {
        if (fine || !ok_) return;
        eb_set_error("verification failed: the new book's %s is not the one asked for", what);
        ok_ = false;
    }
    void kept(bool fine, const char *what) {
        if (fine || !ok_) return;
        eb_set_error("verification failed: the new book's %s changed", what);
        ok_ = false;
    }
    void text(const eb_field_change<std::string> &f, const std::string &before,
              const std::string &after, const char *what) {
        if (f.given)
            asked(states(f, after), what);
        else
            kept(before == after, what);
    }
    void people(const eb_field_change<std::vector<eb_person>> &f,
                const std::vector<eb_person> &before, const std::vector<eb_person> &after,
                const char *what) {
        const bool ordered = std::string_view(what) == "authors";
        if (f.given)
            asked(people_match(f.value ? *f.value : std::vector<eb_person>{}, after, true, ordered),
                  what);
        else
            kept(people_match(before, after, false), what);
    }
    void identifiers() {
        if (c_.isbn.given) asked(isbn_of(a_) == (c_.isbn.value ? *c_.isbn.value : ""), "isbn");
        if (c_.identifiers.given)
            asked(ids_match(c_, b_, a_), "identifiers");
        else if (c_.isbn.given)
            kept(same_ids(without_isbn(b_.identifiers), without_isbn(a_.identifiers)),
                 "identifiers");
        else
            kept(same_ids(b_.identifiers, a_.identifiers), "identifiers");
    }
    void cover() {
        if (!c_.cover.given) return kept(same_cover(b_.cover, a_.cover), "cover");
        if (!c_.cover.value) return asked(!a_.cover || a_.cover->from == "first-image", "cover");
        asked(a_.cover && a_.cover->mime == c_.cover.value->mime &&
                  a_.cover->size == c_.cover.value->bytes.size(),
              "cover");
    }
};

template <typename T, typename Same>
void drop_if(eb_field_change<T> &f, const T &have, Same same) {
    if (!f.given) return;
    const bool unchanged = f.value ? same(*f.value, have) : have.empty();
    if (unchanged) f = eb_field_change<T>{};
}

}  // namespace

void eb_changes_drop_unchanged(const eb_record &b, eb_changes &c) {
    const auto eq = [](const auto &x, const auto &y) { return x == y; };
    drop_if(c.title, b.title, eq);
    drop_if(c.title_sort, b.title_sort, eq);
    drop_if(c.subtitle, b.subtitle, eq);
    drop_if(c.publisher, b.publisher, eq);
    drop_if(c.published, b.published, eq);
    drop_if(c.description, b.description, eq);
    drop_if(c.rights, b.rights, eq);
    drop_if(c.languages, b.languages, eq);
    drop_if(c.subjects, b.subjects, same_set);
    drop_if(c.series, b.series, same_series);
    drop_if(c.authors, b.authors,
            [](const auto &w, const auto &h) { return people_match(w, h, true); });
    drop_if(c.contributors, b.contributors,
            [](const auto &w, const auto &h) { return people_match(w, h, true, false); });
    // An isbn beside identifiers that change is written again with them.
    drop_if(c.identifiers, c.isbn.given ? without_isbn(b.identifiers) : b.identifiers, same_ids);
    if (!c.identifiers.given) drop_if(c.isbn, isbn_of(b), eq);
    // A cover the reader only guessed (the first image) is none the book names.
    if (c.cover.clears() && (!b.cover || b.cover->from == "first-image")) c.cover = {};
}

bool eb_write_verify(const eb_record &before, const eb_record &after, const eb_changes &c) {
    return checker(before, after, c).run();
}
