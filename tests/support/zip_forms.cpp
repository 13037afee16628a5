// zip_forms.cpp - ZIP archives rewritten by hand into ZIP64 form, with comments, with a
// repeating directory.
#include "zip_forms.h"

#include <stdexcept>

namespace qtest {

namespace {

std::uint32_t get(const std::string &s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s.at(at + i));
    return v;
}

void add(std::string &s, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s += static_cast<char>(v >> (8 * i));
}

}  // namespace

void put16(std::string &s, std::size_t at, std::uint16_t v) {
    s.at(at) = static_cast<char>(v);
    s.at(at + 1) = static_cast<char>(v >> 8);
}

void put32(std::string &s, std::size_t at, std::uint32_t v) {
    put16(s, at, static_cast<std::uint16_t>(v));
    put16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

ZipEnd zip_end(const std::string &zip) {
    if (zip.size() < 22 || get(zip, zip.size() - 22, 4) != 0x06054b50u)
        throw std::runtime_error("no end record at the end of the archive");
    const std::size_t at = zip.size() - 22;
    return {at, static_cast<std::uint16_t>(get(zip, at + 10, 2)), get(zip, at + 12, 4),
            get(zip, at + 16, 4)};
}

std::string zip_with_comment(const std::string &zip, const std::string &comment) {
    std::string out = zip;
    put16(out, zip_end(zip).at + 20, static_cast<std::uint16_t>(comment.size()));
    return out + comment;
}

std::string zip64_form(const std::string &zip) {
    const ZipEnd end = zip_end(zip);
    std::string out = zip.substr(0, end.dir_offset), dir;
    std::size_t at = end.dir_offset;
    for (unsigned i = 0; i < end.count; ++i) {
        const std::size_t name = get(zip, at + 28, 2), extra = get(zip, at + 30, 2),
                          comment = get(zip, at + 32, 2);
        std::string e = zip.substr(at, 46);
        put32(e, 20, 0xFFFFFFFF);
        put32(e, 24, 0xFFFFFFFF);
        put32(e, 42, 0xFFFFFFFF);
        put16(e, 30, static_cast<std::uint16_t>(extra + 28));
        e += zip.substr(at + 46, name);
        add(e, 0x0001, 2);  // ZIP64 extended information: size, compressed size, offset
        add(e, 24, 2);
        add(e, get(zip, at + 24, 4), 8);
        add(e, get(zip, at + 20, 4), 8);
        add(e, get(zip, at + 42, 4), 8);
        e += zip.substr(at + 46 + name, extra + comment);
        dir += e;
        at += 46 + name + extra + comment;
    }
    out += dir;
    const std::uint64_t record_at = out.size();
    add(out, 0x06064b50, 4);
    add(out, 44, 8);
    add(out, 45, 2);
    add(out, 45, 2);
    add(out, 0, 8);  // this disk, the directory's disk
    add(out, end.count, 8);
    add(out, end.count, 8);
    add(out, dir.size(), 8);
    add(out, end.dir_offset, 8);
    add(out, 0x07064b50, 4);
    add(out, 0, 4);
    add(out, record_at, 8);
    add(out, 1, 4);
    add(out, 0x06054b50, 4);
    add(out, 0, 4);
    add(out, 0xFFFF, 2);
    add(out, 0xFFFF, 2);
    add(out, 0xFFFFFFFF, 4);
    add(out, 0xFFFFFFFF, 4);
    add(out, 0, 2);
    return out;
}

std::string zip_repeat_entries(const std::string &zip, std::size_t times, std::uint16_t count) {
    const ZipEnd end = zip_end(zip);
    const std::string dir = zip.substr(end.dir_offset, end.dir_size);
    std::string out = zip.substr(0, end.dir_offset);
    for (std::size_t i = 0; i < times; ++i)
        out += dir;
    std::string tail = zip.substr(end.at);
    put16(tail, 8, count);
    put16(tail, 10, count);
    put32(tail, 12, static_cast<std::uint32_t>(dir.size() * times));
    return out + tail;
}

}  // namespace qtest
