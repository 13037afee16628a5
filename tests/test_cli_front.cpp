// End-to-end tests of what a new user meets first: the table fitted to the width, files and
// directories mixed, indented JSON, error texts as valid UTF-8, rename into folders and back.
#include <fstream>

#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliFront = Cli;

std::string fb2_by(const std::string &title, std::vector<qtest::Fb2Author> authors) {
    qtest::Fb2Desc s;
    s.title = title;
    s.authors = std::move(authors);
    return qtest::build_fb2(s);
}

// Values of a JSON text read leniently (--basic texts need not be UTF-8),
// written again compact: equal for equal values, however laid out.
std::string value_of(const std::string &text) {
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), YYJSON_READ_ALLOW_INVALID_UNICODE);
    char *t = doc ? yyjson_write(doc, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr) : nullptr;
    std::string out = t ? t : "<no JSON>";
    std::free(t);
    yyjson_doc_free(doc);
    return out;
}

bool strict_json(const std::string &text) {
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    yyjson_doc_free(doc);
    return doc != nullptr;
}

// A library whose rows are far wider than a terminal: long names, wide
// (CJK) and combining characters, a long list of authors, a deep path.
struct WideLibrary {
    TempDir d;
    std::string deep;
    WideLibrary() {
        deep = d.path + "/" + std::string(60, 'p');
        std::filesystem::create_directory(deep);
        d.put("east.epub", epub("\u6771\u6d77\u9053\u4e2d\u81ed\u4e4b\u90e8\u5c4b\u3068\u6708"
                                "\u306e\u5149\u306b\u3064\u3044\u3066\u306e\u7269\u8a9e",
                                "\u9ed2\u6fa4 \u660e"));
        d.put("cafe.epub", epub("Cafe\u0301 " + std::string(80, 'x'), "Ame\u0301lie Poulain"));
        qtest::write_file(deep + "/" + std::string(70, 'n') + ".fb2",
                          fb2_by("Many Hands", {{"Ann", "", "Lee", ""},
                                                {"Tom", "", "Bell", ""},
                                                {"Kim", "", "Ray", ""},
                                                {"Jane", "", "Roe", ""},
                                                {"Mara", "", "Quinn", ""}}));
    }
};

TEST_F(CliFront, TableFitsTheWidthItIsGivenAndCutsFairly) {
    WideLibrary lib;
    struct Case {
        std::vector<std::string> args, env;
        std::size_t limit;  // 0: whole rows
    } cases[] = {
        {{}, {"COLUMNS=100"}, 100},
        {{"--width", "60"}, {"COLUMNS=100"}, 60},
        {{}, {"COLUMNS="}, 0},  // a pipe without a width gets whole rows
        {{"--no-truncate"}, {"COLUMNS=100"}, 0},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"scan", "-r", "--format", "table"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(lib.d.path);
        SCOPED_TRACE(c.env[0] + " " + (c.args.empty() ? "" : c.args[0]));
        Outcome r = run(args, c.env);
        ASSERT_EQ(r.rc, 0) << r.err;
        std::vector<std::string> rows = lines(r.out);
        ASSERT_EQ(rows.size(), 4u) << r.out;
        std::size_t widest = 0;
        for (const std::string &row : rows)
            widest = std::max(widest, columns(row));
        if (c.limit == 0) {
            EXPECT_GT(widest, 200u) << r.out;
            EXPECT_EQ(r.out.find("\u2026"), std::string::npos) << r.out;
            continue;
        }
        EXPECT_LE(widest, c.limit) << r.out;
        EXPECT_GE(widest, c.limit - 8) << "the width is used: " << r.out;
        EXPECT_EQ(rows[0].rfind("FORMAT  AUTHOR", 0), 0u) << rows[0];
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const std::string &row = rows[i];
            // The short format column stays whole; the path loses its start,
            // not its file name's end.
            EXPECT_TRUE(row.rfind("epub ", 0) == 0 || row.rfind("fb2 ", 0) == 0) << row;
            EXPECT_TRUE(row.size() > 6 && (row.substr(row.size() - 5) == ".epub" ||
                                           row.substr(row.size() - 4) == ".fb2"))
                << row;
            EXPECT_NE(row.find("\u2026"), std::string::npos) << row;
            // A combining accent never loses its letter.
            EXPECT_EQ(row.find("\u2026\u0301"), std::string::npos) << row;
        }
        // The list of five authors keeps its first whole names.
        const std::size_t list = r.out.find("Ann Lee & ");
        ASSERT_NE(list, std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("& \u2026", list) + 2, r.out.find("\u2026", list)) << r.out;
    }
}

TEST_F(CliFront, ScanAndInfoTakeFilesAndFoldersMixed) {
    TempDir d;
    std::filesystem::create_directory(d.path + "/shelf");
    const std::string a = d.put("shelf/a.mobi", mobi("Alpha", "Ann Lee")),
                      b = d.put("shelf/b.epub", epub("Beta", "Tom Bell")),
                      loose = d.put("loose.fb2", fb2("Gamma", "", "")),
                      notes = d.put("notes.txt", "just text"), missing = d.path + "/gone.epub";
    const std::string shelf = d.path + "/shelf";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> paths;  // of the array's elements, in order
        int rc;
    } cases[] = {
        {{"scan", loose}, {loose}, 0},
        {{"scan", shelf, loose}, {loose, a, b}, 0},  // json is sorted by path
        {{"scan", "--format", "jsonl", "-j", "1", loose, shelf}, {loose, a, b}, 0},
        {{"scan", shelf, notes, missing}, {missing, notes, a, b}, 1},
        {{"info", loose, shelf}, {loose, a, b}, 0},
        {{"info", shelf}, {a, b}, 0},  // a directory always gives an array
        {{"info", notes, loose}, {notes, loose}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Outcome r = run(c.args);
        EXPECT_EQ(r.rc, c.rc) << r.err;
        std::vector<std::string> got;
        if (std::find(c.args.begin(), c.args.end(), "jsonl") != c.args.end()) {
            for (const std::string &l : lines(r.out))
                got.push_back(l);
        } else {
            got = elements(r.out);
        }
        ASSERT_EQ(got.size(), c.paths.size()) << r.out;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(member(got[i], "path"), c.paths[i]) << got[i];
            const bool book = c.paths[i] != notes && c.paths[i] != missing;
            EXPECT_EQ(member(got[i], "error").empty(), book) << got[i];
        }
    }
    Outcome one = run({"info", loose});
    EXPECT_EQ(member(one.out, "title"), "Gamma") << "one book: its object, no array";
}

TEST_F(CliFront, PrettyJsonHoldsTheSameValuesAsCompact) {
    TempDir d;
    const std::string book = d.put("b.epub", epub("Lost Things", "Jane Roe", "Found", "2"));
    d.put("c.mobi", mobi("Sea", "Ann Lee"));
    // Under --basic the texts are the book's bytes, here windows-1251.
    qtest::Fb2Desc cp;
    cp.encoding = "windows-1251";
    cp.title = "\xc0\xed\xed\xe0";
    const std::string raw = d.put("r.fb2", qtest::build_fb2(cp));
    const std::vector<std::string> commands[] = {
        {"info", book},   {"info", "--basic", raw},    {"info", book, raw},
        {"scan", d.path}, {"scan", "--basic", d.path}, {"rename", d.path},
    };
    for (const auto &cmd : commands) {
        SCOPED_TRACE(cmd[0] + " " + cmd[1]);
        std::vector<std::string> pretty = cmd, compact = cmd;
        pretty.insert(pretty.begin() + 1, "--pretty");
        compact.insert(compact.begin() + 1, "--compact");
        Outcome p = run(pretty), c = run(compact), plain = run(cmd);
        ASSERT_EQ(p.rc, 0) << p.err;
        EXPECT_EQ(c.out, plain.out) << "a file gets one line by default";
        EXPECT_EQ(lines(c.out).size(), 1u) << c.out;
        EXPECT_GT(lines(p.out).size(), 5u) << p.out;
        EXPECT_NE(p.out.find("\n  "), std::string::npos) << p.out;
        EXPECT_EQ(value_of(p.out), value_of(c.out));
        EXPECT_NE(value_of(c.out), "<no JSON>");
    }
    Outcome both = run({"info", "--pretty", "--compact", book});
    EXPECT_EQ(both.rc, 2);
    Outcome lines_only = run({"scan", "--format", "jsonl", "--pretty", d.path});
    EXPECT_EQ(lines_only.rc, 2) << "jsonl stays one book a line";
}

// The library's messages quote names from the book or the file system,
// which need not be UTF-8: in JSON they arrive as valid UTF-8.
TEST_F(CliFront, ErrorTextsInJsonAreValidUtf8) {
    TempDir d;
    const std::string comic = d.path + "/bomb.cbz";
    qtest::write_zero_zip(comic, "\xff\x1b/ComicInfo.xml", 5u << 20);
    std::filesystem::create_directory(d.path + "/odd\xfe.epub");  // a folder named like a book
    const std::string good = d.put("good.mobi", mobi("Sea", "Ann Lee"));
    const std::vector<std::string> commands[] = {
        {"info", comic, good},
        {"info", d.path + "/gone\xfe.epub", good},
        {"scan", d.path},
        {"scan", "--format", "jsonl", d.path},
    };
    for (const auto &cmd : commands) {
        SCOPED_TRACE(cmd[0] + " " + cmd[1]);
        Outcome r = run(cmd);
        EXPECT_EQ(r.rc, 1) << r.err;
        std::size_t errors = 0;
        const std::vector<std::string> docs =
            std::find(cmd.begin(), cmd.end(), "jsonl") != cmd.end()
                ? lines(r.out)
                : std::vector<std::string>{r.out};
        for (const std::string &doc : docs) {
            EXPECT_TRUE(strict_json(doc)) << doc;
            for (std::size_t at = doc.find("\"error\""); at != std::string::npos;
                 at = doc.find("\"error\"", at + 1))
                ++errors;
        }
        EXPECT_GE(errors, 1u) << r.out;
        EXPECT_NE(r.out.find("\xef\xbf\xbd"), std::string::npos) << "U+FFFD for the bytes";
    }
}

TEST_F(CliFront, RenameIntoFoldersAndUndoRoundTrip) {
    TempDir d;
    const std::string lib = d.path + "/lib", log = d.path + "/moves.jsonl";
    std::filesystem::create_directory(lib);
    const std::set<std::string> before = {"a.epub", "b.epub", "c.mobi", "d.mobi", "e.epub"};
    qtest::write_file(lib + "/a.epub", epub("Et dukkehjem", "Henrik Ibsen"));
    qtest::write_file(lib + "/b.epub", epub("Gengangere", "Henrik Ibsen", "Skuespil", "2"));
    qtest::write_file(lib + "/c.mobi", mobi("Poems", "Ann Lee"));
    qtest::write_file(lib + "/d.mobi", mobi("Poems", "Tom Bell"));
    qtest::write_file(lib + "/e.epub", epub("Hidden", "..hack"));
    auto names_in = [](const std::string &dir) {
        std::set<std::string> s;
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
            s.insert(std::filesystem::relative(e.path(), dir).string());
        return s;
    };
    const std::vector<std::string> folders = {"rename", "--folders", "--pattern",
                                              "{author}/{title}"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = folders;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };

    Outcome applied = run(with({"--apply", "--log", log, lib}));
    ASSERT_EQ(applied.rc, 0) << applied.err;
    const std::set<std::string> after = {"Henrik Ibsen",
                                         "Henrik Ibsen/Et dukkehjem.epub",
                                         "Henrik Ibsen/Gengangere.epub",
                                         "Ann Lee",
                                         "Ann Lee/Poems.mobi",
                                         "Tom Bell",
                                         "Tom Bell/Poems.mobi",
                                         "__hack",
                                         "__hack/Hidden.epub"};
    EXPECT_EQ(names_in(lib), after);
    // The log and the record on stdout: the plan's own keys, one move a line.
    const std::vector<std::string> logged = lines(qtest::read_file(log));
    EXPECT_EQ(logged, lines(applied.out));
    ASSERT_EQ(logged.size(), 5u);
    for (const std::string &l : logged) {
        EXPECT_EQ(member(l, "from").rfind(lib + "/", 0), 0u) << l;
        EXPECT_TRUE(std::filesystem::exists(member(l, "to"))) << l;
    }

    // Run again over the tree: every book already has its name.
    Outcome again = run(with({"-r", "--format", "table", lib}));
    EXPECT_EQ(again.rc, 0) << again.err;
    for (const std::string &row : lines(again.out))
        EXPECT_NE(row.find("(unchanged)"), std::string::npos) << row;

    Outcome undone = run({"rename", "--undo", log});
    EXPECT_EQ(undone.rc, 0) << undone.err;
    EXPECT_EQ(names_in(lib), before) << "books back, the folders made removed";

    // A part that names nothing for a book (no series) makes no folder.
    Outcome series = run({"rename", "--folders", "--pattern", "{author}/{series}/{title}", lib});
    std::vector<std::string> to;
    for (const std::string &e : elements(series.out))
        to.push_back(member(e, "to").substr(lib.size()));
    EXPECT_EQ(to[0], "/Henrik Ibsen/Et dukkehjem.epub");
    EXPECT_EQ(to[1], "/Henrik Ibsen/Skuespil/Gengangere.epub");

    // Undo never writes over a file that took a book's old name, and keeps
    // the folder that still holds the book.
    ASSERT_EQ(run(with({"--apply", "--log", log + "2", lib})).rc, 0);
    qtest::write_file(lib + "/a.epub", "someone else's");
    Outcome blocked = run({"rename", "--undo", log + "2"});
    EXPECT_EQ(blocked.rc, 1);
    EXPECT_NE(blocked.err.find("target exists"), std::string::npos) << blocked.err;
    EXPECT_EQ(qtest::read_file(lib + "/a.epub"), "someone else's");
    EXPECT_TRUE(std::filesystem::exists(lib + "/Henrik Ibsen/Et dukkehjem.epub"));
    EXPECT_TRUE(std::filesystem::exists(lib + "/b.epub"));
    EXPECT_FALSE(std::filesystem::exists(lib + "/Tom Bell"));
}

TEST_F(CliFront, RenameFoldersNeverLeaveTheLibrary) {
    TempDir d, outside;
    const std::string lib = d.path + "/lib";
    std::filesystem::create_directory(lib);
    qtest::write_file(lib + "/a.epub", epub("Et dukkehjem", "Henrik Ibsen"));
    qtest::write_file(lib + "/b.epub", epub("Ghosts", "Jane Roe"));
    std::filesystem::create_directory_symlink(outside.path, lib + "/Henrik Ibsen");
    qtest::write_file(lib + "/Jane Roe", "a file where a folder would go");
    Outcome r = run({"rename", "--folders", "--pattern", "{author}/{title}", "--apply", lib});
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(outside.names().empty());
    EXPECT_TRUE(std::filesystem::exists(lib + "/a.epub"));
    EXPECT_TRUE(std::filesystem::exists(lib + "/b.epub"));
    EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;

    struct Refused {
        std::vector<std::string> args;
        int rc;
    } refused[] = {
        {{"rename", "--folders", "--pattern", "{author}/", lib}, 2},
        {{"rename", "--undo", d.path + "/no-log"}, 2},
        {{"rename", "--undo", lib + "/b.epub"}, 2},      // not a log: nothing moves
        {{"rename", "--log", d.path + "/log", lib}, 2},  // a log needs --apply
        {{"rename"}, 2},
    };
    for (const Refused &c : refused) {
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(run(c.args).rc, c.rc);
    }
    EXPECT_TRUE(std::filesystem::exists(lib + "/b.epub"));
}

}  // namespace
