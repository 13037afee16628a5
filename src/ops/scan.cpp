// scan.cpp - the directory scan: every book file directly in one directory, described through
// ebook_info.

#include "ops/scan.h"

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <yyjson.h>

#include "error.h"
#include "formats/detect.h"
#include "heap.h"
#include "json_doc.h"
#include "ops/scan_element.h"
#include "quenfold_ebook.h"

namespace {
struct dir_closer {
    void operator()(DIR *d) const noexcept { ::closedir(d); }
};

// One element for one book file; null when no storage was left for it.
yyjson_mut_val *describe_entry(yyjson_mut_doc *out, const char *path) {
    char *text = ebook_info(path);
    yyjson_mut_val *elem = yyjson_mut_obj(out);
    if (!elem) {
        ebook_free_string(text);
        return nullptr;
    }
    yyjson_mut_obj_add_strcpy(out, elem, "path", path);
    if (!text) {
        yyjson_mut_obj_add_strcpy(out, elem, "error", eb_error_text());
        return elem;
    }
    // Book texts may hold bytes that are not UTF-8 (older cp1252 books); the
    // object is read back as written, so that such a book keeps its metadata.
    eb_doc_ptr book(yyjson_read_opts(text, std::strlen(text), YYJSON_READ_ALLOW_INVALID_UNICODE,
                                     nullptr, nullptr));
    ebook_free_string(text);
    yyjson_val *root = book ? yyjson_doc_get_root(book.get()) : nullptr;
    if (root && yyjson_is_obj(root)) eb_copy_book_members(out, elem, root);
    return elem;
}

}  // namespace

char *scan_dir(const char *dir) {
    std::unique_ptr<DIR, dir_closer> d(::opendir(dir));
    if (!d) {
        eb_set_errno_error("cannot open dir", dir, errno);
        return nullptr;
    }
    eb_mut_doc_ptr out(yyjson_mut_doc_new(nullptr));
    if (!out) {
        eb_set_error("yyjson alloc failed");
        return nullptr;
    }
    yyjson_mut_val *arr = yyjson_mut_arr(out.get());
    if (arr) yyjson_mut_doc_set_root(out.get(), arr);

    const std::size_t dir_len = std::strlen(dir);
    while (struct dirent *ent = ::readdir(d.get())) {
        const char *name = ent->d_name;
        if (name[0] == '.') continue;
        char ext[32];
        if (!eb_is_ebook_ext(eb_ext_lower(name, ext, sizeof ext))) continue;
        // The path is joined at its full length: a cut path would name
        // another file, or none.
        const std::size_t name_len = std::strlen(name);
        eb_unique<char> path(static_cast<char *>(std::malloc(dir_len + name_len + 2)));
        if (!path) continue;
        std::memcpy(path.get(), dir, dir_len);
        path.get()[dir_len] = '/';
        std::memcpy(path.get() + dir_len + 1, name, name_len + 1);
        yyjson_mut_val *elem = describe_entry(out.get(), path.get());
        if (elem && arr) yyjson_mut_arr_append(arr, elem);
    }
    d.reset();

    char *text = yyjson_mut_write_opts(out.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr,
                                       nullptr, nullptr);
    if (!text) eb_set_error("json write failed");
    return text;
}
