// comic_hostile.cpp - 7z archives written by hand: the signature header, a directory of empty
// files, and that directory compressed with liblzma's raw LZMA encoder.
#include "comic_hostile.h"

#include <lzma.h>
#include <zlib.h>

#include <cstdint>
#include <stdexcept>

namespace qtest {

namespace {

void number(std::string &s, std::uint64_t v) {
    // The 7z encoding with one leading byte and up to eight more; small
    // values take one byte, the rest the full nine.
    if (v < 0x80) {
        s += static_cast<char>(v);
        return;
    }
    s += '\xFF';
    for (int i = 0; i < 8; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void le(std::string &s, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t crc(const std::string &s) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef *>(s.data()), s.size()));
}

// The files' properties: all empty streams, all empty files, names "a".
std::string directory(std::size_t n) {
    std::string bits((n + 7) / 8, '\xFF');
    if (n % 8) bits.back() = static_cast<char>(0xFF << (8 - n % 8));
    std::string h = "\x01\x05";
    number(h, n);
    for (char id : {'\x0E', '\x0F'}) {
        h += id;
        number(h, bits.size());
        h += bits;
    }
    h += '\x11';
    number(h, 1 + 4 * n);
    h += '\0';
    for (std::size_t i = 0; i < n; ++i)
        h.append("a\0\0\0", 4);
    h += '\0';
    return h + '\0';
}

// Raw LZMA (no container), and its five bytes of properties.
std::string lzma(const std::string &in, std::string *props) {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 1)) throw std::runtime_error("lzma preset");
    lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::uint32_t size = 0;
    lzma_properties_size(&size, &f[0]);
    props->resize(size);
    lzma_properties_encode(&f[0], reinterpret_cast<std::uint8_t *>(props->data()));
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&s, f) != LZMA_OK) throw std::runtime_error("lzma encoder");
    std::string out(in.size() / 2 + 65536, '\0');
    s.next_in = reinterpret_cast<const std::uint8_t *>(in.data());
    s.avail_in = in.size();
    s.next_out = reinterpret_cast<std::uint8_t *>(out.data());
    s.avail_out = out.size();
    while (lzma_code(&s, LZMA_FINISH) == LZMA_OK) {
    }
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    return out;
}

}  // namespace

std::string sevenzip_empty_files(std::size_t n, SevenZipHeader how) {
    const std::string plain = directory(n);
    std::string packed, header;
    if (how == SevenZipHeader::plain) {
        header = plain;
    } else {
        std::string props;
        packed = lzma(plain, &props);
        header = "\x17\x06";
        number(header, 0);  // the packed directory follows the signature header
        header += '\x01';
        header += '\x09';
        number(header, packed.size());
        header += '\0';
        header += "\x07\x0B\x01";
        header += '\0';
        header += '\x01';
        if (how == SevenZipHeader::bzip2)
            header += "\x03\x04\x02\x02";
        else
            header += "\x23\x03\x01\x01";
        if (how != SevenZipHeader::bzip2) {
            number(header, props.size());
            header += props;
        }
        header += '\x0C';
        number(header, how == SevenZipHeader::oversized ? 100u << 20 : plain.size());
        header += '\0';
        header += '\0';
    }
    std::string start;
    le(start, packed.size(), 8);
    le(start, header.size(), 8);
    le(start, crc(header), 4);
    std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    le(out, crc(start), 4);
    return out + start + packed + header;
}

}  // namespace qtest
