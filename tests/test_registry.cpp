// test_registry.cpp - the format table: what each name chooses, the order in which content tests
// decide, and the table as ebook_formats gives it to hosts.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book_builders.h"
#include "comic_builder.h"
#include "fb2_builder.h"
#include "formats/registry.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

namespace {

std::string by_name(const char *name) {
    std::string_view suffix;
    const eb_format *f = eb_format_by_name(name, &suffix);
    return f ? std::string(f->name) + " " + std::string(suffix) : "-";
}

std::string by_content(const std::string &bytes) {
    const eb_source src(bytes.data(), bytes.size());
    eb_book b(src, nullptr, "(memory)");
    const eb_format *f = eb_format_by_content(b);
    return f ? std::string(f->name) : "-";
}

TEST(Registry, NamesChooseByTheirEnding) {
    const struct {
        const char *name, *want;
    } cases[] = {
        {"/a/B.EPUB", "epub .epub"},
        {"x.fb2", "fb2 .fb2"},
        {"T.Fb2.Zip", "fb2 .fb2.zip"},
        {"t.fbz", "fb2 .fbz"},
        {"old.PRC", "mobi .prc"},
        {"old.pdb", "mobi .pdb"},
        {"k.azw3", "azw3 .azw3"},
        {"k.azw", "mobi .azw"},
        {"d.pdf", "pdf .pdf"},
        {"c.CB7", "cb7 .cb7"},
        {"/x/.epub", "epub .epub"},
        {"books.zip", "-"},
        {"dir.epub/file", "-"},
        {"x.epub.bak", "-"},
        {"x.epubs", "-"},
        {"noext", "-"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(by_name(c.name), c.want) << c.name;
    EXPECT_EQ(by_name(nullptr), "-");
    ASSERT_NE(eb_format_named("azw3"), nullptr);
    EXPECT_EQ(eb_format_named("azw3")->name, "azw3");
    EXPECT_EQ(eb_format_named("azw"), nullptr);
    EXPECT_TRUE(eb_name_refused("Books.ZIP"));
    EXPECT_FALSE(eb_name_refused("t.fb2.zip.x"));

    // Every extension reaches its own row, or an earlier one with the same
    // reader (PalmDOC's endings are the Mobipocket family's); the book
    // info's and the shared ones are among them.
    for (const eb_format &f : eb_formats()) {
        for (std::string_view e : f.extensions) {
            std::string_view suffix;
            const eb_format *chosen = eb_format_by_name(("book" + std::string(e)).c_str(), &suffix);
            ASSERT_NE(chosen, nullptr) << e;
            EXPECT_EQ(chosen->read, f.read) << e;
            EXPECT_EQ(suffix, e);
        }
        for (auto subset : {f.info_extensions, f.shared_extensions})
            for (std::string_view e : subset)
                EXPECT_NE(std::find(f.extensions.begin(), f.extensions.end(), e),
                          f.extensions.end())
                    << f.name << " " << e;
        EXPECT_EQ(f.info_extensions.empty(), f.info == nullptr) << f.name;
    }
}

// The content tests run stage by stage: a ZIP's members first, then the
// first bytes, the XML root, the Palm type, and a PDF header further in.
TEST(Registry, ContentDecidesInStages) {
    const std::string fb2 = qtest::build_fb2(qtest::Fb2Desc{});
    const std::string info = qtest::comic_info({{"Title", "T"}});
    qtest::MobiDesc mobi_desc;
    const std::string mobi = qtest::build_mobi(mobi_desc);
    const std::string palmdoc = std::string(mobi).replace(60, 8, "TEXtREAd");
    std::string mobi_xml = mobi;  // a '<' in the database name, and a root far behind
    mobi_xml.replace(0, 4, "<x/>");
    mobi_xml += "<FictionBook>";
    std::string rar4("Rar!\x1A\x07\x00", 7);
    const struct {
        const char *what;
        std::string bytes;
        const char *want;
    } cases[] = {
        {"comic zip",
         qtest::build_zip({qtest::zip_file("ComicInfo.xml", info), qtest::zip_file("p1.jpg", "x")}),
         "cbz"},
        {"comic info beats one fb2",
         qtest::build_zip({qtest::zip_file("ComicInfo.xml", info), qtest::zip_file("t.fb2", fb2)}),
         "cbz"},
        {"one fb2", qtest::build_zip({qtest::zip_file("t.fb2", fb2)}), "fb2"},
        {"any other zip", qtest::build_zip({qtest::zip_file("a", "1"), qtest::zip_file("b", "2")}),
         "epub"},
        {"zip before pdf", "PK\x03\x04%PDF-1.4", "epub"},
        {"pdf at the start before rar", rar4 + "%PDF-1.4", "pdf"},
        {"rar", rar4 + std::string(40, '\0'), "cbr"},
        {"7z", std::string("7z\xBC\xAF\x27\x1C", 6) + std::string(40, '\0'), "cb7"},
        {"tar", std::string(257, 'a') + "ustar" + std::string(250, '\0'), "cbt"},
        {"pdf early in a FictionBook", "<?xml?><!--%PDF-1.4--><FictionBook/>", "pdf"},
        {"FictionBook with a pdf header later",
         "<?xml?>" + std::string(80, ' ') + "<!--%PDF-1.4--><FictionBook/>", "fb2"},
        {"utf-16 FictionBook", std::string("\xFF\xFE<\0F\0i\0c\0t\0i\0o\0n\0B\0o\0o\0k\0", 26),
         "fb2"},
        {"root before palm type", mobi_xml, "fb2"},
        {"mobi", mobi, "mobi"},
        {"palmdoc", palmdoc, "palmdoc"},
        {"pdf within the first KiB", std::string(900, 'x') + "%PDF-1.4", "pdf"},
        {"pdf past the first KiB", std::string(1020, 'x') + "%PDF-1.4", "-"},
        {"three bytes", "PK\x03", "-"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(by_content(c.bytes), c.want) << c.what;

    // A RAR found by content without ComicInfo.xml is no book after all.
    qtest::ComicDesc pages;
    pages.members = {{"p1.jpg", "x"}};
    const std::string rar5 = qtest::build_comic(qtest::ComicKind::Rar5, pages);
    eb_record r;
    EXPECT_EQ(eb_read_record(eb_source(rar5.data(), rar5.size()), nullptr, "(memory)", r), -1);
    EXPECT_STREQ(ebook_last_error(), "unsupported ebook format: (memory)");
}

std::string text_list(yyjson_val *arr) {
    std::string out;
    size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(arr, i, n, v) out += std::string(i ? " " : "") + yyjson_get_str(v);
    return out;
}

// What hosts read: every format of the record in order, with its endings
// and abilities; the Palm rule as data for a directory walk.
TEST(Registry, FormatsForHosts) {
    char *text = ebook_formats();
    ASSERT_NE(text, nullptr);
    yyjson_doc *doc = yyjson_read(text, std::strlen(text), 0);
    ebook_free_string(text);
    ASSERT_NE(doc, nullptr);
    std::vector<std::string> rows;
    size_t i, n;
    yyjson_val *o;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, n, o) {
        std::string row = yyjson_get_str(yyjson_obj_get(o, "format"));
        row += " [" + text_list(yyjson_obj_get(o, "extensions")) + "]";
        row += " [" + text_list(yyjson_obj_get(o, "info_extensions")) + "]";
        for (const char *flag : {"read", "write", "cover", "module"})
            if (yyjson_get_bool(yyjson_obj_get(o, flag))) row += std::string(" ") + flag;
        row += " [" + text_list(yyjson_obj_get(o, "shared_extensions")) + "]";
        yyjson_val *sigs = yyjson_obj_get(o, "signatures");
        size_t j, m;
        yyjson_val *s;
        yyjson_arr_foreach(sigs, j, m, s) {
            row += " " + std::to_string(yyjson_get_uint(yyjson_obj_get(s, "offset"))) + ":" +
                   yyjson_get_str(yyjson_obj_get(s, "bytes"));
        }
        rows.push_back(row);
    }
    yyjson_doc_free(doc);
    const std::vector<std::string> want = {
        "epub [.epub] [.epub] read write cover []",
        "fb2 [.fb2 .fb2.zip .fbz] [.fb2] read write cover []",
        "mobi [.mobi .azw .prc .pdb] [.mobi .azw] read write cover [.pdb .prc] 60:BOOKMOBI 60:TEXtREAd",
        "azw3 [.azw3] [.azw3] read write cover []",
        "palmdoc [.pdb .prc] [] read [.pdb .prc] 60:BOOKMOBI 60:TEXtREAd",
        "pdf [.pdf] [] read write module []",
        "cbz [.cbz] [] read write cover []",
        "cbr [.cbr] [] read cover module []",
        "cb7 [.cb7] [] read cover module []",
        "cbt [.cbt] [] read cover module []",
    };
    EXPECT_EQ(rows, want);
}

}  // namespace
