// End-to-end tests of the tool on comic archives: scan finds the four extensions, rename names
// comics by series, number and title, cover writes the cover page, and member names reach the
// terminal only through the output guard.
#include "comic_builder.h"
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliComic = Cli;

qtest::ComicDesc issue(const std::string &title, const std::string &number) {
    qtest::ComicDesc d;
    d.members = {{"ComicInfo.xml",
                  qtest::comic_info({{"Title", title},
                                     {"Series", "Harbour Watch"},
                                     {"Number", number},
                                     {"Writer", "Ann Lee"}},
                                    "<Pages><Page Image=\"1\" Type=\"FrontCover\"/></Pages>")},
                 {"p1.jpg", qtest::tiny_jpeg()},
                 {"p2.png", qtest::tiny_png()}};
    return d;
}

TEST_F(CliComic, ScanRenameAndCover) {
    TempDir d;
    d.put("one.cbz", qtest::build_comic(qtest::ComicKind::Zip, issue("Night", "1")));
    d.put("two.CBR", qtest::build_comic(qtest::ComicKind::Rar5, issue("Day", "2")));
    d.put("three.cbt", qtest::build_comic(qtest::ComicKind::Tar, issue("Dusk", "3")));
    d.put("four.cbr", qtest::build_comic(qtest::ComicKind::Zip, issue("Dawn", "4")));
    d.put("plain.zip", qtest::build_comic(qtest::ComicKind::Zip, issue("Not me", "5")));

    Outcome scan = run(
        {"scan", "--format", "csv", "--fields", "path,format,series,series_index,pages", d.path});
    EXPECT_EQ(scan.rc, 0) << scan.err;
    for (const char *row : {"/four.cbr,cbz,Harbour Watch,4,2", "/one.cbz,cbz,Harbour Watch,1,2",
                            "/three.cbt,cbt,Harbour Watch,3,2", "/two.CBR,cbr,Harbour Watch,2,2"})
        EXPECT_NE(scan.out.find(row), std::string::npos) << row << "\n" << scan.out;
    EXPECT_EQ(scan.out.find("plain.zip"), std::string::npos) << scan.out;
    // The short object lists no comic.
    Outcome basic = run({"scan", "--basic", "--format", "csv", d.path});
    EXPECT_EQ(basic.out.find(".cb"), std::string::npos) << basic.out;

    Outcome ren = run({"rename", "--apply", "--pattern", "{series} #{idx} - {title}", d.path});
    EXPECT_EQ(ren.rc, 0) << ren.err;
    EXPECT_EQ(d.names(),
              (std::set<std::string>{"Harbour Watch #1 - Night.cbz", "Harbour Watch #2 - Day.CBR",
                                     "Harbour Watch #3 - Dusk.cbt", "Harbour Watch #4 - Dawn.cbr",
                                     "plain.zip"}));

    const std::string out = d.path + "/cover.png";
    Outcome cover = run({"cover", d.path + "/Harbour Watch #2 - Day.CBR", out});
    EXPECT_EQ(cover.rc, 0) << cover.err;
    EXPECT_EQ(qtest::read_file(out), qtest::tiny_png());
}

// A member name with terminal controls, in a warning the table shows.
TEST_F(CliComic, MemberNamesPassTheOutputGuard) {
    TempDir d;
    qtest::ComicDesc c;
    c.members = {{"\x1b]0;pwned\x07/ComicInfo.xml", qtest::comic_info({{"Title", "T"}}), true},
                 {"p.jpg", qtest::tiny_jpeg()}};
    const std::string book = d.put("evil.cbz", qtest::build_comic(qtest::ComicKind::Zip, c));
    Outcome r = run({"info", book});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("ComicInfo.xml is encrypted"), std::string::npos) << r.out;
}

}  // namespace
