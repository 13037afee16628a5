// test_epub_hostile.cpp - the EPUB reader on hostile package documents: nested and unclosed
// tags give the same result as on a plain book, and oversized markup members are refused.
#include <gtest/gtest.h>

#include <string>

#include "book_info.h"
#include "hostile_books.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

using qtest::info;

std::string described(const std::string &author, const std::string &series,
                      const std::string &index, bool cover) {
    return R"({"drm":false,"format":"epub","title":"Hostile","author":")" + author +
           R"(","language":"","series":")" + series + R"(","series_index":")" + index +
           R"(","has_cover":)" + (cover ? "true" : "false") + "}";
}

}  // namespace

TEST(EpubHostile, NestedAndUnclosedTagsGiveThePlainResult) {
    // Each shape once took a pass to the end of the document per tag.
    qtest::TempDir d("epub-hostile");
    struct Case {
        const char *name;
        std::string opf, want;
    } cases[] = {
        {"creators", qtest::nested_creators_opf(200000), described("", "", "", false)},
        {"collections", qtest::unclosed_metas_opf(100000, "belongs-to-collection"),
         described("", "", "", false)},
        {"positions", qtest::unclosed_metas_opf(100000, "group-position"),
         described("", "", "", false)},
        {"covers", qtest::unclosed_metas_opf(100000, "cover"), described("", "", "", false)},
        // Only the innermost meta is closed: its text is the first one found.
        {"last-closed", qtest::unclosed_metas_opf(100000, "belongs-to-collection") + "Tide</meta>",
         described("", "Tide", "", false)},
        {"nested-closed",
         qtest::unclosed_metas_opf(50000, "group-position") + "7" + std::string("</meta>") +
             "<dc:creator>Ann</dc:creator>",
         described("Ann", "", "7", false)},
    };
    for (const Case &c : cases) {
        std::string path = d.put(std::string(c.name) + ".epub", qtest::epub_around_opf(c.opf));
        EXPECT_EQ(info(path), c.want) << c.name;
    }
}

TEST(EpubHostile, PackageDocumentsAbove16MiBAreRefused) {
    qtest::TempDir d("epub-hostile");
    const std::uint64_t limit = 16 * 1024 * 1024;
    std::string at_limit = d.path + "/at-limit.epub";
    qtest::write_inflating_epub(at_limit, limit);
    EXPECT_EQ(info(at_limit),
              R"({"drm":false,"format":"epub","title":"","author":"","language":"",)"
              R"("series":"","series_index":"","has_cover":false})");

    // One byte more fails like a missing member, before a block of that size
    // is ever obtained.
    std::string over = d.path + "/over.epub";
    qtest::write_inflating_epub(over, limit + 1);
    EXPECT_EQ(info(over), "ERR:missing zip entry: OEBPS/content.opf");
    std::string cover = d.path + "/cover.jpg";
    EXPECT_EQ(ebook_extract_cover(over.c_str(), cover.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "missing zip entry: OEBPS/content.opf");
}
