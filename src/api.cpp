// api.cpp - the six exported functions of the book info, and what a host asks of the library itself
// (its formats, its version): argument checks, error reset, calls into the library.

#include <cstdlib>

#include "error.h"
#include "formats/detect.h"
#include "formats/registry.h"
#include "ops/cover.h"
#include "ops/eb_rename.h"
#include "ops/scan.h"
#include "quenfold_ebook.h"
#include "record.h"

extern "C" QUENFOLD_EBOOK_API char *ebook_info(const char *path) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    eb_meta meta;
    eb_meta_init(&meta);
    char *json = eb_guarded<char *>(nullptr, [&]() -> char * {
        int rc = load_and_parse(path, &meta, 0);
        return rc == 0 || meta.drm ? eb_meta_to_json(&meta) : nullptr;
    });
    eb_meta_free(&meta);
    return json;
}

extern "C" QUENFOLD_EBOOK_API int ebook_extract_cover(const char *path,
                                                      const char *out_path) noexcept {
    eb_clear_error();
    if (!path || !out_path) {
        eb_set_error("NULL argument");
        return -1;
    }
    eb_meta meta;
    eb_meta_init(&meta);
    // A DRM-protected book fails here like any reader failure: there is
    // nothing to write for it.
    int rc = eb_guarded(-1, [&] { return extract_cover(path, out_path, &meta); });
    eb_meta_free(&meta);
    return rc;
}

extern "C" QUENFOLD_EBOOK_API char *ebook_scan_dir(const char *dir) noexcept {
    eb_clear_error();
    if (!dir) {
        eb_set_error("NULL dir");
        return nullptr;
    }
    return eb_guarded<char *>(nullptr, [&] { return scan_dir(dir); });
}

extern "C" QUENFOLD_EBOOK_API char *ebook_rename_plan(const char *files_json,
                                                      const char *pattern) noexcept {
    eb_clear_error();
    if (!files_json) {
        eb_set_error("NULL files_json");
        return nullptr;
    }
    return eb_guarded<char *>(nullptr, [&] { return eb_rename_plan_impl(files_json, pattern); });
}

extern "C" QUENFOLD_EBOOK_API const char *ebook_last_error(void) noexcept {
    return eb_error_text();
}

extern "C" QUENFOLD_EBOOK_API void ebook_free_string(char *s) noexcept {
    std::free(s);
}

// The error text is not emptied first: a host may ask between a failing
// call and reading its message.
extern "C" QUENFOLD_EBOOK_API char *ebook_formats(void) noexcept {
    return eb_guarded<char *>(nullptr, [] { return eb_formats_json(); });
}

extern "C" QUENFOLD_EBOOK_API const char *ebook_version(void) noexcept {
    return QUENFOLD_EBOOK_VERSION_STRING;
}
