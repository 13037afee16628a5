// comic_7z.h - the parts of the 7z directory check: what the structure declares, and the packed
// directory decoded piece by piece.
#ifndef QUENFOLD_FORMATS_COMIC_7Z_H
#define QUENFOLD_FORMATS_COMIC_7Z_H

#include <lzma.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "formats/comic/comic_archive.h"

namespace eb_7z {

// Thrown while a directory is read.
struct need_more {};  // the prefix read so far ends inside the structure
struct damaged {
    const char *why;
};
struct too_many {
    std::uint64_t n;
};

// The counts libarchive allocates by, read from the header's property
// structure (pack streams, folders, unpacked streams, files).
struct counts {
    std::uint64_t pack = 0, folders = 0, streams = 0, files = 0;
    bool encoded = false;  // the structure describes a compressed header
    // For an encoded header: where its packed bytes lie and how they decode.
    std::uint64_t pack_pos = 0, pack_size = 0, unpack_size = 0;
    std::string method, props;
    bool aes = false, several = false;
};

}  // namespace eb_7z

// The packed header's bytes decoded piece by piece (LZMA, LZMA2, Deflate or
// stored): each call appends at least as much as is there already, so that
// parsing every longer prefix anew costs as much as parsing the whole once.
class eb_7z_unpacker {
  public:
    eb_7z_unpacker(const eb_source &src, const eb_7z::counts &c);
    ~eb_7z_unpacker();
    eb_7z_unpacker(const eb_7z_unpacker &) = delete;
    eb_7z_unpacker &operator=(const eb_7z_unpacker &) = delete;
    // False when nothing more comes.
    bool more(std::string &buf);

  private:
    const eb_source &src_;
    const eb_7z::counts &c_;
    std::uint64_t at_ = 0, left_ = 0;
    unsigned char in_[64 * 1024];
    const unsigned char *next_ = nullptr;
    std::size_t avail_ = 0;
    bool zlib_ = false, lzma_ = false, ended_ = false;
    z_stream z_{};
    lzma_stream x_ = LZMA_STREAM_INIT;
};

#endif  // QUENFOLD_FORMATS_COMIC_7Z_H
