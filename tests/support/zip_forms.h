// zip_forms.h - an archive from build_zip rewritten into the other forms the ZIP format allows
// (ZIP64 records, a comment, bytes before or after it, a directory that repeats or lies), for
// the tests and the fuzz seeds.
#ifndef QEM_TEST_ZIP_FORMS_H
#define QEM_TEST_ZIP_FORMS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qtest {

// Where the end record of an archive without comment lies, and what it says.
struct ZipEnd {
    std::size_t at;
    std::uint16_t count;
    std::uint32_t dir_size, dir_offset;
};
ZipEnd zip_end(const std::string &zip);

// The archive with this comment after its end record (its length stated).
std::string zip_with_comment(const std::string &zip, const std::string &comment);

// The same members in ZIP64 form: every directory entry states its sizes and
// local offset as 0xFFFFFFFF with the values in a ZIP64 extra field, a ZIP64
// end record and locator precede the end record, whose count, size and
// offset fields are at their maximum.
std::string zip64_form(const std::string &zip);

// The archive whose directory lists its entries `times` times over (every
// copy naming the same local headers), with the end record's count field set
// to count.
std::string zip_repeat_entries(const std::string &zip, std::size_t times, std::uint16_t count);

// Little-endian field writers for patching archives by hand.
void put16(std::string &s, std::size_t at, std::uint16_t v);
void put32(std::string &s, std::size_t at, std::uint32_t v);

}  // namespace qtest

#endif  // QEM_TEST_ZIP_FORMS_H
