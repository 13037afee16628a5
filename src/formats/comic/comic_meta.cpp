// comic_meta.cpp - credits, subjects and dates of comic metadata, ComicBookInfo's JSON, and the
// precedence fill.
#include "formats/comic/comic_meta.h"

#include <cstdio>

#include "json_doc.h"
#include "record/identifiers.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "text/plain_text.h"

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && eb_ascii_space(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && eb_ascii_space(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '_' && c != '-') out += static_cast<char>(eb_ascii_lower(c));
    return out;
}

// The credit's role code: a MARC relator where one fits, else its own name.
std::string role_for(std::string_view credit) {
    const std::string k = lower(credit);
    if (k == "writer" || k == "author" || k == "creator" || k == "scenario" || k == "story")
        return "aut";
    if (k == "colorist" || k == "colourist" || k == "colors" || k == "colours") return "clr";
    if (k == "coverartist" || k == "cover" || k == "coverdesigner" || k == "covers") return "cov";
    if (k == "editor") return "edt";
    if (k == "translator") return "trl";
    std::string own = eb_comic_text(credit);
    for (char &c : own)
        c = static_cast<char>(eb_ascii_lower(static_cast<unsigned char>(c)));
    // A credit without a name is a contributor of unstated kind.
    return own.empty() ? "ctb" : own;
}

// A small non-negative decimal number, as ComicInfo's integer fields hold
// one; -1 when the text is not one (its own "unset" is -1).
long long number_of(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.size() > 9) return -1;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// A JSON string or number as text (issue numbers come as either).
std::string json_text(yyjson_val *v) {
    if (yyjson_is_str(v))
        return eb_comic_text(std::string_view(yyjson_get_str(v), yyjson_get_len(v)));
    char buf[32];
    if (yyjson_is_uint(v)) return std::to_string(yyjson_get_uint(v));
    if (yyjson_is_sint(v)) return std::to_string(yyjson_get_sint(v));
    if (yyjson_is_real(v)) {
        std::snprintf(buf, sizeof buf, "%g", yyjson_get_real(v));
        return buf;
    }
    return {};
}

}  // namespace

std::string eb_comic_text(std::string_view s) {
    s = trim(s);
    return eb_utf8_valid(s) ? std::string(s) : eb_utf8_repair(s, nullptr);
}

bool eb_comic_meta::first_time(char list, std::string_view a, std::string_view b) {
    std::string k(1, list);
    k.append(a).push_back('\0');
    k.append(b);
    return seen_.insert(std::move(k)).second;
}

void eb_comic_meta::add_credit(std::string_view credit, std::string_view names, bool split) {
    const std::string role = role_for(credit);
    std::vector<eb_person> &list = role == "aut" ? authors : contributors;
    while (!names.empty()) {
        std::size_t comma = split ? names.find(',') : std::string_view::npos;
        std::string name = eb_comic_text(names.substr(0, comma));
        names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
        if (!name.empty() && first_time('p', role, name)) list.push_back({name, "", role});
    }
}

void eb_comic_meta::add_subjects(std::string_view list, bool split) {
    while (!list.empty()) {
        std::size_t comma = split ? list.find(',') : std::string_view::npos;
        std::string s = eb_comic_text(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (!s.empty() && first_time('s', s)) subjects.push_back(std::move(s));
    }
}

void eb_comic_meta::add_identifier(eb_identifier id) {
    id.scheme = eb_comic_text(id.scheme);
    id.value = eb_comic_text(id.value);
    if (!id.value.empty() && first_time('i', id.scheme, id.value))
        identifiers.push_back(std::move(id));
}

void eb_comic_meta::add_series(std::string_view name, std::string_view index) {
    std::string n = eb_comic_text(name);
    if (!n.empty() && first_time('r', n, index)) series.push_back({n, eb_comic_text(index)});
}

std::string eb_comic_date(std::string_view year, std::string_view month, std::string_view day) {
    const long long y = number_of(year), m = number_of(month), d = number_of(day);
    if (y < 1 || y > 9999) return {};
    char buf[16];
    if (m < 1 || m > 12)
        std::snprintf(buf, sizeof buf, "%04lld", y);
    else if (d < 1 || d > 31)
        std::snprintf(buf, sizeof buf, "%04lld-%02lld", y, m);
    else
        std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld", y, m, d);
    return buf;
}

bool eb_comicbookinfo_read(std::string_view comment, eb_comic_meta *out) {
    // Most comments are plain text; only a JSON object is looked into. Its
    // strings may hold bytes that are not UTF-8: they are repaired, not refused.
    std::string_view t = trim(comment);
    if (t.empty() || t.front() != '{') return false;
    eb_doc_ptr doc(yyjson_read_opts(const_cast<char *>(t.data()), t.size(),
                                    YYJSON_READ_ALLOW_INVALID_UNICODE, nullptr, nullptr));
    yyjson_val *cbi =
        doc ? yyjson_obj_get(yyjson_doc_get_root(doc.get()), "ComicBookInfo/1.0") : nullptr;
    if (!yyjson_is_obj(cbi)) return false;
    eb_comic_meta &m = *out;
    auto get = [cbi](const char *key) { return json_text(yyjson_obj_get(cbi, key)); };
    m.title = get("title");
    std::string index = get("issue");
    if (index.empty()) index = get("volume");
    m.add_series(get("series"), index);
    m.published =
        eb_comic_date(get("publicationYear"), get("publicationMonth"), get("publicationDay"));
    m.publisher = get("publisher");
    m.language = get("language");
    m.description = eb_markup_to_text(get("comments"));
    m.add_subjects(get("genre"), true);
    std::size_t i, n;
    yyjson_val *v;
    // A tag is one subject, commas and all.
    yyjson_arr_foreach(yyjson_obj_get(cbi, "tags"), i, n, v) m.add_subjects(json_text(v), false);
    // Its credits name one person each: "Lee, Stan" stays one name.
    yyjson_arr_foreach(yyjson_obj_get(cbi, "credits"), i, n, v) {
        m.add_credit(json_text(yyjson_obj_get(v, "role")), json_text(yyjson_obj_get(v, "person")),
                     false);
    }
    return true;
}

void eb_comic_fill(eb_record &r, eb_comic_meta &m) {
    auto text = [](std::string &to, std::string &from) {
        if (to.empty()) to = std::move(from);
    };
    auto list = [](auto &to, auto &from) {
        if (to.empty()) to = std::move(from);
    };
    text(r.title, m.title);
    list(r.series, m.series);
    text(r.published, m.published);
    text(r.description, m.description);
    text(r.publisher, m.publisher);
    text(r.rights, m.rights);
    if (r.language.empty() && !m.language.empty()) {
        r.language = m.language;
        r.languages = {m.language};
    }
    list(r.subjects, m.subjects);
    list(r.authors, m.authors);
    list(r.contributors, m.contributors);
    list(r.identifiers, m.identifiers);
    if (!r.encoding && !m.encoding.empty()) r.encoding = m.encoding;
    for (std::string &w : m.warnings)
        r.warnings.push_back(std::move(w));
}
