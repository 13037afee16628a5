// Eight threads calling every operation at once on good, damaged and
// DRM-protected books of every family: every thread must get exactly what a
// lone caller gets, results and error text alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "book_builders.h"
#include "comic_builder.h"
#include "fb2_builder.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

// libzip turns each member's DOS time into a time_t with mktime, whose time
// zone refresh glibc guards with a lock of its own that ThreadSanitizer
// cannot see; the refresh then looks like a race between two readers.
extern "C" const char *__tsan_default_suppressions() {
    return "race:tzset_internal\n";
}

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 12;

struct Shelf {
    std::string dir;     // the books; also the scanned directory
    std::string outdir;  // cover files, one per thread
    std::vector<std::string> books;
};

Shelf make_shelf() {
    Shelf s{qtest::make_temp_dir("stress-books"), qtest::make_temp_dir("stress-out"), {}};
    auto put = [&s](const std::string &name, const std::string &bytes) {
        qtest::write_file(s.dir + "/" + name, bytes);
        s.books.push_back(s.dir + "/" + name);
    };
    qtest::EpubDesc epub;
    epub.title = "Quiet Sea";
    epub.calibre_series = "Sea";
    epub.calibre_index = "1";
    epub.cover = qtest::tiny_jpeg();
    put("sea.epub", qtest::build_epub(epub));
    qtest::EpubDesc locked;
    locked.encryption = true;
    put("locked.epub", qtest::build_epub(locked));
    put("broken.epub", "PK\x03\x04 but no archive at all");

    qtest::Fb2Desc fb2;
    fb2.series = "Harbour";
    fb2.series_number = "3";
    fb2.cover_href = "#c.png";
    fb2.binaries = {{"c.png", "image/png", qtest::tiny_png()}};
    put("tales.fb2", qtest::build_fb2(fb2));
    qtest::Fb2Desc sealed;
    sealed.body = "<encrypted/>";
    put("sealed.fb2", qtest::build_fb2(sealed));
    put("empty.fb2", "");

    qtest::MobiDesc mobi;
    mobi.exth_records = {{100, "Kim Ray"}, {524, "de"}, {113, "B000STRESS"}};
    mobi.images = {qtest::tiny_jpeg()};
    mobi.cover_image = 0;
    put("deep.mobi", qtest::build_mobi(mobi));
    mobi.mobi_type = 248;
    put("deep.azw3", qtest::build_mobi(mobi));
    qtest::MobiDesc drm;
    drm.encryption = 2;
    put("drm.azw", qtest::build_mobi(drm));
    qtest::MobiDesc palmdoc;
    palmdoc.mobi_header = false;
    put("palmdoc.mobi", qtest::build_mobi(palmdoc));
    put("short.mobi", std::string(40, 'x'));
    // Comics: libarchive and its per-thread locale under every thread at once.
    qtest::ComicDesc comic;
    comic.members = {{"ComicInfo.xml", qtest::comic_info({{"Title", "Night"}, {"Writer", "A, B"}})},
                     {"p10.png", qtest::tiny_png()},
                     {"p2.jpg", qtest::tiny_jpeg()}};
    put("issue.cbz", qtest::build_comic(qtest::ComicKind::Zip, comic));
    put("issue.cbr", qtest::build_comic(qtest::ComicKind::Rar4, comic));
    put("issue.cbt", qtest::build_comic(qtest::ComicKind::Tar, comic));
    if (qtest::have_7z()) put("issue.cb7", qtest::build_comic(qtest::ComicKind::SevenZip, comic));
    comic.members[2].encrypted = true;
    put("locked.cbr", qtest::build_comic(qtest::ComicKind::Rar5, comic));

    // PDFs through libqpdf: one QPDF object and logger per call.
    qtest::PdfDesc pdf;
    pdf.info = {{"Title", qtest::pdf_utf16("Tide Tables")},
                {"Author", qtest::pdf_literal("Kim Ray")}};
    pdf.xmp =
        qtest::xmp_packet("<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>");
    pdf.xmp_flate = true;
    pdf.object_stream = true;
    put("tides.pdf", qtest::build_pdf(pdf));
    put("open.pdf", qtest::encrypt_pdf(qtest::build_pdf(pdf), "", "owner", 6, true));
    put("locked.pdf", qtest::encrypt_pdf(qtest::build_pdf(pdf), "user", "owner", 4, true));
    qtest::PdfDesc damaged = pdf;
    damaged.object_stream = false;
    damaged.damaged_xref = true;
    put("damaged.pdf", qtest::build_pdf(damaged));
    put("broken.pdf", "%PDF-1.7 and nothing else");
    s.books.push_back(s.dir + "/missing.epub");  // never written
    return s;
}

enum class Op { Info, Metadata, Reader, Cover, Scan, Plan };

struct Call {
    Op op;
    std::string arg;  // book path, directory, or the plan request
};

struct Outcome {
    bool ok = false;
    std::string text;  // returned JSON, or the cover file's bytes
    std::string error;
    bool operator==(const Outcome &) const = default;
};

// A book's bytes behind the read callback, in pieces of at most 5000 bytes.
long long read_bytes(void *ctx, unsigned long long off, void *buf, size_t len) {
    const std::string &b = *static_cast<const std::string *>(ctx);
    if (off >= b.size()) return 0;
    const std::size_t n = std::min<std::size_t>({len, b.size() - off, 5000});
    std::memcpy(buf, b.data() + off, n);
    return static_cast<long long>(n);
}

Outcome run(const Call &c, const std::string &cover_out) {
    Outcome o;
    char *text = nullptr;
    switch (c.op) {
        case Op::Info:
            text = ebook_info(c.arg.c_str());
            break;
        case Op::Metadata:
            text = ebook_metadata(c.arg.c_str());
            break;
        case Op::Reader: {
            std::string bytes;
            try {
                bytes = qtest::read_file(c.arg);
            } catch (const std::exception &) {
            }
            text = ebook_metadata_from_reader(read_bytes, &bytes, bytes.size(), c.arg.c_str());
            break;
        }
        case Op::Scan:
            text = ebook_scan_dir(c.arg.c_str());
            break;
        case Op::Plan:
            text = ebook_rename_plan(c.arg.c_str(), "{author} - {title}");
            break;
        case Op::Cover:
            o.ok = ebook_extract_cover(c.arg.c_str(), cover_out.c_str()) == 0;
            o.error = ebook_last_error();
            if (o.ok) o.text = qtest::read_file(cover_out);
            return o;
    }
    o.error = ebook_last_error();  // before anything else can touch it
    o.ok = text != nullptr;
    if (text) o.text = text;
    ebook_free_string(text);
    return o;
}

std::vector<Call> calls_for(const Shelf &s) {
    std::vector<Call> calls;
    std::string request = "[";
    for (const std::string &b : s.books) {
        calls.push_back({Op::Info, b});
        calls.push_back({Op::Metadata, b});
        calls.push_back({Op::Reader, b});
        calls.push_back({Op::Cover, b});
        request += "\"" + b + "\",";
    }
    request += R"({"title":"Made Up","author":"Host"}])";
    calls.push_back({Op::Scan, s.dir});
    calls.push_back({Op::Plan, request});
    calls.push_back({Op::Plan, "[1,"});
    calls.push_back({Op::Scan, s.dir + "/missing-dir"});
    return calls;
}

TEST(Stress, ThreadsGetWhatALoneCallerGets) {
    const Shelf shelf = make_shelf();
    const std::vector<Call> calls = calls_for(shelf);

    // The reference: every call once, on this thread alone.
    std::vector<Outcome> want;
    for (const Call &c : calls)
        want.push_back(run(c, shelf.outdir + "/reference"));

    // The reference itself must be sound, or agreement proves nothing.
    auto info = [&](const std::string &name) {
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i].op == Op::Info && calls[i].arg == shelf.dir + "/" + name) return want[i];
        return Outcome{};
    };
    EXPECT_TRUE(info("sea.epub").ok && info("sea.epub").error.empty());
    EXPECT_NE(info("tales.fb2").text.find("\"series\":\"Harbour\""), std::string::npos);
    EXPECT_NE(info("deep.azw3").text.find("\"format\":\"azw3\""), std::string::npos);
    for (const char *drm : {"locked.epub", "sealed.fb2", "drm.azw"}) {
        EXPECT_NE(info(drm).text.find("\"drm\":true"), std::string::npos) << drm;
        EXPECT_NE(info(drm).error.find("; will not decrypt"), std::string::npos) << drm;
    }
    EXPECT_FALSE(info("missing.epub").ok);
    EXPECT_EQ(info("missing.epub").error.rfind("cannot open file: ", 0), 0u);
    EXPECT_FALSE(info("short.mobi").ok);
    EXPECT_FALSE(info("broken.epub").ok);
    auto metadata = [&](const std::string &name) {
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i].op == Op::Metadata && calls[i].arg == shelf.dir + "/" + name)
                return want[i];
        return Outcome{};
    };
    for (const char *pdf : {"tides.pdf", "open.pdf", "damaged.pdf"})
        EXPECT_NE(metadata(pdf).text.find("\"title\":\"Tide Tables\""), std::string::npos) << pdf;
    EXPECT_NE(metadata("locked.pdf").text.find("\"drm_scheme\":\"pdf-password\""),
              std::string::npos);
    EXPECT_EQ(metadata("broken.pdf").error.rfind("not a valid PDF: ", 0), 0u);

    // Each thread walks the calls from its own starting point, so that at any
    // moment the threads are in different operations on different books, and
    // between two calls asks for a missing file whose name is its own: the
    // message must name that file and no other thread's.
    std::vector<std::vector<std::string>> faults(kThreads);
    std::vector<int> made(kThreads, 0);
    std::latch start(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
            const std::string out = shelf.outdir + "/cover-" + std::to_string(t);
            auto fault = [&](const std::string &what) {
                if (faults[t].size() < 10) faults[t].push_back(what);
            };
            start.arrive_and_wait();
            for (int r = 0; r < kRounds; ++r) {
                for (std::size_t k = 0; k < calls.size(); ++k) {
                    const std::size_t i = (k + 5 * t + r) % calls.size();
                    Outcome got = run(calls[i], out);
                    ++made[t];
                    if (!(got == want[i]))
                        fault("call " + std::to_string(i) + " on " + calls[i].arg.substr(0, 80) +
                              ": error \"" + got.error + "\", wanted \"" + want[i].error + "\"");
                    if (k % 8 == 0) {
                        const std::string own = shelf.dir + "/gone-" + std::to_string(t) + "-" +
                                                std::to_string(r) + ".fb2";
                        char *none = ebook_info(own.c_str());
                        const std::string err = ebook_last_error();
                        ++made[t];
                        if (none || err.rfind("cannot open file: " + own + " (", 0) != 0)
                            fault("own error text: \"" + err + "\"");
                        ebook_free_string(none);
                    }
                }
            }
        });
    }
    for (std::thread &th : pool)
        th.join();

    int total = 0;
    for (int t = 0; t < kThreads; ++t) {
        total += made[t];
        for (const std::string &f : faults[t])
            ADD_FAILURE() << "thread " << t << ": " << f;
    }
    EXPECT_GE(total, 2000);
    qtest::remove_tree(shelf.dir);
    qtest::remove_tree(shelf.outdir);
}

}  // namespace

// Four threads writing one book, another four reading it all the while:
// the writers take turns, every reader sees a whole book, old or new.
TEST(Stress, WritersTakeTurnsReadersSeeWholeBooks) {
    const std::string dir = qtest::make_temp_dir("stress-write");
    const std::string book = dir + "/b.epub";
    qtest::write_file(book, qtest::build_epub(qtest::EpubDesc{}));
    std::vector<std::string> failures(kThreads);
    std::latch go(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            go.arrive_and_wait();
            for (int r = 0; r < 4; ++r) {
                char *out =
                    t % 2 ? ebook_metadata(book.c_str())
                          : ebook_write_metadata(
                                book.c_str(),
                                ("{\"title\":\"T" + std::to_string(t * 10 + r) + "\"}").c_str(), 0);
                if (!out) failures[t] = ebook_last_error();
                ebook_free_string(out);
            }
        });
    for (std::thread &th : threads)
        th.join();
    for (const std::string &f : failures)
        EXPECT_EQ(f, "");
    qtest::remove_tree(dir);
}
