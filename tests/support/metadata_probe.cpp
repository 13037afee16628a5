// metadata_probe.cpp - a test book's full record, parsed and checked against the schema.
#include "metadata_probe.h"

#include <yyjson.h>

#include "quenfold_ebook.h"
#include "schema_check.h"

namespace qtest {

void MetaProbe::doc_free::operator()(yyjson_doc *d) const noexcept {
    yyjson_doc_free(d);
}

void MetaProbe::take(char *json) {
    error_ = ebook_last_error();
    if (!json) return;
    json_ = json;
    ebook_free_string(json);
    static SchemaChecker checker(metadata_schema_path());
    schema_error_ = checker.check(json_);
    yyjson_doc *d = yyjson_read(json_.data(), json_.size(), 0);
    if (d)
        doc_.reset(d, doc_free());
    else
        schema_error_ = "does not parse";
}

MetaProbe MetaProbe::from_memory(const std::string &bytes, const char *name) {
    MetaProbe p;
    p.take(ebook_metadata_from_memory(bytes.data(), bytes.size(), name));
    return p;
}

MetaProbe MetaProbe::from_file(const std::string &path) {
    MetaProbe p;
    p.take(ebook_metadata(path.c_str()));
    return p;
}

MetaProbe MetaProbe::from_write(const std::string &path, const std::string &changes,
                                unsigned flags) {
    MetaProbe p;
    p.take(ebook_write_metadata(path.c_str(), changes.c_str(), flags));
    return p;
}

std::string MetaProbe::at(const std::string &pointer) const {
    if (!doc_) return "<missing>";
    yyjson_val *v = yyjson_doc_ptr_get(doc_.get(), pointer.c_str());
    if (!v) return "<missing>";
    if (yyjson_is_str(v)) return std::string(yyjson_get_str(v), yyjson_get_len(v));
    if (yyjson_is_null(v)) return "<null>";
    if (yyjson_is_bool(v)) return yyjson_get_bool(v) ? "true" : "false";
    if (yyjson_is_int(v)) return std::to_string(yyjson_get_uint(v));
    return "<other>";
}

std::size_t MetaProbe::count(const std::string &pointer) const {
    if (!doc_) return 0;
    yyjson_val *v = yyjson_doc_ptr_get(doc_.get(), pointer.c_str());
    return yyjson_is_arr(v) ? yyjson_arr_size(v) : 0;
}

}  // namespace qtest
