// test_text_helpers.cpp - ISBN recognition, markup to plain text, character references and code
// points as UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "text/char_ref.h"
#include "text/encoding.h"
#include "text/isbn.h"
#include "text/plain_text.h"
#include "text/utf8.h"

namespace {

TEST(Isbn, FormsAndCheckDigits) {
    const struct {
        const char *raw, *isbn13;
    } cases[] = {
        {"978-0-306-40615-7", "9780306406157"},
        {"9780306406157", "9780306406157"},
        {"0-306-40615-2", "9780306406157"},
        {"urn:isbn:0306406152", "9780306406157"},
        {"ISBN 0 306 40615 2", "9780306406157"},
        {"isbn:978-0-306-40615-7", "9780306406157"},
        {"0-8044-2957-X", "9780804429573"},
        {"0-8044-2957-x", "9780804429573"},
        {"978-0-306-40615-8", ""},  // check digit
        {"0-306-40615-3", ""},
        {"X-306-40615-2", ""},  // X only as the last of ten
        {"97803064061570", ""},
        {"030640615", ""},
        {"urn:uuid:0306406152", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(eb_isbn13(c.raw), c.isbn13) << c.raw;
}

TEST(PlainText, MarkupBecomesParagraphs) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain  text\n here", "plain text here"},
        {"<p>One</p><p>Two <i>parts</i></p>", "One\n\nTwo parts"},
        {"Line<br/>next<br>last", "Line\n\nnext\n\nlast"},
        {"<div><p>A &amp; B &lt;c&gt; &#233;&#x20AC;&mdash;</p></div>", "A & B <c> é€—"},
        {"a&nbsp;b", "a b"},
        {"<script>x()</script><style>p{}</style>Kept<!-- gone -->", "Kept"},
        {"1 < 2 & 3 &unknown;", "1 < 2 & 3 &unknown;"},
        {"<h1>Title</h1><ul><li>a</li><li>b</li></ul>", "Title\n\na\n\nb"},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"&#0;&#xD800;", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto &c : cases) {
        const std::string got = eb_markup_to_text(c.in);
        EXPECT_EQ(got, c.out) << c.in;
        EXPECT_TRUE(eb_utf8_valid(got)) << c.in;
    }
}

// Numeric references as every lenient reader takes them: up to 8 digits of
// either base and the ';' right after them.
TEST(CharRef, NumericReferences) {
    const struct {
        const char *in;
        std::size_t len;
        std::uint32_t cp;
    } cases[] = {
        {"&#38;x", 5, 38},      {"&#x26;", 6, 0x26},
        {"&#XfF;", 6, 0xFF},    {"&#12345678;", 11, 12345678},
        {"&#123456789;", 0, 0}, {"&#x;", 0, 0},
        {"&#;", 0, 0},          {"&#12", 0, 0},
        {"&#1a;", 0, 0},        {"&#xFFFFFFFF;", 12, 0xFFFFFFFF},
        {"&amp;", 0, 0},        {"&#x1F600;", 9, 0x1F600},
    };
    for (const auto &c : cases) {
        std::uint32_t cp = 0;
        EXPECT_EQ(eb_numeric_ref(c.in, &cp), c.len) << c.in;
        EXPECT_EQ(cp, c.cp) << c.in;
    }
    EXPECT_EQ(eb_predefined_entity("quot"), '"');
    EXPECT_EQ(eb_predefined_entity("Amp"), 0);
}

TEST(Utf8, CodePointsAtEachLength) {
    const struct {
        std::uint32_t cp;
        const char *utf8;
    } cases[] = {{0x41, "A"},
                 {0x7F, "\x7F"},
                 {0x80, "\xC2\x80"},
                 {0x7FF, "\xDF\xBF"},
                 {0x800, "\xE0\xA0\x80"},
                 {0xD800, "\xED\xA0\x80"},  // encoded as asked: the caller judges
                 {0xFFFF, "\xEF\xBF\xBF"},
                 {0x10000, "\xF0\x90\x80\x80"},
                 {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    for (const auto &c : cases) {
        std::string out = "<";
        eb_utf8_append(out, c.cp);
        EXPECT_EQ(out, "<" + std::string(c.utf8)) << c.cp;
    }
}

}  // namespace
