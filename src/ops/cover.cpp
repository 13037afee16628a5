// cover.cpp - cover extraction: the loaded cover bytes written unchanged to the host's file.

#include "ops/cover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "error.h"
#include "formats/detect.h"
#include "formats/registry.h"

namespace {
// Opens the destination for writing without truncating it, and truncates it
// only once it is known not to be the book: which file the path leads to
// (after links) is decided on the opened file itself, so no rename between a
// check and the open can make us cut the book. -1 with the error text set.
int open_destination(const char *out_path, const eb_file_id &book) {
    int fd = ::open(out_path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        eb_set_errno_error("cannot write cover", out_path, errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        eb_set_errno_error("cannot write cover", out_path, e);
        return -1;
    }
    const eb_file_id dest{static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
    if (dest == book) {
        ::close(fd);
        eb_set_error("cover path is the book itself: %s", out_path);
        return -1;
    }
    // Devices and pipes have nothing to truncate.
    if (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        int e = errno;
        ::close(fd);
        eb_set_errno_error("cannot write cover", out_path, e);
        return -1;
    }
    return fd;
}
}  // namespace

// Writes the reader's cover bytes unchanged. The destination is opened only
// when there is something to write, so a book without a cover leaves an
// existing file as it was.
int write_cover(const eb_meta &meta, const char *out_path, const eb_file_id &book) {
    if (!meta.cover_data || meta.cover_len == 0) {
        eb_set_error("no cover image found");
        return -1;
    }
    int fd = open_destination(out_path, book);
    if (fd < 0) return -1;
    std::FILE *f = ::fdopen(fd, "wb");
    if (!f) {
        int e = errno;
        ::close(fd);
        eb_set_errno_error("cannot write cover", out_path, e);
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

// The readers of the book info keep their cover to the byte: the formats
// of the table with a cover of their own (comic archives) are looked for
// only under names those readers do not take, and they decide the rest.
int extract_cover(const char *path, const char *out_path, eb_meta *meta) {
    eb_source src;
    if (!src.open(path)) return -1;
    const eb_file_id book = src.id();
    char ext[32];
    if (!eb_is_ebook_ext(eb_ext_lower(path, ext, sizeof ext))) {
        const int rc = eb_format_cover(src, path, &meta->cover_data, &meta->cover_len);
        if (rc < 0) return -1;
        if (rc == 0) return write_cover(*meta, out_path, book);
    }
    if (parse_source(path, src, meta, 1) != 0) return -1;
    return write_cover(*meta, out_path, book);
}
