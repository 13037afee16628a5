// schema_check.cpp - JSON Schema subset checker for the full record's tests and fuzz targets.
#include "schema_check.h"

#include <yyjson.h>

#include <cstring>
#include <stdexcept>

#include "book_builders.h"

namespace qtest {

namespace {

bool type_is(const char *name, yyjson_val *v) {
    if (!std::strcmp(name, "object")) return yyjson_is_obj(v);
    if (!std::strcmp(name, "array")) return yyjson_is_arr(v);
    if (!std::strcmp(name, "string")) return yyjson_is_str(v);
    if (!std::strcmp(name, "boolean")) return yyjson_is_bool(v);
    if (!std::strcmp(name, "null")) return yyjson_is_null(v);
    if (!std::strcmp(name, "integer")) return yyjson_is_int(v);
    if (!std::strcmp(name, "number")) return yyjson_is_num(v);
    return false;
}

std::size_t code_points(const char *s, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace

std::string metadata_schema_path() {
    return QEM_SCHEMA_PATH;
}

SchemaChecker::SchemaChecker(const std::string &schema_path) {
    std::string text = read_file(schema_path);
    schema_ = yyjson_read(text.data(), text.size(), 0);
    if (!schema_) throw std::runtime_error("cannot parse schema " + schema_path);
}

SchemaChecker::~SchemaChecker() {
    yyjson_doc_free(schema_);
}

std::string SchemaChecker::check(const std::string &json) {
    yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
    if (!doc) return "not strict JSON";
    std::string err = check_value(yyjson_doc_get_root(schema_), yyjson_doc_get_root(doc), "$");
    yyjson_doc_free(doc);
    return err;
}

std::string SchemaChecker::check_value(yyjson_val *schema, yyjson_val *v,
                                       const std::string &where) {
    if (!yyjson_is_obj(schema)) return where + ": schema is not an object";
    yyjson_obj_iter it = yyjson_obj_iter_with(schema);
    yyjson_val *key;
    while ((key = yyjson_obj_iter_next(&it))) {
        std::string err =
            check_keyword(yyjson_get_str(key), yyjson_obj_iter_get_val(key), schema, v, where);
        if (!err.empty()) return err;
    }
    return "";
}

std::string SchemaChecker::check_keyword(const std::string &k, yyjson_val *arg, yyjson_val *schema,
                                         yyjson_val *v, const std::string &where) {
    if (k == "$schema" || k == "$id" || k == "title" || k == "description" || k == "$defs")
        return "";
    if (k == "$ref") {
        std::string ref = yyjson_get_str(arg) ? yyjson_get_str(arg) : "";
        const std::string prefix = "#/$defs/";
        if (ref.compare(0, prefix.size(), prefix) != 0) return where + ": unsupported $ref " + ref;
        yyjson_val *defs = yyjson_obj_get(yyjson_doc_get_root(schema_), "$defs");
        yyjson_val *target = yyjson_obj_get(defs, ref.c_str() + prefix.size());
        if (!target) return where + ": unknown $ref " + ref;
        return check_value(target, v, where);
    }
    if (k == "type") {
        if (yyjson_is_str(arg)) {
            if (!type_is(yyjson_get_str(arg), v)) return where + ": not " + yyjson_get_str(arg);
            return "";
        }
        std::size_t idx, max;
        yyjson_val *t;
        yyjson_arr_foreach(arg, idx, max, t) if (type_is(yyjson_get_str(t), v)) return "";
        return where + ": of none of the allowed types";
    }
    if (k == "enum") {
        std::size_t idx, max;
        yyjson_val *e;
        yyjson_arr_foreach(arg, idx, max, e) if (yyjson_equals(e, v)) return "";
        return where + ": not one of the allowed values";
    }
    if (k == "required") {
        if (!yyjson_is_obj(v)) return "";
        std::size_t idx, max;
        yyjson_val *name;
        yyjson_arr_foreach(arg, idx, max, name) {
            if (!yyjson_obj_get(v, yyjson_get_str(name)))
                return where + ": missing " + yyjson_get_str(name);
        }
        return "";
    }
    if (k == "properties") {
        if (!yyjson_is_obj(v)) return "";
        yyjson_obj_iter it = yyjson_obj_iter_with(arg);
        yyjson_val *name;
        while ((name = yyjson_obj_iter_next(&it))) {
            yyjson_val *member = yyjson_obj_get(v, yyjson_get_str(name));
            if (!member) continue;
            std::string err = check_value(yyjson_obj_iter_get_val(name), member,
                                          where + "." + yyjson_get_str(name));
            if (!err.empty()) return err;
        }
        return "";
    }
    if (k == "additionalProperties") {
        if (!yyjson_is_obj(v)) return "";
        yyjson_val *props = yyjson_obj_get(schema, "properties");
        yyjson_obj_iter it = yyjson_obj_iter_with(v);
        yyjson_val *name;
        while ((name = yyjson_obj_iter_next(&it))) {
            if (yyjson_obj_get(props, yyjson_get_str(name))) continue;
            std::string here = where + "." + yyjson_get_str(name);
            if (yyjson_is_false(arg)) return here + ": not allowed";
            if (yyjson_is_obj(arg)) {
                std::string err = check_value(arg, yyjson_obj_iter_get_val(name), here);
                if (!err.empty()) return err;
            }
        }
        return "";
    }
    if (k == "items") {
        if (!yyjson_is_arr(v)) return "";
        std::size_t idx, max;
        yyjson_val *item;
        yyjson_arr_foreach(v, idx, max, item) {
            std::string err = check_value(arg, item, where + "[" + std::to_string(idx) + "]");
            if (!err.empty()) return err;
        }
        return "";
    }
    if (k == "minLength") {
        if (!yyjson_is_str(v)) return "";
        if (code_points(yyjson_get_str(v), yyjson_get_len(v)) < yyjson_get_uint(arg))
            return where + ": too short";
        return "";
    }
    if (k == "minimum") {
        if (!yyjson_is_num(v)) return "";
        return yyjson_get_num(v) < yyjson_get_num(arg) ? where + ": below the minimum" : "";
    }
    if (k == "pattern") {
        if (!yyjson_is_str(v)) return "";
        std::string p = yyjson_get_str(arg);
        auto found = patterns_.find(p);
        if (found == patterns_.end()) found = patterns_.emplace(p, std::regex(p)).first;
        std::string s(yyjson_get_str(v), yyjson_get_len(v));
        return std::regex_search(s, found->second) ? "" : where + ": does not match " + p;
    }
    return where + ": keyword not understood by the checker: " + k;
}

}  // namespace qtest
