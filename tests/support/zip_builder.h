// zip_builder.h - ZIP archives and EPUB books built in memory with libzip's
// writer, for the tests, the fuzz seeds and the sample generator.
#ifndef QEM_TEST_ZIP_BUILDER_H
#define QEM_TEST_ZIP_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qtest {

// ---- ZIP -------------------------------------------------------------------

// One member of an archive. A directory entry ignores data; its name should
// end with '/'.
struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;  // false: stored
    bool directory = false;
    bool encrypted = false;  // AES-256 with a password no reader is given
};

inline ZipEntry zip_file(std::string name, std::string data, bool deflate = true) {
    return ZipEntry{std::move(name), std::move(data), deflate, false};
}
inline ZipEntry zip_dir(std::string name) {
    return ZipEntry{std::move(name), {}, false, true};
}

// The archive's bytes, members in the given order (names may repeat when
// they differ in case only; exact repeats are refused by libzip). Throws
// std::runtime_error when libzip refuses something.
std::string build_zip(const std::vector<ZipEntry> &entries);
// The same with an archive comment in the end record.
std::string build_zip(const std::vector<ZipEntry> &entries, const std::string &comment);

// Writes to path an archive whose last member, name, holds size zero bytes,
// deflated, after the members in before. The zeros are streamed to libzip,
// never held in memory, so a member far larger than memory allows can be
// made. Throws on failure.
void write_zero_zip(const std::string &path, const std::string &name, std::uint64_t size,
                    const std::vector<ZipEntry> &before = {});

// CRC-32 as ZIP stores it.
std::uint32_t crc32_of(const std::string &bytes);

// Offsets of member name's local header and central-directory entry, for
// tests that damage an archive by hand. Throws when the member is not there.
struct ZipHeaders {
    std::size_t local;
    std::size_t central;
};
ZipHeaders locate_member_headers(const std::string &zip, const std::string &name);

// A copy of zip in which member name's uncompressed size and CRC, in both its
// local header and its central-directory entry, read size and crc: a header
// that lies about its member. Throws when the member is not there.
std::string patch_member_header(const std::string &zip, const std::string &name, std::uint32_t size,
                                std::uint32_t crc);

// ---- other forms of a built archive (tests of the directory reader) ---------

// Little-endian field of bytes (2, 4 or 8) at at.
void zip_put(std::string &zip, std::size_t at, int bytes, std::uint64_t v);
// Offset of the end record of an archive without comment.
std::size_t zip_end_at(const std::string &zip);
// The archive with this comment after its end record.
std::string zip_with_comment(const std::string &zip, const std::string &comment);
// The same members in ZIP64 form: sizes and local offsets in ZIP64 extra
// fields (0xFFFFFFFF in the entries), a ZIP64 end record and locator, and an
// end record whose count, size and offset are at their maximum.
std::string zip64_form(const std::string &zip);
// The archive whose directory lists its entries `times` times over, with the
// end record's count fields set to count.
std::string zip_repeat_entries(const std::string &zip, std::size_t times, std::uint16_t count);

// ---- EPUB ------------------------------------------------------------------

struct EpubItem {
    std::string id;
    std::string href;
    std::string media_type;
    std::string properties;  // written only when not empty
};

// What build_epub puts into the book. Defaults give an ordinary EPUB 2 book
// (mimetype, META-INF/container.xml, OEBPS/content.opf, one chapter).
struct EpubDesc {
    // container.xml: one rootfile with this full-path, unless container is set.
    std::string rootfile = "OEBPS/content.opf";
    std::string container;  // whole container.xml text when not empty

    // Package document: built from the fields below unless opf is set. It is
    // stored under rootfile in either case.
    std::string opf;
    std::string title = "Sample Book";  // each field: no element when empty
    std::string creator = "Sample Author";
    std::string language = "en";
    std::string calibre_series;   // <meta name="calibre:series" content=...>
    std::string calibre_index;    // <meta name="calibre:series_index" ...>
    std::string collection;       // <meta property="belongs-to-collection">
    std::string group_position;   // <meta property="group-position">
    std::string extra_metadata;   // raw XML appended inside <metadata>
    std::vector<EpubItem> items;  // manifest items after the chapter item

    // Cover: when cover is not empty, an item "cover-image" with cover_href
    // (relative to the package directory) is added first in the manifest,
    // named by <meta name="cover"> or by properties="cover-image", and its
    // bytes are stored at the package directory + cover_href.
    std::string cover;
    std::string cover_href = "images/cover.jpg";
    std::string cover_media_type = "image/jpeg";
    bool cover_by_properties = false;

    bool mimetype = true;
    bool encryption = false;        // adds META-INF/encryption.xml
    std::vector<ZipEntry> members;  // further members, after the standard ones
    std::vector<std::string> omit;  // standard members not to write, by name
};

// The package directory of desc.rootfile (up to and including its last '/').
std::string epub_package_dir(const EpubDesc &desc);
std::string build_container_xml(const EpubDesc &desc);
std::string build_opf(const EpubDesc &desc);
std::string build_epub(const EpubDesc &desc);

}  // namespace qtest

#endif
