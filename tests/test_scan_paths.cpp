// test_scan_paths.cpp - the word- and vector-wide text paths against plain byte-by-byte readings.
#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "formats/fb2/fb2_text.h"
#include "full_record.h"
#include "text/encoding.h"

namespace {

// glibc's own conversion, unknown bytes as U+FFFD: what the decoder matches.
std::string by_iconv(const std::string &bytes, const char *name) {
    iconv_t cd = iconv_open("UTF-8", name);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << name;
    std::string out;
    for (char c : bytes) {
        char in[1] = {c}, buf[8];
        char *ip = in, *op = buf;
        std::size_t il = 1, ol = sizeof buf;
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1))
            out += "\xEF\xBF\xBD";
        else
            out.append(buf, static_cast<std::size_t>(op - buf));
    }
    iconv_close(cd);
    return out;
}

TEST(ScanPaths, SingleByteCodePagesMatchIconv) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    std::string ascii = all.substr(0, 127);
    for (const char *label : {"windows-1252", "cp1252", "win-1252"}) {
        std::string out;
        bool replaced = false;
        ASSERT_TRUE(eb_decode(all, label, &out, &replaced));
        EXPECT_EQ(out, by_iconv(all, "WINDOWS-1252")) << label;
        EXPECT_TRUE(replaced);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D are undefined
    }
    for (const char *label : {"windows-1250", "windows-1251", "windows-1258", "cp1251",
                              "iso-8859-5", "iso-8859-16", "koi8-r", "koi8-u", "latin1"}) {
        std::string out;
        ASSERT_TRUE(eb_decode(ascii, label, &out, nullptr)) << label;
        EXPECT_EQ(out, ascii) << label;
        ASSERT_TRUE(eb_decode(all, label, &out, nullptr)) << label;
        EXPECT_TRUE(eb_utf8_valid(out)) << label;
    }
    std::string out = "untouched";
    EXPECT_FALSE(eb_decode("abc", "iso-8859-12", &out, nullptr));  // no such code page
    EXPECT_EQ(out, "untouched");
}

// The byte-at-a-time reading the fast paths must agree with.
std::string repair_slowly(const std::string &s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = 1;
        while (n <= 4 && i + n <= s.size() && !eb_utf8_valid(s.substr(i, n)))
            ++n;
        if (n > 4 || i + n > s.size()) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out += s.substr(i, n);
            i += n;
        }
    }
    return out;
}

TEST(ScanPaths, RepairAgreesWithByteReadingAcrossWordEdges) {
    std::mt19937 rng(5);
    const std::vector<std::string> pieces = {
        "plain words ", "\xD0\x90", "\xE2\x82\xAC", "\xF0\x9F\x93\x96",
        "\xFF",         "\xC3",     "\x80",         "\xED\xA0\x80"};
    for (int round = 0; round < 300; ++round) {
        std::string s;
        for (int k = static_cast<int>(rng() % 12); k > 0; --k)
            s += pieces[rng() % pieces.size()];
        bool replaced = false;
        const std::string got = eb_utf8_repair(s, &replaced);
        EXPECT_EQ(got, repair_slowly(s)) << testing::PrintToString(s);
        EXPECT_EQ(replaced, got != s);
        EXPECT_EQ(eb_utf8_valid(s), got == s);
    }
}

TEST(ScanPaths, FindAgreesWithStringFind) {
    std::mt19937 rng(9);
    for (int round = 0; round < 200; ++round) {
        std::string hay(rng() % 300, 'x');
        for (char &c : hay)
            c = "binary<:xy"[rng() % 10];
        const std::string needle = round % 3 ? "binary" : "<b";
        const std::size_t from = rng() % (hay.size() + 2);
        EXPECT_EQ(fb2_find(hay, needle, from), std::string_view(hay).find(needle, from));
    }
}

TEST(ScanPaths, ProtectionMarkersAnywhereBeforeTheFirstNul) {
    const std::string filler(200, 'A');
    for (const std::string marker : {"<encrypted", "FictionBookEncryption"}) {
        for (std::size_t at = 0; at < 150; at += 7) {
            std::string doc = filler;
            doc.insert(at, marker);
            EXPECT_TRUE(fb2_marked_encrypted(doc)) << marker << " at " << at;
            std::string cut = doc;
            cut[at + marker.size() / 2] = '\0';  // a NUL inside the marker
            EXPECT_FALSE(fb2_marked_encrypted(cut)) << marker << " at " << at;
            cut = doc;
            cut[at + marker.size()] = '\0';  // right after it
            EXPECT_TRUE(fb2_marked_encrypted(cut)) << marker << " at " << at;
            std::string short_doc = doc.substr(0, at + marker.size() - 1);  // cut short
            EXPECT_FALSE(fb2_marked_encrypted(short_doc)) << marker << " at " << at;
        }
    }
    EXPECT_FALSE(fb2_marked_encrypted(filler + "encrypted crypt yp Encryption"));
}

// Long texts, where whole blocks are passed over before a hit: every offset
// around the block edges, a NUL before or after the marker.
TEST(ScanPaths, LongTextsAgreeWithStringSearches) {
    const std::string filler(1200, 'Q');
    for (std::size_t at = 900; at < 1100; ++at) {
        std::string hay = filler;
        hay.replace(at, 6, "binary");
        for (const std::size_t from : {std::size_t{0}, std::size_t{1}, at, at + 1})
            EXPECT_EQ(fb2_find(hay, "binary", from), std::string_view(hay).find("binary", from))
                << at << " from " << from;
        for (const std::string marker : {"<encrypted", "FictionBookEncryption"}) {
            std::string doc = filler;
            doc.replace(at - 30, marker.size(), marker);
            EXPECT_TRUE(fb2_marked_encrypted(doc)) << marker << " at " << at;
            std::string cut = doc;
            cut[at - 31] = '\0';
            EXPECT_FALSE(fb2_marked_encrypted(cut)) << marker << " at " << at;
            cut = doc;
            cut[at + 40] = '\0';
            EXPECT_TRUE(fb2_marked_encrypted(cut)) << marker << " at " << at;
        }
    }
}

// Near misses in every block (the pair a scan looks for, not the word): the
// fast scan goes on past each and finds what a plain search does.
TEST(ScanPaths, NearMissesInEveryBlock) {
    std::string filler(6000, 'Q');
    for (std::size_t k = 0; k + 6 < filler.size(); k += 37)
        filler.replace(k, 6, k % 2 ? "bQQQQy" : "QQypQQ");
    EXPECT_FALSE(fb2_marked_encrypted(filler));
    for (std::size_t at = 4000; at < 4140; at += 9) {
        std::string hay = filler;
        hay.replace(at, 6, "binary");
        EXPECT_EQ(fb2_find(hay, "binary", 1), at);
        hay.replace(at + 20, 10, "<encrypted");
        EXPECT_TRUE(fb2_marked_encrypted(hay)) << at;
        hay[at - 1000] = '\0';  // the marker after a NUL does not count
        EXPECT_FALSE(fb2_marked_encrypted(hay)) << at;
    }
}

// The cover's size: six bits per alphabet character before '=' or '<'.
TEST(ScanPaths, CoverSizeCountsAlphabetCharactersOnly) {
    std::mt19937 rng(3);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string foreign = "\n\r \t.-_@[`{:;\x80\xC3\xFF";
    for (int round = 0; round < 200; ++round) {
        std::string body;
        std::uint64_t chars = 0;
        // Some long enough for the per-byte counters to be carried many times.
        const std::size_t len = round % 10 == 0 ? 20000 + rng() % 3000 : rng() % 600;
        for (std::size_t n = len; n > 0; --n) {
            if (rng() % 5 == 0) {
                body += foreign[rng() % foreign.size()];
            } else {
                body += alphabet[rng() % alphabet.size()];
                ++chars;
            }
        }
        const std::string tail = round % 2 ? "==AAAA</binary>" : "</binary>AAAA";
        const std::string doc = "<FictionBook><binary id=\"c\" content-type=\"image/png\">" + body +
                                tail + "</FictionBook>";
        eb_record r;
        fb2_cover(doc, "", "#c", r);
        if (chars * 6 / 8 == 0) {
            EXPECT_FALSE(r.cover.has_value());
            continue;
        }
        ASSERT_TRUE(r.cover.has_value()) << round;
        EXPECT_EQ(r.cover->size, chars * 6 / 8) << round;
        EXPECT_EQ(r.cover->mime, "image/png");
    }
}

}  // namespace
