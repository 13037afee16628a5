// test_cursor.cpp - the bounds-checked cursor of binary records: byte orders, RAR 5 integers, and
// a failure that sticks.
#include <gtest/gtest.h>

#include <string>

#include "io/cursor.h"

namespace {

TEST(Cursor, FieldsInBothByteOrders) {
    const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    eb_cursor le(bytes);
    EXPECT_EQ(le.le16(), 0x0201u);
    EXPECT_EQ(le.le32(), 0x06050403u);
    EXPECT_EQ(le.left(), 2u);
    EXPECT_EQ(eb_cursor(bytes).le64(), 0x0807060504030201ull);
    eb_cursor be(bytes);
    EXPECT_EQ(be.be16(), 0x0102u);
    EXPECT_EQ(be.be32(), 0x03040506u);
    EXPECT_EQ(be.text(2), "\x07\x08");
    EXPECT_TRUE(be.ok());
}

TEST(Cursor, RarIntegers) {
    const struct {
        std::string bytes;
        std::uint64_t value;
        bool ok;
    } cases[] = {
        {std::string("\x00", 1), 0, true},
        {"\x7F", 127, true},
        {"\x80\x01", 128, true},
        {"\xFF\xFF\x03", 0xFFFF, true},
        {"\x80", 0, false},                              // cut short
        {std::string(10, '\x80') + "\x01", 0, false},    // more than ten bytes
        {std::string(9, '\xFF') + "\x01", ~0ull, true},  // the tenth byte ends it
    };
    for (const auto &c : cases) {
        eb_cursor cur(c.bytes);
        EXPECT_EQ(cur.vint(), c.value) << testing::PrintToString(c.bytes);
        EXPECT_EQ(cur.ok(), c.ok) << testing::PrintToString(c.bytes);
    }
}

// A field past the end fails the record for good: later fields that would
// fit read as zero, so one check after the last field judges them all.
TEST(Cursor, FailureSticks) {
    const std::string bytes("\x01\x02\x03", 3);
    eb_cursor c(bytes);
    EXPECT_EQ(c.le32(), 0u);
    EXPECT_FALSE(c.ok());
    EXPECT_EQ(c.le16(), 0u);
    EXPECT_EQ(c.take(0), nullptr);
    EXPECT_EQ(c.vint(), 0u);
    EXPECT_EQ(c.pos(), 0u);
    EXPECT_EQ(eb_cursor(nullptr, 5).left(), 0u);
}

}  // namespace
