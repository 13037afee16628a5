// hostile_round3.cpp - the hostile benchmark's third round of full-record rows: deflate bombs where
// qpdf inflates on its own, a repair's trailer search, a 7z directory of ten million files, solid
// RAR comics, and end tags that name no open element.
#include <cstdint>

#include "book_builders.h"
#include "comic_hostile.h"
#include "hostile_books.h"
#include "hostile_row.h"
#include "pdf_hostile.h"
#include "rar_builder.h"

namespace {

constexpr std::size_t GiB = std::size_t(1) << 30;
const std::string kPacked = "object stream 7 decodes to more than 16 MiB";

std::string rar(bool solid, int version, std::vector<qtest::RarEntry> entries) {
    qtest::RarDesc d;
    d.version = version;
    d.solid = solid;
    d.entries = std::move(entries);
    return qtest::build_rar(d);
}

std::string solid_rar4_pages(int n) {
    std::vector<qtest::RarEntry> entries = {
        {"ComicInfo.xml", "<ComicInfo><Title>Solid</Title></ComicInfo>"}};
    for (int i = 1; i <= n; ++i)
        entries.push_back({std::to_string(i).insert(0, 1, 'p') + ".jpg", "page"});
    return rar(true, 4, entries);
}

std::string unknown_size_rar5() {
    qtest::RarEntry big{"p1.jpg", std::string(65u << 20, 'p')};
    big.size_unknown = true;
    return rar(true, 5, {big, {"ComicInfo.xml", "<ComicInfo><Title>Late</Title></ComicInfo>"}});
}

std::string end_tags_epub() {
    return qtest::epub_around_opf(
        "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
        "version=\"3.0\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
        "<dc:title>T</dc:tilte><dc:creator>A</dc:Creator><dc:language>en</dc:language>"
        "<dc:description>one</b> two</dc:description></metadata><manifest/></package>");
}

}  // namespace

const std::vector<Row> &round_three_rows() {
    using qtest::PdfBomb;
    static const std::vector<Row> v = {
        {"r3.1/pdf_info_stream_twice_deflated_1GiB",
         "r3-info.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::info_stream, GiB); },
         {kPacked}},
        {"r3.1/pdf_object_stream_length_10_1GiB",
         "r3-length.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::lying_length, GiB); },
         {kPacked}},
        {"r3.1/pdf_xmp_length_in_bomb_1GiB",
         "r3-xmp.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::xmp_length, GiB); },
         {kPacked}},
        {"r3.1/pdf_encrypt_in_bomb_1GiB",
         "r3-encrypt.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::encrypt_dict, GiB); },
         {"needed to open the file, lies in an object stream"}},
        {"r3.1/pdf_padded_xref_stream_1GiB",
         "r3-xref.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::padded_xref, GiB); },
         {"ERR:not a valid PDF: cross-reference stream decodes to more than 16 MiB"}},
        {"r3.1/pdf_xref_stream_listing_2M_objects",
         "r3-objects.pdf",
         [] { return qtest::pdf_bomb(PdfBomb::many_objects, 2000000); },
         {"ERR:not a valid PDF: cross-reference streams list 2000000 objects"}},
        {"r3.2/pdf_unclosed_trailers_1000",
         "r3-trailers-1000.pdf",
         [] { return qtest::pdf_unclosed_trailers(1000); },
         {"ERR:PDF is damaged beyond repair"}},
        {"r3.2/pdf_unclosed_trailers_1MB",
         "r3-trailers-1mb.pdf",
         [] { return qtest::pdf_unclosed_trailers(11000); },
         {"ERR:PDF is damaged beyond repair"}},
        {"r3.3/cb7_ten_million_empty_files",
         "r3-many.cb7",
         [] { return qtest::sevenzip_empty_files(10000000, qtest::SevenZipHeader::lzma); },
         {"ERR:not a comic archive: "}},
        {"r3.10/epub_end_tags_case_and_typo",
         "r3-end-tags.epub",
         end_tags_epub,
         {"\"title\":\"T\"", "\"name\":\"A\"", "\"language\":\"en\"",
          "\"description\":\"one two\""}},
        {"r3.11/cbr_solid_rar4_2000_pages",
         "r3-solid.cbr",
         [] { return solid_rar4_pages(2000); },
         {"\"title\":\"Solid\"", "\"pages\":2000"}},
        {"r3.note/cbr_solid_rar5_unknown_size_65MiB",
         "r3-unsized.cbr",
         unknown_size_rar5,
         {"ComicInfo.xml cannot be read"}},
    };
    return v;
}
