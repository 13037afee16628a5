// make_samples.cpp - writes the small sample books that `make demo` describes,
// one or more of each family, with the same builders the tests use.
#include <cstdio>
#include <filesystem>
#include <string>

#include "book_builders.h"
#include "comic_builder.h"
#include "fb2_builder.h"
#include "legacy_books.h"
#include "pdf_builder.h"
#include "zip_builder.h"

int main(int argc, char **argv) {
    const std::string dir = argc > 1 ? argv[1] : "examples/books";
    std::filesystem::create_directories(dir);
    auto put = [&](const std::string &name, const std::string &bytes) {
        qtest::write_file(dir + "/" + name, bytes);
    };

    qtest::MobiDesc mobi;
    mobi.palm_name = "Harbour_Tales";
    mobi.full_name = "Tales of the Harbour";
    mobi.exth_records = {{100, "Tom Bell"}, {524, "en"}, {113, "B0SAMPLE01"}};
    mobi.images = {qtest::tiny_jpeg()};
    mobi.cover_image = 0;
    put("tales-of-the-harbour.mobi", qtest::build_mobi(mobi));

    qtest::MobiDesc kf8 = mobi;
    kf8.palm_name = "Quiet_Sea";
    kf8.full_name = "The Quiet Sea";
    kf8.mobi_type = 248;
    kf8.file_version = 8;
    kf8.exth_records = {{100, "Ann Lee"}, {524, "en-GB"}, {504, "B0SAMPLE02"}};
    put("the-quiet-sea.azw3", qtest::build_mobi(kf8));

    qtest::MobiDesc drm;
    drm.palm_name = "Locked_Book";
    drm.full_name = "The Sealed Letter";
    drm.exth_records = {{100, "Ann Lee"}, {524, "en"}};
    drm.encryption = 2;
    put("locked.azw", qtest::build_mobi(drm));

    qtest::EpubDesc epub2;
    epub2.title = "Lost Things";
    epub2.creator = "Jane Roe";
    epub2.language = "en";
    epub2.calibre_series = "Found Objects";
    epub2.calibre_index = "2";
    epub2.cover = qtest::tiny_jpeg();
    put("lost-things.epub", qtest::build_epub(epub2));

    qtest::EpubDesc epub3;
    epub3.title = "Le Petit Phare";
    epub3.creator = "Hélène Marchand";
    epub3.language = "fr";
    epub3.collection = "Côtes";
    epub3.group_position = "1";
    epub3.cover = qtest::tiny_png();
    epub3.cover_href = "images/cover.png";
    epub3.cover_media_type = "image/png";
    epub3.cover_by_properties = true;
    put("le-petit-phare.epub", qtest::build_epub(epub3));

    qtest::Fb2Desc fb2;
    fb2.title = "Белые ночи";
    fb2.authors = {{"Фёдор", "Михайлович", "Достоевский", ""}};
    fb2.lang = "ru";
    fb2.series = "Повести";
    fb2.series_number = "3";
    fb2.cover_href = "#cover.jpg";
    fb2.binaries = {{"cover.jpg", "image/jpeg", qtest::tiny_jpeg()}};
    put("white-nights.fb2", qtest::build_fb2(fb2));

    // Older Russian libraries keep FictionBook in windows-1251: the short
    // object gives its bytes as they are, the full record decodes them.
    qtest::Fb2Desc cp1251;
    cp1251.title = "Анна Каренина";
    cp1251.authors = {{"Лев", "Николаевич", "Толстой", ""}};
    cp1251.lang = "ru";
    put("anna-karenina-1251.fb2", qtest::build_fb2_windows_1251(cp1251));

    // An embedded font obfuscated by the IDPF rule is no protection: the
    // short object calls the book protected, the full record does not.
    qtest::EpubDesc fonts;
    fonts.title = "The Lighthouse Keeper";
    fonts.creator = "Mara Quinn";
    fonts.language = "en";
    fonts.extra_metadata =
        "<dc:creator opf:role=\"ill\">Tom Bell</dc:creator>"
        "<dc:publisher>Harbour Press</dc:publisher>"
        "<dc:identifier opf:scheme=\"ISBN\">978-0-306-40615-7</dc:identifier>"
        "<dc:date>2019-05-02</dc:date>"
        "<dc:subject>Sea stories</dc:subject>"
        "<dc:description>&lt;p&gt;A keeper, a storm &amp;amp; a ship.&lt;/p&gt;</dc:description>";
    put("the-lighthouse-keeper.epub", qtest::build_epub_obfuscated_font(fonts));

    // A comic: pages in an archive, credits and the cover page in its
    // ComicInfo.xml (the cover is the second page in reading order).
    qtest::ComicDesc comic;
    comic.members = {
        {"ComicInfo.xml",
         qtest::comic_info({{"Title", "The Long Night"},
                            {"Series", "Harbour Watch"},
                            {"Number", "1"},
                            {"Year", "2021"},
                            {"Month", "10"},
                            {"Writer", "Mara Quinn"},
                            {"Penciller", "Tom Bell"},
                            {"Colorist", "Kay Rowe"},
                            {"CoverArtist", "Tom Bell"},
                            {"Publisher", "Harbour Press"},
                            {"Genre", "Mystery, Sea stories"},
                            {"LanguageISO", "en"}},
                           "  <Pages>\n    <Page Image=\"0\" Type=\"InnerCover\"/>\n"
                           "    <Page Image=\"1\" Type=\"FrontCover\"/>\n  </Pages>\n")},
        {"pages/page10.jpg", qtest::tiny_jpeg()},
        {"pages/page1.jpg", qtest::tiny_jpeg()},
        {"pages/page2.png", qtest::tiny_png()}};
    put("harbour-watch-1.cbz", qtest::build_comic(qtest::ComicKind::Zip, comic));

    // A PDF states its metadata twice: the Info dictionary (here in
    // UTF-16BE) and an XMP stream, which the full record prefers.
    qtest::PdfDesc pdf;
    pdf.version = "1.6";
    pdf.info = {{"Title", qtest::pdf_utf16("Tide Tables of the North Sea")},
                {"Author", qtest::pdf_literal("Kim Ray")},
                {"CreationDate", qtest::pdf_literal("D:20210314092653+01'00'")},
                {"ModDate", qtest::pdf_literal("D:20210314092653+01'00'")}};
    pdf.xmp = qtest::xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Tide Tables of the North Sea</rdf:li>"
        "</rdf:Alt></dc:title>"
        "<dc:creator><rdf:Seq><rdf:li>Kim Ray</rdf:li></rdf:Seq></dc:creator>"
        "<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>"
        "<dc:publisher><rdf:Bag><rdf:li>Harbour Press</rdf:li></rdf:Bag></dc:publisher>"
        "<prism:isbn>978-3-16-148410-0</prism:isbn>"
        "<calibre:series rdf:parseType=\"Resource\"><rdf:value>Harbour Almanacs</rdf:value>"
        "<calibreSI:series_index>3</calibreSI:series_index></calibre:series>",
        "xmp:CreateDate=\"2021-03-14T09:26:53+01:00\" "
        "xmp:MetadataDate=\"2021-03-14T09:26:53+01:00\"");
    pdf.xmp_flate = true;
    put("tide-tables.pdf", qtest::build_pdf(pdf));

    std::printf("sample books written to %s\n", dir.c_str());
    return 0;
}
