// zip_builder.cpp - ZIP archives and EPUB books for tests, made with libzip.
#include "zip_builder.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include <zip.h>

namespace qtest {

namespace {

// A fixed time stamp keeps built archives byte-identical from run to run.
constexpr std::time_t kStamp = 1577836800;  // 2020-01-01

[[noreturn]] void fail(const std::string &what, zip_error_t *err) {
    std::string msg = what + ": " + (err ? zip_error_strerror(err) : "libzip error");
    if (err) zip_error_fini(err);
    throw std::runtime_error(msg);
}

void add_entry(zip_t *za, const ZipEntry &e) {
    zip_int64_t idx;
    if (e.directory) {
        idx = zip_dir_add(za, e.name.c_str(), 0);
    } else {
        zip_source_t *src = zip_source_buffer(za, e.data.data(), e.data.size(), 0);
        if (!src) fail("zip_source_buffer", zip_get_error(za));
        idx = zip_file_add(za, e.name.c_str(), src, 0);
        if (idx < 0) zip_source_free(src);
    }
    if (idx < 0) fail("adding " + e.name, zip_get_error(za));
    auto i = static_cast<zip_uint64_t>(idx);
    if (!e.directory &&
        zip_set_file_compression(za, i, e.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0)
        fail("compression of " + e.name, zip_get_error(za));
    zip_file_set_mtime(za, i, kStamp, 0);
    if (e.encrypted && zip_file_set_encryption(za, i, ZIP_EM_AES_256, "secret") != 0)
        fail("encryption of " + e.name, zip_get_error(za));
}

std::uint16_t get16(const std::string &s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
}
std::uint32_t get32(const std::string &s, std::size_t at) {
    return static_cast<std::uint32_t>(get16(s, at)) | static_cast<std::uint32_t>(get16(s, at + 2))
                                                          << 16;
}
void set32(std::string &s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

// Streams zeros to libzip: the source callback of write_zero_zip.
struct ZeroStream {
    std::uint64_t size;
    std::uint64_t pos = 0;
    zip_error_t error;
};

zip_int64_t zero_source(void *ud, void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto *z = static_cast<ZeroStream *>(ud);
    switch (cmd) {
        case ZIP_SOURCE_OPEN:
            z->pos = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            zip_uint64_t n = std::min<zip_uint64_t>(len, z->size - z->pos);
            std::memset(data, 0, n);
            z->pos += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &z->error);
            if (!st) return -1;
            zip_stat_init(st);
            st->size = z->size;
            st->mtime = kStamp;
            st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof *st;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&z->error, data, len);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&z->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

}  // namespace

std::string build_zip(const std::vector<ZipEntry> &entries) {
    return build_zip(entries, "");
}

std::string build_zip(const std::vector<ZipEntry> &entries, const std::string &comment) {
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *out = zip_source_buffer_create(nullptr, 0, 0, &err);
    if (!out) fail("zip_source_buffer_create", &err);
    zip_t *za = zip_open_from_source(out, ZIP_TRUNCATE, &err);
    if (!za) {
        zip_source_free(out);
        fail("zip_open_from_source", &err);
    }
    zip_source_keep(out);  // the bytes are read back after zip_close
    try {
        for (const ZipEntry &e : entries)
            add_entry(za, e);
        if (!comment.empty() &&
            zip_set_archive_comment(za, comment.data(), static_cast<zip_uint16_t>(comment.size())))
            fail("archive comment", zip_get_error(za));
    } catch (...) {
        zip_discard(za);
        zip_source_free(out);
        throw;
    }
    if (zip_close(za) != 0) {
        std::string msg = zip_strerror(za);
        zip_discard(za);
        zip_source_free(out);
        throw std::runtime_error("zip_close: " + msg);
    }
    std::string bytes;
    zip_stat_t st;
    if (zip_source_open(out) != 0) {
        zip_source_free(out);
        throw std::runtime_error("cannot reopen the built archive");
    }
    if (zip_source_stat(out, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
        bytes.resize(st.size);
        zip_int64_t n = zip_source_read(out, bytes.data(), st.size);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    zip_source_close(out);
    zip_source_free(out);
    zip_error_fini(&err);
    return bytes;
}

void write_zero_zip(const std::string &path, const std::string &name, std::uint64_t size,
                    const std::vector<ZipEntry> &before) {
    int code = 0;
    zip_t *za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) throw std::runtime_error("cannot create " + path);
    try {
        for (const ZipEntry &e : before)
            add_entry(za, e);
    } catch (...) {
        zip_discard(za);
        throw;
    }
    ZeroStream z{size, 0, {}};
    zip_error_init(&z.error);
    zip_source_t *src = zip_source_function(za, zero_source, &z);
    zip_int64_t idx = src ? zip_file_add(za, name.c_str(), src, 0) : -1;
    if (idx < 0) {
        if (src) zip_source_free(src);
        zip_discard(za);
        throw std::runtime_error("cannot add " + name);
    }
    zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 9);
    zip_file_set_mtime(za, static_cast<zip_uint64_t>(idx), kStamp, 0);
    if (zip_close(za) != 0) {
        std::string msg = zip_strerror(za);
        zip_discard(za);
        throw std::runtime_error("zip_close: " + msg);
    }
    zip_error_fini(&z.error);
}

std::uint32_t crc32_of(const std::string &bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

ZipHeaders locate_member_headers(const std::string &zip, const std::string &name) {
    std::size_t eocd = zip.rfind(std::string("PK\x05\x06", 4));
    if (eocd == std::string::npos || eocd + 22 > zip.size())
        throw std::runtime_error("no end of central directory");
    std::size_t count = get16(zip, eocd + 10);
    std::size_t at = get32(zip, eocd + 16);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || get32(zip, at) != 0x02014b50u)
            throw std::runtime_error("bad central directory");
        std::size_t nlen = get16(zip, at + 28);
        if (nlen == name.size() && zip.compare(at + 46, nlen, name) == 0)
            return {get32(zip, at + 42), at};
        at += 46 + nlen + get16(zip, at + 30) + get16(zip, at + 32);
    }
    throw std::runtime_error("no member " + name);
}

std::string patch_member_header(const std::string &zip, const std::string &name, std::uint32_t size,
                                std::uint32_t crc) {
    std::string out = zip;
    ZipHeaders h = locate_member_headers(out, name);
    set32(out, h.central + 16, crc);
    set32(out, h.central + 24, size);
    set32(out, h.local + 14, crc);
    set32(out, h.local + 22, size);
    return out;
}

void zip_put(std::string &zip, std::size_t at, int bytes, std::uint64_t v) {
    for (int i = 0; i < bytes; ++i)
        zip.at(at + i) = static_cast<char>(v >> (8 * i));
}

std::size_t zip_end_at(const std::string &zip) {
    if (zip.size() < 22 || get32(zip, zip.size() - 22) != 0x06054b50u)
        throw std::runtime_error("no end record at the end of the archive");
    return zip.size() - 22;
}

std::string zip_with_comment(const std::string &zip, const std::string &comment) {
    std::string out = zip;
    zip_put(out, zip_end_at(zip) + 20, 2, comment.size());
    return out + comment;
}

std::string zip64_form(const std::string &zip) {
    const std::size_t end = zip_end_at(zip), count = get16(zip, end + 10);
    const std::size_t dir_at = get32(zip, end + 16);
    std::string out = zip.substr(0, dir_at);
    auto add = [&out](std::uint64_t v, int bytes) {
        out.append(bytes, '\0');
        zip_put(out, out.size() - bytes, bytes, v);
    };
    for (std::size_t i = 0, at = dir_at; i < count; ++i) {
        const std::size_t name = get16(zip, at + 28), extra = get16(zip, at + 30),
                          rest = extra + get16(zip, at + 32);
        std::string e = zip.substr(at, 46 + name);
        for (std::size_t f : {20, 24, 42})
            zip_put(e, f, 4, 0xFFFFFFFFu);
        zip_put(e, 30, 2, extra + 28);
        out += e;
        for (std::uint64_t v : {1u, 24u})  // ZIP64 field: size, compressed size, offset
            add(v, 2);
        for (std::size_t f : {24, 20, 42})
            add(get32(zip, at + f), 8);
        out += zip.substr(at + 46 + name, rest);
        at += 46 + name + rest;
    }
    const std::uint64_t record_at = out.size();
    // The ZIP64 end record, its locator, and the end record at its maximum.
    for (auto [v, bytes] : std::initializer_list<std::pair<std::uint64_t, int>>{
             {0x06064b50, 4}, {44, 8},         {45, 2},         {45, 2},
             {0, 8},          {count, 8},      {count, 8},      {record_at - dir_at, 8},
             {dir_at, 8},     {0x07064b50, 4}, {0, 4},          {record_at, 8},
             {1, 4},          {0x06054b50, 4}, {0, 4},          {0xFFFF, 2},
             {0xFFFF, 2},     {0xFFFFFFFF, 4}, {0xFFFFFFFF, 4}, {0, 2}})
        add(v, bytes);
    return out;
}

std::string zip_repeat_entries(const std::string &zip, std::size_t times, std::uint16_t count) {
    const std::size_t end = zip_end_at(zip), dir_at = get32(zip, end + 16);
    std::string out = zip.substr(0, dir_at);
    for (std::size_t i = 0; i < times; ++i)
        out += zip.substr(dir_at, end - dir_at);
    std::string tail = zip.substr(end);
    zip_put(tail, 8, 2, count);
    zip_put(tail, 10, 2, count);
    zip_put(tail, 12, 4, (end - dir_at) * times);
    return out + tail;
}

// ---- EPUB ------------------------------------------------------------------

std::string epub_package_dir(const EpubDesc &desc) {
    std::size_t slash = desc.rootfile.rfind('/');
    return slash == std::string::npos ? std::string() : desc.rootfile.substr(0, slash + 1);
}

std::string build_container_xml(const EpubDesc &desc) {
    if (!desc.container.empty()) return desc.container;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<container version=\"1.0\" "
           "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
           "  <rootfiles>\n"
           "    <rootfile full-path=\"" +
           desc.rootfile +
           "\" media-type=\"application/oebps-package+xml\"/>\n"
           "  </rootfiles>\n"
           "</container>\n";
}

std::string build_opf(const EpubDesc &desc) {
    if (!desc.opf.empty()) return desc.opf;
    bool epub3 = !desc.collection.empty() || !desc.group_position.empty() ||
                 (!desc.cover.empty() && desc.cover_by_properties);
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"";
    s += epub3 ? "3.0" : "2.0";
    s += "\" unique-identifier=\"bookid\">\n";
    s += "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
         "xmlns:opf=\"http://www.idpf.org/2007/opf\">\n";
    if (!desc.title.empty()) s += "    <dc:title>" + desc.title + "</dc:title>\n";
    if (!desc.creator.empty())
        s += "    <dc:creator opf:role=\"aut\">" + desc.creator + "</dc:creator>\n";
    if (!desc.language.empty()) s += "    <dc:language>" + desc.language + "</dc:language>\n";
    s += "    <dc:identifier id=\"bookid\">urn:uuid:00000000-0000-4000-8000-000000000000"
         "</dc:identifier>\n";
    if (!desc.calibre_series.empty())
        s += "    <meta name=\"calibre:series\" content=\"" + desc.calibre_series + "\"/>\n";
    if (!desc.calibre_index.empty())
        s += "    <meta name=\"calibre:series_index\" content=\"" + desc.calibre_index + "\"/>\n";
    if (!desc.collection.empty()) {
        s += "    <meta property=\"belongs-to-collection\" id=\"c01\">" + desc.collection +
             "</meta>\n";
        s += "    <meta refines=\"#c01\" property=\"collection-type\">series</meta>\n";
    }
    if (!desc.group_position.empty())
        s += "    <meta refines=\"#c01\" property=\"group-position\">" + desc.group_position +
             "</meta>\n";
    if (!desc.cover.empty() && !desc.cover_by_properties)
        s += "    <meta name=\"cover\" content=\"cover-image\"/>\n";
    s += desc.extra_metadata;
    s += "  </metadata>\n  <manifest>\n";
    auto item = [&s](const EpubItem &it) {
        s += "    <item id=\"" + it.id + "\" href=\"" + it.href + "\" media-type=\"" +
             it.media_type + "\"";
        if (!it.properties.empty()) s += " properties=\"" + it.properties + "\"";
        s += "/>\n";
    };
    if (!desc.cover.empty())
        item({"cover-image", desc.cover_href, desc.cover_media_type,
              desc.cover_by_properties ? "cover-image" : ""});
    item({"chapter1", "chapter1.xhtml", "application/xhtml+xml", ""});
    for (const EpubItem &it : desc.items)
        item(it);
    s += "  </manifest>\n  <spine>\n    <itemref idref=\"chapter1\"/>\n  </spine>\n</package>\n";
    return s;
}

std::string build_epub(const EpubDesc &desc) {
    const std::string dir = epub_package_dir(desc);
    std::vector<ZipEntry> entries;
    auto add = [&](ZipEntry e) {
        if (std::find(desc.omit.begin(), desc.omit.end(), e.name) == desc.omit.end())
            entries.push_back(std::move(e));
    };
    if (desc.mimetype) add(zip_file("mimetype", "application/epub+zip", false));
    add(zip_file("META-INF/container.xml", build_container_xml(desc)));
    add(zip_file(desc.rootfile, build_opf(desc)));
    add(zip_file(dir + "chapter1.xhtml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Chapter 1</title>"
                 "</head><body><p>Once upon a time.</p></body></html>\n"));
    if (!desc.cover.empty()) add(zip_file(dir + desc.cover_href, desc.cover, false));
    if (desc.encryption)
        add(zip_file("META-INF/encryption.xml",
                     "<?xml version=\"1.0\"?>\n<encryption "
                     "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"/>\n"));
    for (const ZipEntry &e : desc.members)
        add(e);
    return build_zip(entries);
}

}  // namespace qtest
