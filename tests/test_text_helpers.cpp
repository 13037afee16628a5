// test_text_helpers.cpp - ISBN recognition and markup to plain text.
#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"
#include "text/isbn.h"
#include "text/plain_text.h"

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

}  // namespace
