// test_element_ends.cpp - the one-pass element ends agree with eb_find_close
// asked body by body, on hand-picked and on generated markup.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/element_ends.h"
#include "text/xml_scan.h"

namespace {

// Every position directly after a '>' of the document.
std::vector<const char *> bodies_of(const std::string &doc) {
    std::vector<const char *> out;
    for (std::size_t i = 0; i < doc.size(); ++i)
        if (doc[i] == '>') out.push_back(doc.data() + i + 1);
    return out;
}

// Compares the one-pass answers with eb_find_close and eb_content_end for
// every body of doc; the document sits at the end of an exact heap block.
void expect_same_as_find_close(const std::string &text) {
    std::unique_ptr<char[]> block(new char[text.size()]);
    std::memcpy(block.get(), text.data(), text.size());
    const std::string doc(block.get(), text.size());
    const char *begin = block.get();
    const char *end = begin + text.size();
    std::vector<const char *> bodies;
    for (const char *b : bodies_of(doc))
        bodies.push_back(begin + (b - doc.data()));
    const std::vector<eb_element_end> ends = eb_element_ends(begin, end, "m", bodies);
    ASSERT_EQ(ends.size(), bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const char *want = bodies[i] < end ? eb_find_close(bodies[i], end, "m") : nullptr;
        EXPECT_EQ(ends[i].close, want) << text << " body at " << bodies[i] - begin;
        if (want && ends[i].close == want) {
            EXPECT_EQ(ends[i].content_end, eb_content_end(bodies[i], want)) << text;
        }
    }
}

TEST(ElementEnds, AgreesWithFindCloseOnHandPickedMarkup) {
    const char *cases[] = {
        "<m>x</m>",
        "<m>a<m>b</m>c</m>",
        "<m>a<m/>b</m>",
        "<m>a<m x='<m>'/>b</m>",
        "<m a='<m b>'>x</m></m>",
        "<m>x</m <y>",
        "<m>x</m\t>",
        "<m>x</m/>",
        "<m><m><m>",
        "<m>x</m",
        "</m></m><m>x</m>",
        "<m>a</m></m><m>b</m>",
        "<m>a<!m>b</m>",
        "<m>a<?m x>b</m>",
        "<m>a<m\x0b>b</m></m>",
        "<m>a<m\x0c/>b</m>",
        "<m>",
        "<m>x<m ",
    };
    for (const char *c : cases)
        expect_same_as_find_close(c);
}

TEST(ElementEnds, AgreesWithFindCloseOnGeneratedMarkup) {
    const char *pieces[] = {"<m>", "<m ", "<m/>", "</m>", "</m ", "</m",  ">", "<",         "/>",
                            "x",   " ",   "<n>",  "</n>", "<mm>", "<!m>", "'", "<m a='>'/>"};
    std::mt19937 rng(20261209);
    for (int round = 0; round < 3000; ++round) {
        std::string doc;
        const int n = 1 + static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i)
            doc += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        expect_same_as_find_close(doc);
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
