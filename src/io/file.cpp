// file.cpp - opening a book without blocking and loading it whole, NUL-terminated, within 512 MiB.

#include "io/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "error.h"
#include "heap.h"

namespace {
struct file_closer {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Opens path for reading without ever blocking (a FIFO named like a book would
// otherwise hang the caller) and refuses anything that is not a regular file.
std::FILE *open_regular(const char *path, eb_file_id *id) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        eb_set_errno_error("cannot open file", path, errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        eb_set_error("not a regular file: %s", path);
        return nullptr;
    }
    if (id) *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    std::FILE *f = ::fdopen(fd, "rb");
    if (!f) {
        int e = errno;
        ::close(fd);
        eb_set_errno_error("cannot open file", path, e);
    }
    return f;
}
}  // namespace

int eb_read_file(const char *path, char **out, std::uint64_t *out_len, eb_file_id *id) {
    *out = nullptr;
    *out_len = 0;
    file_ptr f(open_regular(path, id));
    if (!f) return -1;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        eb_set_error("cannot seek: %s", path);
        return -1;
    }
    long pos = std::ftell(f.get());
    if (pos < 0) {
        eb_set_error("cannot stat: %s", path);
        return -1;
    }
    std::uint64_t size = static_cast<std::uint64_t>(pos);
    if (size > EB_MAX_FILE) {
        eb_set_error("file too large: %s", path);
        return -1;
    }
    std::rewind(f.get());
    eb_unique<char> block(static_cast<char *>(std::malloc(size + 1)));
    if (!block) {
        eb_set_error("out of memory");
        return -1;
    }
    std::size_t got = size ? std::fread(block.get(), 1, size, f.get()) : 0;
    f.reset();
    if (got < size) {
        eb_set_error("short read: %s", path);
        return -1;
    }
    block.get()[size] = '\0';
    *out = block.release();
    *out_len = size;
    return 0;
}
