// cover.cpp - cover extraction: the loaded cover bytes written unchanged to the host's file.

#include "ops/cover.h"

#include <cerrno>
#include <cstdio>

#include "error.h"

// Writes the reader's cover bytes unchanged. The destination is opened only
// when there is something to write, so a book without a cover leaves an
// existing file as it was.
int write_cover(const eb_meta &meta, const char *out_path) {
    if (!meta.cover_data || meta.cover_len == 0) {
        eb_set_error("no cover image found");
        return -1;
    }
    std::FILE *f = std::fopen(out_path, "wb");
    if (!f) {
        eb_set_errno_error("cannot write cover", out_path, errno);
        return -1;
    }
    std::size_t put = std::fwrite(meta.cover_data, 1, meta.cover_len, f);
    // Closing flushes the buffered tail; when that fails (disk full, quota)
    // the file on disk is short even though every byte was accepted.
    int closed = std::fclose(f);
    if (put < meta.cover_len || closed != 0) {
        eb_set_error("short write cover");
        return -1;
    }
    return 0;
}
