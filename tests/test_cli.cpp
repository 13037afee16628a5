// End-to-end tests of the quenfold-ebook-meta tool: the built binary run on generated books.
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliGeneral = Cli;
using CliInfo = Cli;
using CliScan = Cli;
using CliCover = Cli;
using CliRename = Cli;

TEST_F(CliGeneral, VersionHelpAndUsageErrors) {
    Outcome v = run({"--version"});
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.out, "quenfold-ebook-meta 0.1.0\n");
    Outcome h = run({"--help"});
    EXPECT_EQ(h.rc, 0);
    for (const char *cmd : {"info", "cover", "scan", "rename"}) {
        EXPECT_NE(h.out.find(cmd), std::string::npos) << cmd;
        EXPECT_EQ(run({cmd, "--help"}).rc, 0) << cmd;
    }
    // The short object's texts are the book's bytes; help says so where it is chosen.
    for (const char *cmd : {"info", "scan"})
        EXPECT_NE(run({cmd, "--help"}).out.find("need not be UTF-8"), std::string::npos) << cmd;
    const std::vector<std::vector<std::string>> usage = {
        {},
        {"frobnicate"},
        {"info"},
        {"cover", "book.mobi"},
        {"scan", "--format", "xml", "."},
        {"scan", "-j", "0", "."},
        {"scan", "--bogus", "."},
        {"rename", "--format", "csv", "."},
        {"scan", "--format", "table", "--fields", "title,,path", "."},
    };
    for (const auto &args : usage) {
        Outcome r = run(args);
        EXPECT_EQ(r.rc, 2) << (args.empty() ? "(none)" : args[0]) << " " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(CliInfo, BasicIsTheLibraryObjectOfOneBookAndAnArrayOfSeveral) {
    TempDir d;
    std::string a = d.put("a.mobi", mobi("Tales of the Harbour", "Tom Bell"));
    std::string b = d.put("b.fb2", fb2("White Nights", "Stories", "3"));
    std::string bad = d.put("bad.mobi", "short");
    std::string odd = d.put("odd.mobi", mobi("Caf\xE9 \x93Noir\x94", ""));  // cp1252 bytes
    std::string e = d.put("e.epub", epub("Lost Things", "Jane Roe", "Found Objects", "2"));

    Outcome one = run({"info", "--basic", a});
    EXPECT_EQ(one.rc, 0);
    EXPECT_EQ(one.out, lib_info(a) + "\n");
    EXPECT_TRUE(one.err.empty());

    Outcome many = run({"info", "--basic", b, bad, a, odd, e});
    EXPECT_EQ(many.rc, 1);
    auto el = elements(many.out);
    ASSERT_EQ(el.size(), 5u);
    // Argument order; "path" first, then the library's members unchanged.
    EXPECT_EQ(el[0], "{\"path\":\"" + b + "\"," + lib_info(b).substr(1));
    EXPECT_EQ(el[1], "{\"path\":\"" + bad + "\",\"error\":\"MOBI too short for PalmDB header\"}");
    EXPECT_EQ(el[2], "{\"path\":\"" + a + "\"," + lib_info(a).substr(1));
    EXPECT_EQ(member(el[3], "title"), "Caf\xE9 \x93Noir\x94");
    EXPECT_EQ(el[4], "{\"path\":\"" + e + "\"," + lib_info(e).substr(1));
    EXPECT_EQ(member(el[4], "series"), "Found Objects");
    EXPECT_NE(many.err.find(bad + ": MOBI too short"), std::string::npos) << many.err;

    // A protected book is described, so it is no failure.
    qtest::MobiDesc locked;
    locked.encryption = 2;
    std::string drm = d.put("locked.azw", qtest::build_mobi(locked));
    Outcome prot = run({"info", "--basic", drm, a});
    EXPECT_EQ(prot.rc, 0);
    EXPECT_EQ(member(elements(prot.out).at(0), "format"), "mobi");
    EXPECT_NE(prot.out.find("\"drm\":true"), std::string::npos);

    Outcome missing = run({"info", d.path + "/none.epub"});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(missing.err.find("cannot open file"), std::string::npos);
}

// A library of books in a tree with hidden names, a non-book and a loop.
struct Library : TempDir {
    Library() {
        put("b.mobi", mobi("Tales of the Harbour", "Tom Bell"));
        put("a.fb2", fb2("White Nights", "Stories", "3"));
        put("c.Epub", epub("Lost Things", "Jane Roe", "Found Objects", "2"));
        put("bad.mobi", "short");
        put("notes.txt", "not a book");
        put(".hidden.mobi", mobi("Hidden", "Nobody"));
        std::filesystem::create_directories(path + "/sub/deeper");
        std::filesystem::create_directories(path + "/.secret");
        put("sub/c.AZW3", mobi("Deep", "Ann Lee"));
        put("sub/deeper/d.mobi", mobi("Deeper", "Ann Lee"));
        put(".secret/e.mobi", mobi("Secret", "Nobody"));
        // Leads back to the top: a walk that follows it blindly never ends.
        std::filesystem::create_directory_symlink("../..", path + "/sub/deeper/up");
    }
};

TEST_F(CliScan, BasicJsonIsTheLibraryArraySortedByPath) {
    Library lib;
    Outcome r = run({"scan", "--basic", lib.path});
    EXPECT_EQ(r.rc, 1);  // bad.mobi
    char *t = ebook_scan_dir(lib.path.c_str());
    ASSERT_NE(t, nullptr);
    auto expected = elements(t);
    ebook_free_string(t);
    std::sort(expected.begin(), expected.end(),
              [](const auto &x, const auto &y) { return member(x, "path") < member(y, "path"); });
    EXPECT_EQ(elements(r.out), expected);
    EXPECT_EQ(expected.size(), 4u);
    EXPECT_NE(r.err.find("bad.mobi: MOBI too short"), std::string::npos);

    Outcome ok = run({"scan", lib.path + "/sub"});
    EXPECT_EQ(ok.rc, 0);
    EXPECT_EQ(ok.err, "");  // no progress bar when stderr is not a terminal

    // A path that names nothing is a book that cannot be read: a row with its error.
    Outcome missing = run({"scan", lib.path + "/nope", lib.path + "/sub"});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("cannot open file: " + lib.path + "/nope"), std::string::npos);
    EXPECT_EQ(elements(missing.out).size(), 2u);
}

TEST_F(CliScan, RecursiveWalkSkipsHiddenNamesAndSurvivesLoops) {
    Library lib;
    const std::vector<std::string> want = {
        lib.path + "/a.fb2",  lib.path + "/b.mobi",     lib.path + "/bad.mobi",
        lib.path + "/c.Epub", lib.path + "/sub/c.AZW3", lib.path + "/sub/deeper/d.mobi"};
    Outcome json = run({"scan", "-r", "-j", "1", lib.path});
    EXPECT_EQ(json.rc, 1);
    auto sorted = elements(json.out);
    std::vector<std::string> paths;
    for (const auto &e : sorted)
        paths.push_back(member(e, "path"));
    EXPECT_EQ(paths, want);

    // jsonl: the same elements, one whole element per line, in any order.
    Outcome jsonl = run({"scan", "-r", "--format", "jsonl", "-j", "3", lib.path});
    EXPECT_EQ(jsonl.rc, 1);
    std::vector<std::string> got;
    for (const auto &l : lines(jsonl.out)) {
        auto one = elements("[" + l + "]");
        ASSERT_EQ(one.size(), 1u) << l;
        got.push_back(one[0]);
    }
    std::sort(got.begin(), got.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(got, sorted);
}

TEST_F(CliScan, TableAlignsByDisplayWidth) {
    TempDir d;
    d.put("1.mobi", mobi("Kafka on the Shore", "\xE6\x9D\x91\xE4\xB8\x8A\xE6\x98\xA5\xE6\xA8\xB9"));
    d.put("2.mobi", mobi("Le Petit Phare", "He\xCC\x81le\xCC\x80ne"));  // combining accents
    d.put("3.fb2", fb2("White Nights", "Stories", "3"));
    d.put("4.mobi", mobi("Bell\x07 \x1B[31mred", "Tom Bell"));
    d.put("5.mobi", "short");
    d.put("6.epub", epub("Le Petit Phare", "H\xC3\xA9l\xC3\xA8ne", "C\xC3\xB4tes", "1"));
    const char *ext[] = {"", ".mobi", ".mobi", ".fb2", ".mobi", ".mobi", ".epub"};
    Outcome r = run({"scan", "--format", "table", d.path});
    EXPECT_EQ(r.rc, 1);
    auto ls = lines(r.out);
    ASSERT_EQ(ls.size(), 7u) << r.out;
    EXPECT_EQ(ls[0].rfind("FORMAT  AUTHOR", 0), 0u) << ls[0];
    std::size_t col = columns(ls[0].substr(0, ls[0].find("PATH")));
    for (std::size_t i = 1; i < ls.size(); ++i) {
        std::string path = d.path + "/" + std::to_string(i) + ext[i];
        ASSERT_GE(ls[i].size(), path.size());
        EXPECT_EQ(ls[i].substr(ls[i].size() - path.size()), path);
        EXPECT_EQ(columns(ls[i].substr(0, ls[i].size() - path.size())), col) << ls[i];
    }
    EXPECT_NE(ls[3].find("Stories #3"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);  // book texts cannot drive the terminal
    EXPECT_NE(ls[4].find("Bell\\x07 \\x1b[31mred"), std::string::npos) << ls[4];
    EXPECT_NE(ls[5].find("MOBI too short"), std::string::npos);
    EXPECT_NE(ls[6].find("C\xC3\xB4tes #1"), std::string::npos);
}

TEST_F(CliScan, BasicCsvFollowsRfc4180) {
    TempDir d;
    std::string a = d.put("a.mobi", mobi("Comma, \"Quoted\"\nTitle", "Tom Bell"));
    std::string b = d.put("b.mobi", "short");
    Outcome r = run({"scan", "--basic", "--format", "csv", d.path});
    EXPECT_EQ(r.rc, 1);
    // Header, CRLF line ends, quoting only where needed, quotes doubled,
    // the line break kept inside the quoted field.
    EXPECT_EQ(r.out,
              "path,drm,format,title,author,language,series,series_index,has_cover,asin,error\r\n" +
                  a + ",false,mobi,\"Comma, \"\"Quoted\"\"\nTitle\",Tom Bell,,,,false,,\r\n" + b +
                  ",,,,,,,,,,MOBI too short for PalmDB header\r\n");
}

TEST_F(CliCover, ToFileAndToStandardOutput) {
    TempDir d, tmp;
    std::string book = d.put("c.mobi", mobi("Covered", "Ann Lee", true));
    std::string bare = d.put("n.mobi", mobi("Bare", "Ann Lee"));
    std::string png = d.put("p.epub", epub("Pictured", "Ann Lee", "", "", qtest::tiny_png()));

    Outcome out = run({"cover", book, "-"}, {"TMPDIR=" + tmp.path});
    EXPECT_EQ(out.rc, 0) << out.err;
    EXPECT_EQ(out.out, qtest::tiny_jpeg());
    EXPECT_TRUE(tmp.names().empty());  // the temporary copy is gone
    Outcome epub_out = run({"cover", png, "-"}, {"TMPDIR=" + tmp.path});
    EXPECT_EQ(epub_out.rc, 0) << epub_out.err;
    EXPECT_EQ(epub_out.out, qtest::tiny_png());

    Outcome file = run({"cover", book, d.path + "/c.jpg"});
    EXPECT_EQ(file.rc, 0);
    EXPECT_EQ(qtest::read_file(d.path + "/c.jpg"), qtest::tiny_jpeg());

    Outcome none = run({"cover", bare, d.path + "/n.jpg"});
    EXPECT_EQ(none.rc, 1);
    EXPECT_NE(none.err.find("no cover image found"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(d.path + "/n.jpg"));
    Outcome none_out = run({"cover", bare, "-"}, {"TMPDIR=" + tmp.path});
    EXPECT_EQ(none_out.rc, 1);
    EXPECT_TRUE(none_out.out.empty());
    EXPECT_TRUE(tmp.names().empty());
}

TEST_F(CliRename, PlanIsTheLibraryPlan) {
    TempDir d;
    std::string a = d.put("a.mobi", mobi("Tales of the Harbour", "Tom Bell"));
    std::string b = d.put("b.fb2", fb2("White Nights", "Stories", "3"));
    std::string c = d.put("c.epub", epub("Lost Things", "Jane Roe", "Found Objects", "2"));
    std::string request = "[\"" + a + "\",\"" + b + "\",\"" + c + "\"]";
    char *plan = ebook_rename_plan(request.c_str(), nullptr);
    ASSERT_NE(plan, nullptr) << ebook_last_error();
    Outcome r = run({"rename", d.path});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, std::string(plan) + "\n");
    ebook_free_string(plan);

    Outcome p = run({"rename", "--pattern", "{title}", "--format", "table", a, b});
    EXPECT_EQ(p.rc, 0);
    // b's path is one byte shorter than a's.
    EXPECT_EQ(p.out,
              a + "  \u2192  Tales of the Harbour.mobi\n" + b + "   \u2192  White Nights.fb2\n");
    EXPECT_EQ(d.names(), (std::set<std::string>{"a.mobi", "b.fb2", "c.epub"}));  // nothing renamed
}

TEST_F(CliRename, ApplyRenamesAsPlannedAndASecondRunChangesNothing) {
    TempDir d;
    // Eleven copies of one book: numbered names past 9 must keep their order.
    for (int i = 0; i < 11; ++i)
        d.put("copy" + std::to_string(i) + ".mobi", mobi("Sea", "Ann Lee"));
    d.put("w.fb2", fb2("White Nights", "Stories", "3"));
    d.put("x.epub", epub("Lost Things", "Jane Roe", "Found Objects", "2"));
    Outcome r = run({"rename", "--apply", d.path});
    EXPECT_EQ(r.rc, 0) << r.err;
    std::set<std::string> want = {"Ann Lee - Sea.mobi", "Jane Doe - Stories #3 - White Nights.fb2",
                                  "Jane Roe - Found Objects #2 - Lost Things.epub"};
    for (int i = 2; i <= 11; ++i)
        want.insert("Ann Lee - Sea (" + std::to_string(i) + ").mobi");
    EXPECT_EQ(d.names(), want);
    auto reported = lines(r.out);
    ASSERT_EQ(reported.size(), 13u);
    for (const auto &l : reported) {
        EXPECT_FALSE(std::filesystem::exists(member(l, "from"))) << l;
        EXPECT_TRUE(std::filesystem::exists(member(l, "to"))) << l;
    }
    EXPECT_NE(r.err.find("13 renamed, 0 unchanged, 0 not renamed"), std::string::npos) << r.err;

    Outcome again = run({"rename", "--apply", "--format", "table", d.path});
    EXPECT_EQ(again.rc, 0) << again.err;
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("0 renamed, 13 unchanged"), std::string::npos) << again.err;
    EXPECT_EQ(d.names(), want);
}

TEST_F(CliRename, ExistingFilesAreNeverReplaced) {
    TempDir d;
    std::string a = d.put("a.mobi", mobi("Tales", "Tom Bell"));
    d.put("Tom Bell - Tales.mobi", "precious");
    Outcome r = run({"rename", "--apply", a});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("target exists"), std::string::npos) << r.err;
    EXPECT_EQ(qtest::read_file(d.path + "/Tom Bell - Tales.mobi"), "precious");
    EXPECT_TRUE(std::filesystem::exists(a));

    // A book taking the old name of another that moves away is not a clash.
    TempDir chain;
    chain.put("a.mobi", mobi("Tales", "Tom Bell"));
    chain.put("Tom Bell - Tales.mobi", mobi("Sea", "Ann Lee"));
    Outcome c = run({"rename", "--apply", chain.path});
    EXPECT_EQ(c.rc, 0) << c.err;
    EXPECT_EQ(chain.names(),
              (std::set<std::string>{"Ann Lee - Sea.mobi", "Tom Bell - Tales.mobi"}));
    EXPECT_EQ(member(lib_info(chain.path + "/Tom Bell - Tales.mobi"), "title"), "Tales");
}

TEST_F(CliRename, BooksWithoutUsableMetadataKeepTheirNames) {
    TempDir d;
    d.put("bad.mobi", "short");                         // cannot be described
    d.put("cp1252.mobi", mobi("Caf\xE9", "Tom Bell"));  // texts the planner cannot read
    d.put("blank.fb2", fb2("", "", ""));                // nothing to name it by
    d.put("bad\xFFname.mobi", mobi("Odd Name", "Tom Bell"));
    d.put("good.mobi", mobi("Good", "Ann Lee"));
    Outcome r = run({"rename", "--apply", d.path});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(d.names(), (std::set<std::string>{"bad.mobi", "cp1252.mobi", "blank.fb2",
                                                "bad\xFFname.mobi", "Ann Lee - Good.mobi"}));
    for (const char *why : {"MOBI too short", "name is not valid UTF-8",
                            "texts hold bytes that do not decode", "has no title"})
        EXPECT_NE(r.err.find(why), std::string::npos) << why << "\n" << r.err;
}

}  // namespace
