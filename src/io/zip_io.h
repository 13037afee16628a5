// zip_io.h - the file-function table through which minizip reads an archive from a book source.
#ifndef QUENFOLD_IO_ZIP_IO_H
#define QUENFOLD_IO_ZIP_IO_H

#include <cstdint>

#include <minizip/ioapi.h>

#include "io/source.h"

// minizip reads the central directory a few bytes at a time and looks for the
// end record by scanning back up to 64 KiB in 1 KiB steps. Each of those reads
// would be a system call of its own, so reads are served from two windows
// over the file: one over its tail (the end record, the ZIP64 locator and, in
// most books, the whole central directory) and one that follows wherever
// minizip reads next (a member's local header and the start of its data).
// Large reads (member data) go straight to the source.
struct eb_zip_io {
    static constexpr std::uint64_t kTail = 66 * 1024;  // 64 KiB comment range, records, slack
    static constexpr std::uint64_t kWindow = 16 * 1024;

    struct window {
        std::uint64_t start = 0, len = 0;
        bool loaded = false;
    };

    explicit eb_zip_io(const eb_source &s) : src(s) {}

    const eb_source &src;
    std::uint64_t pos = 0;
    bool error = false;
    window tail, near;
    const window *last = nullptr;  // the window that served the last read
    unsigned char tail_bytes[kTail];
    unsigned char near_bytes[kWindow];

    // Up to n bytes at pos into buf, fewer only at the end of the book; 0 and
    // error set when the source fails.
    std::uint64_t read(void *buf, std::uint64_t n);
    // The table minizip's unzOpen2_64 is given; its opaque pointer is this.
    zlib_filefunc64_def table();
};

#endif  // QUENFOLD_IO_ZIP_IO_H
