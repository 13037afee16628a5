// Every builder-made book that ebook_info describes without DRM is described by
// ebook_metadata too, with the same title, first author and language once
// decoded, except where a rule of the full record explains the difference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agreement.h"
#include "book_builders.h"
#include "fb2_builder.h"
#include "shelf.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

// Books that exercise the places where the two readers could part ways.
std::vector<qtest::ShelfBook> rule_books() {
    std::vector<qtest::ShelfBook> books = qtest::shelf_books();
    qtest::EpubDesc series3;
    series3.collection = "Coll";
    series3.group_position = "7";
    series3.calibre_series = "Cal";
    books.push_back({"collection.epub", qtest::build_epub(series3)});
    qtest::EpubDesc entities;
    entities.title = "Fish &amp; Chips &#x263A;";
    entities.creator = "  Spaced   Name  ";
    books.push_back({"entities.epub", qtest::build_epub(entities)});
    qtest::EpubDesc two;
    two.extra_metadata = "<dc:creator>Second Person</dc:creator><dc:language>fr</dc:language>";
    books.push_back({"two-creators.epub", qtest::build_epub(two)});

    qtest::EpubDesc translator_first;
    translator_first.creator = "";
    translator_first.extra_metadata =
        "<dc:creator opf:role=\"trl\">Tra Nslator</dc:creator><dc:creator>Au Thor</dc:creator>";
    books.push_back({"translator-first.epub", qtest::build_epub(translator_first)});
    qtest::EpubDesc main_title;
    main_title.title = "";
    main_title.extra_metadata =
        "<dc:title id=\"c\">The Collection</dc:title>"
        "<meta refines=\"#c\" property=\"title-type\">collection</meta>"
        "<dc:title id=\"m\">The Story</dc:title>"
        "<meta refines=\"#m\" property=\"title-type\">main</meta>";
    books.push_back({"main-title.epub", qtest::build_epub(main_title)});

    qtest::Fb2Desc cp1251;
    cp1251.encoding = "windows-1251";
    cp1251.title = "\xC0\xED\xED\xE0";  // "Анна"
    cp1251.authors = {{"\xCB\xE5\xE2", "", "\xD2\xEE\xEB\xF1\xF2\xEE\xE9", ""}};
    cp1251.lang = "ru";
    books.push_back({"anna.fb2", qtest::build_fb2(cp1251)});
    qtest::Fb2Desc many;
    many.authors = {{"", "", "", "Nick"}, {"Jane", "Q", "Public", ""}};
    many.series = "S";
    many.series_number = "2";
    books.push_back({"many.fb2", qtest::build_fb2(many)});

    qtest::MobiDesc cp1252;
    cp1252.full_name = "Caf\xe9";
    cp1252.exth_records = {{100, "Ren\xe9"}, {524, "fr"}, {503, "Ignored"}};
    books.push_back({"cafe-exth.mobi", qtest::build_mobi(cp1252)});
    qtest::MobiDesc kf8;
    kf8.mobi_type = 248;
    kf8.file_version = 8;
    kf8.exth_records = {{100, "A"}, {100, "B"}, {524, "en"}, {101, "Pub"}};
    books.push_back({"kf8.azw3", qtest::build_mobi(kf8)});
    return books;
}

// Differences a rule explains: an EPUB 3 title marked "main" is the title.
struct Explained {
    const char *book;
    const char *difference;
};
const Explained kExplained[] = {
    {"main-title.epub", "title: info 'The Collection' vs full 'The Story'"},
};

bool explained(const std::string &book, const std::string &difference, int *used) {
    for (const Explained &e : kExplained)
        if (book == e.book && difference == e.difference) return ++*used, true;
    return false;
}

TEST(FullAgreement, BuilderBooks) {
    const qtest::TempDir dir_tmp("full-agree");
    const std::string &dir = dir_tmp.path;
    int compared = 0, used = 0;
    for (const qtest::ShelfBook &b : rule_books()) {
        SCOPED_TRACE(b.name);
        const std::string path = dir + "/" + b.name;
        qtest::write_file(path, b.bytes);
        qtest::Agreement a = qtest::compare_with_info(path);
        if (!a.info_ok) continue;
        ++compared;
        if (!a.meta_ok) {
            ADD_FAILURE() << "ebook_metadata fails: " << a.meta_error;
            continue;
        }
        EXPECT_EQ(a.schema_error, "");
        for (const std::string &d : a.differences)
            if (!explained(b.name, d, &used)) ADD_FAILURE() << d;
    }
    EXPECT_GE(compared, 10);
    EXPECT_EQ(used, static_cast<int>(std::size(kExplained)));  // no stale explanation
}

}  // namespace
