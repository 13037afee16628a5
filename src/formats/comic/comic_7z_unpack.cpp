// comic_7z_unpack.cpp - a packed 7z directory decoded in growing pieces with liblzma (LZMA, LZMA2)
// or zlib (Deflate), or copied when stored.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "formats/comic/comic_7z.h"

using eb_7z::damaged;

eb_7z_unpacker::eb_7z_unpacker(const eb_source &src, const eb_7z::counts &c)
    : src_(src), c_(c), at_(32 + c.pack_pos), left_(c.pack_size) {
    if (c.method == std::string("\x00", 1)) return;
    if (c.method == "\x04\x01\x08") {
        if (inflateInit2(&z_, -15) != Z_OK) throw std::bad_alloc();
        zlib_ = true;
        return;
    }
    lzma_filter f[2] = {{c.method == "\x21" ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, nullptr},
                        {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&f[0], nullptr,
                               reinterpret_cast<const std::uint8_t *>(c.props.data()),
                               c.props.size()) != LZMA_OK)
        throw damaged{"7z directory damaged"};
    // No dictionary larger than what it decodes to.
    auto *o = static_cast<lzma_options_lzma *>(f[0].options);
    o->dict_size = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(c.unpack_size, LZMA_DICT_SIZE_MIN, o->dict_size));
    const lzma_ret r = lzma_raw_decoder(&x_, f);
    std::free(f[0].options);
    if (r != LZMA_OK) throw damaged{"7z directory damaged"};
    lzma_ = true;
}

eb_7z_unpacker::~eb_7z_unpacker() {
    if (zlib_) inflateEnd(&z_);
    if (lzma_) lzma_end(&x_);
}

bool eb_7z_unpacker::more(std::string &buf) {
    const std::size_t goal = static_cast<std::size_t>(std::min<std::uint64_t>(
        c_.unpack_size, buf.size() + std::max<std::size_t>(buf.size(), 64 * 1024)));
    unsigned char out[64 * 1024];
    while (buf.size() < goal && !ended_) {
        if (avail_ == 0 && left_ > 0) {
            avail_ = static_cast<std::size_t>(std::min<std::uint64_t>(left_, sizeof in_));
            if (!src_.read(at_, in_, avail_)) throw damaged{"7z directory damaged"};
            at_ += avail_;
            left_ -= avail_;
            next_ = in_;
        }
        const std::size_t want = std::min(sizeof out, goal - buf.size());
        std::size_t got = 0;
        if (zlib_) {
            z_.next_in = const_cast<unsigned char *>(next_);
            z_.avail_in = static_cast<uInt>(avail_);
            z_.next_out = out;
            z_.avail_out = static_cast<uInt>(want);
            const int r = inflate(&z_, Z_NO_FLUSH);
            ended_ = r == Z_STREAM_END || (r != Z_OK && r != Z_BUF_ERROR);
            got = want - z_.avail_out;
            next_ = z_.next_in;
            avail_ = z_.avail_in;
        } else if (lzma_) {
            x_.next_in = next_;
            x_.avail_in = avail_;
            x_.next_out = out;
            x_.avail_out = want;
            ended_ = lzma_code(&x_, LZMA_RUN) != LZMA_OK;
            got = want - x_.avail_out;
            next_ = x_.next_in;
            avail_ = x_.avail_in;
        } else {
            got = std::min(want, avail_);
            std::memcpy(out, next_, got);
            next_ += got;
            avail_ -= got;
        }
        buf.append(reinterpret_cast<const char *>(out), got);
        if (got == 0 && avail_ == 0 && left_ == 0) ended_ = true;
    }
    return buf.size() < c_.unpack_size && !ended_;
}
