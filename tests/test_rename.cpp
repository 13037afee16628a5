// test_rename.cpp - the rename plan: request forms, failures, clash numbering
// and the plan produced for real books.

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "book_builders.h"
#include "temp_dir.h"
#include "fb2_builder.h"
#include "ops/eb_rename.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

namespace {

using Entry = std::array<std::string, 3>;  // "from", "to", "to_name"

// The plan's text, or "<null: message>" when planning failed.
std::string plan_text(const std::string &files_json, const char *pattern = nullptr) {
    char *text = ebook_rename_plan(files_json.c_str(), pattern);
    if (!text) return std::string("<null: ") + ebook_last_error() + ">";
    std::string s(text);
    ebook_free_string(text);
    return s;
}

std::vector<Entry> plan(const std::string &files_json, const char *pattern = nullptr) {
    std::string text = plan_text(files_json, pattern);
    std::vector<Entry> out;
    yyjson_doc *doc = yyjson_read(text.c_str(), text.size(), 0);
    EXPECT_TRUE(yyjson_is_arr(yyjson_doc_get_root(doc))) << text;
    std::size_t i, n;
    yyjson_val *obj;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, n, obj) {
        EXPECT_TRUE(yyjson_is_false(yyjson_obj_get(obj, "rename")));
        auto str = [&](const char *k) {
            return std::string(yyjson_get_str(yyjson_obj_get(obj, k)));
        };
        out.push_back({str("from"), str("to"), str("to_name")});
    }
    yyjson_doc_free(doc);
    return out;
}

Entry one(const std::string &element) {
    auto got = plan("[" + element + "]");
    return got.size() == 1 ? got[0] : Entry{"<" + std::to_string(got.size()) + " entries>"};
}

std::string object(const std::string &title, const std::string &ext = ".epub") {
    return "{\"title\":\"" + title + "\",\"ext\":\"" + ext + "\"}";
}

const std::string kEuro = "\xE2\x82\xAC";

TEST(RenamePlan, WholeTextsAndFailures) {
    EXPECT_EQ(ebook_rename_plan(nullptr, nullptr), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL files_json");
    struct Case {
        std::string json;
        const char *pattern;
        std::string want;
    } cases[] = {
        {"[]", nullptr, "[]"},
        {"[1, true, null, [], 2.5]", nullptr, "[]"},
        {"[7,{\"path\":\"/b/\\u00e9.epub\",\"title\":\"T/\\u00e9\"}]", "{title}",
         "[{\"from\":\"/b/\xC3\xA9.epub\",\"to\":\"/b/T_\xC3\xA9.epub\","
         "\"to_name\":\"T_\xC3\xA9.epub\",\"rename\":false}]"},
        {"", nullptr, "<null: invalid files_json>"},
        {"[1,]", nullptr, "<null: invalid files_json>"},
        {"[/* c */]", nullptr, "<null: invalid files_json>"},
        {"\xEF\xBB\xBF[]", nullptr, "<null: invalid files_json>"},
        {"[\"\xC3\"]", nullptr, "<null: invalid files_json>"},
        {"{}", nullptr, "<null: files_json must be a JSON array>"},
        {"\"a.epub\"", nullptr, "<null: files_json must be a JSON array>"},
        {"[{}]", "{title}\xC3", "<null: json write failed>"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(plan_text(c.json, c.pattern), c.want) << c.json;
}

TEST(RenamePlan, HostDescribedBooks) {
    struct Case {
        std::string element;
        Entry want;
    } cases[] = {
        {"{}", {"file.epub", "Unknown - untitled.epub", "Unknown - untitled.epub"}},
        {R"({"path":5,"title":"T"})", {"T.epub", "Unknown - T.epub", "Unknown - T.epub"}},
        {R"({"title":"a/b"})", {"a/b.epub", "a/Unknown - a_b.epub", "Unknown - a_b.epub"}},
        // An extension without its full stop is no extension.
        {R"({"title":"T","ext":"mobi"})", {"T", "Unknown - T", "Unknown - T"}},
        {R"({"path":"/d/x.FB2","ext":".mobi","author":"A","title":"T"})",
         {"/d/x.FB2", "/d/A - T.FB2", "A - T.FB2"}},
        {R"({"path":"/d/noext","ext":".fb2"})",
         {"/d/noext", "/d/Unknown - untitled.fb2", "Unknown - untitled.fb2"}},
        {R"({"path":"C:\\b\\x.epub","author":"A","title":"T"})",
         {"C:\\b\\x.epub", "A - T.epub", "A - T.epub"}},
        {R"({"path":"/d/A - T.epub","author":"A","title":"T"})",
         {"/d/A - T.epub", "/d/A - T.epub", "A - T.epub"}},
        {R"({"path":"s","series":"S","series_index":"2","idx":"3"})",
         {"s", "Unknown - S #2 - untitled.epub", "Unknown - S #2 - untitled.epub"}},
        {R"({"path":"s","series":"S","series_index":2,"idx":"3"})",
         {"s", "Unknown - S #3 - untitled.epub", "Unknown - S #3 - untitled.epub"}},
        // Only the first occurrence of a key is looked at.
        {R"({"title":"One","title":"Two"})",
         {"One.epub", "Unknown - One.epub", "Unknown - One.epub"}},
        {R"({"title":1,"title":"Two"})",
         {"file.epub", "Unknown - untitled.epub", "Unknown - untitled.epub"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(one(c.element), c.want) << c.element;
}

TEST(RenamePlan, ExtensionsThatWouldMakeAPathAreRefused) {
    struct Case {
        std::string element;
        Entry want;
    } cases[] = {
        {R"({"path":"dir/book","ext":"/../../etc/x","title":"T"})",
         {"dir/book", "dir/Unknown - T", "Unknown - T"}},
        {R"({"path":"dir/book","ext":".a\\b","title":"T"})",
         {"dir/book", "dir/Unknown - T", "Unknown - T"}},
        {R"({"path":"dir/book","ext":".x\u001b[2J","title":"T"})",
         {"dir/book", "dir/Unknown - T", "Unknown - T"}},
        {R"({"path":"dir/book","ext":".e\tpub","title":"T"})",
         {"dir/book", "dir/Unknown - T", "Unknown - T"}},
        {R"({"ext":"./x","title":"T"})", {"T", "Unknown - T", "Unknown - T"}},
        // From the path: a backslash or a control byte after the last full
        // stop; the path's refused extension is not replaced by "ext".
        {R"({"path":"d/x.a\\b","ext":".fb2","title":"T"})",
         {"d/x.a\\b", "d/Unknown - T", "Unknown - T"}},
        {R"({"path":"d/x.e\npub","title":"T"})", {"d/x.e\npub", "d/Unknown - T", "Unknown - T"}},
        // Usable ones stay as they are, letter case and high bytes included.
        {R"({"path":"dir/book","ext":".Ep\u00fcb","title":"T"})",
         {"dir/book",
          "dir/Unknown - T.Ep\xC3\xBC"
          "b",
          "Unknown - T.Ep\xC3\xBC"
          "b"}},
        {R"({"path":"dir/book","ext":".","title":"T"})",
         {"dir/book", "dir/Unknown - T.", "Unknown - T."}},
    };
    for (const auto &c : cases) {
        Entry got = one(c.element);
        EXPECT_EQ(got, c.want) << c.element;
        EXPECT_EQ(got[2].find_first_of("/\\"), std::string::npos) << c.element;
    }
    // A book given by path: the same rule for the extension of its name.
    EXPECT_EQ(one(R"("/none/d/x.a\\b")"),
              (Entry{"/none/d/x.a\\b", "/none/d/Unknown - untitled", "Unknown - untitled"}));
}

TEST(RenamePlan, BooksThatCannotBeRead) {
    const qtest::TempDir dir_tmp("rename-unread");
    const std::string &dir = dir_tmp.path;
    qtest::write_file(dir + "/junk.epub", "not a book");
    struct Case {
        std::string path;
        Entry want;
    } cases[] = {
        {"/none/d/x.EPUB",
         {"/none/d/x.EPUB", "/none/d/Unknown - untitled.EPUB", "Unknown - untitled.EPUB"}},
        {"/none/README", {"/none/README", "/none/Unknown - untitled", "Unknown - untitled"}},
        {"", {"", "Unknown - untitled", "Unknown - untitled"}},
        {"C:\\\\b\\\\m.epub",
         {"C:\\b\\m.epub", "Unknown - untitled.epub", "Unknown - untitled.epub"}},
        {dir + "/junk.epub",
         {dir + "/junk.epub", dir + "/Unknown - untitled.epub", "Unknown - untitled.epub"}},
        {"/none/d/missing.epub",
         {"/none/d/missing.epub", "/none/d/Unknown - untitled.epub", "Unknown - untitled.epub"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(one("\"" + c.path + "\""), c.want) << c.path;
    // The plan succeeded, and the last book's message stays.
    EXPECT_STREQ(ebook_last_error(),
                 "cannot open file: /none/d/missing.epub (No such file or directory)");
}

TEST(RenamePlan, ClashesAreNumberedByNameAndExtension) {
    auto got = plan(R"j([{"path":"/a/1.epub","title":"X"},{"path":"/b/2.epub","title":"X"},
        {"path":"/a/3.EPUB","title":"X"},{"path":"/a/4.epub","title":"X (2)"},
        {"path":"/a/5.epub","title":"X"},{"path":"/a/6.EPUB","title":"X"}])j",
                    "{title}");
    std::vector<std::string> names;
    for (const auto &e : got)
        names.push_back(e[2]);
    EXPECT_EQ(names, (std::vector<std::string>{"X.epub", "X (2).epub", "X.EPUB", "X (2) (2).epub",
                                               "X (3).epub", "X (2).EPUB"}));
    EXPECT_EQ(got[1][1], "/b/X (2).epub");
}

// A path longer than the record's field is kept whole.
TEST(RenamePlan, LongPathsAreHeldWhole) {
    std::string dir = "/" + std::string(300, 'd') + "/" + std::string(300, 'e') + "/";
    std::string path = dir + "book.fb2";
    auto got = plan("[\"" + path + "\",{\"path\":\"" + path + "\",\"title\":\"T\"}]");
    EXPECT_EQ(got,
              (std::vector<Entry>{{path, dir + "Unknown - untitled.fb2", "Unknown - untitled.fb2"},
                                  {path, dir + "Unknown - T.fb2", "Unknown - T.fb2"}}));
}

// Fields cut to their size end on a whole character, so that one long
// element cannot make the plan invalid.
TEST(RenamePlan, LongFieldsAreCutOnCharacters) {
    std::string ext = ".x", title = "x";
    for (int i = 0; i < 11; ++i)
        ext += kEuro;  // 35 bytes
    for (int i = 0; i < 90; ++i)
        title += kEuro;  // 271 bytes
    EXPECT_EQ(plan("[" + object(title, ext) + "]", "{title}"),
              (std::vector<Entry>{{title.substr(0, 253) + ext.substr(0, 29),
                                   title.substr(0, 178) + ext.substr(0, 29),
                                   title.substr(0, 178) + ext.substr(0, 29)}}));

    const qtest::TempDir dir_tmp("rename-long-field");

    const std::string &dir = dir_tmp.path;
    qtest::Fb2Desc fb2;
    fb2.title = title;
    qtest::write_file(dir + "/long.fb2", qtest::build_fb2(fb2));
    auto got = plan("[\"" + dir + "/long.fb2\"]", "{title}");
    EXPECT_EQ(got,
              (std::vector<Entry>{{dir + "/long.fb2", dir + "/" + title.substr(0, 178) + ".fb2",
                                   title.substr(0, 178) + ".fb2"}}));
}

// A name near the limit is shortened to make room for its number, on a
// character boundary, and still differs from every earlier name.
TEST(RenamePlan, NumberedNamesNearTheLimit) {
    std::string a(180, 'a'), wide = std::string(174, 'b') + kEuro + "ccc";
    std::string req = "[";
    for (int i = 0; i < 11; ++i)
        req += object(a) + ",";
    req += object(wide) + "," + object(wide) + "," + object(a.substr(0, 176) + " (2)") + "]";
    auto got = plan(req, "{title}");
    ASSERT_EQ(got.size(), 14u);
    EXPECT_EQ(got[1][2], a.substr(0, 176) + " (2).epub");
    EXPECT_EQ(got[9][2], a.substr(0, 175) + " (10).epub");
    EXPECT_EQ(got[12][2], std::string(174, 'b') + " (2).epub");
    // Its own shortened forms " (2)" to " (11)" are all taken by then.
    EXPECT_EQ(got[13][2], a.substr(0, 175) + " (12).epub");
}

// The one decomposed letter the titles below hold, composed.
std::string composed(std::string s) {
    for (std::size_t at; (at = s.find("e\xCC\x81")) != std::string::npos;)
        s.replace(at, 3, "\xC3\xA9");
    return s;
}

// The numbering rule in its plain form: compare with every earlier name from
// the first on, and start over after each renumbering.
void reference_numbering(std::vector<std::pair<std::string, std::string>> &books) {
    for (std::size_t k = 1; k < books.size(); ++k) {
        std::string s = books[k].first;
        int c = 2;
        for (std::size_t j = 0; j < k; ++j) {
            if (composed(books[j].first) != composed(books[k].first) ||
                books[j].second != books[k].second)
                continue;
            std::string suffix = " (" + std::to_string(c++) + ")";
            std::size_t keep = std::min(s.size(), 180 - suffix.size());
            while (keep < s.size() && keep > 0 && (s[keep] & 0xC0) == 0x80)
                --keep;
            books[k].first = s.substr(0, keep) + suffix;
            j = static_cast<std::size_t>(-1);
        }
    }
}

TEST(RenamePlan, NumberingMatchesThePlainRule) {
    const std::string titles[] = {"X",
                                  "X (2)",
                                  "X (3)",
                                  "X (2) (2)",
                                  "Y",
                                  std::string(180, 'a'),
                                  std::string(176, 'a') + " (2)",
                                  std::string(175, 'a') + " (10)",
                                  std::string(174, 'b') + kEuro + "ccc",
                                  std::string(174, 'b') + " (2)",
                                  "Caf\xC3\xA9",
                                  "Cafe\xCC\x81",
                                  "Cafe\xCC\x81 (2)"};
    const std::string exts[] = {".epub", ".EPUB", ".fb2"};
    std::mt19937 rng(20240611);
    for (int round = 0; round < 150; ++round) {
        // The first round: many copies of few names.
        std::size_t n = round == 0 ? 400 : 1 + rng() % 60;
        std::size_t spread = round == 0 ? 2 : std::size(titles);
        std::vector<std::pair<std::string, std::string>> books;
        std::string req = "[";
        for (std::size_t i = 0; i < n; ++i) {
            const std::string &t = titles[rng() % spread], &e = exts[rng() % (round ? 3 : 1)];
            req += (i ? "," : "") + object(t, e);
            char name[256];
            build_name("{title}", "", "", "", t.c_str(), name);
            books.emplace_back(name, e);
        }
        reference_numbering(books);
        auto got = plan(req + "]", "{title}");
        ASSERT_EQ(got.size(), n);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(got[i][2], books[i].first + books[i].second) << round << " / " << i;
    }
}

// The same EPUB book twice, a FictionBook book in a series, a host-described
// book, a number, a bare title and a missing file; byte for byte, with the
// folder's real path in place of "/books".
TEST(RenamePlan, FolderOfRealBooks) {
    const qtest::TempDir books_tmp("rename-books");
    const std::string &books = books_tmp.path;
    qtest::EpubDesc sea;
    sea.title = "The Quiet Sea";
    sea.creator = "Ann Lee";
    qtest::write_file(books + "/sea.epub", qtest::build_epub(sea));
    qtest::write_file(books + "/sea-copy.epub", qtest::build_epub(sea));
    qtest::Fb2Desc tales;
    tales.title = "Tales of the Harbour";
    tales.authors = {{"Tom", "", "Bell", ""}};
    tales.series = "Harbour Tales";
    tales.series_number = "3";
    qtest::write_file(books + "/tales.fb2", qtest::build_fb2(tales));

    auto at_books = [&](std::string s) {
        for (std::size_t p; (p = s.find("/books/")) != std::string::npos;)
            s.replace(p, 6, books);
        return s;
    };
    std::string request = at_books(
        R"(["/books/sea.epub","/books/sea-copy.epub","/books/tales.fb2",)"
        R"({"path":"/books/x/found.epub","author":"Jane Roe","title":"Found: A Story?",)"
        R"("series":"Lost Things","idx":"2"},42,{"title":"Notes"},"/books/missing.epub"])");
    std::string want = at_books(
        R"([{"from":"/books/sea.epub","to":"/books/Ann Lee - The Quiet Sea.epub",)"
        R"("to_name":"Ann Lee - The Quiet Sea.epub","rename":false},)"
        R"j({"from":"/books/sea-copy.epub","to":"/books/Ann Lee - The Quiet Sea (2).epub",)j"
        R"j("to_name":"Ann Lee - The Quiet Sea (2).epub","rename":false},)j"
        R"({"from":"/books/tales.fb2",)"
        R"("to":"/books/Tom Bell - Harbour Tales #3 - Tales of the Harbour.fb2",)"
        R"("to_name":"Tom Bell - Harbour Tales #3 - Tales of the Harbour.fb2","rename":false},)"
        R"({"from":"/books/x/found.epub",)"
        R"("to":"/books/x/Jane Roe - Lost Things #2 - Found_ A Story.epub",)"
        R"("to_name":"Jane Roe - Lost Things #2 - Found_ A Story.epub","rename":false},)"
        R"({"from":"Notes.epub","to":"Unknown - Notes.epub","to_name":"Unknown - Notes.epub",)"
        R"("rename":false},)"
        R"({"from":"/books/missing.epub","to":"/books/Unknown - untitled.epub",)"
        R"("to_name":"Unknown - untitled.epub","rename":false}])");
    EXPECT_EQ(plan_text(request), want);
}

}  // namespace
