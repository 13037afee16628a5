// rename_plan.cpp - the library's rename plan read into entries, and the few corrections the tool
// makes to its names.
#include <yyjson.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "cli.h"
#include "json_doc.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

struct LibString {
    void operator()(char *s) const { ebook_free_string(s); }
};

std::string str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return {};
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

bool ends_with_fb2_zip(std::string_view path) {
    if (path.size() < 8) return false;
    std::string tail(path.substr(path.size() - 8));
    for (char &c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return tail == ".fb2.zip";
}

// The planner takes a name's extension from its last full stop; a packed
// FictionBook would come out as a bare ".zip", which no reader takes for a
// book. Its ".fb2" is put back, in the letter case the file had.
void keep_double_extension(std::vector<Entry> &plan) {
    for (Entry &e : plan) {
        if (!ends_with_fb2_zip(e.from) || e.to == e.from) continue;
        const std::string inner = e.from.substr(e.from.size() - 8, 4);
        const std::string zip = e.from.substr(e.from.size() - 4);
        auto fix = [&](std::string &s) {
            if (s.size() >= 4 && s.compare(s.size() - 4, 4, zip) == 0)
                s.insert(s.size() - 4, inner);
        };
        fix(e.to_name);
        fix(e.to);
    }
}

}  // namespace

bool plan_names(const std::vector<PlanRequest> &asked, const std::string &pattern,
                std::vector<Entry> &plan) {
    eb_mut_doc_ptr req(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *arr = req ? yyjson_mut_arr(req.get()) : nullptr;
    if (!arr) throw std::bad_alloc();
    yyjson_mut_doc_set_root(req.get(), arr);
    for (const PlanRequest &r : asked) {
        yyjson_mut_val *obj = yyjson_mut_arr_add_obj(req.get(), arr);
        if (!obj) throw std::bad_alloc();
        auto add = [&](const char *key, const std::string &v) {
            if (!yyjson_mut_obj_add_strncpy(req.get(), obj, key, v.data(), v.size()))
                throw std::bad_alloc();
        };
        add("path", r.path);
        add("author", r.author);
        add("series", r.series);
        add("series_index", r.series_index);
        add("title", r.title);
    }
    std::unique_ptr<char, decltype(&std::free)> request(yyjson_mut_write(req.get(), 0, nullptr),
                                                        &std::free);
    if (!request) throw std::bad_alloc();

    std::unique_ptr<char, LibString> text(
        ebook_rename_plan(request.get(), pattern.empty() ? nullptr : pattern.c_str()));
    if (!text) {
        complain("no rename plan: %s", ebook_last_error());
        return false;
    }
    eb_doc_ptr doc = read_json(text.get(), 0);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_arr(root)) {
        complain("the rename plan is not a JSON array");
        return false;
    }
    yyjson_val *item;
    yyjson_arr_iter it = yyjson_arr_iter_with(root);
    while ((item = yyjson_arr_iter_next(&it))) {
        Entry e;
        e.from = str_of(yyjson_obj_get(item, "from"));
        e.to = str_of(yyjson_obj_get(item, "to"));
        e.to_name = str_of(yyjson_obj_get(item, "to_name"));
        plan.push_back(std::move(e));
    }
    keep_double_extension(plan);
    return true;
}

bool make_visible_name(std::string &name) {
    if (name.empty() || name[0] != '.') return false;
    for (std::size_t i = 0; i < name.size() && name[i] == '.'; ++i)
        name[i] = '_';
    return true;
}

}  // namespace qcli
