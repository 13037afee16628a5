// test_reader_source.cpp - the full record through a host's read callback: the same record as
// from memory, how many calls each format takes, and callbacks that fail, lie or change
// (threads: test_stress).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "book_builders.h"
#include "fb2_builder.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

namespace {

constexpr std::size_t KiB = 1024;

// A book behind a callback that counts what it is asked for and checks
// that it is never asked outside the book. mode bends its answers.
struct Host {
    enum Mode { honest, fail_at, fail_from, too_many, one_byte, changing };
    const std::string *book = nullptr;
    const std::string *other = nullptr;  // changing: every second call reads this one
    Mode mode = honest;
    int nth = 0;             // fail_at / fail_from: the call that fails (1-based)
    std::uint64_t size = 0;  // the size the library is given
    int calls = 0;
    std::uint64_t bytes = 0;
    bool outside = false;

    static long long read(void *ctx, unsigned long long off, void *buf, size_t len) {
        Host &h = *static_cast<Host *>(ctx);
        ++h.calls;
        const std::string &b = h.mode == changing && h.calls % 2 == 0 ? *h.other : *h.book;
        if (len == 0 || off >= h.size || len > h.size - off) h.outside = true;
        if ((h.mode == fail_at && h.calls == h.nth) || (h.mode == fail_from && h.calls >= h.nth))
            return -1;
        if (off >= b.size()) return 0;
        std::size_t n = std::min<std::size_t>(len, b.size() - off);
        if (h.mode == one_byte) n = 1;
        std::memcpy(buf, b.data() + off, n);
        h.bytes += n;
        return h.mode == too_many ? static_cast<long long>(len) + 1 : static_cast<long long>(n);
    }
};

std::string text_or_error(char *s) {
    std::string out = s ? s : "ERR:" + std::string(ebook_last_error());
    ebook_free_string(s);
    return out;
}

std::string through(Host &h, const char *name, std::uint64_t size) {
    h.size = size;
    return text_or_error(ebook_metadata_from_reader(Host::read, &h, size, name));
}

std::string epub_book(std::size_t padding) {
    qtest::EpubDesc desc;
    desc.cover = qtest::tiny_jpeg();
    if (padding)
        desc.members.push_back(
            qtest::zip_file("OEBPS/big.bin", qtest::incompressible(padding), false));
    return qtest::build_epub(desc);
}

std::string mobi_book(bool hybrid) {
    qtest::MobiDesc desc;
    desc.exth_records = {{100, "An Author"}};
    // The text lies between record 0 and the cover, as in a real book.
    desc.text = qtest::incompressible(150 * KiB);
    desc.images = {"\xFF\xD8\xFF" + qtest::incompressible(200 * KiB)};
    desc.cover_image = 0;
    if (hybrid) {
        // Record 4 is a KF8 part's record 0, named by EXTH 121.
        qtest::MobiDesc kf8;
        kf8.file_version = 8;
        kf8.mobi_type = 248;
        desc.images.push_back(qtest::incompressible(100 * KiB));
        desc.images.push_back(qtest::build_mobi_record0(kf8));
        desc.exth_records.push_back({121, std::string("\0\0\0\4", 4)});
    }
    return qtest::build_mobi(desc);
}

std::string fb2_book(std::size_t cover) {
    qtest::Fb2Desc desc;
    desc.cover_href = "#c.jpg";
    desc.binaries = {{"c.jpg", "image/jpeg", "\xFF\xD8\xFF" + qtest::incompressible(cover)}};
    return qtest::build_fb2(desc);
}

// A PDF whose objects lie at its end, behind padding as large as asked.
std::string pdf_book(std::size_t padding) {
    qtest::PdfDesc desc;
    desc.filler = padding;
    desc.info = {{"Title", qtest::pdf_literal("Far Away")}};
    desc.xmp =
        qtest::xmp_packet("<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>");
    return qtest::build_pdf(desc);
}

struct Case {
    const char *label;
    std::string book;
    const char *name;
    int max_calls;             // with the name
    int max_calls_by_content;  // without it
    std::uint64_t max_bytes;   // with the name
    bool reads_end;            // reads the book's last bytes (a ZIP, a whole text)
};

std::vector<Case> cases() {
    const std::string fb2 = fb2_book(100 * KiB);
    return {
        {"epub", epub_book(0), "b.epub", 3, 4, 100 * KiB, true},
        {"epub 30 MB", epub_book(30 * KiB * KiB), "b.epub", 3, 4, 100 * KiB, true},
        {"fb2", fb2, "b.fb2", 1, 2, fb2.size(), true},
        {"fb2.zip", qtest::build_zip({qtest::zip_file("b.fb2", fb2)}), "b.fb2.zip", 5, 5,
         100 * KiB + fb2.size(), true},
        {"mobi", mobi_book(false), "b.mobi", 2, 2, 32 * KiB, false},
        {"mobi hybrid", mobi_book(true), "b.azw3", 3, 3, 48 * KiB, false},
        {"pdf", pdf_book(0), "b.pdf", 1, 1, 16 * KiB, true},
        {"pdf 30 MB", pdf_book(30 * KiB * KiB), "b.pdf", 2, 2, 80 * KiB, true},
    };
}

// The record is the one the same bytes give from memory, with the name and
// by content; each format takes at most its calls and bytes.
TEST(ReaderSource, SameRecordAsMemoryInFewCalls) {
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.label);
        for (const char *name : {c.name, static_cast<const char *>(nullptr)}) {
            Host h;
            h.book = &c.book;
            const std::string want =
                text_or_error(ebook_metadata_from_memory(c.book.data(), c.book.size(), name));
            ASSERT_EQ(want.rfind("ERR:", 0), std::string::npos) << want;
            EXPECT_EQ(through(h, name, c.book.size()), want);
            EXPECT_FALSE(h.outside);
            EXPECT_LE(h.calls, name ? c.max_calls : c.max_calls_by_content)
                << (name ? "named" : "by content");
            if (name) {
                EXPECT_LE(h.bytes, c.max_bytes);
            }
        }
    }
}

// A callback that fails, answers too much, too little or with bytes that
// change: a failure naming the book, or a record, never a read outside.
TEST(ReaderSource, CallbacksThatFailOrLie) {
    struct Bent {
        Host::Mode mode;
        int nth;
        bool named;
        std::uint64_t extra_size;  // size given beyond the book's
        const char *want;          // the error before the name, or "" for a record
    };
    const Bent bents[] = {
        {Host::fail_at, 1, true, 0, "read failed: "},
        {Host::fail_at, 2, false, 0, "read failed: "},
        {Host::fail_from, 2, true, 0, "read failed: "},
        {Host::too_many, 0, true, 0, "read failed: "},
        // The book ends before the size given: only a reader that reads its
        // end can tell.
        {Host::honest, 0, true, 100, "short read: "},
        {Host::one_byte, 0, true, 0, ""},
    };
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.label);
        for (const Bent &b : bents) {
            SCOPED_TRACE(b.want);
            Host h;
            h.book = &c.book;
            h.mode = b.mode;
            h.nth = b.nth;
            const char *name = b.named ? c.name : nullptr;
            Host honest;
            honest.book = &c.book;
            through(honest, name, c.book.size());
            if (b.nth > honest.calls || (b.extra_size && !c.reads_end)) continue;
            const std::string got = through(h, name, c.book.size() + b.extra_size);
            if (*b.want == '\0') {
                EXPECT_EQ(got, text_or_error(
                                   ebook_metadata_from_memory(c.book.data(), c.book.size(), name)));
            } else {
                EXPECT_EQ(got, "ERR:" + std::string(b.want) + (name ? name : "<reader>"));
            }
            if (b.mode == Host::fail_at || b.mode == Host::fail_from) {
                EXPECT_EQ(h.calls, b.nth) << "asked again after a failure";
            }
            EXPECT_FALSE(h.outside);
        }
        // Every second call reads another book of the same size (garbage in
        // the sanitizer build would show as an error there).
        for (const char *name : {c.name, static_cast<const char *>(nullptr)}) {
            std::string other = c.book;
            for (std::size_t i = 0; i < other.size(); i += 7)
                other[i] = static_cast<char>(other[i] ^ 0x5A);
            Host h;
            h.book = &c.book;
            h.other = &other;
            h.mode = Host::changing;
            through(h, name, c.book.size());
            EXPECT_FALSE(h.outside);
        }
    }
    EXPECT_EQ(text_or_error(ebook_metadata_from_reader(nullptr, nullptr, 0, "b.epub")),
              "ERR:NULL read");
    Host empty;
    const std::string nothing;
    empty.book = &nothing;
    EXPECT_EQ(through(empty, nullptr, 0), "ERR:unsupported ebook format: <reader>");
    EXPECT_EQ(empty.calls, 0);
}

}  // namespace
