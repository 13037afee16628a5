// Real books made by publishing tools and people (QEM_CORPUS_DIR): every
// book is described and its cover extracted, and the results are compared
// with what the books themselves state (expected.json), except where the
// library's reading rules give another answer; those cases are listed below.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "book_builders.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

const std::string kCorpus = QEM_CORPUS_DIR;

// A field whose value must differ from expected.json, and why. The fields are
// the book object's members ("title", "author", "language", "series",
// "series_index", "has_cover", "drm"); "described" is whether ebook_info
// succeeds at all, "cover" the extracted cover's length in bytes ("" for none).
struct Difference {
    const char *book;
    const char *field;
    const char *value;
    const char *why;
};

// clang-format off
const Difference kDifferences[] = {
    // A protected book is reported as such and nothing more is read from it.
    // These EPUBs hold a member named encryption.xml (listing only obfuscated
    // fonts), and the name alone marks the book: the package document is
    // never opened, so title, author, language, series and cover stay empty.
    {"epub/idpf-wasteland-woff-obf.epub", "title", "", "DRM: encryption.xml"},
    {"epub/idpf-wasteland-woff-obf.epub", "author", "", "DRM: encryption.xml"},
    {"epub/idpf-wasteland-woff-obf.epub", "language", "", "DRM: encryption.xml"},
    {"epub/idpf-wasteland-woff-obf.epub", "has_cover", "false", "DRM: encryption.xml"},
    {"epub/pandoc-epub2-cover.epub", "title", "", "DRM: encryption.xml"},
    {"epub/pandoc-epub2-cover.epub", "author", "", "DRM: encryption.xml"},
    {"epub/pandoc-epub2-cover.epub", "language", "", "DRM: encryption.xml"},
    {"epub/pandoc-epub2-cover.epub", "has_cover", "false", "DRM: encryption.xml"},
    {"epub/w3c-ocf-font-obfuscation.epub", "title", "", "DRM: encryption.xml"},
    {"epub/w3c-ocf-font-obfuscation.epub", "author", "", "DRM: encryption.xml"},
    {"epub/w3c-ocf-font-obfuscation.epub", "language", "", "DRM: encryption.xml"},
    {"epub/w3c-ocf-font-obfuscation.epub", "series", "", "DRM: encryption.xml"},
    // A MOBI with a non-zero encryption type stops there, before the PalmDB
    // name, the full name, the EXTH block and the cover record are read.
    {"mobi/libmobi-sample-drm-v1.mobi", "title", "", "DRM: encryption type 1"},
    {"mobi/libmobi-sample-drm-v2.mobi", "title", "", "DRM: encryption type 2"},
    {"mobi/libmobi-sample-drm-v2.mobi", "author", "", "DRM: encryption type 2"},
    {"mobi/libmobi-sample-drm-v2.mobi", "has_cover", "false", "DRM: encryption type 2"},
    // A plain ZIP without META-INF/container.xml is no EPUB: ebook_info fails
    // with "missing META-INF/container.xml".
    {"epub/komga-zip-as-epub.epub", "described", "false", "no container.xml"},
    // No cover is named by a meta or by cover-image properties; the last
    // resort takes the first image item of the manifest (img/001.gif).
    {"epub/w3c-pub-cmt-gif.epub", "has_cover", "true", "first image item"},
    {"epub/w3c-pub-cmt-gif.epub", "cover", "133751", "first image item"},
    // A windows-1251 document: texts are copied as the book stores them,
    // never transcoded (expected.json holds them decoded to UTF-8).
    {"fb2/fbreaderj-image.fb2", "title",
     "\xC0\xED\xED\xE0 \xCA\xE0\xF0\xE5\xED\xE8\xED\xE0", "windows-1251 bytes"},
    {"fb2/fbreaderj-image.fb2", "author",
     "\xCB\xE5\xE2 \xCD\xE8\xEA\xEE\xEB\xE0\xE5\xE2\xE8\xF7 "
     "\xD2\xEE\xEB\xF1\xF2\xEE\xE9", "windows-1251 bytes"},
};
// clang-format on

// ---- SHA-256, to compare extracted covers with the recorded digests ---------

std::string sha256_hex(const std::string &msg) {
    static const std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    std::string m = msg;
    const std::uint64_t bits = static_cast<std::uint64_t>(msg.size()) * 8;
    m += '\x80';
    while (m.size() % 64 != 56)
        m += '\0';
    for (int i = 7; i >= 0; --i)
        m += static_cast<char>(bits >> (8 * i));
    for (std::size_t off = 0; off < m.size(); off += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = static_cast<std::uint32_t>(static_cast<unsigned char>(m[off + 4 * i])) << 24 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(m[off + 4 * i + 1]))
                       << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(m[off + 4 * i + 2])) << 8 |
                   static_cast<unsigned char>(m[off + 4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a[8];
        std::memcpy(a, h, sizeof a);
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 = a[7] + (rotr(a[4], 6) ^ rotr(a[4], 11) ^ rotr(a[4], 25)) +
                               ((a[4] & a[5]) ^ (~a[4] & a[6])) + k[i] + w[i];
            std::uint32_t t2 = (rotr(a[0], 2) ^ rotr(a[0], 13) ^ rotr(a[0], 22)) +
                               ((a[0] & a[1]) ^ (a[0] & a[2]) ^ (a[1] & a[2]));
            std::memmove(a + 1, a, 7 * sizeof *a);
            a[4] += t1;
            a[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i)
            h[i] += a[i];
    }
    char hex[65];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return hex;
}

// ---- reading the JSON on both sides -----------------------------------------

struct DocFree {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
};
using Doc = std::unique_ptr<yyjson_doc, DocFree>;

// A member as the comparison sees it: strings as they are, booleans as
// "true"/"false", null and absent as "".
std::string field(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (yyjson_is_str(v)) return std::string(yyjson_get_str(v), yyjson_get_len(v));
    if (yyjson_is_bool(v)) return yyjson_get_bool(v) ? "true" : "false";
    if (yyjson_is_num(v)) return std::to_string(yyjson_get_num(v));
    return "";
}

const Difference *difference(const std::string &book, const std::string &key) {
    for (const Difference &d : kDifferences)
        if (book == d.book && key == d.field) return &d;
    return nullptr;
}

TEST(Corpus, EveryBookAsItsReadingRulesSay) {
    const std::string manifest = kCorpus + "/expected.json";
    if (!std::filesystem::exists(manifest))
        GTEST_SKIP() << "skipped: no corpus (" << manifest << " not found)";
    const std::string text = qtest::read_file(manifest);
    Doc doc(yyjson_read(text.data(), text.size(), 0));
    ASSERT_TRUE(doc) << "expected.json does not parse";
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    ASSERT_TRUE(yyjson_is_obj(root));

    const qtest::TempDir out_dir("corpus");
    const std::string out = out_dir.path + "/cover";
    std::map<std::string, int> used;
    std::size_t books = 0;
    std::size_t i, n;
    yyjson_val *key, *want;
    yyjson_obj_foreach(root, i, n, key, want) {
        const std::string book = yyjson_get_str(key);
        const std::string path = kCorpus + "/" + book;
        ++books;

        // What the library makes of the book, and of its cover.
        std::map<std::string, std::string> got;
        char *info = ebook_info(path.c_str());
        const bool described = info != nullptr;
        got["described"] = described ? "true" : "false";
        std::string error = ebook_last_error();
        if (info) {
            Doc obj(yyjson_read(info, std::strlen(info), YYJSON_READ_ALLOW_INVALID_UNICODE));
            ASSERT_TRUE(obj);
            for (const char *k :
                 {"title", "author", "language", "series", "series_index", "has_cover", "drm"})
                got[k] = field(yyjson_doc_get_root(obj.get()), k);
        }
        ebook_free_string(info);
        std::remove(out.c_str());
        std::string cover;
        if (ebook_extract_cover(path.c_str(), out.c_str()) == 0) cover = qtest::read_file(out);
        got["cover"] = cover.empty() ? "" : std::to_string(cover.size());

        // What the book states.
        yyjson_val *c = yyjson_obj_get(want, "cover");
        std::map<std::string, std::string> stated;
        stated["described"] = "true";
        for (const char *k : {"title", "author", "language", "series", "series_index", "drm"})
            if (yyjson_obj_get(want, k)) stated[k] = field(want, k);
        if (yyjson_obj_get(c, "named")) stated["has_cover"] = field(c, "named");
        // The cover's bytes are extracted unless the book is protected.
        const bool named = field(c, "named") == "true";
        const bool drm = field(want, "drm") == "true";
        stated["cover"] =
            named && !drm ? std::to_string(yyjson_get_uint(yyjson_obj_get(c, "len"))) : "";

        for (const auto &[k, stated_value] : stated) {
            // A book that is not described has no fields to compare.
            if (!described && k != "described" && k != "cover") continue;
            std::string expect = stated_value;
            const Difference *d = difference(book, k);
            if (d) {
                EXPECT_NE(d->value, stated_value) << book << " " << k << ": no difference";
                expect = d->value;
                ++used[book + "/" + k];
            }
            if (got[k] != expect)
                ADD_FAILURE() << book << " " << k << ": library gives \"" << got[k]
                              << "\", wanted \"" << expect << "\"" << (d ? " (" : "")
                              << (d ? d->why : "") << (d ? ")" : "") << "; error text \"" << error
                              << "\"";
        }
        // Where the cover was extracted, it is the recorded member or record,
        // byte for byte.
        if (!cover.empty() && yyjson_obj_get(c, "sha256") && !difference(book, "cover")) {
            EXPECT_EQ(sha256_hex(cover), field(c, "sha256")) << book;
        }
    }
    EXPECT_GT(books, 0u);
    for (const Difference &d : kDifferences) {
        if (*d.book) {
            EXPECT_EQ(used[std::string(d.book) + "/" + d.field], 1)
                << d.book << " " << d.field << ": no such book or field";
        }
    }
}

}  // namespace
