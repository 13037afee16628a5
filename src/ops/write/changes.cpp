// changes.cpp - a write request read from JSON: keys, value types, and each field's normal form.
#include "ops/write/changes.h"

#include <set>
#include <unordered_set>

#include "error.h"
#include "json_doc.h"
#include "ops/write/values.h"
#include "record/identifiers.h"
#include "text/encoding.h"
#include "text/isbn.h"

namespace {

// Keys of the record that the library states itself: named in a request
// they are refused as not writable rather than unknown.
constexpr std::string_view kReadOnly[] = {"format",           "container", "version", "asin",
                                          "modified",         "pages",     "drm",     "drm_scheme",
                                          "obfuscated_fonts", "encoding",  "warnings"};

std::string str(yyjson_val *v) {
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

// null, "" and [] all mean: remove what the book states.
bool clears(yyjson_val *v) {
    return yyjson_is_null(v) || (yyjson_is_str(v) && yyjson_get_len(v) == 0) ||
           (yyjson_is_arr(v) && yyjson_arr_size(v) == 0);
}

class reader {
  public:
    explicit reader(eb_changes &c) : c_(c) {}

    bool field(std::string_view key, yyjson_val *v) {
        if (key == "title") return line(key, v, c_.title);
        if (key == "title_sort") return line(key, v, c_.title_sort);
        if (key == "subtitle") return line(key, v, c_.subtitle);
        if (key == "publisher") return line(key, v, c_.publisher);
        if (key == "rights") return text(key, v, c_.rights, true);
        if (key == "description") return text(key, v, c_.description, false);
        if (key == "published") return published(v);
        if (key == "isbn") return isbn(v);
        if (key == "authors") return people(key, v, c_.authors, true);
        if (key == "contributors") return people(key, v, c_.contributors, false);
        if (key == "language") return language(v);
        if (key == "languages") return languages(v);
        if (key == "series") return series(v);
        if (key == "identifiers") return identifiers(v);
        if (key == "subjects") return subjects(v);
        if (key == "cover") return cover(v);
        for (std::string_view r : kReadOnly)
            if (key == r) return fail("field is not writable: %s", key);
        return fail("unknown field: %s", key);
    }

    // Both language and languages: they must agree on the primary one.
    bool settle() {
        if (language_.given && languages_.given) {
            const bool same = language_.value && languages_.value && !languages_.value->empty()
                                  ? (*languages_.value)[0] == *language_.value
                                  : !language_.value && !languages_.value;
            if (!same) return fail("%s", "language and languages name different primary languages");
        }
        c_.languages = languages_.given ? languages_ : eb_field_change<std::vector<std::string>>{};
        if (!languages_.given && language_.given) {
            c_.languages.given = true;
            if (language_.value) c_.languages.value = std::vector<std::string>{*language_.value};
        }
        // With both given, the isbn is the one the book is to state.
        if (c_.isbn.given && c_.identifiers.sets()) {
            auto &ids = *c_.identifiers.value;
            std::erase_if(ids, [](const eb_identifier &i) { return i.scheme == "isbn"; });
            if (ids.empty()) c_.identifiers.value.reset();
        }
        return true;
    }

  private:
    eb_changes &c_;
    eb_field_change<std::string> language_;
    eb_field_change<std::vector<std::string>> languages_;

    static bool fail(const char *fmt, std::string_view what) {
        eb_set_error(fmt, std::string(what).c_str());
        return false;
    }

    // A string value checked as a text of the record: no control characters
    // but tab and line breaks (white space, folded in one-line texts), no
    // noncharacters.
    static bool checked(std::string_view key, yyjson_val *v, std::string *out) {
        if (!yyjson_is_str(v)) return fail("%s: expected a string", key);
        *out = str(v);
        if (!eb_w_text_ok(*out))
            return fail("%s: control characters other than tab and line breaks are not allowed",
                        key);
        return true;
    }
    static bool fits(std::string_view key, const std::string &s) {
        return s.size() <= EB_TEXT_LIMIT || fail("%s: longer than 65536 bytes", key);
    }
    // One-line texts: tabs and line breaks are white space and fold.
    static bool one_line(std::string_view key, yyjson_val *v, std::string *out) {
        if (!checked(key, v, out)) return false;
        eb_fold_line(*out);
        return fits(key, *out);
    }

    bool line(std::string_view key, yyjson_val *v, eb_field_change<std::string> &f) {
        f.given = true;
        if (clears(v)) return true;
        std::string s;
        if (!one_line(key, v, &s)) return false;
        if (!s.empty()) f.value = std::move(s);
        return true;
    }

    bool text(std::string_view key, yyjson_val *v, eb_field_change<std::string> &f, bool rights) {
        f.given = true;
        if (clears(v)) return true;
        std::string s;
        if (!checked(key, v, &s)) return false;
        s = rights ? eb_w_rights_form(s) : eb_plain_paragraphs(s);
        if (!fits(key, s)) return false;
        if (!s.empty()) f.value = std::move(s);
        return true;
    }

    bool published(yyjson_val *v) {
        c_.published.given = true;
        if (clears(v)) return true;
        std::string s;
        if (!one_line("published", v, &s)) return false;
        if (!eb_w_iso_date(s)) return fail("published: not an ISO 8601 date: %s", s);
        c_.published.value = s;
        return true;
    }

    bool isbn(yyjson_val *v) {
        c_.isbn.given = true;
        if (clears(v)) return true;
        std::string s;
        if (!one_line("isbn", v, &s)) return false;
        const std::string digits = eb_isbn13(s);
        if (digits.empty()) return fail("isbn: not a valid ISBN-10 or ISBN-13: %s", s);
        c_.isbn.value = digits;
        return true;
    }

    bool people(std::string_view key, yyjson_val *v, eb_field_change<std::vector<eb_person>> &f,
                bool authors) {
        f.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_arr(v))
            return fail("%s: expected an array of names or of {\"name\",\"sort\",\"role\"}", key);
        std::vector<eb_person> out;
        std::set<std::tuple<std::string, std::string, std::string>> seen;
        std::size_t i, n;
        yyjson_val *e;
        yyjson_arr_foreach(v, i, n, e) {
            eb_person p;
            yyjson_val *name = e, *sort = nullptr, *role = nullptr;
            if (yyjson_is_obj(e)) {
                name = yyjson_obj_get(e, "name");
                sort = yyjson_obj_get(e, "sort");
                role = yyjson_obj_get(e, "role");
                for (yyjson_val *k : eb_w_keys(e))
                    if (std::string_view kk = yyjson_get_str(k);
                        kk != "name" && kk != "sort" && kk != "role")
                        return fail("%s: unknown member of a person", key);
            }
            if (!name || yyjson_is_null(name)) return fail("%s: every entry needs a name", key);
            if (!one_line(key, name, &p.name)) return false;
            if (p.name.empty()) return fail("%s: every entry needs a name", key);
            if (sort && !yyjson_is_null(sort) && !one_line(key, sort, &p.sort)) return false;
            if (role && !yyjson_is_null(role) && !one_line(key, role, &p.role)) return false;
            p.role = eb_w_lower(p.role);
            if (p.role.empty()) p.role = authors ? "aut" : "ctb";
            if (!eb_w_role_ok(p.role)) return fail("%s: not a relator code", key);
            if (authors && p.role != "aut")
                return fail("%s: only the role aut; other roles are contributors", key);
            if (!authors && p.role == "aut")
                return fail("%s: the role aut belongs to authors", key);
            if (seen.insert({p.name, p.sort, p.role}).second) out.push_back(std::move(p));
        }
        f.value = std::move(out);
        return true;
    }

    bool tag(yyjson_val *v, std::string *out) {
        if (!one_line("language", v, out)) return false;
        return eb_w_bcp47(*out) || fail("language: not a BCP 47 language tag: %s", *out);
    }
    bool language(yyjson_val *v) {
        language_.given = true;
        if (clears(v)) return true;
        std::string s;
        if (!tag(v, &s)) return false;
        language_.value = s;
        return true;
    }
    bool languages(yyjson_val *v) {
        languages_.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_arr(v)) return fail("%s: expected an array of language tags", "languages");
        std::vector<std::string> out;
        std::unordered_set<std::string> seen;
        std::size_t i, n;
        yyjson_val *e;
        yyjson_arr_foreach(v, i, n, e) {
            std::string s;
            if (!tag(e, &s)) return false;
            if (seen.insert(s).second) out.push_back(s);
        }
        languages_.value = std::move(out);
        return true;
    }

    bool series(yyjson_val *v) {
        c_.series.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_arr(v))
            return fail("%s: expected an array of {\"name\",\"index\"}", "series");
        std::vector<eb_series> out;
        std::set<std::pair<std::string, std::string>> seen;
        std::size_t i, n;
        yyjson_val *e;
        yyjson_arr_foreach(v, i, n, e) {
            eb_series s;
            yyjson_val *name = yyjson_is_obj(e) ? yyjson_obj_get(e, "name") : e;
            yyjson_val *index = yyjson_is_obj(e) ? yyjson_obj_get(e, "index") : nullptr;
            if (!name || yyjson_is_null(name))
                return fail("%s: every series needs a name", "series");
            if (!one_line("series", name, &s.name)) return false;
            if (s.name.empty()) return fail("%s: every series needs a name", "series");
            if (yyjson_is_num(index)) {
                s.index = eb_w_number_text(index);
            } else if (index && !yyjson_is_null(index) && !one_line("series", index, &s.index)) {
                return false;
            }
            if (seen.insert({s.name, s.index}).second) out.push_back(std::move(s));
        }
        c_.series.value = std::move(out);
        return true;
    }

    bool identifiers(yyjson_val *v) {
        c_.identifiers.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_arr(v))
            return fail("%s: expected an array of {\"scheme\",\"value\"}", "identifiers");
        std::vector<eb_identifier> out;
        std::set<std::pair<std::string, std::string>> seen;
        std::size_t i, n;
        yyjson_val *e;
        yyjson_arr_foreach(v, i, n, e) {
            std::string scheme, value;
            if (!yyjson_is_obj(e) || !yyjson_obj_get(e, "value"))
                return fail("%s: expected an array of {\"scheme\",\"value\"}", "identifiers");
            yyjson_val *sv = yyjson_obj_get(e, "scheme");
            if (sv && !yyjson_is_null(sv) && !one_line("identifiers", sv, &scheme)) return false;
            if (!one_line("identifiers", yyjson_obj_get(e, "value"), &value)) return false;
            if (value.empty()) return fail("%s: every identifier needs a value", "identifiers");
            eb_identifier id = eb_classify_identifier(scheme, value);
            if (id.scheme == "isbn-invalid")
                return fail("identifiers: not a valid ISBN-10 or ISBN-13: %s", value);
            if (seen.insert({id.scheme, id.value}).second) out.push_back(std::move(id));
        }
        c_.identifiers.value = std::move(out);
        return true;
    }

    bool subjects(yyjson_val *v) {
        c_.subjects.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_arr(v)) return fail("%s: expected an array of strings", "subjects");
        std::vector<std::string> out;
        std::unordered_set<std::string> seen;
        std::size_t i, n;
        yyjson_val *e;
        yyjson_arr_foreach(v, i, n, e) {
            std::string s;
            if (!one_line("subjects", e, &s)) return false;
            if (!s.empty() && seen.insert(s).second) out.push_back(std::move(s));
        }
        if (!out.empty()) c_.subjects.value = std::move(out);
        return true;
    }

    bool cover(yyjson_val *v) {
        c_.cover.given = true;
        if (clears(v)) return true;
        if (!yyjson_is_str(v)) return fail("%s: expected the path of an image", "cover");
        eb_cover_image img;
        if (!eb_w_read_cover(str(v), &img)) return false;
        c_.cover.value = std::move(img);
        return true;
    }
};

}  // namespace

unsigned eb_changes::given() const {
    unsigned bits = 0;
    auto add = [&bits](bool g, unsigned bit) {
        if (g) bits |= bit;
    };
    add(title.given, EB_W_TITLE);
    add(title_sort.given, EB_W_TITLE_SORT);
    add(subtitle.given, EB_W_SUBTITLE);
    add(authors.given, EB_W_AUTHORS);
    add(contributors.given, EB_W_CONTRIBUTORS);
    add(languages.given, EB_W_LANGUAGES);
    add(series.given, EB_W_SERIES);
    add(identifiers.given, EB_W_IDENTIFIERS);
    add(isbn.given, EB_W_ISBN);
    add(publisher.given, EB_W_PUBLISHER);
    add(published.given, EB_W_PUBLISHED);
    add(description.given, EB_W_DESCRIPTION);
    add(subjects.given, EB_W_SUBJECTS);
    add(rights.given, EB_W_RIGHTS);
    add(cover.given, EB_W_COVER);
    return bits;
}

bool eb_changes_read(std::string_view json, eb_changes *out) {
    if (!eb_utf8_valid(json)) {
        eb_set_error("changes are not valid UTF-8");
        return false;
    }
    yyjson_read_err err{};
    eb_doc_ptr doc(
        yyjson_read_opts(const_cast<char *>(json.data()), json.size(), 0, nullptr, &err));
    if (!doc) {
        if (err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) throw std::bad_alloc();
        eb_set_error("malformed changes JSON: %s at byte %u", err.msg,
                     static_cast<unsigned>(err.pos));
        return false;
    }
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        eb_set_error("changes must be a JSON object");
        return false;
    }
    *out = eb_changes();
    reader r(*out);
    std::unordered_set<std::string> seen;
    std::size_t i, n;
    yyjson_val *k, *v;
    yyjson_obj_foreach(root, i, n, k, v) {
        const std::string key = str(k);
        if (!seen.insert(key).second) {
            eb_set_error("duplicate field: %s", key.c_str());
            return false;
        }
        if (!r.field(key, v)) return false;
    }
    return r.settle();
}
