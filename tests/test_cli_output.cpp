// End-to-end tests of what hostile names and texts become in the tool's output: terminal, CSV,
// JSON.
#include <pty.h>
#include <termios.h>

#include "test_cli_harness.h"

namespace {

using namespace qcli_test;

using CliOutputGuard = Cli;

// The first byte (or UTF-8 C1 control, bidi control, U+2028/2029) a terminal
// would act on, or npos. Line breaks end lines and are the tool's own.
std::size_t terminal_control(const std::string &s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) return i;
        if (c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80)
            return i;
        for (const char *bidi :
             {"\u202a", "\u202b", "\u202c", "\u202d", "\u202e", "\u2066", "\u2067", "\u2068",
              "\u2069", "\u200e", "\u200f", "\u061c", "\u2028", "\u2029"})
            if (s.compare(i, std::strlen(bidi), bidi) == 0) return i;
    }
    return std::string::npos;
}

// Standard output of the tool written to a pseudo-terminal (raw, so the
// bytes are the tool's own) or to a pipe; stderr is dropped.
std::string output_to(bool terminal, std::vector<std::string> args) {
    args.insert(args.begin(), kBinary);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int fd = -1, p[2] = {-1, -1};
    termios raw{};
    cfmakeraw(&raw);
    pid_t pid = terminal ? forkpty(&fd, nullptr, &raw, nullptr) : pipe(p) == 0 ? fork() : -1;
    if (pid == 0) {
        if (!terminal) dup2(p[1], 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        execve(kBinary, argv.data(), environ);
        _exit(127);
    }
    if (!terminal) close(p[1]), fd = p[0];
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
        out.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    close(fd);  // a terminal ends with EIO once the tool is gone
    waitpid(pid, nullptr, 0);
    return out;
}

// Each line's JSON value as yyjson writes it again: equal for equal values.
std::string values(const std::string &text) {
    std::string out;
    for (const std::string &l : lines(text)) {
        yyjson_doc *doc = yyjson_read(l.data(), l.size(), 0);
        char *t = doc ? yyjson_write(doc, 0, nullptr) : nullptr;
        out += (t ? t : "<no JSON>") + std::string("\n");
        std::free(t);
        yyjson_doc_free(doc);
    }
    return out;
}

// The tool's JSON on a terminal carries nothing that drives it or reorders
// the line: the same values, with escapes. A pipe gets the bytes as before.
TEST_F(CliOutputGuard, JsonOnATerminalEscapesWhatAPipeGetsRaw) {
    TempDir d;
    const char *titles[] = {"Evil\u009b31mRed", "Bell\x7fRing", "Harmless\u202etxt.exe",
                            "L\u2066R\u2069M\u200e\u200f\u061c", "Line\u2028Para\u2029Sep"};
    for (int i = 0; i < 5; ++i)
        d.put("b" + std::to_string(i) + ".mobi", mobi(titles[i], "Ann Lee"));
    const std::string odd = d.put("x\u202eEVIL.mobi", mobi("Odd", "Ann Lee")),
                      book = d.path + "/b2.mobi";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"info", "--compact", book},
          {"info", "--compact", "--basic", book, odd},
          {"scan", "--compact", d.path},
          {"scan", "--format", "jsonl", "-j", "1", d.path},
          {"rename", "--compact", d.path},
          {"rename", "--apply", odd}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const std::string tty = output_to(true, args);
        EXPECT_EQ(terminal_control(tty), std::string::npos) << tty;
        EXPECT_NE(tty.find("\\u202e"), std::string::npos) << tty;
        if (args[1] != "--apply") {  // what was renamed cannot be renamed again
            const std::string piped = output_to(false, args);
            EXPECT_EQ(values(tty), values(piped));
            EXPECT_NE(piped.find("\u202e"), std::string::npos) << piped;
        }
    }
    EXPECT_EQ(output_to(false, {"info", "--basic", book}), lib_info(book) + "\n");
    // A person at a terminal gets the record indented; a pipe one line.
    const std::string pretty = output_to(true, {"info", book});
    EXPECT_GT(lines(pretty).size(), 20u) << pretty;
}

bool strict_json(const std::string &text) {
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    yyjson_doc_free(doc);
    return doc != nullptr;
}

TEST_F(CliOutputGuard, NothingRawReachesATerminal) {
    TempDir d;
    // A title that clears the screen, one with a C1 CSI and DEL, a file name
    // that retitles the window, and a broken book whose name rings the bell.
    d.put("a.mobi", mobi("\x1b[2JGone", "Tom Bell"));
    d.put("b.mobi", mobi("C1 \xC2\x9B"
                         "31m \x7F",
                         "Ann Lee"));
    d.put("\x1b]0;owned\x07.mobi", mobi("Window", "Ann Lee"));
    d.put("c.mobi", mobi("Harmless\u202etxt.exe", "Ann Lee"));
    d.put("bell\x07.mobi", "short");
    // Shown as escapes, not dropped: the user can still tell the names apart.
    Outcome table = run({"scan", "--format", "table", d.path});
    EXPECT_NE(table.out.find("\\x1b[2JGone"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("C1 \\u009b31m \\x7f"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("/\\x1b]0;owned\\x07.mobi"), std::string::npos) << table.out;
    // A bidi control is escaped too, and its escape is counted in the width:
    // every row's path starts in the same column.
    EXPECT_NE(table.out.find("Harmless\\u202etxt.exe"), std::string::npos) << table.out;
    std::set<std::size_t> path_columns;
    for (const std::string &l : lines(table.out))
        if (std::size_t at = l.find(d.path); at != std::string::npos)
            path_columns.insert(columns(l.substr(0, at)));
    EXPECT_EQ(path_columns.size(), 1u) << table.out;

    const std::vector<std::vector<std::string>> commands = {
        {"scan", "--format", "table", d.path},
        {"info", d.path + "/a.mobi", d.path + "/bell\x07.mobi"},
        {"rename", "--format", "table", d.path},
        {"rename", "--apply", "--format", "table", d.path},
    };
    for (const auto &args : commands) {
        Outcome r = run(args);
        EXPECT_EQ(terminal_control(r.err), std::string::npos) << args[0] << ": " << r.err;
        if (args[0] != "info") {  // JSON escapes control characters itself
            EXPECT_EQ(terminal_control(r.out), std::string::npos) << args[0] << ": " << r.out;
        }
        EXPECT_NE(r.err.find("bell\\x07.mobi: MOBI too short"), std::string::npos) << r.err;
    }
    // The option parser's own messages quote the command line.
    for (const char *bad : {"--x\x1b[2J\u202e", "--jobs=0\x1b]0;t\x07"}) {
        Outcome r = run({"info", bad, "b"});
        EXPECT_EQ(r.rc, 2);
        EXPECT_NE(r.err.find("\\x1b"), std::string::npos) << r.err;
        EXPECT_EQ(terminal_control(r.err), std::string::npos) << r.err;
    }
}

TEST_F(CliOutputGuard, CsvCarriesNoFormulaAndNoControls) {
    TempDir d;
    struct Case {
        std::string title, field, raw_field;
    };
    const std::vector<Case> cases = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\"",
         "\"=HYPERLINK(\"\"http://x\"\")\""},
        {"+1+2", "'+1+2", "+1+2"},
        {"-2", "'-2", "-2"},
        {"@SUM(A1)", "'@SUM(A1)", "@SUM(A1)"},
        {"Tab\tEsc\x1b[1mC1\xC2\x85"
         "end",
         "Tab Esc [1mC1 end",
         "Tab\tEsc\x1b[1mC1\xC2\x85"
         "end"},
        {"Two\r\nlines", "\"Two\r\nlines\"", "\"Two\r\nlines\""},
        {"Plain - text", "Plain - text", "Plain - text"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        d.put(std::to_string(i) + ".mobi", mobi(cases[i].title, "Tom Bell"));
    Outcome csv = run({"scan", "--basic", "--format", "csv", d.path});
    Outcome raw = run({"scan", "--basic", "--format", "csv", "--csv-raw", d.path});
    ASSERT_EQ(csv.rc, 0) << csv.err;
    ASSERT_EQ(raw.rc, 0) << raw.err;
    std::string want =
                    "path,drm,format,title,author,language,series,series_index,has_cover,asin,"
                    "error\r\n",
                want_raw = want;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string head = d.path + "/" + std::to_string(i) + ".mobi,false,mobi,";
        want += head + cases[i].field + ",Tom Bell,,,,false,,\r\n";
        want_raw += head + cases[i].raw_field + ",Tom Bell,,,,false,,\r\n";
    }
    EXPECT_EQ(csv.out, want);
    EXPECT_EQ(raw.out, want_raw);
}

TEST_F(CliOutputGuard, JsonIsValidUtf8WithTheExactBytesBeside) {
    TempDir d;
    const std::string odd = "caf\xE9.mobi", broken = "x\xC3.mobi";
    std::string good = d.put("good.mobi", mobi("Good", "Ann Lee"));
    std::string odd_path = d.put(odd, mobi("Odd Name", "Tom Bell"));
    std::string broken_path = d.put(broken, "short");
    const std::string odd_shown = d.path + "/caf\xEF\xBF\xBD.mobi";

    Outcome json = run({"scan", "--basic", d.path});
    Outcome jsonl = run({"scan", "--basic", "--format", "jsonl", "-j", "1", d.path});
    Outcome info = run({"info", "--basic", good, odd_path, broken_path});
    for (const Outcome *r : {&json, &info}) {
        EXPECT_EQ(r->rc, 1);
        EXPECT_TRUE(strict_json(r->out)) << r->out;
    }
    for (const auto &l : lines(jsonl.out))
        EXPECT_TRUE(strict_json(l)) << l;
    ASSERT_EQ(lines(jsonl.out).size(), 3u);

    auto el = elements(info.out);
    ASSERT_EQ(el.size(), 3u);
    // A valid path is written as it is, with no "path_bytes".
    EXPECT_EQ(el[0], "{\"path\":\"" + good + "\"," + lib_info(good).substr(1));
    EXPECT_EQ(member(el[1], "path"), odd_shown);
    EXPECT_EQ(member(el[1], "path_bytes"), qtest::base64_encode(odd_path, 0));
    EXPECT_EQ(member(el[1], "title"), "Odd Name");
    EXPECT_EQ(member(el[2], "path_bytes"), qtest::base64_encode(broken_path, 0));
    EXPECT_EQ(member(el[2], "error"), "MOBI too short for PalmDB header");
    EXPECT_EQ(el[1].find("\"path\":\"" + odd_shown + "\",\"path_bytes\":"), 1u) << el[1];
    // The listing holds the same elements, sorted by the paths' bytes.
    auto listed = elements(json.out);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0], el[1]);  // "caf\xE9" < "good" < "x\xC3"
    EXPECT_EQ(listed[1], el[0]);
    EXPECT_EQ(listed[2], el[2]);

    // The rename plan names only what it can plan, and stays valid too.
    Outcome plan = run({"rename", d.path});
    EXPECT_TRUE(strict_json(plan.out)) << plan.out;
    EXPECT_EQ(elements(plan.out).size(), 1u);
}

}  // namespace
