// fb2_edit.cpp - a FictionBook's description edited in place, in the document's own encoding.
//
// Rules where the format leaves a choice:
// - New elements go where the schema orders them (title-info: genre,
//   author, book-title, annotation, keywords, date, coverpage, lang,
//   src-lang, translator, sequence; publish-info: book-name, publisher,
//   city, year, isbn, sequence), with the prefix the description uses.
// - A name is split into first, middle and last name (one word: a
//   nickname); a sort form "Last, First Middle" given with it decides where
//   the last name starts.
// - Subjects that are genre codes become genre elements, the others one
//   keywords element, comma-separated (a keyword cannot hold a comma).
// - A publication year alone goes into publish-info's year; a fuller date
//   into title-info's date (value and text), and a year in publish-info,
//   which the reader would prefer, is removed.
// - Series replace the sequences of title-info and of publish-info: the
//   reader reads both.
// - A title, an author and a language cannot be cleared: FictionBook books
//   require them.
#include <string>
#include <vector>

#include "error.h"
#include "formats/fb2/fb2_edit.h"
#include "formats/fb2/fb2_write.h"

namespace {

bool fail(const char *msg) {
    eb_set_error("%s", msg);
    return false;
}

std::vector<std::string> words_of(const std::string &s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t e = s.find(' ', i);
        if (e == std::string::npos) e = s.size();
        if (e > i) out.push_back(s.substr(i, e - i));
        i = e + 1;
    }
    return out;
}

// First, middle and last name (or the nickname) that read back as p.name,
// and as p.sort when one is given.
bool split_name(const eb_person &p, std::string parts[4]) {
    std::vector<std::string> w = words_of(p.name);
    std::size_t last_words = w.size() >= 2 ? 1 : 0;
    if (!p.sort.empty()) {
        const std::size_t comma = p.sort.find(", ");
        if (comma == std::string::npos) return false;
        const std::string last = p.sort.substr(0, comma), rest = p.sort.substr(comma + 2);
        if (p.name != rest + " " + last) return false;
        last_words = words_of(last).size();
    }
    if (last_words == 0) {
        parts[3] = p.name;
        return true;
    }
    const std::size_t lead = w.size() - last_words;
    for (std::size_t i = 0; i < w.size(); ++i) {
        std::string &to = i == 0 && lead > 0 ? parts[0] : i < lead ? parts[1] : parts[2];
        to += (to.empty() ? "" : " ") + w[i];
    }
    return true;
}

class edit {
  public:
    edit(eb_fb2_doc &d, const eb_changes &c) : d_(d), c_(c) {}

    bool run() {
        if (!title() || !people(c_.authors, "author") || !people(c_.contributors, "translator") ||
            !language() || !subjects())
            return false;
        series();
        description();
        published();
        publish_text("publisher", c_.publisher);
        publish_text("isbn", c_.isbn);
        if (c_.cover.given && !d_.cover(c_.cover)) return false;
        d_.finish();
        return true;
    }

  private:
    eb_fb2_doc &d_;
    const eb_changes &c_;

    bool title() {
        if (!c_.title.given) return true;
        if (!c_.title.value) return fail("cannot clear title: FictionBook books require one");
        const std::vector<int> have = d_.kids(d_.title_info, "book-title");
        if (have.empty()) {
            d_.place(d_.title_info, "book-title", d_.elem("book-title", {}, *c_.title.value));
            return true;
        }
        d_.p->set_text(d_.el(have[0]), *c_.title.value);
        for (std::size_t i = 1; i < have.size(); ++i)
            d_.drop(have[i]);
        return true;
    }

    bool people(const eb_field_change<std::vector<eb_person>> &f, const char *tag) {
        if (!f.given) return true;
        const bool authors = std::string_view(tag) == "author";
        if (authors && !f.value) return fail("cannot clear authors: FictionBook books require one");
        if (f.value)
            for (const eb_person &p : *f.value)
                if (!authors && p.role != "trl")
                    return fail("contributors: FictionBook books store translators (trl) only");
        for (int e : d_.kids(d_.title_info, tag))
            d_.drop(e);
        if (!f.value) return true;
        static constexpr const char *part_names[4] = {"first-name", "middle-name", "last-name",
                                                      "nickname"};
        for (const eb_person &p : *f.value) {
            std::string parts[4];
            if (!split_name(p, parts)) {
                eb_set_error("%s: the sort form \"%s\" does not fit the name \"%s\"",
                             authors ? "authors" : "contributors", p.sort.c_str(), p.name.c_str());
                return false;
            }
            std::string inner;
            for (int k = 0; k < 4; ++k)
                if (!parts[k].empty()) inner += d_.elem(part_names[k], {}, parts[k]);
            d_.place(d_.title_info, tag, d_.elem_raw(tag, {}, inner));
        }
        return true;
    }

    bool language() {
        if (!c_.languages.given) return true;
        if (!c_.languages.value)
            return fail("cannot clear language: FictionBook books require one");
        if (c_.languages.value->size() > 1)
            return fail("language: FictionBook books store one language");
        const std::string &l = c_.languages.value->front();
        const std::vector<int> have = d_.kids(d_.title_info, "lang");
        if (have.empty()) return d_.place(d_.title_info, "lang", d_.elem("lang", {}, l)), true;
        d_.p->set_text(d_.el(have[0]), l);
        for (std::size_t i = 1; i < have.size(); ++i)
            d_.drop(have[i]);
        return true;
    }

    bool subjects() {
        if (!c_.subjects.given) return true;
        std::vector<std::string> genres;
        std::string keywords;
        if (c_.subjects.value)
            for (const std::string &s : *c_.subjects.value) {
                if (eb_fb2_genre_code(s)) {
                    genres.push_back(s);
                    continue;
                }
                if (s.find(',') != std::string::npos) {
                    eb_set_error("subjects: a FictionBook keyword cannot hold a comma: %s",
                                 s.c_str());
                    return false;
                }
                keywords += (keywords.empty() ? "" : ", ") + s;
            }
        for (const char *tag : {"genre", "keywords"})
            for (int e : d_.kids(d_.title_info, tag))
                d_.drop(e);
        for (const std::string &g : genres)
            d_.place(d_.title_info, "genre", d_.elem("genre", {}, g));
        if (!keywords.empty())
            d_.place(d_.title_info, "keywords", d_.elem("keywords", {}, keywords));
        return true;
    }

    void series() {
        if (!c_.series.given) return;
        for (int section : {d_.title_info, d_.publish_info})
            if (section >= 0)
                for (int e : d_.kids(section, "sequence"))
                    d_.drop(e);
        if (!c_.series.value) return;
        for (const eb_series &s : *c_.series.value) {
            std::vector<std::pair<std::string, std::string>> a{{"name", s.name}};
            if (!s.index.empty()) a.emplace_back("number", s.index);
            d_.place(d_.title_info, "sequence", d_.elem("sequence", a, ""));
        }
    }

    void description() {
        if (!c_.description.given) return;
        for (int e : d_.kids(d_.title_info, "annotation"))
            d_.drop(e);
        if (!c_.description.value) return;
        std::string inner;
        const std::string &t = *c_.description.value;
        for (std::size_t i = 0; i <= t.size();) {
            std::size_t e = t.find("\n\n", i);
            if (e == std::string::npos) e = t.size();
            inner += d_.elem("p", {}, t.substr(i, e - i));
            i = e + 2;
        }
        d_.place(d_.title_info, "annotation", d_.elem_raw("annotation", {}, inner));
    }

    void published() {
        if (!c_.published.given) return;
        const bool year_only = c_.published.value && c_.published.value->size() == 4;
        if (!year_only) {
            const std::vector<int> have = d_.kids(d_.title_info, "date");
            for (std::size_t i = c_.published.value && !have.empty() ? 1 : 0; i < have.size(); ++i)
                d_.drop(have[i]);
            if (c_.published.value) {
                const std::string &v = *c_.published.value;
                if (have.empty()) {
                    d_.place(d_.title_info, "date", d_.elem("date", {{"value", v}}, v));
                } else {
                    d_.p->set_attr(d_.el(have[0]), "value", v);
                    d_.p->set_text(d_.el(have[0]), v);
                }
            }
        }
        eb_field_change<std::string> year;
        year.given = true;
        if (year_only) year.value = *c_.published.value;
        publish_text("year", year);
    }

    // A text of publish-info: the first element set, the others removed.
    void publish_text(const char *tag, const eb_field_change<std::string> &f) {
        if (!f.given) return;
        const std::vector<int> have =
            d_.publish_info >= 0 ? d_.kids(d_.publish_info, tag) : std::vector<int>{};
        const bool reuse = f.value && !have.empty();
        for (std::size_t i = reuse ? 1 : 0; i < have.size(); ++i)
            d_.drop(have[i]);
        if (reuse)
            d_.p->set_text(d_.el(have[0]), *f.value);
        else if (f.value)
            d_.publish(tag, d_.elem(tag, {}, *f.value));
    }
};

}  // namespace

bool eb_fb2_edit(std::string_view doc, const eb_changes &c,
                 const std::function<bool(std::string_view)> &sink) {
    eb_fb2_doc d(doc);
    if (!d.read() || !edit(d, c).run()) return false;
    bool sunk = true;
    if (!d.p->apply([&](std::string_view piece) { return sunk = sunk && sink(piece); }))
        return sunk ? fail("cannot edit the FictionBook: two changes overlap") : false;
    return true;
}

bool eb_fb2_edit(std::string_view doc, const eb_changes &c, std::string *out) {
    std::string s;
    if (!eb_fb2_edit(doc, c, [&s](std::string_view piece) {
            s.append(piece);
            return true;
        }))
        return false;
    *out = std::move(s);
    return true;
}
