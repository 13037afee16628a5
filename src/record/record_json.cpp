// record_json.cpp - the full record as one compact JSON object, every key always present.
#include <cstdlib>
#include <string>

#include "error.h"
#include "full_record.h"
#include "json_doc.h"

namespace {

// Builds the object; the record's strings are referenced, not copied, and
// must stay unchanged until the text is written.
class writer {
  public:
    explicit writer(yyjson_mut_doc *doc) : doc_(doc) {}

    yyjson_mut_val *str(const std::string &s) { return yyjson_mut_strn(doc_, s.data(), s.size()); }
    yyjson_mut_val *opt(const std::optional<std::string> &s) {
        return s ? str(*s) : yyjson_mut_null(doc_);
    }
    yyjson_mut_val *strings(const std::vector<std::string> &list) {
        yyjson_mut_val *arr = yyjson_mut_arr(doc_);
        for (const std::string &s : list)
            yyjson_mut_arr_append(arr, str(s));
        return arr;
    }
    yyjson_mut_val *people(const std::vector<eb_person> &list) {
        yyjson_mut_val *arr = yyjson_mut_arr(doc_);
        for (const eb_person &p : list) {
            yyjson_mut_val *o = yyjson_mut_obj(doc_);
            put(o, "name", str(p.name));
            put(o, "sort", str(p.sort));
            put(o, "role", str(p.role));
            yyjson_mut_arr_append(arr, o);
        }
        return arr;
    }
    yyjson_mut_val *series(const std::vector<eb_series> &list) {
        yyjson_mut_val *arr = yyjson_mut_arr(doc_);
        for (const eb_series &s : list) {
            yyjson_mut_val *o = yyjson_mut_obj(doc_);
            put(o, "name", str(s.name));
            put(o, "index", str(s.index));
            yyjson_mut_arr_append(arr, o);
        }
        return arr;
    }
    yyjson_mut_val *identifiers(const std::vector<eb_identifier> &list) {
        yyjson_mut_val *arr = yyjson_mut_arr(doc_);
        for (const eb_identifier &id : list) {
            yyjson_mut_val *o = yyjson_mut_obj(doc_);
            put(o, "scheme", str(id.scheme));
            put(o, "value", str(id.value));
            yyjson_mut_arr_append(arr, o);
        }
        return arr;
    }
    // The value of the first identifier of scheme, or null.
    yyjson_mut_val *first_of(const std::vector<eb_identifier> &list, const char *scheme) {
        for (const eb_identifier &id : list)
            if (id.scheme == scheme) return str(id.value);
        return yyjson_mut_null(doc_);
    }
    yyjson_mut_val *cover(const std::optional<eb_cover_info> &c) {
        if (!c) return yyjson_mut_null(doc_);
        yyjson_mut_val *o = yyjson_mut_obj(doc_);
        put(o, "mime", str(c->mime));
        put(o, "size", yyjson_mut_uint(doc_, c->size));
        put(o, "from", str(c->from));
        return o;
    }
    yyjson_mut_val *boolean(bool b) { return yyjson_mut_bool(doc_, b); }
    yyjson_mut_val *count(const std::optional<std::uint64_t> &n) {
        return n ? yyjson_mut_uint(doc_, *n) : yyjson_mut_null(doc_);
    }

    // A member whose value could not be made is a failure of the whole
    // object: a host relies on every key being there.
    void put(yyjson_mut_val *obj, const char *key, yyjson_mut_val *val) {
        if (!obj || !val || !yyjson_mut_obj_add_val(doc_, obj, key, val)) failed_ = true;
    }
    bool failed() const { return failed_; }

  private:
    yyjson_mut_doc *doc_;
    bool failed_ = false;
};

}  // namespace

char *eb_record_to_json(const eb_record &r) {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    if (!doc) {
        eb_set_error("yyjson doc alloc failed");
        return nullptr;
    }
    writer w(doc.get());
    yyjson_mut_val *o = yyjson_mut_obj(doc.get());
    if (o) yyjson_mut_doc_set_root(doc.get(), o);
    w.put(o, "format", w.str(r.format));
    w.put(o, "container", w.opt(r.container));
    w.put(o, "version", w.opt(r.version));
    w.put(o, "title", w.str(r.title));
    w.put(o, "title_sort", w.str(r.title_sort));
    w.put(o, "subtitle", w.str(r.subtitle));
    w.put(o, "authors", w.people(r.authors));
    w.put(o, "contributors", w.people(r.contributors));
    w.put(o, "language", w.str(r.language));
    w.put(o, "languages", w.strings(r.languages));
    w.put(o, "series", w.series(r.series));
    w.put(o, "identifiers", w.identifiers(r.identifiers));
    w.put(o, "isbn", w.first_of(r.identifiers, "isbn"));
    w.put(o, "asin", w.first_of(r.identifiers, "asin"));
    w.put(o, "publisher", w.str(r.publisher));
    w.put(o, "published", w.str(r.published));
    w.put(o, "modified", w.str(r.modified));
    w.put(o, "rights", w.str(r.rights));
    w.put(o, "description", w.str(r.description));
    w.put(o, "subjects", w.strings(r.subjects));
    w.put(o, "pages", w.count(r.pages));
    w.put(o, "cover", w.cover(r.cover));
    w.put(o, "drm", w.boolean(r.drm));
    w.put(o, "drm_scheme", w.opt(r.drm_scheme));
    w.put(o, "obfuscated_fonts", w.boolean(r.obfuscated_fonts));
    w.put(o, "encoding", w.opt(r.encoding));
    w.put(o, "warnings", w.strings(r.warnings));
    if (w.failed()) {
        eb_set_error("out of memory");
        return nullptr;
    }
    // No writer flag: a string that is not valid UTF-8 fails the write instead
    // of reaching the host.
    char *text = yyjson_mut_write(doc.get(), 0, nullptr);
    if (!text) eb_set_error("json write failed");
    return text;
}
