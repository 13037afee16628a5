// test_xml_scan.cpp - tag scanner and entity decoding over ranges that end
// exactly at the end of their heap block, so any read past a range is caught.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "heap.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "text/xml_scan.h"

using namespace std::literals;

namespace {

// The bytes of s at the very end of an exactly-sized heap block: no NUL, no
// slack after the last byte.
class Range {
  public:
    explicit Range(std::string_view s) : block_(new char[s.size()]), n_(s.size()) {
        std::memcpy(block_.get(), s.data(), s.size());
    }
    const char *begin() const { return block_.get(); }
    const char *end() const { return block_.get() + n_; }
    const char *at(std::size_t i) const { return block_.get() + i; }
    std::size_t size() const { return n_; }

  private:
    std::unique_ptr<char[]> block_;
    std::size_t n_;
};

// Offset of the found position, or -1 for null.
long off(const Range &r, const char *p) {
    return p ? p - r.begin() : -1;
}

TEST(Scanner, FindTagMatchesWholeNames) {
    struct Case {
        const char *doc, *name;
        long at;
    } cases[] = {
        {"<meta name=\"x\">", "meta", 0},
        {"<meta/>", "meta", 0},
        {"<meta>", "meta", 0},
        {"<metadata>", "meta", -1},
        {"<itemref/>", "item", -1},
        {"<title-info>", "title", -1},
        {"<dc:title>", "title", -1},
        {"<DC:Title>", "dc:title", -1},
        {"<dc:titleX>", "dc:title", -1},
        {"<opf:item/>", "item", -1},
        {"<metadata><meta>", "meta", 10},
        {"x<a\tb>", "a", 1},
        {"<a\nb>", "a", 0},
        {"<a\rb>", "a", 0},
        {"<a b>", "a", 0},
        {"<a\vb>", "a", -1},
        {"<a\fb>", "a", -1},
        {"<!x>", "!x", -1},
        {"</x>", "/x", -1},
        {"<?x>", "?x", -1},
        {"<meta", "meta", -1},  // the name ends at the range end
        {"<meta ", "meta", 0},
        {"", "a", -1},
    };
    for (const Case &c : cases) {
        Range r(c.doc);
        EXPECT_EQ(off(r, eb_find_tag(r.begin(), r.end(), c.name)), c.at) << c.doc;
    }
    Range r("<a>");
    EXPECT_EQ(eb_find_tag(nullptr, r.end(), "a"), nullptr);
    EXPECT_EQ(eb_find_tag(r.end(), r.end(), "a"), nullptr);
}

TEST(Scanner, FindCloseBalancesSameNamedElements) {
    struct Case {
        const char *doc;
        std::size_t from;
        long at;  // -1: null
    } cases[] = {
        {"<a>x<a/>y</a>", 3, 13},
        {"<a><a>x</a></a>", 3, 15},
        {"<a>x</a >", 3, 9},
        {"<a>x</a/>", 3, -1},
        {"<a>x", 3, -1},
        {"<a>x</a\v>z", 3, 9},
        {"<a>x</ab></a>", 3, 13},
        {"<a><ab>x</a>", 3, 12},
        {"<a>x</a>", 1, 8},
        {"<a>x</a", 3, -1},
        {"<a>x</a ", 3, -1},
        {"<a><a\v>x</a></a>", 3, 16},
        {"<a>x<a ", 3, -1},
        {"<a>", 3, -1},
        // A '>' inside an attribute value ends the nested tag early: it reads
        // as self-closing, so the first </a> closes the outer element.
        {"<a><a t=\"/>\">x</a></a>", 3, 18},
    };
    for (const Case &c : cases) {
        Range r(c.doc);
        EXPECT_EQ(off(r, eb_find_close(r.at(c.from), r.end(), "a")), c.at) << c.doc;
    }
}

TEST(Scanner, AttributeValues) {
    struct Case {
        std::string_view tag;
        const char *name;
        int rc;
        const char *value;
    } cases[] = {
        {"<item xml:id=\"x\" id=\"y\"", "id", 0, "x"},
        {"<meta content='v'", "content", 0, "v"},
        {"<meta name = \"v\"", "name", -1, ""},
        {"<a x='1' x=\"2\"", "x", 0, "2"},  // double quotes win wherever they stand
        {"<image l:href=\"#c\"", "href", 0, "#c"},
        {"<a x=\"open", "x", 0, "open"},  // no closing quote: runs to the tag end
        {"<a x=\"\"", "x", 0, ""},
        {"<a x=\"a&amp;b\"", "x", 0, "a&amp;b"},
        {"<a x=", "x", -1, ""},
        {"<a \0 x=\"1\""sv, "x", -1, ""},  // a NUL byte ends the search
    };
    for (const Case &c : cases) {
        Range r(c.tag);
        char out[32] = "sentinel";
        EXPECT_EQ(eb_attr_val(r.begin(), r.end(), c.name, out, sizeof out), c.rc) << c.tag;
        EXPECT_STREQ(out, c.value) << c.tag;
    }

    std::string long_value(300, 'v');
    Range r("<a x=\"" + long_value + "\"");
    char out[256];
    EXPECT_EQ(eb_attr_val(r.begin(), r.end(), "x", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), long_value.substr(0, 255));
    char one[1] = {'z'};
    EXPECT_EQ(eb_attr_val(r.begin(), r.end(), "x", one, 1), 0);
    EXPECT_EQ(one[0], '\0');

    // Names up to 123 bytes are looked up; longer ones fail without output.
    std::string n123(123, 'n'), n124(124, 'n');
    Range lr("<a " + n123 + "=\"ok\" " + n124 + "=\"no\"");
    char small[8] = "keep";
    EXPECT_EQ(eb_attr_val(lr.begin(), lr.end(), n123.c_str(), small, sizeof small), 0);
    EXPECT_STREQ(small, "ok");
    std::strcpy(small, "keep");
    EXPECT_EQ(eb_attr_val(lr.begin(), lr.end(), n124.c_str(), small, sizeof small), -1);
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(eb_attr_val(lr.begin(), lr.end(), "a", small, 0), -1);
    EXPECT_EQ(eb_attr_val(lr.begin(), lr.begin(), "a", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

TEST(Scanner, ElementText) {
    struct Case {
        const char *doc;
        const char *text;  // null: no text
    } cases[] = {
        {"<t/>", ""},
        {"<t x=\"1\"/>", ""},
        {"<t></t>", nullptr},
        {"<t> \n\t\r </t>", ""},
        {"<t> a &amp; b </t>", "a & b"},
        {"<t>&#0;</t>", nullptr},
        {"<t>A <i>B</i></t>", "A <i>B</i>"},
        {"<t>a<t>b</t>c</t>", "a<t>b</t>c"},
        {"<t>1</t><t>2</t>", "1"},
        {"<t>\vx</t>", "\vx"},
        {"<t>x", nullptr},
        {"<t", nullptr},
        {"<u>x</u>", nullptr},
    };
    for (const Case &c : cases) {
        Range r(c.doc);
        eb_unique<char> got(eb_tag_text(r.begin(), r.size(), "t"));
        EXPECT_EQ(got ? std::string(got.get()) : "<null>", c.text ? c.text : "<null>") << c.doc;
    }
}

TEST(Scanner, EntityAndNumericReferences) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"&#65;", "A"},
        {"&#x41;&#X41;", "AA"},
        {"&#xE9;", "\xC3\xA9"},
        {"&#x20AC;", "\xE2\x82\xAC"},
        {"&#x7F;&#x80;&#x7FF;&#x800;&#xFFFF;", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {"&#xD800;", "\xED\xA0\x80"},
        {"a&#x1F600;&#x10000;&#0;&#;&#x;&#-1;b", "ab"},
        {"&#65x;", "A"},
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"&nbsp; &AMP; AT&T &; &", "&nbsp; &AMP; AT&T &; &"},
        {"&#00000000000065;", "A"},                    // ';' 16 bytes after '&'
        {"&#000000000000065;", "&#000000000000065;"},  // 17 bytes: not a reference
        {"x&amp", "x&amp"},
        {"&#65", "&#65"},
        // Numbers read as strtoul reads them in the C locale, whatever the
        // host's locale: leading white space, a sign, "0x" in base 16.
        {"&#  65;&#\t\v\f66;&#+67;", "ABC"},
        {"&#x0x41;&#X0X42;&#x0x;", "AB"},
        {"&#-65;&#-0;&#99999999999999;&#xFFFFFFFFFFFFF;", ""},
    };
    for (const Case &c : cases) {
        Range r(c.in);
        eb_buf b;
        eb_buf_init(&b);
        eb_buf_append_cstr(&b, "pre:");  // decoding appends, it does not clear
        eb_xml_decode_entities(r.begin(), r.size(), &b);
        EXPECT_EQ(std::string(b.data, b.len), std::string("pre:") + c.out) << c.in;
        eb_buf_free(&b);
    }
}

}  // namespace
