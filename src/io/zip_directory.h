// zip_directory.h - a ZIP archive's end records and central directory, read once into an index.
#ifndef QUENFOLD_IO_ZIP_DIRECTORY_H
#define QUENFOLD_IO_ZIP_DIRECTORY_H

#include <cstdint>
#include <string_view>
#include <vector>

#include "heap.h"
#include "io/source.h"

// What the central directory says of one member. Offsets are in the book,
// bytes prepended to the archive (a self-extracting stub) already counted.
struct eb_zip_entry {
    std::uint64_t local;  // its local header
    std::uint64_t size, comp_size;
    std::uint32_t name_at;  // its name in the directory's bytes
    std::uint32_t crc;
    std::uint16_t name_len;         // up to the first NUL, as C strings hold it
    std::uint16_t stored_name_len;  // as stored, for the local header's check
    std::uint16_t extra_len;        // its directory extra field, a guess at the local one
    std::uint16_t method, flags;
};

// The book's bytes an open archive holds, and the index read from them.
// The tail (the last 64 KiB + 22 bytes, where the end record must lie) is
// read in one request and, in most books, holds the whole directory; a
// directory that starts before it costs one more. A book in memory is held
// whole and read in place.
struct eb_zip_index {
    const eb_source *src = nullptr;
    const unsigned char *held = nullptr;  // the book's bytes from held_start to its end
    std::uint64_t held_start = 0;
    const unsigned char *dir = nullptr;  // the central directory's bytes
    std::string_view comment;            // the archive comment, as stored
    std::vector<eb_zip_entry> members;   // in central-directory order
    // Where the directory lies in the book, how far bytes before the archive
    // moved every offset it states, and whether ZIP64 end records state it.
    std::uint64_t dir_start = 0, dir_size = 0, shift = 0;
    bool zip64 = false;
    eb_unique<unsigned char> tail_buf, dir_buf;

    // n bytes at off of the book when held, else null.
    const unsigned char *at(std::uint64_t off, std::uint64_t n) const {
        const std::uint64_t size = src->size();
        if (off < held_start || off > size || n > size - off) return nullptr;
        return held + (off - held_start);
    }
};

// A directory larger than a whole book may be is refused: it is held whole.
constexpr std::uint64_t EB_ZIP_MAX_DIRECTORY = 536870912;  // 512 MiB

// Reads the tail of src, finds the end record (and the ZIP64 records when a
// locator precedes it) and walks the central directory into x. False when
// the book is no archive that can be read; x is then empty. A read that
// fails leaves the source marked as failed.
bool eb_zip_read_index(const eb_source &src, eb_zip_index &x);

#endif  // QUENFOLD_IO_ZIP_DIRECTORY_H
