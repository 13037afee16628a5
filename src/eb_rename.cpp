// eb_rename.cpp - file names from name patterns, and the rename plan that pairs
// each book's path with a proposed new one.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <yyjson.h>

#include "eb_internal.h"

const char def_pattern[] = "{author} - {series} #{idx} - {title}";

namespace {

// Longest file name we propose, without its extension: leaves room for the
// extension and a counter within the 255-byte name limit of common systems.
constexpr std::size_t kNameMax = 180;

// ===========================================================================
// UTF-8 cut points. Texts are never validated, but a cut must not leave half
// a character behind: the plan is written as strict JSON, and one split
// character would fail the whole plan.

inline bool is_cont(char b) {
    return (static_cast<unsigned char>(b) & 0xC0) == 0x80;
}

// Length of the longest prefix of s (n bytes) that is at most max bytes long
// and does not end inside a multi-byte character.
std::size_t utf8_prefix(const char *s, std::size_t n, std::size_t max) {
    if (n <= max) return n;
    std::size_t k = max;
    for (int i = 0; i < 3 && k > 0 && is_cont(s[k]); ++i)
        --k;
    return k;
}

// Length of s (len bytes) without a trailing lead byte whose continuation
// bytes are missing. Used where the cut point lies behind us (the source was
// transformed while copying).
std::size_t utf8_drop_partial(const char *s, std::size_t len) {
    std::size_t p = len;
    for (int i = 0; i < 3 && p > 0 && is_cont(s[p - 1]); ++i)
        --p;
    if (p == 0) return len;
    unsigned char lead = static_cast<unsigned char>(s[p - 1]);
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return len - (p - 1) < need ? p - 1 : len;
}

// Copies src into a field of size bytes (size - 1 bytes of text at most),
// cutting at a character boundary.
void copy_field(char *dst, std::size_t size, const char *src) {
    std::size_t n = utf8_prefix(src, std::strlen(src), size - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// Bytes that no common file system takes in a name, or that would make the
// name a path.
inline bool is_unsafe(unsigned char b) {
    return b < 0x20 || (b != 0 && std::strchr("\"*/:<>?\\|", b) != nullptr);
}

}  // namespace

// ===========================================================================
// Names

void sanitize_to(char *dst, std::size_t cap, const char *src) {
    if (cap == 0) return;
    const std::size_t lim = std::min(cap - 1, kNameMax);
    std::size_t n = 0;
    bool in_run = false;
    const char *p = src;
    for (; *p && n < lim; ++p) {
        unsigned char b = static_cast<unsigned char>(*p);
        if (is_unsafe(b)) {
            if (!in_run) dst[n++] = '_';
            in_run = true;
        } else {
            dst[n++] = *p;
            in_run = false;
        }
    }
    // Settle the character boundary before trimming, so that dropping a split
    // character can neither empty the name nor expose a trailing dot.
    if (*p) n = utf8_drop_partial(dst, n);
    while (n > 0 && (dst[n - 1] == ' ' || dst[n - 1] == '.' || dst[n - 1] == '_'))
        --n;
    if (n == 0) {
        copy_field(dst, cap, "untitled");
        return;
    }
    std::size_t lead = 0;
    while (lead < n && (dst[lead] == ' ' || dst[lead] == '_'))
        ++lead;
    std::memmove(dst, dst + lead, n - lead);
    dst[n - lead] = '\0';
}

void basename_ext(const char *path, char *base, char *ext) {
    const char *slash = std::strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    const char *dot = std::strrchr(file, '.');
    ext[0] = '\0';
    if (dot && dot != file) {
        std::size_t n = utf8_prefix(file, static_cast<std::size_t>(dot - file), 255);
        std::memcpy(base, file, n);
        base[n] = '\0';
        copy_field(ext, 32, dot);
    } else {
        copy_field(base, 256, file);
    }
}

namespace {

// Bounded text in a caller's array; remembers whether anything was cut off.
struct bounded {
    char *buf;
    std::size_t max;  // bytes of text, excluding the NUL
    std::size_t len = 0;
    bool cut = false;

    bool full() const { return len >= max; }
    void put(char c) {
        if (full()) {
            cut = true;
            return;
        }
        buf[len++] = c;
    }
    void put(std::string_view s) {
        std::size_t n = std::min(s.size(), max - len);
        if (n < s.size()) cut = true;
        std::memcpy(buf + len, s.data(), n);
        len += n;
    }
    // Terminates; a cut never leaves half a character at the end.
    void finish() {
        if (cut) len = utf8_drop_partial(buf, len);
        buf[len] = '\0';
    }
};

inline bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// One segment of the expanded pattern, tidied: blanks trimmed, space runs
// merged, and a '#' kept only where a number follows it.
std::size_t tidy_segment(std::string_view seg, char *out, std::size_t out_size) {
    while (!seg.empty() && is_blank(seg.front()))
        seg.remove_prefix(1);
    while (!seg.empty() && is_blank(seg.back()))
        seg.remove_suffix(1);
    bounded t{out, out_size - 1};
    for (std::size_t i = 0; i < seg.size(); ++i) {
        char c = seg[i];
        if (c == ' ' && t.len > 0 && t.buf[t.len - 1] == ' ') continue;
        if (c == '#') {
            std::size_t j = i + 1;
            while (j < seg.size() && is_blank(seg[j]))
                ++j;
            if (j == seg.size() || seg[j] < '0' || seg[j] > '9') continue;
        }
        t.put(c);
    }
    t.finish();
    std::size_t b = 0, e = t.len;
    while (b < e && out[b] == ' ')
        ++b;
    while (e > b && out[e - 1] == ' ')
        --e;
    std::memmove(out, out + b, e - b);
    out[e - b] = '\0';
    return e - b;
}

}  // namespace

void build_name(const char *pattern, const char *author, const char *series, const char *idx,
                const char *title, char *out) {
    if (!pattern || !*pattern) pattern = def_pattern;
    char author_t[192], title_t[192], series_t[192] = "", idx_t[64] = "";
    sanitize_to(author_t, sizeof author_t, *author ? author : "Unknown");
    sanitize_to(title_t, sizeof title_t, *title ? title : "untitled");
    if (*series) sanitize_to(series_t, sizeof series_t, series);
    if (*idx) sanitize_to(idx_t, sizeof idx_t, idx);

    // Expansion: placeholders replaced, an unclosed '{' dropped.
    char x_buf[768];
    bounded x{x_buf, sizeof x_buf - 1};
    const char *p = pattern;
    while (*p && !x.full()) {
        if (*p != '{') {
            x.put(*p++);
            continue;
        }
        const char *close = std::strchr(p + 1, '}');
        if (!close) {
            ++p;
            continue;
        }
        std::string_view key(p + 1, static_cast<std::size_t>(close - p - 1));
        const char *val = nullptr;
        if (key == "author")
            val = author_t;
        else if (key == "title")
            val = title_t;
        else if (key == "series")
            val = series_t;
        else if (key == "idx" || key == "series_index")
            val = idx_t;
        if (val) x.put(val);
        p = close + 1;
    }
    if (*p) x.cut = true;  // the walk stopped at the limit
    x.finish();

    // Separator tidying: empty fields leave empty segments behind, dropped
    // here together with their " - ".
    char j_buf[640];
    std::size_t jl = 0;
    constexpr std::size_t j_max = sizeof j_buf - 1;
    std::string_view rest(x.buf, x.len);
    while (!rest.empty()) {
        std::size_t at = rest.find(" - ");
        std::string_view seg = rest.substr(0, at);
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 3);
        char seg_buf[512];
        std::size_t sl = tidy_segment(seg, seg_buf, sizeof seg_buf);
        if (sl == 0) continue;
        if (jl > 0 && jl + 3 <= j_max) {
            std::memcpy(j_buf + jl, " - ", 3);
            jl += 3;
        }
        if (jl + sl <= j_max) {
            std::memcpy(j_buf + jl, seg_buf, sl);
            jl += sl;
        }
    }
    j_buf[jl] = '\0';
    sanitize_to(out, 256, j_buf);
}

// ===========================================================================
// Rename plan

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

struct doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
    void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
using doc_ptr = std::unique_ptr<yyjson_doc, doc_deleter>;
using mut_doc_ptr = std::unique_ptr<yyjson_mut_doc, doc_deleter>;

doc_ptr read_json(const char *text) {
    // Without the in-situ flag the reader leaves the text untouched.
    return doc_ptr(
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
    eb_unique<char> info(ebook_info(p));
    if (!info) return true;
    doc_ptr doc = read_json(info.get());
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (yyjson_is_obj(root)) {
        copy_member(root, "author", it.author, sizeof it.author);
        copy_member(root, "series", it.series, sizeof it.series);
        copy_member(root, "series_index", it.idx, sizeof it.idx);
        copy_member(root, "title", it.title, sizeof it.title);
    }
    return true;
}

// A book described by the host; nothing is read.
bool fill_from_object(rename_item &it, yyjson_val *obj) {
    if (const char *p = str_member(obj, "path")) {
        if (!set_path(it, p)) return false;
        basename_ext(item_path(it), it.base, it.ext);
    }
    copy_member(obj, "author", it.author, sizeof it.author);
    copy_member(obj, "series", it.series, sizeof it.series);
    copy_member(obj, "series_index", it.idx, sizeof it.idx);
    if (!it.idx[0]) copy_member(obj, "idx", it.idx, sizeof it.idx);
    copy_member(obj, "title", it.title, sizeof it.title);
    if (!it.ext[0]) copy_member(obj, "ext", it.ext, sizeof it.ext);
    if (!it.base[0]) copy_field(it.base, sizeof it.base, it.title[0] ? it.title : "file");
    if (!it.ext[0]) copy_field(it.ext, sizeof it.ext, ".epub");
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

struct name_key {
    std::string_view name, ext;
    bool operator==(const name_key &o) const { return name == o.name && ext == o.ext; }
};
struct name_key_hash {
    std::size_t operator()(const name_key &k) const noexcept {
        std::hash<std::string_view> h;
        return h(k.name) * 31 + h(k.ext);
    }
};

// Numbers every name that an earlier record already holds with the same
// extension: the first free of "S (2)", "S (3)", ... Planned names only
// accumulate, so the first free counter for a given S never goes down; each
// taken name remembers the last counter handed out for it, and the search
// resumes there instead of starting over. False when memory runs out.
bool resolve_clashes(rename_item *items, std::size_t n) {
    try {
        // Keys point into the records, which stay put until the plan is written.
        std::unordered_map<name_key, std::size_t, name_key_hash> taken;
        taken.reserve(n);
        std::vector<std::size_t> last_counter(n, 1);
        for (std::size_t k = 0; k < n; ++k) {
            rename_item &it = items[k];
            auto found = taken.find(name_key{it.name, it.ext});
            if (found != taken.end()) {
                std::size_t holder = found->second;
                std::size_t c = last_counter[holder];
                char cand[256];
                do
                    numbered_name(cand, items[holder].name, ++c);
                while (taken.count(name_key{cand, it.ext}) != 0);
                last_counter[holder] = c;
                std::strcpy(it.name, cand);
            }
            taken.emplace(name_key{it.name, it.ext}, k);
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

    doc_ptr req = read_json(files_json);
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
        mut_doc_ptr out(yyjson_mut_doc_new(nullptr));
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
