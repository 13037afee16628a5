// test_buffer.cpp - growable text buffer: growth rule, failures, formatted appends; the bounded
// copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "error.h"
#include "heap.h"
#include "quenfold_ebook.h"
#include "text/buffer.h"

// Failure tests ask the heap for impossible sizes; under AddressSanitizer that
// must come back as null instead of aborting.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

struct Buf {
    eb_buf b;
    Buf() { eb_buf_init(&b); }
    ~Buf() { eb_buf_free(&b); }
    std::string str() const { return b.data ? std::string(b.data, b.len) : std::string(); }
};

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

TEST(Buf, NothingAppendedKeepsNoBlock) {
    Buf x;
    EXPECT_EQ(eb_buf_append(&x.b, "abc", 0), 0);
    EXPECT_EQ(eb_buf_append_cstr(&x.b, nullptr), 0);
    EXPECT_EQ(eb_buf_append_cstr(&x.b, ""), 0);
    EXPECT_EQ(eb_buf_reserve(&x.b, 0), 0);
    EXPECT_EQ(eb_buf_printf(&x.b, "%s", ""), 0);
    eb_buf_clear(&x.b);
    EXPECT_EQ(x.b.data, nullptr);
    EXPECT_EQ(x.b.cap, 0u);
    EXPECT_EQ(x.b.len, 0u);
}

TEST(Buf, GrowsFrom256ByDoubling) {
    struct Case {
        std::size_t first, second;
        std::uint64_t cap;
    } cases[] = {{1, 0, 256},     {255, 0, 256}, {256, 0, 512},   {300, 0, 512},
                 {1000, 0, 1024}, {255, 1, 512}, {200, 300, 512}, {4000, 100, 8192}};
    for (const Case &c : cases) {
        Buf x;
        std::string a(c.first, 'a'), b(c.second, 'b');
        ASSERT_EQ(eb_buf_append(&x.b, a.data(), a.size()), 0);
        ASSERT_EQ(eb_buf_append(&x.b, b.data(), b.size()), 0);
        EXPECT_EQ(x.b.cap, c.cap) << c.first << "+" << c.second;
        EXPECT_EQ(x.str(), a + b);
        EXPECT_EQ(x.b.data[x.b.len], '\0');
    }
    // The doubling ends above 1 GiB: from there growth is exact.
    EXPECT_EQ(eb_buf_next_cap(0, 1), 256u);
    EXPECT_EQ(eb_buf_next_cap(0, 257), 512u);
    EXPECT_EQ(eb_buf_next_cap(256, 257), 512u);
    EXPECT_EQ(eb_buf_next_cap(GiB / 2, GiB), GiB);
    EXPECT_EQ(eb_buf_next_cap(GiB, GiB + 1), 2 * GiB);
    EXPECT_EQ(eb_buf_next_cap(0, 2 * GiB), 2 * GiB);
    EXPECT_EQ(eb_buf_next_cap(0, 2 * GiB + 1), 2 * GiB + 1);
    EXPECT_EQ(eb_buf_next_cap(2 * GiB, 2 * GiB + 7), 2 * GiB + 7);
    EXPECT_EQ(eb_buf_next_cap(GiB + 1, GiB + 2), GiB + 2);
}

TEST(Buf, FailedGrowthLeavesBufferUnchanged) {
    Buf x;
    eb_clear_error();
    EXPECT_EQ(eb_buf_reserve(&x.b, std::uint64_t{1} << 62), -1);
    EXPECT_STREQ(ebook_last_error(), "out of memory");
    EXPECT_EQ(x.b.data, nullptr);
    EXPECT_EQ(x.b.cap, 0u);

    ASSERT_EQ(eb_buf_append_cstr(&x.b, "kept"), 0);
    char *block = x.b.data;
    EXPECT_EQ(eb_buf_reserve(&x.b, std::uint64_t{1} << 62), -1);
    EXPECT_EQ(x.b.data, block);
    EXPECT_EQ(x.b.cap, 256u);
    EXPECT_EQ(x.str(), "kept");
    EXPECT_EQ(eb_buf_append_cstr(&x.b, "!"), 0);
    EXPECT_EQ(x.str(), "kept!");
}

TEST(Buf, ClearKeepsBlockAndHandOverReleasesNothing) {
    Buf x;
    ASSERT_EQ(eb_buf_append_cstr(&x.b, "hello"), 0);
    char *block = x.b.data;
    eb_buf_clear(&x.b);
    EXPECT_EQ(x.b.data, block);
    EXPECT_EQ(x.b.cap, 256u);
    EXPECT_STREQ(x.b.data, "");
    ASSERT_EQ(eb_buf_append_cstr(&x.b, "again"), 0);
    eb_unique<char> taken(x.b.data);  // a user takes the text over
    x.b.data = nullptr;
    eb_buf_free(&x.b);  // must not release the taken block
    EXPECT_STREQ(taken.get(), "again");
    EXPECT_EQ(x.b.cap, 0u);
}

TEST(Buf, PrintfShortAndLongTexts) {
    // 511 bytes fit the local array; 512 and more are formatted again into
    // the block. Several arguments check that the second pass starts over.
    for (std::size_t n : {0u, 1u, 510u, 511u, 512u, 513u, 5000u}) {
        Buf x;
        ASSERT_EQ(eb_buf_append_cstr(&x.b, "pre:"), 0);
        std::string body(n >= 4 ? n - 4 : 0, 'x');
        std::string text =
            n >= 4 ? "[" + body + "|" + std::to_string(7) + "]" : std::string(n, 'y');
        int rc = n >= 4 ? eb_buf_printf(&x.b, "[%s|%d]", body.c_str(), 7)
                        : eb_buf_printf(&x.b, "%s", text.c_str());
        ASSERT_EQ(rc, 0) << n;
        EXPECT_EQ(x.str(), "pre:" + text) << n;
        EXPECT_EQ(x.b.data[x.b.len], '\0');
    }
}

TEST(Buf, PrintfFormatFailureChangesNothing) {
    Buf x;
    ASSERT_EQ(eb_buf_append_cstr(&x.b, "abc"), 0);
    eb_clear_error();
    // A wide character that the default locale cannot represent.
    EXPECT_EQ(eb_buf_printf(&x.b, "%ls", L"\x20AC"), -1);
    EXPECT_EQ(x.str(), "abc");
    EXPECT_EQ(x.b.cap, 256u);
    EXPECT_STREQ(ebook_last_error(), "");
}

}  // namespace

// Fixed-size record fields and reader arrays take a text cut to their size
// less one byte, always terminated, whatever the text's length.
TEST(CopyCut, CutsToTheRoomLessOneByte) {
    struct Case {
        const char *src;
        std::size_t size;
        const char *want;
    } cases[] = {
        {"image/jpeg", 64, "image/jpeg"},
        {"abcdef", 7, "abcdef"},
        {"abcdef", 6, "abcde"},
        {"abcdef", 2, "a"},
        {"abcdef", 1, ""},
        {"", 8, ""},
    };
    for (const auto &c : cases) {
        char out[72];
        std::memset(out, '#', sizeof out);
        copy_cut(out, c.size, c.src);
        EXPECT_STREQ(out, c.want) << c.src << " into " << c.size;
        EXPECT_EQ(out[c.size], '#') << "wrote past the room";
    }
}
