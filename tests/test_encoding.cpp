// test_encoding.cpp - UTF-8 validation and repair, and decoding of the encodings books declare.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/encoding.h"

namespace {

TEST(Utf8, ValidityTable) {
    const struct {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0", true},  // Анна
        {"\xF0\x9F\x93\x96", true},                  // U+1F4D6
        {"\xC0\xAF", false},                         // overlong '/'
        {"\xE0\x80\xAF", false},                     // overlong, three bytes
        {"\xED\xA0\x80", false},                     // surrogate D800
        {"\xF4\x90\x80\x80", false},                 // above U+10FFFF
        {"\x80", false},                             // stray continuation
        {"\xD0", false},                             // cut short
        {"\xE2\x82", false},                         // cut short
        {"\xC3\xA9\xFF", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(eb_utf8_valid(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(Utf8, RepairReplacesEachBadByte) {
    const struct {
        std::string in, out;
        bool replaced;
    } cases[] = {
        {"abc", "abc", false},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b",
         true},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", true},
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD", true},
        {"\xC3\xA9\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC", false},
    };
    for (const auto &c : cases) {
        bool replaced = !c.replaced;
        const std::string got = eb_utf8_repair(c.in, &replaced);
        EXPECT_EQ(got, c.out) << testing::PrintToString(c.in);
        EXPECT_EQ(replaced, c.replaced) << testing::PrintToString(c.in);
        EXPECT_TRUE(eb_utf8_valid(got));
    }
}

TEST(Decode, DeclaredEncodings) {
    const struct {
        const char *label;
        std::string bytes, utf8;
        bool replaced;
    } cases[] = {
        // "Анна Каренина" in windows-1251, labelled as books do
        {"windows-1251", "\xC0\xED\xED\xE0 \xCA\xE0\xF0\xE5\xED\xE8\xED\xE0", "Анна Каренина",
         false},
        {"WINDOWS-1251", "\xC0\xED\xED\xE0", "Анна", false},
        {"cp1251", "\xC0\xED\xED\xE0", "Анна", false},
        {" Windows-1251 ", "\xC0\xED\xED\xE0", "Анна", false},
        {"koi8-r", "\xE1\xCE\xCE\xC1", "Анна", false},
        {"iso-8859-5", "\xB0\xDD\xDD\xD0", "Анна", false},
        {"windows-1252", "Caf\xE9 \x93quoted\x94 \x80", "Café “quoted” €", false},
        {"iso-8859-1", "Caf\xE9", "Café", false},
        {"latin1", "Caf\xE9", "Café", false},
        {"utf-8", "Caf\xC3\xA9", "Café", false},
        {"UTF-8", "\xEF\xBB\xBFhi", "hi", false},  // the mark is not text
        {"utf-8", "a\xFF", "a\xEF\xBF\xBD", true},
        // undefined in windows-1252
        {"windows-1252", "a\x81z", "a\xEF\xBF\xBDz", true},
        // UTF-16 with a byte order mark, each order, and without one
        {"UTF-16", std::string("\xFF\xFE\x10\x04\x3D\x04", 6), "Ан", false},
        {"utf-16", std::string("\xFE\xFF\x04\x10\x04\x3D", 6), "Ан", false},
        {"utf-16", std::string("<\0a\0", 4), "<a", false},
        {"utf-16", std::string("\0<\0a", 4), "<a", false},
        {"UTF-16LE", std::string("<\0a\0", 4), "<a", false},
        {"utf-16be", std::string("\0<\0a", 4), "<a", false},
        // a lone surrogate and an odd final byte
        {"utf-16le",
         std::string("a\0\x00\xD8"
                     "b\0",
                     6),
         "a\xEF\xBF\xBD"
         "b",
         true},
        {"utf-16le", std::string("a\0b", 3), "a\xEF\xBF\xBD", true},
    };
    for (const auto &c : cases) {
        std::string out = "untouched";
        bool replaced = !c.replaced;
        ASSERT_TRUE(eb_decode(c.bytes, c.label, &out, &replaced)) << c.label;
        EXPECT_EQ(out, c.utf8) << c.label << " " << testing::PrintToString(c.bytes);
        EXPECT_EQ(replaced, c.replaced) << c.label;
        EXPECT_TRUE(eb_utf8_valid(out));
    }
}

TEST(Decode, UnknownLabelsLeaveOutputAlone) {
    for (const char *label :
         {"", "no-such-encoding", "utf-8//TRANSLIT", "windows-1251//IGNORE", "x\"y", "../../etc"}) {
        std::string out = "untouched";
        EXPECT_FALSE(eb_decode("abc", label, &out, nullptr)) << label;
        EXPECT_EQ(out, "untouched") << label;
    }
}

TEST(Decode, ConcurrentCallsKeepTheirOwnState) {
    std::vector<std::thread> threads;
    std::vector<int> bad(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &bad] {
            const bool cyr = t % 2 == 0;
            for (int i = 0; i < 300; ++i) {
                std::string out;
                if (cyr)
                    eb_decode("\xC0\xED\xED\xE0", "windows-1251", &out, nullptr);
                else
                    eb_decode(std::string("\xFF\xFE<\0a\0", 6), "utf-16", &out, nullptr);
                if (out != (cyr ? "Анна" : "<a")) ++bad[t];
            }
        });
    }
    for (auto &th : threads)
        th.join();
    for (int b : bad)
        EXPECT_EQ(b, 0);
}

}  // namespace
