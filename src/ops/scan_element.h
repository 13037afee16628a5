// scan_element.h - the members of a book object that a directory-listing element carries.
#ifndef QUENFOLD_OPS_SCAN_ELEMENT_H
#define QUENFOLD_OPS_SCAN_ELEMENT_H

#include <yyjson.h>

#include <cstring>

// Copies the members of one book object (as ebook_info writes it) into the
// listing element elem, which already holds "path", in the object's order.
// "cover_mime" is no part of an element: the media type is only known with
// the cover bytes loaded. A member of an unexpected type is left out.
// Header-only so that the command-line tool, a host of the public interface
// only, builds the very same element as the library's scan.
inline void eb_copy_book_members(yyjson_mut_doc *out, yyjson_mut_val *elem, yyjson_val *book) {
    static const char *const keys[] = {"drm",    "format",       "title",     "author", "language",
                                       "series", "series_index", "has_cover", "asin"};
    for (const char *key : keys) {
        yyjson_val *v = yyjson_obj_get(book, key);
        if (!v) continue;
        const bool is_flag = std::strcmp(key, "drm") == 0 || std::strcmp(key, "has_cover") == 0;
        if (is_flag) {
            if (yyjson_is_bool(v)) yyjson_mut_obj_add_bool(out, elem, key, yyjson_get_bool(v));
        } else if (yyjson_is_str(v)) {
            yyjson_mut_val *k = yyjson_mut_str(out, key);
            yyjson_mut_val *s = yyjson_mut_strncpy(out, yyjson_get_str(v), yyjson_get_len(v));
            if (k && s) yyjson_mut_obj_add(elem, k, s);
        }
    }
}

#endif  // QUENFOLD_OPS_SCAN_ELEMENT_H
