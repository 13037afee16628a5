// meta_seeds.h - seed books for the full-record fuzz targets: what the full
// readers branch on beyond the single-book path (refines, protection, code
// pages, UTF-16, zipped FB2, PalmDOC).
#ifndef QEM_FUZZ_META_SEEDS_H
#define QEM_FUZZ_META_SEEDS_H

#include <functional>
#include <string>

#include "book_builders.h"
#include "fb2_builder.h"
#include "zip_builder.h"

namespace qfuzz {

using add_seed = std::function<void(const std::string &, const std::string &)>;

inline void meta_epub_seeds(const add_seed &add) {
    qtest::EpubDesc e3;
    e3.collection = "Saga";
    e3.group_position = "2";
    e3.extra_metadata =
        "<dc:title id=\"m\">Main</dc:title><meta refines=\"#m\" property=\"title-type\">main</meta>"
        "<dc:creator id=\"t\" opf:file-as=\"X, Y\">Y X</dc:creator>"
        "<meta refines=\"#t\" property=\"role\" scheme=\"marc:relators\">trl</meta>"
        "<dc:identifier id=\"i\">978-0-306-40615-7</dc:identifier>"
        "<meta refines=\"#i\" property=\"identifier-type\" scheme=\"onix:codelist5\">15</meta>"
        "<dc:identifier opf:scheme=\"ISBN\">0-306-40615-2</dc:identifier>"
        "<dc:date opf:event=\"publication\">2001</dc:date><dc:subject>S</dc:subject>"
        "<dc:description>&lt;p&gt;A &amp;amp; B&lt;/p&gt;&lt;br/&gt;C</dc:description>"
        "<meta property=\"dcterms:modified\">2020</meta>"
        "<meta name=\"calibre:title_sort\" content=\"Main\"/>";
    e3.cover = qtest::tiny_jpeg();
    e3.cover_by_properties = true;
    add("epub3-refines", qtest::build_epub(e3));
    const std::string enc =
        "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
        "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod "
        "Algorithm=\"http://www.idpf.org/2008/embedding\"/></enc:EncryptedData></encryption>";
    qtest::EpubDesc fonts;
    fonts.members = {qtest::zip_file("META-INF/encryption.xml", enc, false)};
    add("fonts", qtest::build_epub(fonts));
    qtest::EpubDesc adept = fonts;
    adept.members.push_back(qtest::zip_file(
        "META-INF/rights.xml", "<r:rights xmlns:r=\"http://ns.adobe.com/adept\"/>", false));
    adept.members.push_back(qtest::zip_file("META-INF/license.lcpl", "{}", false));
    adept.members.push_back(qtest::zip_file("META-INF/sinf.xml", "<s/>", false));
    add("drm-markers", qtest::build_epub(adept));
    qtest::EpubDesc broken;
    broken.opf =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?><package version=\"2.0\"><metadata>"
        "<dc:title>Caf\xe9 & &nbsp; <dc:creator>A</dc:creator></metadata><manifest><item id=\"x\" "
        "href=\"a%20b.png\" media-type=\"image/png\"/></manifest></package>";
    add("broken-cp1252", qtest::build_epub(broken));
}

inline void meta_fb2_seeds(const add_seed &add) {
    qtest::Fb2Desc ru;
    ru.encoding = "windows-1251";
    ru.title = "\xC0\xED\xED\xE0";
    ru.authors = {{"\xCB\xE5\xE2", "", "\xD2\xEE\xEB\xF1\xF2\xEE\xE9", ""}, {"", "", "", "Nick"}};
    ru.extra_description =
        "<publish-info><publisher>P</publisher><year>1999</year><isbn>0-306-40615-2</isbn>"
        "<sequence name=\"Outer\" number=\"1\"><sequence name=\"Inner\" number=\"2\"/></sequence>"
        "</publish-info><document-info><id>abc</id></document-info>";
    add("cp1251", qtest::build_fb2(ru));
    std::string utf8 = qtest::build_fb2(qtest::Fb2Desc{});
    std::string utf16 = "\xFF\xFE";
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + utf8.substr(utf8.find("?>") + 2);
    for (char ch : doc)
        utf16 += std::string{ch, '\0'};
    add("utf16", utf16);
    add("zipped", qtest::build_zip({qtest::zip_file("book.fb2", utf8)}));
}

inline void meta_mobi_seeds(const add_seed &add) {
    qtest::MobiDesc m;
    m.full_name = "Caf\xe9";
    m.exth_records = {{100, "A"},
                      {100, "B"},
                      {101, "Pub"},
                      {103, "<p>Desc</p>"},
                      {104, "0-306-40615-2"},
                      {105, "Sci"},
                      {106, "2001"},
                      {109, "R"},
                      {113, "B000000001"},
                      {503, "Updated"},
                      {504, "B000000002"},
                      {508, "Sort"},
                      {524, "en"},
                      {121, std::string("\0\0\0\2", 4)}};
    add("exth-all", qtest::build_mobi(m));
    add("textread",
        qtest::build_palmdb(std::string("Old_Text\0junk", 13),
                            {std::string("\0\1", 2) + std::string(14, '\0'), "hello"}, "TEXtREAd"));
}

}  // namespace qfuzz

#endif
