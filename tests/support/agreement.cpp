// agreement.cpp - ebook_info against ebook_metadata on the same file, once the encoding is decoded.
#include "agreement.h"

#include <yyjson.h>

#include <cstring>

#include "full_record.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "text/encoding.h"

namespace qtest {

namespace {

std::string info_field(yyjson_val *root, const char *key) {
    yyjson_val *v = yyjson_obj_get(root, key);
    return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : std::string();
}

}  // namespace

Agreement compare_with_info(const std::string &path) {
    Agreement a;
    char *info = ebook_info(path.c_str());
    if (!info) return a;
    yyjson_doc *doc = yyjson_read(info, std::strlen(info), YYJSON_READ_ALLOW_INVALID_UNICODE);
    ebook_free_string(info);
    if (!doc) return a;
    yyjson_val *root = yyjson_doc_get_root(doc);
    a.info_ok = !yyjson_get_bool(yyjson_obj_get(root, "drm"));
    const std::string title = info_field(root, "title"), author = info_field(root, "author"),
                      language = info_field(root, "language");
    yyjson_doc_free(doc);
    if (!a.info_ok) return a;

    MetaProbe meta = MetaProbe::from_file(path);
    a.meta_ok = meta.ok();
    a.meta_error = meta.error();
    a.schema_error = meta.schema_error();
    if (!a.meta_ok) return a;
    const std::string encoding = meta.at("/encoding");
    auto decoded = [&](const std::string &bytes) {
        std::string out;
        if (encoding == "<null>" || !eb_decode(bytes, encoding, &out, nullptr))
            out = eb_utf8_repair(bytes, nullptr);
        eb_fold_line(out);
        return out;
    };
    auto differ = [&](const char *field, const std::string &info_value, std::string full) {
        if (full == "<missing>") full = "";
        if (decoded(info_value) != full)
            a.differences.push_back(std::string(field) + ": info '" + decoded(info_value) +
                                    "' vs full '" + full + "'");
    };
    differ("title", title, meta.at("/title"));
    differ("language", language, meta.at("/language"));
    bool author_is_contributor = false;
    for (std::size_t i = 0; i < meta.count("/contributors"); ++i)
        author_is_contributor =
            author_is_contributor ||
            meta.at("/contributors/" + std::to_string(i) + "/name") == decoded(author);
    if (!author_is_contributor) differ("author", author, meta.at("/authors/0/name"));
    return a;
}

}  // namespace qtest
