// test_base64.cpp - Base64 decoding as FB2 images need it: skipping, padding, partial groups.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fb2_builder.h"
#include "heap.h"
#include "text/base64.h"

using namespace std::literals;

namespace {

std::string decode(std::string_view in) {
    std::unique_ptr<char[]> block(new char[in.size()]);  // guarded: no slack
    std::memcpy(block.get(), in.data(), in.size());
    std::uint64_t n = 99;
    eb_unique<unsigned char> out(eb_b64_decode(block.get(), in.size(), &n));
    EXPECT_NE(out, nullptr);
    return std::string(reinterpret_cast<const char *>(out.get()), n);
}

}  // namespace

TEST(Base64, DecodesSkippingNonAlphabet) {
    struct Case {
        std::string_view in, out;
    } cases[] = {
        {"TWFu", "Man"},
        {"TW\nFu", "Man"},
        {"T W\r\nF\tu", "Man"},
        {"TWE=", "Ma"},
        {"TQ", "M"},
        {"TWFu=TWFu", "Man"},
        {"T", ""},
        {"", ""},
        {"-_!.\x80\xff", ""},
        {"/+/+", "\xff\xef\xfe"sv},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decode(c.in), c.out) << c.in;

    // Every remainder of the length, with and without padding and line breaks:
    // the output block is sized from the input alone.
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes += static_cast<char>(i * 37 + 11);
        std::string enc = qtest::base64_encode(bytes, 8);
        EXPECT_EQ(decode(enc), bytes) << i;
        EXPECT_EQ(decode(enc.substr(0, enc.find('='))), bytes) << i;
    }
}
