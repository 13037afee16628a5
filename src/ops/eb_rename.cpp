// eb_rename.cpp - the rename plan that pairs each book's path with a proposed new one.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <utf8proc.h>
#include <yyjson.h>

#include "error.h"
#include "heap.h"
#include "json_doc.h"
#include "ops/eb_rename.h"
#include "quenfold_ebook.h"
#include "text/utf8.h"

namespace {

struct rename_item {
    char path[512];
    char base[256];
    char name[256];
    char ext[32];
    char author[256];
    char series[256];
    char idx[64];
    char title[256];
    // The whole path when it is longer than `path` holds, else null: a plan
    // must name the very file it was given.
    char *long_path;
};

const char *item_path(const rename_item &it) {
    return it.long_path ? it.long_path : it.path;
}

// The block of records, released with whatever long paths they hold.
struct item_block {
    rename_item *items = nullptr;
    std::size_t count = 0;
    ~item_block() {
        for (std::size_t i = 0; i < count; ++i)
            std::free(items[i].long_path);
        std::free(items);
    }
};

eb_doc_ptr read_json(const char *text) {
    // Without the in-situ flag the reader leaves the text untouched.
    return eb_doc_ptr(
        yyjson_read_opts(const_cast<char *>(text), std::strlen(text), 0, nullptr, nullptr));
}

const char *str_member(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? yyjson_get_str(v) : nullptr;
}

void copy_member(yyjson_val *obj, const char *key, char *dst, std::size_t size) {
    if (const char *s = str_member(obj, key)) copy_field(dst, size, s);
}

// Stores the path; false when a long path finds no memory.
bool set_path(rename_item &it, const char *p) {
    copy_field(it.path, sizeof it.path, p);
    if (std::strlen(p) < sizeof it.path) return true;
    it.long_path = eb_strdup(p);
    return it.long_path != nullptr;
}

// A book given by path: its fields come from the book itself; a book that
// cannot be read keeps them empty.
bool fill_from_path(rename_item &it, const char *p) {
    if (!set_path(it, p)) return false;
    basename_ext(p, it.base, it.ext);
    if (!plan_ext_ok(it.ext)) it.ext[0] = '\0';
    eb_unique<char> info(ebook_info(p));
    if (!info) return true;
    eb_doc_ptr doc = read_json(info.get());
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (yyjson_is_obj(root)) {
        copy_member(root, "author", it.author, sizeof it.author);
        copy_member(root, "series", it.series, sizeof it.series);
        copy_member(root, "series_index", it.idx, sizeof it.idx);
        copy_member(root, "title", it.title, sizeof it.title);
    }
    return true;
}

// A book described by the host; nothing is read. An extension that would
// put a separator or a control byte into the planned name (from the path or
// from "ext") is refused, and the book then gets no extension at all.
bool fill_from_object(rename_item &it, yyjson_val *obj) {
    bool refused = false;
    if (const char *p = str_member(obj, "path")) {
        if (!set_path(it, p)) return false;
        basename_ext(item_path(it), it.base, it.ext);
        if (it.ext[0] && !plan_ext_ok(it.ext)) refused = true;
    }
    copy_member(obj, "author", it.author, sizeof it.author);
    copy_member(obj, "series", it.series, sizeof it.series);
    copy_member(obj, "series_index", it.idx, sizeof it.idx);
    if (!it.idx[0]) copy_member(obj, "idx", it.idx, sizeof it.idx);
    copy_member(obj, "title", it.title, sizeof it.title);
    if (!it.ext[0] && !refused) {
        copy_member(obj, "ext", it.ext, sizeof it.ext);
        if (it.ext[0] && !plan_ext_ok(it.ext)) refused = true;
    }
    if (refused) it.ext[0] = '\0';
    if (!it.base[0]) copy_field(it.base, sizeof it.base, it.title[0] ? it.title : "file");
    if (!it.ext[0] && !refused) copy_field(it.ext, sizeof it.ext, ".epub");
    if (!item_path(it)[0]) std::snprintf(it.path, sizeof it.path, "%s%s", it.base, it.ext);
    return true;
}

// S numbered c: "S (c)", S shortened at a character boundary when the whole
// would pass the name limit.
void numbered_name(char *out, const char *s, std::size_t c) {
    char suffix[32];
    int sl = std::snprintf(suffix, sizeof suffix, " (%zu)", c);
    std::size_t keep = utf8_prefix(s, std::strlen(s), kNameMax - static_cast<std::size_t>(sl));
    std::memcpy(out, s, keep);
    std::memcpy(out + keep, suffix, static_cast<std::size_t>(sl) + 1);
}

// A planned name as it is compared: NFC, so that a name with a precomposed
// letter and one with a letter and a combining accent, which look the same
// and which some file systems take for one name, clash. Names are written as
// planned; only the comparison normalises. Text below U+0300 (ASCII and the
// Latin letters of Western Europe, whose UTF-8 lead bytes stay below 0xCC)
// is its own NFC: nothing there decomposes or combines with what precedes
// it. A text that is not UTF-8 is compared as it is.
std::string compared_form(std::string_view name) {
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0xCC; }))
        return std::string(name);
    utf8proc_uint8_t *nfc = nullptr;
    utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t *>(name.data()),
                     static_cast<utf8proc_ssize_t>(name.size()), &nfc,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n == UTF8PROC_ERROR_NOMEM) throw std::bad_alloc();
    if (n < 0) return std::string(name);
    std::string out(reinterpret_cast<const char *>(nfc), static_cast<std::size_t>(n));
    std::free(nfc);
    return out;
}

// Name and extension, each in compared form, in one key: the extension
// starts with its full stop and the name holds no NUL, so a NUL between
// them keeps two different pairs apart.
std::string name_key(std::string_view name, std::string_view ext) {
    std::string key = compared_form(name);
    key += '\0';
    key += compared_form(ext);
    return key;
}

// Numbers every name that an earlier record already holds with the same
// extension (compared in NFC): the first free of "S (2)", "S (3)", ..., S
// being the record's own name. Planned names only accumulate, so the first
// free counter for a given name never goes down; each taken name remembers
// the last counter handed out for it, and the search resumes there instead
// of starting over. False when memory runs out.
bool resolve_clashes(rename_item *items, std::size_t n) {
    try {
        std::unordered_map<std::string, std::size_t> taken;
        taken.reserve(n);
        std::vector<std::size_t> last_counter(n, 1);
        for (std::size_t k = 0; k < n; ++k) {
            rename_item &it = items[k];
            std::string key = name_key(it.name, it.ext);
            auto found = taken.find(key);
            if (found != taken.end()) {
                std::size_t holder = found->second;
                std::size_t c = last_counter[holder];
                char cand[256];
                do {
                    numbered_name(cand, it.name, ++c);
                    key = name_key(cand, it.ext);
                } while (taken.count(key) != 0);
                last_counter[holder] = c;
                std::strcpy(it.name, cand);
            }
            taken.emplace(std::move(key), k);
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// One plan entry. A member or object the document cannot hold is left out.
void add_entry(yyjson_mut_doc *d, yyjson_mut_val *arr, const rename_item &it) {
    yyjson_mut_val *obj = yyjson_mut_obj(d);
    if (!obj) return;
    char to_name[300];
    std::snprintf(to_name, sizeof to_name, "%s%s", it.name, it.ext);
    const char *from = item_path(it);
    const char *slash = std::strrchr(from, '/');
    std::size_t dir_len = slash ? static_cast<std::size_t>(slash - from) + 1 : 0;
    std::size_t name_len = std::strlen(to_name);
    // Only a long path can need more than the usual 800 bytes.
    char to_small[800];
    eb_unique<char> to_big;
    char *to = to_small;
    if (dir_len + name_len + 1 > sizeof to_small) {
        to_big.reset(static_cast<char *>(std::malloc(dir_len + name_len + 1)));
        to = to_big.get();
    }
    yyjson_mut_obj_add_strcpy(d, obj, "from", from);
    if (to) {
        std::memcpy(to, from, dir_len);
        std::memcpy(to + dir_len, to_name, name_len + 1);
        yyjson_mut_obj_add_strcpy(d, obj, "to", to);
    }
    yyjson_mut_obj_add_strcpy(d, obj, "to_name", to_name);
    yyjson_mut_obj_add_bool(d, obj, "rename", false);
    yyjson_mut_arr_append(arr, obj);
}

}  // namespace

char *eb_rename_plan_impl(const char *files_json, const char *pattern) {
    if (!pattern || !*pattern) pattern = def_pattern;

    eb_doc_ptr req = read_json(files_json);
    if (!req) {
        eb_set_error("invalid files_json");
        return nullptr;
    }
    yyjson_val *root = yyjson_doc_get_root(req.get());
    if (!yyjson_is_arr(root)) {
        eb_set_error("files_json must be a JSON array");
        return nullptr;
    }

    item_block block;
    std::size_t slots = std::max<std::size_t>(yyjson_arr_size(root), 1);
    block.items = static_cast<rename_item *>(std::calloc(slots, sizeof(rename_item)));
    if (!block.items) {
        eb_set_error("out of memory");
        return nullptr;
    }

    std::size_t idx, max;
    yyjson_val *el;
    yyjson_arr_foreach(root, idx, max, el) {
        rename_item &it = block.items[block.count];
        bool ok = true;
        if (yyjson_is_str(el)) {
            ++block.count;
            ok = fill_from_path(it, yyjson_get_str(el));
        } else if (yyjson_is_obj(el)) {
            ++block.count;
            ok = fill_from_object(it, el);
        } else {
            continue;
        }
        if (!ok) {
            eb_set_error("out of memory");
            return nullptr;
        }
        build_name(pattern, it.author, it.series, it.idx, it.title, it.name);
    }
    req.reset();

    if (!resolve_clashes(block.items, block.count)) {
        eb_set_error("out of memory");
        return nullptr;
    }

    char *text = nullptr;
    {
        eb_mut_doc_ptr out(yyjson_mut_doc_new(nullptr));
        if (out) {
            yyjson_mut_doc *d = out.get();
            yyjson_mut_val *arr = yyjson_mut_arr(d);
            if (arr) {
                yyjson_mut_doc_set_root(d, arr);
                for (std::size_t i = 0; i < block.count; ++i)
                    add_entry(d, arr, block.items[i]);
            }
            text = yyjson_mut_write_opts(d, 0, nullptr, nullptr, nullptr);
        }
    }
    if (!text) {
        eb_set_error("json write failed");
        return nullptr;
    }
    return text;
}
