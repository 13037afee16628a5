// End-to-end tests of `set`: field options, what it prints, --from a scan's JSON lines, exit codes.
#include "pdf_builder.h"
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliSet = Cli;

std::string title_of(const std::string &path) {
    char *t = ebook_metadata(path.c_str());
    const std::string s = t ? member(t, "title") : "<unreadable>";
    ebook_free_string(t);
    return s;
}

std::string record(const std::string &path) {
    char *t = ebook_metadata(path.c_str());
    const std::string s = t ? t : "";
    ebook_free_string(t);
    return s;
}

TEST_F(CliSet, OptionsOutputAndExitCodes) {
    TempDir dir("cli-set");
    const std::string a = dir.put("a.epub", epub("Alpha", "Ann", "Saga", "1"));
    const std::string b = dir.put("b.fb2", fb2("Beta", "", ""));
    const std::string bad = dir.put("c.epub", "not a book");
    const struct {
        std::vector<std::string> args;
        int rc;
        std::vector<std::string> out;  // lines of standard output, in order
        const char *err;               // in standard error
    } rows[] = {
        {{"set", a, b, "--title", "New", "--author", "Zed Roe", "-j", "2"},
         0,
         {"  title: \"Alpha\" -> \"New\"", "  authors: Ann -> Zed Roe"},
         ""},
        {{"set", a, "--series-index", "7", "--identifier", "doi:10.1/x", "--dry-run"},
         0,
         {a + " (dry run, not written)", "  series: Saga #1 -> Saga #7",
          "  identifiers: uuid:urn:uuid:00000000-0000-4000-8000-000000000000 -> "
          "uuid:urn:uuid:00000000-0000-4000-8000-000000000000, doi:10.1/x"},
         ""},
        {{"set", a, "--title", "New"}, 0, {a + ": unchanged"}, ""},
        {{"set", a, bad, "--publisher", "P"}, 1, {a}, "c.epub: "},
        {{"set", b, "--series-index", "2"}, 1, {}, "--series-index needs a series"},
        {{"set", a, "--clear", "colour"}, 2, {}, "--clear: unknown field \"colour\""},
        {{"set", a, "--clear", "title", "--title", "T"}, 2, {}, "--clear title and a value"},
        {{"set", a}, 2, {}, "nothing to set"},
        {{"set", a, "--cover", "/nonexistent.png"}, 1, {}, "cover: cannot open: /nonexistent.png"},
    };
    for (const auto &r : rows) {
        const Outcome o = run(r.args);
        EXPECT_EQ(o.rc, r.rc) << r.args[1] << " " << r.args.back() << "\n" << o.err;
        std::size_t from = 0;
        for (const std::string &want : r.out) {
            const std::vector<std::string> got = lines(o.out);
            const auto at = std::find(got.begin() + static_cast<long>(std::min(from, got.size())),
                                      got.end(), want);
            EXPECT_NE(at, got.end()) << want << "\n" << o.out;
            from = static_cast<std::size_t>(at - got.begin());
        }
        EXPECT_NE(o.err.find(r.err), std::string::npos) << o.err;
    }
    EXPECT_EQ(title_of(a), "New");
    EXPECT_EQ(title_of(b), "New");
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a.epub", "b.fb2", "c.epub"}));
}

// A scan's JSON lines, edited, write back; a line left alone changes
// nothing; the JSON report gives old and new values.
TEST_F(CliSet, FromScanJsonLines) {
    TempDir dir("cli-set-from");
    const std::string a = dir.put("a.epub", epub("Alpha", "Ann"));
    const std::string b = dir.put("b.epub", epub("Beta", "Bo"));
    const Outcome scan = run({"scan", "--format", "jsonl", "-j", "1", dir.path});
    ASSERT_EQ(scan.rc, 0) << scan.err;
    std::string edited = scan.out;
    edited.replace(edited.find("\"title\":\"Alpha\""), 15, "\"title\":\"Alpha 2\"");
    const std::string from = dir.put("changes.jsonl", edited + "{\"nopath\":1}\n");
    const std::string b_before = qtest::read_file(b);
    const Outcome o = run({"set", "--from", from, "--format", "json"});
    EXPECT_EQ(o.rc, 1) << o.err;  // the line without a path
    EXPECT_NE(o.err.find("changes.jsonl:3: not a JSON object with a \"path\""), std::string::npos)
        << o.err;
    const std::vector<std::string> els = elements(o.out);
    ASSERT_EQ(els.size(), 3u) << o.out;
    EXPECT_NE(els[0].find("\"changes\":{\"title\":{\"old\":\"Alpha\",\"new\":\"Alpha 2\"}}"),
              std::string::npos)
        << els[0];
    EXPECT_NE(els[1].find("\"written\":false,\"changes\":{}"), std::string::npos) << els[1];
    EXPECT_EQ(title_of(a), "Alpha 2");
    EXPECT_EQ(qtest::read_file(b), b_before);
    EXPECT_NE(record(a).find("\"authors\":[{\"name\":\"Ann\""), std::string::npos);
    // Field options do not mix with --from.
    EXPECT_EQ(run({"set", "--from", from, "--title", "X"}).rc, 2);
}

// --undo-last takes the tool's last update off a PDF, giving back the
// bytes before it exactly; a PDF ending with no update of ours, another
// format, or fields beside it are refused and nothing changes.
TEST_F(CliSet, UndoLastGivesBackThePdfsBytes) {
    TempDir dir("cli-set-undo");
    qtest::PdfDesc d;
    d.info = {{"Title", "(Old)"}};
    const std::string v0 = qtest::build_pdf(d);
    const std::string pdf = dir.put("a.pdf", v0);
    const std::string a = dir.put("a.epub", epub("Alpha", "Ann"));
    ASSERT_EQ(run({"set", pdf, "--title", "New"}).rc, 0);
    const std::string v1 = qtest::read_file(pdf);
    ASSERT_EQ(title_of(pdf), "New");
    ASSERT_EQ(v1.compare(0, v0.size(), v0), 0);
    ASSERT_EQ(run({"set", pdf, "--author", "Zed"}).rc, 0);

    Outcome o = run({"set", "--undo-last", pdf});
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(qtest::read_file(pdf), v1);
    o = run({"set", "--undo-last", pdf});
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(qtest::read_file(pdf), v0);
    o = run({"set", "--undo-last", pdf});
    EXPECT_EQ(o.rc, 1);
    EXPECT_NE(o.err.find("PDF ends with no update written by quenfold-ebook-meta"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(qtest::read_file(pdf), v0);
    o = run({"set", "--undo-last", a});
    EXPECT_EQ(o.rc, 1);
    EXPECT_NE(o.err.find("only a PDF keeps the bytes before a write"), std::string::npos) << o.err;
    EXPECT_EQ(run({"set", "--undo-last", pdf, "--title", "X"}).rc, 2);
    EXPECT_EQ(title_of(a), "Alpha");
    EXPECT_EQ(dir.names(), (std::set<std::string>{"a.epub", "a.pdf"}));
}

}  // namespace
