// set_request.cpp - the set command's requests: from the field options and each book's record, or
// from JSON lines.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

#include "cli.h"

namespace qcli {

const char *const kClearableFields =
    "title title_sort subtitle authors contributors language series identifiers isbn publisher "
    "published description subjects rights cover";

namespace {

// Keys of a record line that are the library's own statements (or the
// tool's): a line of `scan --format jsonl` written back leaves them out.
constexpr std::string_view kRecordOnly[] = {
    "path",     "path_bytes", "error", "format",     "container",        "version",  "asin",
    "modified", "pages",      "drm",   "drm_scheme", "obfuscated_fonts", "encoding", "warnings"};

bool clearable(std::string_view f) {
    std::istringstream in(kClearableFields);
    for (std::string w; in >> w;)
        if (w == f) return true;
    return false;
}

std::string base64_decoded(std::string_view s) {
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char c : s) {
        int d = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : c >= '0' && c <= '9' ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
        if (d < 0) continue;
        v = v << 6 | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xFF);
        }
    }
    return out;
}

std::string write_doc(yyjson_mut_doc *doc) {
    std::size_t len = 0;
    char *text = yyjson_mut_write(doc, 0, &len);
    if (!text) throw std::bad_alloc();
    std::string out(text, len);
    std::free(text);
    return out;
}

std::string str_of(yyjson_val *v) {
    return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : std::string();
}

yyjson_mut_val *str_val(yyjson_mut_doc *d, const std::string &s) {
    return yyjson_mut_strncpy(d, s.data(), s.size());
}

// One line of --from as a task: its path and the rest of its keys.
SetTask line_task(const std::string &where, std::string_view line) {
    SetTask t;
    t.path = where;
    eb_doc_ptr doc = read_json(line, 0);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    yyjson_val *path = yyjson_obj_get(root, "path"), *bytes = yyjson_obj_get(root, "path_bytes");
    if (!yyjson_is_obj(root) || !(yyjson_is_str(path) || yyjson_is_str(bytes))) {
        t.fault = "not a JSON object with a \"path\"";
        return t;
    }
    t.path = yyjson_is_str(bytes) ? base64_decoded(str_of(bytes)) : str_of(path);
    eb_mut_doc_ptr out(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *obj = yyjson_mut_obj(out.get());
    if (!out || !obj) throw std::bad_alloc();
    yyjson_mut_doc_set_root(out.get(), obj);
    std::size_t i, n;
    yyjson_val *k, *v;
    yyjson_obj_foreach(root, i, n, k, v) {
        const std::string key = str_of(k);
        bool skip = key == "cover" && yyjson_is_obj(v);  // the record's own cover statement
        for (std::string_view r : kRecordOnly)
            skip = skip || key == r;
        if (!skip)
            yyjson_mut_obj_add(obj, str_val(out.get(), key), yyjson_val_mut_copy(out.get(), v));
    }
    t.changes = write_doc(out.get());
    return t;
}

bool any_field(const SetOptions &o) {
    return o.title_given || o.series_given || o.index_given || o.language_given ||
           o.publisher_given || o.published_given || o.description_given || o.isbn_given ||
           o.cover_given || !o.authors.empty() || !o.subjects.empty() || !o.identifiers.empty() ||
           !o.clear.empty();
}

}  // namespace

bool check_set_options(const SetOptions &o) {
    if (o.undo_last && (!o.from.empty() || any_field(o) || o.books.empty())) {
        complain("--undo-last takes PDF books and nothing to set");
        return false;
    }
    if (o.undo_last) return true;
    if (!o.from.empty() && (!o.books.empty() || any_field(o))) {
        complain("--from takes books and changes from its lines: give no BOOK and no field option");
        return false;
    }
    if (o.from.empty() && o.books.empty()) {
        complain("set: give books, or --from FILE");
        return false;
    }
    if (o.from.empty() && !any_field(o)) {
        complain("set: nothing to set: give a field option or --clear FIELD");
        return false;
    }
    const std::set<std::string> given = [&] {
        std::set<std::string> g;
        auto add = [&g](bool on, const char *f) {
            if (on) g.insert(f);
        };
        add(o.title_given, "title");
        add(o.series_given || o.index_given, "series");
        add(o.language_given, "language");
        add(o.publisher_given, "publisher");
        add(o.published_given, "published");
        add(o.description_given, "description");
        add(o.isbn_given, "isbn");
        add(o.cover_given, "cover");
        add(!o.authors.empty(), "authors");
        add(!o.subjects.empty(), "subjects");
        add(!o.identifiers.empty(), "identifiers");
        return g;
    }();
    for (const std::string &f : o.clear) {
        if (!clearable(f)) {
            complain("--clear: unknown field \"%s\"; the fields are %s", shown(f).c_str(),
                     kClearableFields);
            return false;
        }
        if (given.count(f)) {
            complain("--clear %s and a value for it: give one of them", f.c_str());
            return false;
        }
    }
    for (const std::string &id : o.identifiers) {
        const std::size_t colon = id.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == id.size()) {
            complain("--identifier \"%s\": expected SCHEME:VALUE", shown(id).c_str());
            return false;
        }
    }
    return true;
}

bool set_tasks(const SetOptions &o, std::vector<SetTask> &out) {
    if (o.from.empty()) {
        for (const std::string &b : o.books)
            out.push_back({b, "", ""});
        return true;
    }
    std::string text;
    if (o.from == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(o.from, std::ios::binary);
        if (!in) {
            complain("--from %s: %s", o.from.c_str(), errno_text(errno).c_str());
            return false;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t at = 0, number = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        ++number;
        at = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        out.push_back(line_task(o.from + ":" + std::to_string(number), line));
    }
    return true;
}

std::string make_request(const SetOptions &o, std::string_view record, std::string *fault) {
    eb_doc_ptr rec = read_json(record, 0);
    yyjson_val *r = rec ? yyjson_doc_get_root(rec.get()) : nullptr;
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *obj = yyjson_mut_obj(doc.get());
    if (!doc || !obj) throw std::bad_alloc();
    yyjson_mut_doc_set_root(doc.get(), obj);
    yyjson_mut_doc *d = doc.get();
    auto put = [&](const char *key, yyjson_mut_val *v) {
        yyjson_mut_obj_add(obj, yyjson_mut_str(d, key), v);
    };
    auto text = [&](bool given, const char *key, const std::string &v) {
        if (given) put(key, str_val(d, v));
    };
    auto list = [&](const char *key, const std::vector<std::string> &v) {
        if (v.empty()) return;
        yyjson_mut_val *a = yyjson_mut_arr(d);
        for (const std::string &s : v)
            yyjson_mut_arr_append(a, str_val(d, s));
        put(key, a);
    };
    text(o.title_given, "title", o.title);
    text(o.language_given, "language", o.language);
    text(o.publisher_given, "publisher", o.publisher);
    text(o.published_given, "published", o.published);
    text(o.description_given, "description", o.description);
    text(o.isbn_given, "isbn", o.isbn);
    text(o.cover_given, "cover", o.cover);
    list("authors", o.authors);
    list("subjects", o.subjects);
    if (o.series_given || o.index_given) {
        // The options name the primary series; the book's others stay.
        yyjson_val *have = yyjson_obj_get(r, "series");
        yyjson_val *primary = yyjson_arr_get_first(have);
        const std::string old_name = str_of(yyjson_obj_get(primary, "name"));
        const std::string name = o.series_given ? o.series : old_name;
        if (name.empty()) {
            *fault = "--series-index needs a series: the book states none (give --series)";
            return {};
        }
        std::string index = o.index_given ? o.series_index : "";
        if (!o.index_given && name == old_name) index = str_of(yyjson_obj_get(primary, "index"));
        yyjson_mut_val *a = yyjson_mut_arr(d), *s = yyjson_mut_obj(d);
        yyjson_mut_obj_add(s, yyjson_mut_str(d, "name"), str_val(d, name));
        yyjson_mut_obj_add(s, yyjson_mut_str(d, "index"), str_val(d, index));
        yyjson_mut_arr_append(a, s);
        std::size_t i, n;
        yyjson_val *v;
        yyjson_arr_foreach(have, i, n, v) if (i > 0)
            yyjson_mut_arr_append(a, yyjson_val_mut_copy(d, v));
        put("series", a);
    }
    if (!o.identifiers.empty()) {
        // Each --identifier replaces the book's identifiers of its scheme.
        std::set<std::string> schemes;
        yyjson_mut_val *a = yyjson_mut_arr(d);
        for (const std::string &id : o.identifiers) {
            std::string scheme = id.substr(0, id.find(':'));
            for (char &c : scheme)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            schemes.insert(scheme);
        }
        std::size_t i, n;
        yyjson_val *v;
        yyjson_arr_foreach(yyjson_obj_get(r, "identifiers"), i, n, v) {
            if (!schemes.count(str_of(yyjson_obj_get(v, "scheme"))))
                yyjson_mut_arr_append(a, yyjson_val_mut_copy(d, v));
        }
        for (const std::string &id : o.identifiers) {
            const std::size_t colon = id.find(':');
            yyjson_mut_val *e = yyjson_mut_obj(d);
            yyjson_mut_obj_add(e, yyjson_mut_str(d, "scheme"), str_val(d, id.substr(0, colon)));
            yyjson_mut_obj_add(e, yyjson_mut_str(d, "value"), str_val(d, id.substr(colon + 1)));
            yyjson_mut_arr_append(a, e);
        }
        put("identifiers", a);
    }
    for (const std::string &f : o.clear)
        put(f.c_str(), yyjson_mut_null(d));
    return write_doc(d);
}

}  // namespace qcli
