// fuzz_rename.cpp - the rename planner on arbitrary requests and patterns.
//
// Input: the pattern, a NUL byte, then files_json (without a NUL the whole
// input is files_json and the pattern is null). A string element of the
// request makes the planner read that file, so before the call every such
// element is confined to a private directory of books written at start-up:
// the name of one of those books stays that book, anything else becomes a
// name in that directory that does not exist. The fuzzer thus never reads
// or lists anything else on the machine.
#include <unistd.h>
#include <yyjson.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "ops/eb_rename.h"
#include "shelf.h"

namespace {

std::string g_dir;
std::vector<std::string> g_names;

void remove_shelf() {
    qtest::remove_tree(g_dir);
}

// Where a request's string element may point: a shelf book or a missing file
// beside them. The planner reads the element up to its first NUL byte.
std::string confine(const char *s) {
    std::string name(s);
    for (const std::string &book : g_names)
        if (name == book) return g_dir + "/" + name;
    if (name.empty()) return name;  // the empty path opens nothing
    for (char &c : name)
        if (c == '/') c = '_';
    return g_dir + "/x-" + name;
}

// The request with its top-level strings confined, or the text unchanged when
// it is no JSON array (the planner then refuses it before reading anything).
std::string confine_request(const char *text) {
    std::string out(text);
    yyjson_doc *doc =
        yyjson_read_opts(const_cast<char *>(text), std::strlen(text), 0, nullptr, nullptr);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc) : nullptr;
    if (root && yyjson_is_arr(root)) {
        yyjson_mut_doc *m = yyjson_mut_doc_new(nullptr);
        yyjson_mut_val *arr = yyjson_mut_arr(m);
        yyjson_mut_doc_set_root(m, arr);
        std::size_t i, n;
        yyjson_val *v;
        yyjson_arr_foreach(root, i, n, v) {
            if (yyjson_is_str(v))
                yyjson_mut_arr_add_strcpy(m, arr, confine(yyjson_get_str(v)).c_str());
            else
                yyjson_mut_arr_append(arr, yyjson_val_mut_copy(m, v));
        }
        char *written = yyjson_mut_write(m, 0, nullptr);
        // A confined name may no longer be valid UTF-8 only if the original
        // was not, which the strict read above already refused.
        qfuzz::check(written != nullptr);
        out = written;
        std::free(written);
        yyjson_mut_doc_free(m);
    }
    yyjson_doc_free(doc);
    return out;
}

// Elements the planner turns into entries: strings and objects.
std::size_t usable_elements(const std::string &request) {
    yyjson_doc *doc = yyjson_read(request.c_str(), request.size(), 0);
    std::size_t count = 0, i, n;
    yyjson_val *v;
    yyjson_arr_foreach(doc ? yyjson_doc_get_root(doc) : nullptr, i, n, v) {
        if (yyjson_is_str(v) || yyjson_is_obj(v)) ++count;
    }
    yyjson_doc_free(doc);
    return count;
}

std::string member_str(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_dir = qtest::make_temp_dir("qem-fuzz-shelf");
    for (const qtest::ShelfBook &b : qtest::shelf_books()) {
        qtest::write_file(g_dir + "/" + b.name, b.bytes);
        g_names.push_back(b.name);
    }
    std::atexit(remove_shelf);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    std::size_t nul = input.find('\0');
    std::string pattern = nul == std::string::npos ? std::string() : input.substr(0, nul);
    std::string request =
        confine_request(nul == std::string::npos ? input.c_str() : input.c_str() + nul + 1);

    char *plan =
        eb_rename_plan_impl(request.c_str(), nul == std::string::npos ? nullptr : pattern.c_str());
    if (plan) {
        // The plan is strict JSON: one entry per string or object of the
        // request, each "to" ending in its "to_name", none to be renamed.
        yyjson_doc *doc = yyjson_read(plan, std::strlen(plan), 0);
        yyjson_val *arr = doc ? yyjson_doc_get_root(doc) : nullptr;
        qfuzz::check(yyjson_is_arr(arr) && yyjson_arr_size(arr) == usable_elements(request));
        std::size_t i, n;
        yyjson_val *entry;
        yyjson_arr_foreach(arr, i, n, entry) {
            std::string to = member_str(entry, "to"), to_name = member_str(entry, "to_name");
            qfuzz::check(!to_name.empty() && to.size() >= to_name.size() &&
                         to.compare(to.size() - to_name.size(), to_name.size(), to_name) == 0);
            qfuzz::check(yyjson_is_false(yyjson_obj_get(entry, "rename")));
        }
        yyjson_doc_free(doc);
        std::free(plan);
    } else {
        qfuzz::check(ebook_last_error()[0] != '\0');
    }
    return 0;
}
