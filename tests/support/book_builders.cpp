// book_builders.cpp - PalmDB/MOBI images and file helpers for tests and samples.
#include "book_builders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qtest {

std::string make_temp_dir(const std::string &tag) {
    static std::atomic<unsigned> counter{0};
    const char *root = std::getenv("QEM_TEST_TMP");
    std::filesystem::path base =
        root && *root ? std::filesystem::path(root) : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(base);
    for (;;) {
        auto p = base / (tag + "-" + std::to_string(::getpid()) + "-" +
                         std::to_string(counter.fetch_add(1)));
        std::error_code ec;
        if (std::filesystem::create_directory(p, ec)) return p.string();
        if (ec) throw std::runtime_error("cannot create " + p.string());
    }
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void remove_tree(const std::string &path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void put_u16(std::string &s, std::size_t at, std::uint16_t v) {
    if (s.size() < at + 2) s.resize(at + 2, '\0');
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}

void put_u32(std::string &s, std::size_t at, std::uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

std::string build_palmdb(const std::string &name, const std::vector<std::string> &records,
                         const char type_creator[8]) {
    std::string out(78, '\0');
    out.replace(0, name.size() < 31 ? name.size() : 31, name.substr(0, 31));
    out.replace(60, 8, std::string(type_creator, 8));
    put_u16(out, 76, static_cast<std::uint16_t>(records.size()));
    std::size_t offset = 78 + 8 * records.size() + 2;  // two gap bytes, as tools write
    std::string list;
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::string e(8, '\0');
        put_u32(e, 0, static_cast<std::uint32_t>(offset));
        put_u32(e, 4, static_cast<std::uint32_t>(2 * i));
        list += e;
        offset += records[i].size();
    }
    out += list;
    out += std::string(2, '\0');
    for (const auto &r : records)
        out += r;
    return out;
}

std::string build_mobi_record0(const MobiDesc &desc) {
    std::string r0(16, '\0');
    put_u16(r0, 0, 1);  // no compression
    put_u32(r0, 4, static_cast<std::uint32_t>(desc.text.size()));
    put_u16(r0, 8, 1);
    put_u16(r0, 10, 4096);
    put_u16(r0, 12, desc.encryption);
    if (desc.mobi_header) {
        std::string h(desc.header_len < 8 ? 8 : desc.header_len, '\0');
        h.replace(0, 4, "MOBI");
        put_u32(h, 4, desc.header_len);
        put_u32(h, 8, desc.mobi_type);
        put_u32(h, 12, 65001);  // UTF-8
        put_u32(h, 20, desc.file_version);
        if (h.size() >= 96) put_u32(h, 92, desc.images.empty() ? 0 : 2);  // first image (108)
        if (h.size() >= 116) put_u32(h, 112, desc.exth ? 0x40 : 0);       // EXTH flags (128)
        r0 += h.substr(0, desc.header_len < 8 ? 8 : desc.header_len);
        std::string exth;
        if (desc.exth) {
            std::string recs;
            std::uint32_t count = 0;
            for (const auto &e : desc.exth_records) {
                std::string r(8, '\0');
                put_u32(r, 0, e.type);
                put_u32(r, 4, static_cast<std::uint32_t>(8 + e.data.size()));
                recs += r + e.data;
                ++count;
            }
            if (desc.cover_image >= 0) {
                std::string r(8, '\0');
                put_u32(r, 0, 201);
                put_u32(r, 4, 12);
                put_u32(r, 8, static_cast<std::uint32_t>(desc.cover_image));
                recs += r;
                ++count;
            }
            exth = "EXTH";
            put_u32(exth, 4, static_cast<std::uint32_t>(12 + recs.size()));
            put_u32(exth, 8, count);
            exth += recs;
            while (exth.size() % 4)
                exth += '\0';
        }
        r0 += exth;
        std::size_t name_off = r0.size();
        r0 += desc.full_name;
        r0 += std::string(2, '\0');
        if (desc.header_len >= 80) {
            put_u32(r0, 84, static_cast<std::uint32_t>(name_off));
            put_u32(r0, 88, static_cast<std::uint32_t>(desc.full_name.size()));
        }
    }
    if (desc.record0_size) r0.resize(desc.record0_size, '\0');
    return r0;
}

std::string build_mobi(const MobiDesc &desc) {
    std::vector<std::string> records;
    records.push_back(build_mobi_record0(desc));
    records.push_back(desc.text);
    for (const auto &img : desc.images)
        records.push_back(img);
    return build_palmdb(desc.palm_name, records);
}

std::string tiny_jpeg() {
    return std::string(
        "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
        "\xFF\xD9",
        22);
}

std::string incompressible(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 2463534242u;
    for (auto &c : s) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

std::string tiny_png() {
    return std::string(
        "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR\x00\x00\x00\x01\x00\x00\x00\x01"
        "\x08\x06\x00\x00\x00\x1F\x15\xC4\x89",
        33);
}

std::string tiny_gif() {
    return std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14);
}

}  // namespace qtest
