// End-to-end tests that the tool loses no book and misplaces none: cover, rename and failing
// resources.
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;
namespace fs = std::filesystem;

using CliCoverSafety = Cli;
using CliRenameSafety = Cli;
using CliLastResort = Cli;

TEST_F(CliCoverSafety, TheBookItselfIsNeverTheOutput) {
    TempDir d;
    const std::string bytes = mobi("Covered", "Ann Lee", true);
    std::string book = d.put("c.mobi", bytes);
    fs::create_symlink(book, d.path + "/link.jpg");
    fs::create_hard_link(book, d.path + "/hard.jpg");
    for (const std::string &out :
         {book, d.path + "/link.jpg", d.path + "/hard.jpg",
          d.path + "/../" + fs::path(d.path).filename().string() + "/c.mobi"}) {
        Outcome r = run({"cover", book, out});
        EXPECT_EQ(r.rc, 1) << out;
        EXPECT_NE(r.err.find("the output is the book itself"), std::string::npos) << r.err;
        EXPECT_EQ(qtest::read_file(book), bytes) << out;
    }
    // Standard output opened on the book, as "cover BOOK - 1<>BOOK" would.
    Outcome onto = run(Spawn{{"cover", book, "-"}, {}, book, ""});
    EXPECT_EQ(onto.rc, 1);
    EXPECT_NE(onto.err.find("standard output is the book itself"), std::string::npos) << onto.err;
    EXPECT_EQ(qtest::read_file(book), bytes);
    EXPECT_EQ(d.names(), (std::set<std::string>{"c.mobi", "link.jpg", "hard.jpg"}));
    EXPECT_TRUE(fs::is_symlink(d.path + "/link.jpg"));
}

TEST_F(CliCoverSafety, OutputIsReplacedWholeOrNotAtAll) {
    TempDir d;
    std::string book = d.put("c.mobi", mobi("Covered", "Ann Lee", true));
    std::string bare = d.put("n.mobi", mobi("Bare", "Ann Lee"));
    std::string old = d.put("old.jpg", "the previous cover");

    // No cover: the existing file keeps every byte, and nothing is left behind.
    Outcome none = run({"cover", bare, old});
    EXPECT_EQ(none.rc, 1);
    EXPECT_NE(none.err.find("no cover image found"), std::string::npos) << none.err;
    EXPECT_EQ(qtest::read_file(old), "the previous cover");
    EXPECT_EQ(d.names(), (std::set<std::string>{"c.mobi", "n.mobi", "old.jpg"}));

    // A cover: the file is replaced, keeping its permissions.
    fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Outcome ok = run({"cover", book, old});
    EXPECT_EQ(ok.rc, 0) << ok.err;
    EXPECT_EQ(qtest::read_file(old), qtest::tiny_jpeg());
    EXPECT_EQ(fs::status(old).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(d.names(), (std::set<std::string>{"c.mobi", "n.mobi", "old.jpg"}));

    // Through a link the cover lands in the file it names; the link stays.
    std::string target = d.put("target.jpg", "x");
    fs::create_symlink(target, d.path + "/via.jpg");
    EXPECT_EQ(run({"cover", book, d.path + "/via.jpg"}).rc, 0);
    EXPECT_TRUE(fs::is_symlink(d.path + "/via.jpg"));
    EXPECT_EQ(qtest::read_file(target), qtest::tiny_jpeg());

    // A directory that does not exist: a message, nothing written.
    Outcome nodir = run({"cover", book, d.path + "/none/c.jpg"});
    EXPECT_EQ(nodir.rc, 1);
    EXPECT_NE(nodir.err.find("cannot create a temporary file"), std::string::npos) << nodir.err;
}

TEST_F(CliRenameSafety, UnknownPlaceholdersAreRefusedBeforeAnythingIsRead) {
    TempDir d;
    d.put("a.mobi", mobi("Tales", "Tom Bell"));
    d.put("bad.mobi", "short");
    struct Case {
        std::string pattern, named;
    };
    const std::vector<Case> refused = {{"{Title}", "{Title}"},
                                       {"{author} {year}", "{year}"},
                                       {"{}", "{}"},
                                       {"{title} {a{idx}", "{a{idx}"}};
    for (const Case &c : refused) {
        Outcome r = run({"rename", "--apply", "--pattern", c.pattern, d.path});
        EXPECT_EQ(r.rc, 2) << c.pattern;
        EXPECT_EQ(r.out, "");
        // Named, the known ones listed, and no book read (bad.mobi unreported).
        EXPECT_EQ(r.err, "quenfold-ebook-meta: unknown placeholder " + c.named +
                             " in the pattern; the known ones are {author} {title} {series} "
                             "{idx} {series_index}\n");
    }
    EXPECT_EQ(d.names(), (std::set<std::string>{"a.mobi", "bad.mobi"}));

    // Every known one, and a brace that opens nothing, are accepted.
    for (const char *pattern : {"{author} {title} {series} {idx} {series_index}", "{title"}) {
        Outcome r = run({"rename", "--pattern", pattern, d.path + "/a.mobi"});
        EXPECT_EQ(r.rc, 0) << pattern << r.err;
    }
}

TEST_F(CliRenameSafety, HiddenNamesAreMadeVisible) {
    TempDir d;
    d.put("a.mobi", mobi(".hack", "Tom Bell"));
    d.put("b.mobi", mobi("...And Then", "Tom Bell"));
    d.put("c.mobi", mobi(".hack", "Ann Lee"));  // the same title: numbered
    Outcome plan = run({"rename", "--pattern", "{title}", d.path});
    EXPECT_EQ(plan.rc, 0) << plan.err;
    EXPECT_EQ(member(elements(plan.out).at(0), "to_name"), "_hack.mobi");
    EXPECT_NE(plan.err.find("would be hidden; planned as \"_hack.mobi\""), std::string::npos)
        << plan.err;

    Outcome r = run({"rename", "--apply", "--pattern", "{title}", d.path});
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::set<std::string> want = {"_hack.mobi", "___And Then.mobi", "_hack (2).mobi"};
    EXPECT_EQ(d.names(), want);
    // Seen by a scan again, and a second run changes nothing.
    EXPECT_EQ(elements(run({"scan", d.path}).out).size(), 3u);
    Outcome again = run({"rename", "--apply", "--pattern", "{title}", d.path});
    EXPECT_NE(again.err.find("0 renamed, 3 unchanged"), std::string::npos) << again.err;
    EXPECT_EQ(d.names(), want);
}

// Names a user cannot see, that lie about themselves or that look like
// another book's are never written; what cannot be named keeps its name.
TEST_F(CliRenameSafety, NamesShowWhatTheyAre) {
    TempDir d;
    d.put("c1.mobi", mobi("Evil\u009b31mRed", "Ann Lee"));
    d.put("rlo.mobi", mobi("Harmless\u202etxt.exe", "Ann Lee"));
    d.put("nfc.mobi", mobi("Caf\u00e9", "Ann Lee"));
    d.put("nfd.mobi", mobi("Cafe\u0301", "Ann Lee"));
    d.put("zw.mobi", mobi("\u200b\u200c\u200d\u2060\ufeff", "Ann Lee"));
    d.put("filler.mobi", mobi("\u3164\u3000", "Ann Lee"));
    std::string contacts = mobi("AddressDB", "");
    contacts.replace(60, 8, "DATAaddr");
    const std::string address_book = d.put("Contacts.pdb", contacts);

    Outcome r = run({"rename", "--apply", d.path, address_book});
    EXPECT_EQ(r.rc, 1) << r.err;  // the address book is no book
    EXPECT_EQ(d.names(),
              (std::set<std::string>{"Ann Lee - Evil_31mRed.mobi", "Ann Lee - Harmlesstxt.exe.mobi",
                                     "Ann Lee - Caf\u00e9.mobi", "Ann Lee - Cafe\u0301 (2).mobi",
                                     "zw.mobi", "filler.mobi", "Contacts.pdb"}));
    EXPECT_NE(r.err.find("zw.mobi: the book has no title; it keeps its name"), std::string::npos);
    EXPECT_NE(r.err.find("Contacts.pdb: unsupported ebook format: " + address_book),
              std::string::npos)
        << r.err;
}

TEST_F(CliRenameSafety, SymbolicLinksLeadNowhere) {
    TempDir tree, outside;
    outside.put("o.mobi", mobi("Outside", "Ann Lee"));
    tree.put("in.mobi", mobi("Inside", "Ann Lee"));
    fs::create_directory(tree.path + "/sub");
    tree.put("sub/deep.mobi", mobi("Deep", "Ann Lee"));
    fs::create_directory_symlink(outside.path, tree.path + "/sub/elsewhere");
    fs::create_symlink(outside.path + "/o.mobi", tree.path + "/link.mobi");

    Outcome r = run({"rename", "--apply", "-r", tree.path});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(outside.names(), std::set<std::string>{"o.mobi"});
    EXPECT_EQ(tree.names(), (std::set<std::string>{"Ann Lee - Inside.mobi", "sub", "link.mobi"}));
    EXPECT_TRUE(fs::exists(tree.path + "/sub/Ann Lee - Deep.mobi"));
    EXPECT_NE(r.err.find(tree.path + "/sub/elsewhere: symbolic link to a directory; not followed"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(tree.path + "/link.mobi: symbolic link; left alone"), std::string::npos);

    // Named on the command line, a link to a book is left alone too.
    Outcome named = run({"rename", "--apply", tree.path + "/link.mobi"});
    EXPECT_NE(named.err.find("link.mobi: symbolic link; left alone"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(tree.path + "/link.mobi"));
    EXPECT_EQ(outside.names(), std::set<std::string>{"o.mobi"});
}

TEST_F(CliRenameSafety, StopsWhenItsRecordCannotBeWritten) {
    TempDir d;
    for (const char *t : {"One", "Two", "Three"})
        d.put(std::string(t) + ".mobi", mobi(std::string("Book ") + t, "Ann Lee"));
    for (const char *format : {"json", "table"}) {
        Outcome r =
            run(Spawn{{"rename", "--apply", "--format", format, d.path}, {}, "/dev/full", ""});
        EXPECT_EQ(r.rc, 1) << format;
        EXPECT_NE(r.err.find("cannot write to standard output (No space left on device); stopped "
                             "after renaming"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("1 renamed"), std::string::npos) << r.err;
    }
    // One book per run: the two runs renamed two books, the third is untouched.
    std::size_t renamed = 0;
    for (const auto &n : d.names())
        renamed += n.rfind("Ann Lee - ", 0) == 0;
    EXPECT_EQ(renamed, 2u);
}

#if defined(__SANITIZE_ADDRESS__)
#define QEM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEM_UNDER_ASAN 1
#endif
#endif

TEST_F(CliLastResort, OutOfMemoryEndsWithAMessageNeverAnAbort) {
#ifdef QEM_UNDER_ASAN
    GTEST_SKIP() << "an address-space limit and the sanitizer's shadow memory exclude each other";
#endif
    // Forty books with a title of a mebibyte: the library needs little per
    // book, the tool holds every description until it prints the listing.
    // The short object keeps such a title whole (the full record bounds it).
    TempDir d;
    for (int i = 0; i < 40; ++i)
        d.put("b" + std::to_string(i) + ".fb2", fb2(std::string(1 << 20, 'x'), "", ""));
    bool saw_out_of_memory = false;
    for (int mib = 40; mib <= 440; mib += 80) {
        Outcome r = run(Spawn{{"scan", "--basic", "-j", "2", d.path},
                              {},
                              "/dev/null",
                              "ulimit -v " + std::to_string(mib * 1024)});
        // Below what its shared libraries take the tool does not even start.
        if (r.rc == 127 && r.err.find("error while loading shared libraries") != std::string::npos)
            continue;
        EXPECT_LE(r.rc, 2) << mib << " MiB: " << r.err;  // a signal would be 128 + n
        if (r.rc == 2) {
            EXPECT_NE(r.err.find("out of memory"), std::string::npos) << mib << " MiB: " << r.err;
            saw_out_of_memory = true;
        }
    }
    EXPECT_TRUE(saw_out_of_memory);
}

}  // namespace
