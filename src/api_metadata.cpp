// api_metadata.cpp - the exports of the full record: from a file, from memory or through a read
// callback, each through the format table's reader.
#include "error.h"
#include "formats/registry.h"
#include "full_record.h"
#include "io/source.h"
#include "quenfold_ebook.h"

namespace {

// A book that changed while it was read gives no record, protected or not:
// what was read of it cannot be trusted.
// label: what "unsupported ebook format: %s" names when name is null.
int read_record(const char *name, const eb_source &src, const char *label, eb_record &r) {
    const int rc = eb_read_record(src, name, name ? name : label, r);
    if (src.failed()) {
        src.report_short_read();
        return -1;
    }
    if (rc != 0 && !r.drm) return -1;
    eb_record_ensure_utf8(r);
    eb_record_settle(r);
    // Notices live in the record's warnings; after a success the text is empty.
    eb_clear_error();
    return 0;
}

char *describe(const char *name, const eb_source &src, const char *label = "(memory)") {
    eb_record r;
    if (read_record(name, src, label, r) != 0) return nullptr;
    return eb_record_to_json(r);
}

}  // namespace

int eb_read_full_record(const char *name, const eb_source &src, eb_record &r) {
    return read_record(name, src, "(memory)", r);
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata(const char *path) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    return eb_guarded<char *>(nullptr, [&]() -> char * {
        // One descriptor for the call; each reader asks only for the ranges
        // it needs (the FictionBook reader for the whole text).
        eb_source src;
        if (!src.open(path)) return nullptr;
        return describe(path, src);
    });
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata_from_memory(const void *data, size_t len,
                                                               const char *name) noexcept {
    eb_clear_error();
    if (!data) {
        eb_set_error("NULL data");
        return nullptr;
    }
    return eb_guarded<char *>(nullptr, [&]() -> char * {
        const eb_source src(data, static_cast<std::uint64_t>(len));
        return describe(name, src);
    });
}

extern "C" QUENFOLD_EBOOK_API char *ebook_metadata_from_reader(ebook_read_fn read, void *ctx,
                                                               unsigned long long size,
                                                               const char *name) noexcept {
    eb_clear_error();
    if (!read) {
        eb_set_error("NULL read");
        return nullptr;
    }
    return eb_guarded<char *>(nullptr, [&]() -> char * {
        const eb_source src(read, ctx, size, name);
        return describe(name, src, src.path());
    });
}
