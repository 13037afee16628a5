// record.cpp - the book record's lifetime and its JSON object, the contract between readers and
// operations.

#include "record.h"

#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "error.h"
#include "json_doc.h"

void eb_meta_init(eb_meta *m) {
    std::memset(m, 0, sizeof *m);
}

void eb_meta_free(eb_meta *m) {
    if (!m) return;
    std::free(m->title);
    std::free(m->author);
    std::free(m->language);
    std::free(m->series);
    std::free(m->series_index);
    std::free(m->asin);
    std::free(m->format);
    std::free(m->cover_data);
    eb_meta_init(m);
}

namespace {
inline const char *or_empty(const char *s) {
    return s ? s : "";
}
}  // namespace

char *eb_meta_to_json(const eb_meta *m) {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    if (!doc) {
        eb_set_error("yyjson doc alloc failed");
        return nullptr;
    }
    yyjson_mut_doc *d = doc.get();
    // Without storage for the root the document stays rootless and the write
    // below fails; a member that finds no storage is simply left out.
    yyjson_mut_val *obj = yyjson_mut_obj(d);
    if (obj) {
        yyjson_mut_doc_set_root(d, obj);
        yyjson_mut_obj_add_bool(d, obj, "drm", m->drm != 0);
        yyjson_mut_obj_add_str(d, obj, "format", or_empty(m->format));
        yyjson_mut_obj_add_str(d, obj, "title", or_empty(m->title));
        yyjson_mut_obj_add_str(d, obj, "author", or_empty(m->author));
        yyjson_mut_obj_add_str(d, obj, "language", or_empty(m->language));
        yyjson_mut_obj_add_str(d, obj, "series", or_empty(m->series));
        yyjson_mut_obj_add_str(d, obj, "series_index", or_empty(m->series_index));
        yyjson_mut_obj_add_bool(d, obj, "has_cover", m->has_cover != 0 || m->cover_len != 0);
        if (m->asin && m->asin[0]) yyjson_mut_obj_add_str(d, obj, "asin", m->asin);
        if (m->cover_mime[0]) yyjson_mut_obj_add_str(d, obj, "cover_mime", m->cover_mime);
    }
    char *text =
        yyjson_mut_write_opts(d, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr, nullptr, nullptr);
    if (!text) {
        eb_set_error("json write failed");
        return nullptr;
    }
    return text;
}
