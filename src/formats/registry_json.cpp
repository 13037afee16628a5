// registry_json.cpp - the format table as JSON for hosts: what ebook_formats returns.
#include <yyjson.h>

#include <span>
#include <string_view>

#include "error.h"
#include "formats/registry.h"
#include "json_doc.h"

namespace {

yyjson_mut_val *texts(yyjson_mut_doc *d, std::span<const std::string_view> list) {
    yyjson_mut_val *arr = yyjson_mut_arr(d);
    for (std::string_view s : list)
        yyjson_mut_arr_add_strn(d, arr, s.data(), s.size());
    return arr;
}

}  // namespace

// One object a format, in table order:
//   {"format","extensions","info_extensions","read","write","cover","module",
//    "shared_extensions","signatures":[{"offset","bytes"}]}
char *eb_formats_json() {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    if (!doc) {
        eb_set_error("yyjson doc alloc failed");
        return nullptr;
    }
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *root = yyjson_mut_arr(d);
    yyjson_mut_doc_set_root(d, root);
    for (const eb_format &f : eb_formats()) {
        yyjson_mut_val *o = yyjson_mut_arr_add_obj(d, root);
        yyjson_mut_obj_add_strn(d, o, "format", f.name.data(), f.name.size());
        yyjson_mut_obj_add_val(d, o, "extensions", texts(d, f.extensions));
        yyjson_mut_obj_add_val(d, o, "info_extensions", texts(d, f.info_extensions));
        yyjson_mut_obj_add_bool(d, o, "read", f.read != nullptr);
        yyjson_mut_obj_add_bool(d, o, "write", f.writer != nullptr);
        yyjson_mut_obj_add_bool(d, o, "cover", f.info != nullptr || f.cover != nullptr);
        yyjson_mut_obj_add_bool(d, o, "module", f.in_module);
        yyjson_mut_obj_add_val(d, o, "shared_extensions", texts(d, f.shared_extensions));
        yyjson_mut_val *sigs = yyjson_mut_obj_add_arr(d, o, "signatures");
        for (const eb_signature &s : f.signatures) {
            yyjson_mut_val *sig = yyjson_mut_arr_add_obj(d, sigs);
            yyjson_mut_obj_add_uint(d, sig, "offset", s.offset);
            yyjson_mut_obj_add_strn(d, sig, "bytes", s.bytes.data(), s.bytes.size());
        }
    }
    char *text = yyjson_mut_write(d, 0, nullptr);
    if (!text) eb_set_error("json write failed");
    return text;
}
