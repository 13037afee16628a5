// zip.cpp - ZIP members by name over bytes in memory, through the archive handle.

#include "io/zip.h"

#include <cstring>

#include "error.h"
#include "io/file.h"
#include "io/zip_archive.h"

// A member never inflates beyond the ceiling of a whole book file, and the
// markup cap is the one the archive handle applies to documents: a hand-made
// header claiming more is refused before any memory is obtained.
static_assert(EB_ZIP_MAX_MEMBER == EB_MAX_FILE, "a member never outgrows a whole book file");
static_assert(EB_ZIP_MAX_MARKUP == EB_ZIP_DOC_CAP, "one cap for every markup document");

// 1 when the bytes open as a ZIP archive, 0 otherwise; no error text either way.
int eb_zip_ok(const void *data, std::uint64_t len) {
    return eb_zip_archive(data, len).ok() ? 1 : 0;
}

char *eb_zip_member(const eb_zip_archive &za, const char *name, std::uint64_t *out_len,
                    std::uint64_t max_len) {
    *out_len = 0;
    char *block = nullptr;
    std::int64_t idx = name ? za.find(name) : -1;
    if (idx >= 0)
        za.read_block(static_cast<std::uint64_t>(idx),
                      max_len < EB_ZIP_MAX_MEMBER ? max_len : EB_ZIP_MAX_MEMBER, &block, out_len);
    if (!block) eb_set_error("missing zip entry: %s", name ? name : "");
    return block;
}

// The member named name (whole stored name, ASCII case ignored, first match
// wins) as a new malloc block of exactly its length; null with *out_len 0 and
// "not a valid ZIP archive" or "missing zip entry: %s" on any failure.
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name, std::uint64_t *out_len,
                     std::uint64_t max_len) {
    *out_len = 0;
    eb_zip_archive za(data, len);
    if (!za.ok()) {
        eb_set_error("not a valid ZIP archive");
        return nullptr;
    }
    return eb_zip_member(za, name, out_len, max_len);
}

int eb_zip_names_contain(const eb_zip_archive &za, const char *needle) {
    char name[512];
    for (std::uint64_t i = 0; i < za.count(); ++i) {
        std::string_view stored = za.name(i);
        std::size_t n = stored.size() < sizeof name - 1 ? stored.size() : sizeof name - 1;
        std::memcpy(name, stored.data(), n);
        name[n] = '\0';
        if (std::strstr(name, needle)) return 1;
    }
    return 0;
}

// 1 when some member's raw stored name, cut to 511 bytes, contains needle;
// 0 when none does; -1 when the bytes do not open as an archive.
int eb_zip_name_contains(const void *data, std::uint64_t len, const char *needle) {
    eb_zip_archive za(data, len);
    if (!za.ok()) return -1;
    return eb_zip_names_contain(za, needle);
}
