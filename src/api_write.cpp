// api_write.cpp - the export that writes metadata into a book.
#include <new>

#include "error.h"
#include "ops/write/engine.h"
#include "quenfold_ebook.h"

extern "C" QUENFOLD_EBOOK_API char *ebook_write_metadata(const char *path, const char *changes_json,
                                                         unsigned flags) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    if (!changes_json) {
        eb_set_error("NULL changes_json");
        return nullptr;
    }
    // No exception may cross the C boundary; the only ones possible are
    // allocation failures, and the temporary file goes with the unwinding.
    try {
        return eb_write_book(path, changes_json, flags);
    } catch (...) {
        eb_set_error("out of memory");
        return nullptr;
    }
}
