// shelf.h - a small shelf of book files of every family (good, damaged, DRM),
// made with the test builders, for the tests, the planner's fuzz target and the seeds.
#ifndef QEM_TEST_SHELF_H
#define QEM_TEST_SHELF_H

#include <string>
#include <vector>

#include "book_builders.h"
#include "fb2_builder.h"
#include "zip_builder.h"

namespace qtest {

struct ShelfBook {
    std::string name;  // file name, extension included
    std::string bytes;
};

inline std::vector<ShelfBook> shelf_books() {
    std::vector<ShelfBook> books;

    qtest::EpubDesc epub;
    epub.title = "The Quiet Sea";
    epub.creator = "Ann Lee";
    epub.calibre_series = "Sea";
    epub.calibre_index = "2";
    epub.cover = qtest::tiny_jpeg();
    books.push_back({"sea.epub", qtest::build_epub(epub)});
    books.push_back({"SEA-COPY.EPUB", books.back().bytes});
    qtest::EpubDesc locked;
    locked.encryption = true;
    books.push_back({"locked.epub", qtest::build_epub(locked)});

    qtest::Fb2Desc fb2;
    fb2.title = "Tales of the Harbour";
    fb2.authors = {{"Tom", "", "Bell", ""}};
    fb2.series = "Harbour Tales";
    fb2.series_number = "3";
    fb2.cover_href = "#c.png";
    fb2.binaries = {{"c.png", "image/png", qtest::tiny_png()}};
    books.push_back({"tales.fb2", qtest::build_fb2(fb2)});
    qtest::Fb2Desc sealed;
    sealed.body = "<encrypted/>";
    books.push_back({"sealed.fb2", qtest::build_fb2(sealed)});

    qtest::MobiDesc mobi;
    mobi.full_name = "Deep Water";
    mobi.exth_records = {{100, "Kim Ray"}, {524, "de"}, {113, "B000000001"}};
    mobi.images = {qtest::tiny_jpeg()};
    mobi.cover_image = 0;
    books.push_back({"deep.mobi", qtest::build_mobi(mobi)});
    qtest::MobiDesc kf8 = mobi;
    kf8.mobi_type = 248;
    kf8.file_version = 8;
    books.push_back({"deep.azw3", qtest::build_mobi(kf8)});
    qtest::MobiDesc drm;
    drm.encryption = 2;
    books.push_back({"drm.azw", qtest::build_mobi(drm)});
    qtest::MobiDesc palmdoc;
    palmdoc.mobi_header = false;
    books.push_back({"palmdoc.mobi", qtest::build_mobi(palmdoc)});
    // A title in a single-byte code page: the book's JSON is not UTF-8.
    qtest::MobiDesc latin1;
    latin1.full_name = "Caf\xe9";
    books.push_back({"cafe.mobi", qtest::build_mobi(latin1)});

    books.push_back({"broken.epub", "PK\x03\x04 not really an archive"});
    books.push_back({"empty.fb2", ""});
    books.push_back({"notes.txt", "plain text"});
    return books;
}

}  // namespace qtest

#endif
