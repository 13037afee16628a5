// End-to-end tests of the tool's full record: info and scan output, decoded columns, --fields,
// the further book names, and renaming a windows-1251 FictionBook.
#include "legacy_books.h"
#include "pdf_builder.h"
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliFull = Cli;

std::string lib_metadata(const std::string &path) {
    char *t = ebook_metadata(path.c_str());
    std::string s = t ? t : "";
    ebook_free_string(t);
    return s;
}

bool strict_json(const std::string &text) {
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    yyjson_doc_free(doc);
    return doc != nullptr;
}

std::string cp1251_fb2() {
    qtest::Fb2Desc s;
    s.title = "Анна Каренина";
    s.authors = {{"Лев", "Николаевич", "Толстой", ""}};
    s.lang = "ru";
    s.series = "Романы";
    s.series_number = "2";
    return qtest::build_fb2_windows_1251(s);
}

// A PalmDB whose record 0 is a PalmDOC header (no compression), or another
// database under the same extension.
std::string palm(const char kind[8], const std::string &name) {
    std::string rec0(16, '\0');
    qtest::put_u16(rec0, 0, 1);
    return qtest::build_palmdb(name, {rec0, "Plain text."}, kind);
}

// Every kind of file a scan looks at: books of each extension, a damaged
// book, and files that carry a book's name but are none.
struct Shelf : TempDir {
    std::vector<std::string> books;
    std::string broken;
    Shelf() {
        books = {
            put("anna.fb2", cp1251_fb2()),
            put("fonts.epub", qtest::build_epub_obfuscated_font({})),
            put("harbour.mobi", mobi("Tales of the Harbour", "Tom Bell", true)),
            put("packed.fb2.zip", qtest::build_zip({qtest::zip_file("b.fb2", cp1251_fb2())})),
            put("packed.FBZ", qtest::build_zip({qtest::zip_file("b.fb2", fb2("Sea", "", ""))})),
            put("old.prc", mobi("Old Tales", "Ann Lee")),
            put("plain.pdb", palm("TEXtREAd", "Plain_Text")),
        };
        broken = put("broken.mobi", "short");
        put("calendar.pdb", palm("DATAdate", "Calendar"));
        put("archive.zip", qtest::build_zip({qtest::zip_file("b.fb2", fb2("Sea", "", ""))}));
        std::sort(books.begin(), books.end());
    }
};

TEST_F(CliFull, InfoAndScanPrintTheFullRecordAfterThePath) {
    Shelf shelf;
    Outcome one = run({"info", shelf.books[0]});
    EXPECT_EQ(one.rc, 0) << one.err;
    EXPECT_EQ(one.out, lib_metadata(shelf.books[0]) + "\n");

    for (const char *format : {"json", "jsonl"}) {
        Outcome r = run({"scan", "--format", format, "-j", "2", shelf.path});
        EXPECT_EQ(r.rc, 1) << format;                                   // the broken book
        EXPECT_EQ(r.err.find("calendar"), std::string::npos) << r.err;  // passed over silently
        std::vector<std::string> got;
        if (std::string(format) == "json") {
            EXPECT_TRUE(strict_json(r.out)) << r.out;
            got = elements(r.out);
        } else {
            for (const auto &l : lines(r.out)) {
                EXPECT_TRUE(strict_json(l)) << l;
                got.push_back(elements("[" + l + "]").at(0));
            }
            std::sort(got.begin(), got.end(), [](const auto &x, const auto &y) {
                return member(x, "path") < member(y, "path");
            });
        }
        std::vector<std::string> want;
        char *err = ebook_metadata(shelf.broken.c_str());
        EXPECT_EQ(err, nullptr);
        want.push_back("{\"path\":\"" + shelf.broken + "\",\"error\":\"" + ebook_last_error() +
                       "\"}");
        for (const auto &b : shelf.books)
            want.push_back("{\"path\":\"" + b + "\"," + lib_metadata(b).substr(1));
        std::sort(want.begin(), want.end(), [](const auto &x, const auto &y) {
            return member(x, "path") < member(y, "path");
        });
        EXPECT_EQ(got, want) << format;
    }

    // The texts are decoded; obfuscated fonts are no protection.
    Outcome many = run({"info", shelf.path + "/anna.fb2", shelf.path + "/fonts.epub"});
    auto el = elements(many.out);
    ASSERT_EQ(el.size(), 2u) << many.out;
    EXPECT_EQ(member(el[0], "title"), "Анна Каренина");
    EXPECT_NE(el[1].find("\"drm\":false"), std::string::npos) << el[1];
    EXPECT_NE(el[1].find("\"obfuscated_fonts\":true"), std::string::npos) << el[1];
    Outcome basic = run({"info", "--basic", shelf.path + "/fonts.epub"});
    EXPECT_EQ(basic.out, lib_info(shelf.path + "/fonts.epub") + "\n");
    EXPECT_NE(basic.out.find("\"drm\":true"), std::string::npos) << basic.out;

    // --basic lists what the library's scan lists, and nothing else.
    Outcome listing = run({"scan", "--basic", shelf.path});
    char *t = ebook_scan_dir(shelf.path.c_str());
    ASSERT_NE(t, nullptr);
    auto expected = elements(t);
    ebook_free_string(t);
    std::sort(expected.begin(), expected.end(),
              [](const auto &x, const auto &y) { return member(x, "path") < member(y, "path"); });
    EXPECT_EQ(elements(listing.out), expected);
}

// PDFs beside the other books: scanned, shown in the table, renamed by their
// metadata (one without a title keeps its name), and no cover to extract.
TEST_F(CliFull, PdfsAreScannedShownAndRenamed) {
    TempDir d;
    qtest::PdfDesc titled;
    titled.info = {{"Title", qtest::pdf_utf16("Tides \u00e9t\u00e9")},
                   {"Author", qtest::pdf_literal("Roe, Jane; Bell, Tom")}};
    const std::string tides = d.put("scan0001.PDF", qtest::build_pdf(titled));
    const std::string untitled = d.put("notes.pdf", qtest::build_pdf({}));
    d.put("harbour.mobi", mobi("Tales of the Harbour", "Tom Bell"));

    Outcome info = run({"info", tides});
    EXPECT_EQ(info.out, lib_metadata(tides) + "\n");
    EXPECT_NE(info.out.find("\"format\":\"pdf\""), std::string::npos) << info.out;
    Outcome table = run({"scan", "--format", "table", "--fields", "format,author,title", d.path});
    EXPECT_EQ(table.out,
              "FORMAT  AUTHOR                 TITLE\nmobi    Tom Bell               Tales of the "
              "Harbour\npdf\npdf     Roe, Jane & Bell, Tom  Tides \u00e9t\u00e9\n")
        << table.err;
    Outcome basic = run({"scan", "--basic", "--format", "jsonl", d.path});
    EXPECT_EQ(basic.out.find(".pdf"), std::string::npos) << basic.out;
    EXPECT_EQ(basic.out.find(".PDF"), std::string::npos) << basic.out;

    Outcome cover = run({"cover", tides, d.path + "/cover.jpg"});
    EXPECT_EQ(cover.rc, 1);
    EXPECT_EQ(cover.err,
              "quenfold-ebook-meta: " + tides +
                  ": a PDF has no cover image to extract (its pages are not rendered)\n");

    Outcome renamed = run({"rename", "--apply", d.path});
    EXPECT_EQ(renamed.rc, 0) << renamed.err;
    EXPECT_NE(renamed.err.find(untitled + ": the book has no title; it keeps its name"),
              std::string::npos)
        << renamed.err;
    EXPECT_EQ(d.names(), (std::set<std::string>{"Roe, Jane - Tides \u00e9t\u00e9.PDF", "notes.pdf",
                                                "Tom Bell - Tales of the Harbour.mobi"}));
}

TEST_F(CliFull, TableAndCsvShowDecodedTextsInTheChosenColumns) {
    TempDir d;
    std::string anna = d.put("anna.fb2", cp1251_fb2());
    qtest::EpubDesc two;
    two.title = "=Shared Work";
    two.creator = "Jane Roe";
    two.extra_metadata =
        "<dc:creator opf:role=\"aut\">Tom Bell</dc:creator>"
        "<dc:identifier opf:scheme=\"ISBN\">978-0-306-40615-7</dc:identifier>"
        "<dc:publisher>Harbour Press, Ltd.</dc:publisher>";
    std::string shared = d.put("shared.epub", qtest::build_epub(two));

    Outcome table = run({"scan", "--format", "table", d.path});
    EXPECT_EQ(table.rc, 0) << table.err;
    auto ls = lines(table.out);
    ASSERT_EQ(ls.size(), 3u) << table.out;
    EXPECT_EQ(ls[0].rfind("FORMAT  AUTHOR", 0), 0u) << ls[0];
    EXPECT_NE(ls[1].find("Лев Николаевич Толстой  Романы #2  Анна Каренина"), std::string::npos)
        << ls[1];
    EXPECT_NE(ls[2].find("Jane Roe & Tom Bell"), std::string::npos) << ls[2];

    Outcome csv = run({"scan", "--format", "csv", d.path});
    EXPECT_EQ(csv.out,
              "path,drm,format,title,author,language,series,series_index,has_cover,asin,isbn,"
              "publisher,error\r\n" +
                  anna +
                  ",false,fb2,Анна Каренина,Лев Николаевич Толстой,ru,Романы,2,false,,,,\r\n" +
                  shared +
                  ",false,epub,'=Shared Work,Jane Roe & Tom Bell,en,,,false,,9780306406157,"
                  "\"Harbour Press, Ltd.\",\r\n");

    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> chosen = {
        {{"--format", "csv", "--fields", "isbn,title"},
         "isbn,title\r\n,Анна Каренина\r\n9780306406157,'=Shared Work\r\n"},
        {{"--format", "csv", "--csv-raw", "--fields", "title"},
         "title\r\nАнна Каренина\r\n=Shared Work\r\n"},
        {{"--format", "table", "--fields", "language,publisher"},
         "LANGUAGE  PUBLISHER\nru\nen        Harbour Press, Ltd.\n"},
    };
    for (const Case &c : chosen) {
        std::vector<std::string> args = {"scan"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(d.path);
        Outcome r = run(args);
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.back();
    }

    for (const auto &bad : std::vector<std::vector<std::string>>{
             {"scan", "--format", "csv", "--fields", "title,bogus", d.path},
             {"scan", "--format", "csv", "--fields", "", d.path},
             {"scan", "--fields", "title", d.path},  // JSON has no columns
         }) {
        Outcome r = run(bad);
        EXPECT_EQ(r.rc, 2) << bad[3] << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    Outcome unknown = run({"scan", "--format", "csv", "--fields", "title,bogus", d.path});
    EXPECT_NE(unknown.err.find("\"bogus\""), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("path,drm,format,title"), std::string::npos) << unknown.err;
    Outcome escaped = run({"scan", "--format", "csv", "--fields", "ti\x1b[2Jtle", d.path});
    EXPECT_NE(escaped.err.find("\"ti\\x1b[2Jtle\""), std::string::npos) << escaped.err;
}

TEST_F(CliFull, RenameNamesWindows1251BooksInUtf8AndKeepsPackedNames) {
    TempDir d;
    d.put("anna.fb2", cp1251_fb2());
    d.put("packed.fb2.zip", qtest::build_zip({qtest::zip_file("b.fb2", cp1251_fb2())}));
    d.put("harbour.mobi", mobi("Tales of the Harbour", "Tom Bell"));
    Outcome r = run({"rename", "--apply", d.path});
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::set<std::string> want = {
        "Лев Николаевич Толстой - Романы #2 - Анна Каренина.fb2",
        "Лев Николаевич Толстой - Романы #2 - Анна Каренина.fb2.zip",
        "Tom Bell - Tales of the Harbour.mobi"};
    EXPECT_EQ(d.names(), want);
    Outcome again = run({"rename", "--apply", d.path});
    EXPECT_EQ(again.rc, 0) << again.err;
    EXPECT_NE(again.err.find("0 renamed, 3 unchanged"), std::string::npos) << again.err;
    EXPECT_EQ(d.names(), want);
}

TEST_F(CliFull, JsonlStreamHoldsNoRecordItHasWritten) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#endif
    // Books of 8 KiB titles: a tool that kept each record after writing it
    // would hold some 25 KiB a book, 45 MB more for the larger library.
    const std::string book = fb2(std::string(8192, 't'), "", "");
    TempDir small, large;
    for (int i = 0; i < 2000; ++i) {
        if (i < 200) small.put(std::to_string(i) + ".fb2", book);
        large.put(std::to_string(i) + ".fb2", book);
    }
    Outcome a = run({"scan", "--format", "jsonl", "-j", "2", small.path});
    Outcome b = run({"scan", "--format", "jsonl", "-j", "2", large.path});
    ASSERT_EQ(a.rc, 0) << a.err;
    ASSERT_EQ(b.rc, 0) << b.err;
    EXPECT_EQ(lines(b.out).size(), 2000u);
    EXPECT_LT(b.peak_kib - a.peak_kib, 8 * 1024) << a.peak_kib << " KiB, then " << b.peak_kib;
}

}  // namespace
