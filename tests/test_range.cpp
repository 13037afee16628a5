// test_range.cpp - byte ranges of a book source: big-endian fields, bounds, bytes lent by a parent.
#include <gtest/gtest.h>

#include <string>

#include "io/range.h"
#include "io/source.h"

namespace {

std::string numbered(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + 1);
    return s;
}

TEST(Range, FieldsAndBoundsAcrossTheFirstFetch) {
    const std::string book = numbered(300);
    const eb_source src(book.data(), book.size());
    const eb_range r(src, 10, 200, 16);  // fields beyond the first 16 bytes are fetched on demand
    struct Case {
        std::uint64_t at;
        std::uint64_t count;
        bool inside;
    } cases[] = {{0, 4, true},    {12, 4, true},  {150, 4, true},  {196, 4, true},
                 {197, 4, false}, {200, 0, true}, {201, 0, false}, {~0ull - 1, 4, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.at);
        EXPECT_EQ(r.has(c.at, c.count), c.inside);
        const unsigned char *p = r.bytes(c.at, c.count);
        EXPECT_EQ(p != nullptr, c.inside);
        if (p && c.count == 4) {
            EXPECT_EQ(p[3], static_cast<unsigned char>(book[10 + c.at + 3]));
            const auto *b = reinterpret_cast<const unsigned char *>(book.data() + 10 + c.at);
            EXPECT_EQ(r.u32(c.at), std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                                       std::uint32_t{b[2]} << 8 | b[3]);
            EXPECT_EQ(r.u16(c.at), std::uint32_t{b[0]} << 8 | b[1]);
        }
        if (!c.inside) {
            EXPECT_EQ(r.u32(c.at), 0u);
        }
    }
    EXPECT_FALSE(src.failed());
}

TEST(Range, ChildInsideItsParentReadsTheSameBytes) {
    const std::string book = numbered(4096);
    const eb_source src(book.data(), book.size());
    const eb_range file(src, 0, book.size(), 1024);
    const eb_range lent(src, 100, 64, 64, &file);      // inside what the parent holds
    const eb_range fetched(src, 2000, 64, 64, &file);  // beyond it: read from the source
    for (std::uint64_t at = 0; at < 64; at += 4) {
        EXPECT_EQ(lent.u32(at), file.u32(100 + at));
        EXPECT_EQ(fetched.u32(at), file.u32(2000 + at));
    }
    EXPECT_TRUE(fetched.tag(0, book.substr(2000, 4).c_str()));
}

TEST(Range, RangePastTheSourceFailsTheSource) {
    const std::string book = numbered(64);
    const eb_source src(book.data(), book.size());
    const eb_range r(src, 32, 64, 8);  // claims more than the book holds
    EXPECT_NE(r.bytes(0, 8), nullptr);
    EXPECT_EQ(r.bytes(40, 8), nullptr);
    EXPECT_TRUE(src.failed());
}

}  // namespace
