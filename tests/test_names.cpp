// test_names.cpp - safe file names: sanitising, base name and extension, and
// names built from patterns.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ops/eb_rename.h"

namespace {

std::string sanitized(const std::string &src, std::size_t cap) {
    std::string out(cap + 8, '\x7f');
    sanitize_to(out.data(), cap, src.c_str());
    EXPECT_LT(std::strlen(out.c_str()), cap);
    return out.c_str();
}

std::string named(const char *pattern, const char *author, const char *series, const char *idx,
                  const char *title) {
    char out[256];
    build_name(pattern, author, series, idx, title, out);
    return out;
}

const std::string kE = "\xC3\xA9";         // two-byte letter
const std::string kEuro = "\xE2\x82\xAC";  // three-byte sign

TEST(SanitizeTo, ReplacesTrimsAndCaps) {
    struct Case {
        std::string in;
        std::size_t cap;
        std::string want;
    } cases[] = {
        {"Found: A Story?", 192, "Found_ A Story"},
        {"Smith, J.", 192, "Smith, J"},
        {"  _a_ ", 192, "a"},
        {".hidden", 192, ".hidden"},
        {"???", 192, "untitled"},
        {"", 192, "untitled"},
        {"a//b", 192, "a_b"},
        {"a/_b", 192, "a__b"},
        {"a\tb", 192, "a_b"},
        {"a\"*:<>?\\|b", 192, "a_b"},
        {"x\x7f\xff", 192, "x_\xff"},
        {std::string(200, 'a'), 192, std::string(180, 'a')},
        {std::string(200, 'a'), 256, std::string(180, 'a')},
        {std::string(200, 'a'), 64, std::string(63, 'a')},
        {std::string(179, 'a') + kE, 192, std::string(179, 'a')},
        {std::string(178, 'a') + kE, 192, std::string(178, 'a') + kE},
        {std::string(178, 'a') + kEuro, 192, std::string(178, 'a')},
        {std::string(62, 'a') + kE, 64, std::string(62, 'a')},
        // Dropping a split character must not expose a trailing dot or
        // leave nothing at all.
        {std::string(178, 'a') + "." + kE, 192, std::string(178, 'a')},
        {std::string(179, '_') + kE + "x", 192, "untitled"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sanitized(c.in, c.cap), c.want) << c.in << " cap " << c.cap;
}

// Titles that would write a name a user cannot see or that lies about
// itself: controls become '_', characters that reorder or hide text go, and
// what shows nothing counts as no name.
TEST(SanitizeTo, HostileTitlesGiveNamesThatShowWhatTheyAre) {
    struct Case {
        std::string in, want;
    } cases[] = {
        {"Evil\u009b31mRed", "Evil_31mRed"},
        {"a\u0085\u009f\x7f\x1b b", "a_ b"},
        {"Harmless\u202etxt.exe", "Harmlesstxt.exe"},
        {"L\u2066R\u2067x\u2068y\u2069M\u200e\u200f\u061c\u202a\u202dE", "LRxyME"},
        {"Line\u2028Para\u2029Sep", "LineParaSep"},
        {"Z\u200bW\u200c\u200d\u2060\ufeff", "ZW"},
        {"a/\u200b/b", "a_b"},      // a removed character neither ends a run of '_'
        {"\u202e_x_.\u202e", "x"},  // nor hides what is trimmed
        {"\u200b\u200c\u200d\u2060\ufeff", "untitled"},
        {"\u00a0\u3000\u2003", "untitled"},
        {"\u3164\u115f", "untitled"},
        // What shows stays: an accent, a space inside.
        {"Cafe\u0301", "Cafe\u0301"},
        {"\u00a0x", "\u00a0x"},
        // Removed characters take no room under the limit.
        {std::string(179, 'a') + "\u202e\u200bb", std::string(179, 'a') + "b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sanitized(c.in, 192), c.want) << c.in;
    for (const char *ext : {".ep\u202eub", ".e\u200bpub", ".e\u009bpub", ".e\x7fpub"})
        EXPECT_FALSE(plan_ext_ok(ext)) << ext;
    EXPECT_TRUE(plan_ext_ok(".\u00e9pub"));
    // A field that shows nothing is no field.
    const char *hidden = "\u200b\u202e\ufeff";
    EXPECT_EQ(named(def_pattern, hidden, hidden, hidden, "T"), "Unknown - T");
    EXPECT_EQ(named(def_pattern, "\u3000", "\u00a0", "", hidden), "Unknown - untitled");
}

TEST(BasenameExt, SplitsAtLastDotOfFilePart) {
    struct Case {
        std::string path, base, ext;
    } cases[] = {
        {"/a/b/book.tar.EPUB", "book.tar", ".EPUB"},
        {"/a/README", "README", ""},
        {"/a/.epub", ".epub", ""},
        {"D:\\books\\x.epub", "D:\\books\\x", ".epub"},
        {"dir/", "", ""},
        {"a.d/noext", "noext", ""},
        {"/d/" + std::string(300, 'b') + "." + std::string(40, 'e'), std::string(255, 'b'),
         "." + std::string(30, 'e')},
        {std::string(254, 'b') + kE + "." + std::string(29, 'e') + kE, std::string(254, 'b'),
         "." + std::string(29, 'e')},
    };
    for (const auto &c : cases) {
        char base[256], ext[32];
        basename_ext(c.path.c_str(), base, ext);
        EXPECT_EQ(base, c.base) << c.path;
        EXPECT_EQ(ext, c.ext) << c.path;
    }
}

TEST(BuildName, PatternsWithAuthorAndTitle) {
    struct Case {
        const char *pattern, *want;
    } cases[] = {
        {"{author}/{title}", "Ann Lee_The Quiet Sea"},
        {"{title} ({author})", "The Quiet Sea (Ann Lee)"},
        {"{year} {title}", "The Quiet Sea"},
        {"{Title}", "untitled"},
        {"{title", "title"},
        {"{series}", "untitled"},
        {"{}{title}}", "The Quiet Sea}"},
        {"x{title", "xtitle"},
        {"{idx}{series_index}", "untitled"},
        {"", "Ann Lee - The Quiet Sea"},
        {" - {title} -  - {series} - ", "The Quiet Sea"},
        {"{title} # {author}", "The Quiet Sea Ann Lee"},
        {"{title} #  1", "The Quiet Sea # 1"},
        {"{title}#", "The Quiet Sea"},
        {"a\t - \tb", "a - b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(named(c.pattern, "Ann Lee", "", "", "The Quiet Sea"), c.want) << c.pattern;
}

TEST(BuildName, DefaultPatternDropsEmptyFields) {
    struct Case {
        const char *author, *series, *idx, *title, *want;
    } cases[] = {
        {"Ann Lee", "", "", "The Quiet Sea", "Ann Lee - The Quiet Sea"},
        {"Ann Lee", "Harbour Tales", "", "The Quiet Sea",
         "Ann Lee - Harbour Tales - The Quiet Sea"},
        {"Ann Lee", "", "4", "The Quiet Sea", "Ann Lee - #4 - The Quiet Sea"},
        {"Ann Lee", "Harbour Tales", "4", "The Quiet Sea",
         "Ann Lee - Harbour Tales #4 - The Quiet Sea"},
        {"Ann Lee", "Harbour Tales", "1.5", "The Quiet Sea",
         "Ann Lee - Harbour Tales #1.5 - The Quiet Sea"},
        {"Ann Lee", "Harbour Tales", "IV", "The Quiet Sea",
         "Ann Lee - Harbour Tales IV - The Quiet Sea"},
        {"", "", "", "", "Unknown - untitled"},
        {"Ann Lee", "", "", "???", "Ann Lee - untitled"},
        {"Ann Lee", "...", "", "T", "Ann Lee - untitled - T"},
        {"Ann Lee", "", "", "Report #B", "Ann Lee - Report B"},
        {"Ann Lee", "", "", "Two  spaces # here #7", "Ann Lee - Two spaces here #7"},
        {"Ann Lee", "", "", "a\t\tb", "Ann Lee - a_b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(named(def_pattern, c.author, c.series, c.idx, c.title), c.want) << c.title;
}

TEST(BuildName, LongInputStaysWithinLimitsAndCharacters) {
    std::string pattern(300, 't');
    EXPECT_EQ(named(def_pattern, "Ann Lee", "", "", pattern.c_str()),
              "Ann Lee - " + std::string(170, 't'));

    // Unsafe bytes collapse, so text beyond the expansion limit can reach
    // the name: the cut there must not split a character either.
    pattern = std::string(300, '\t') + "a" + std::string(465, '\x01') + kE + "z";
    EXPECT_EQ(named(pattern.c_str(), "", "", "", ""), "a");
    pattern = "b" + std::string(509, '\x01') + kE + "z";
    EXPECT_EQ(named(pattern.c_str(), "", "", "", ""), "b");
}

}  // namespace
