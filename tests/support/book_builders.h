// book_builders.h - small builders of test books (PalmDB/MOBI images) and
// file helpers shared by the tests, the sample generator and the tools.
#ifndef QEM_TEST_BOOK_BUILDERS_H
#define QEM_TEST_BOOK_BUILDERS_H

#include <cstdint>
#include <string>
#include <vector>

namespace qtest {

// ---- files -----------------------------------------------------------------

// A fresh, empty directory under $QEM_TEST_TMP (or the system's temp dir).
std::string make_temp_dir(const std::string &tag);
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
// Removes a directory tree (best effort).
void remove_tree(const std::string &path);

// ---- big-endian helpers ----------------------------------------------------

void put_u16(std::string &s, std::size_t at, std::uint16_t v);
void put_u32(std::string &s, std::size_t at, std::uint32_t v);

// ---- PalmDB / Mobipocket ---------------------------------------------------

// A PalmDB image: 78-byte header (name, type+creator at 60), the record list,
// then the records back to back.
std::string build_palmdb(const std::string &name, const std::vector<std::string> &records,
                         const char type_creator[8] = "BOOKMOBI");

struct ExthRecord {
    std::uint32_t type;
    std::string data;
};

// What build_mobi puts into the book. Defaults give an ordinary MOBI 6 book.
struct MobiDesc {
    std::string palm_name = "Sample_Book";  // at most 31 bytes are kept
    std::uint16_t encryption = 0;           // record-0 offset 12
    bool mobi_header = true;                // "MOBI" at record-0 offset 16
    std::uint32_t header_len = 232;         // MOBI header length (from offset 16)
    std::uint32_t mobi_type = 2;            // 248 = KF8
    std::uint32_t file_version = 6;
    std::string full_name = "Sample Book";  // appended after the EXTH block
    bool exth = true;                       // EXTH flag 0x40 and the block itself
    std::vector<ExthRecord> exth_records;   // in this order
    std::vector<std::string> images;        // image records after the text record
    // Index into images written as EXTH 201 (cover offset); -1 writes none.
    int cover_image = -1;
    std::string text = "<html><body><p>Hello.</p></body></html>";
    // When non-zero, record 0 is cut (or zero-padded) to exactly this size.
    std::size_t record0_size = 0;
};

// Record 0 alone, as build_mobi lays it out (first image index = 2 when
// there are images, else 0).
std::string build_mobi_record0(const MobiDesc &desc);
std::string build_mobi(const MobiDesc &desc);

// Small valid images.
std::string tiny_jpeg();  // starts FF D8 FF, ends FF D9
std::string tiny_png();   // starts 89 50 4E 47
std::string tiny_gif();   // "GIF89a..."

// n bytes that deflate hardly at all (a fixed xorshift stream), so that a
// member's size is its weight in the archive.
std::string incompressible(std::size_t n);

}  // namespace qtest

#endif
