// test_write_corpus.cpp - the writers over the real books (../shared/corpus): MOBI, AZW3 and PDF
// written from the opened file, read back, checked by qpdf, undone; skipped when the corpus is
// absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "book_builders.h"
#include "ops/write/pdf_undo.h"
#include "temp_dir.h"
#include "write_harness.h"

namespace {

using namespace qwrite;

// Every real book that is not protected: the new values read back, the
// records other than record 0, a KF8 record 0 and the cover byte for byte.
TEST(MobiWriteCorpus, RealBooksReadBackWithTheirRecordsKept) {
    const std::filesystem::path dir = std::string(QEM_CORPUS_DIR) + "/mobi";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "corpus absent: " << dir;
    int written = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(e.path().string());
        const std::string book = qtest::read_file(e.path().string());
        const eb_record before = read_mobi(book);
        if (before.drm || before.format == "palmdoc" || before.format.empty()) continue;
        int rc = 0;
        const std::string out =
            run(eb_write_mobi, book, with([](eb_changes &c) {
                    c.title = to<std::string>("Written Title");
                    c.authors = to<std::vector<eb_person>>({{"W. Riter", "", "aut"}});
                    c.subjects = to<std::vector<std::string>>({"One", "Two"});
                }),
                &rc, e.path().c_str());
        ASSERT_EQ(rc, 0) << ebook_last_error();
        const eb_record r = read_mobi(out);
        EXPECT_EQ(r.title, "Written Title");
        ASSERT_EQ(r.authors.size(), 1u);
        EXPECT_EQ(r.authors[0].name, "W. Riter");
        EXPECT_EQ(r.subjects, (std::vector<std::string>{"One", "Two"}));
        EXPECT_EQ(r.language, before.language);
        EXPECT_EQ(r.version, before.version);
        EXPECT_EQ(r.identifiers.size(), before.identifiers.size());
        const std::vector<std::string> a = records(book), b = records(out);
        ASSERT_EQ(a.size(), b.size());
        int changed = 0;
        for (std::size_t i = 1; i < a.size(); ++i)
            changed += a[i] != b[i];
        EXPECT_LE(changed, 1) << "at most the KF8 record 0";
        ++written;
    }
    EXPECT_GE(written, 8);
}

// The real PDFs: each one that is neither encrypted nor damaged is written,
// stays as clean as qpdf found it, reads back, and is undone exactly.
TEST(PdfWriteCorpus, RealPdfsWrittenCheckedAndUndone) {
    const std::filesystem::path dir = std::string(QEM_CORPUS_DIR) + "/pdf";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "corpus absent: " << dir;
    qtest::TempDir tmp("pdf-corpus");
    const bool qpdf = have_tool("qpdf --version >/dev/null 2>&1");
    int written = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(e.path().string());
        const std::string old = qtest::read_file(e.path().string());
        const eb_record before = read_pdf(old);
        int rc = 0;
        const std::string out = run(eb_write_pdf, old, kAll, &rc, e.path().c_str());
        auto warned = [&](const char *what) {
            return std::any_of(
                before.warnings.begin(), before.warnings.end(),
                [&](const std::string &w) { return w.find(what) != std::string::npos; });
        };
        // Encrypted files, and files qpdf could read only by rebuilding their
        // cross-reference, are refused.
        if (before.drm || warned("PDF encrypted") || warned("damaged")) {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(out, "");
            continue;
        }
        if (rc != 0) {
            ADD_FAILURE() << "not written: " << ebook_last_error();
            continue;
        }
        expect_all(read_pdf(out));
        EXPECT_EQ(out.compare(0, old.size(), old), 0);
        if (qpdf && qpdf_check(e.path().string()) == 0) {
            EXPECT_EQ(qpdf_check(tmp.put("w.pdf", out)), 0);
        }
        EXPECT_EQ(run(eb_undo_pdf_update, out, {}, &rc), old);
        ++written;
    }
    EXPECT_GE(written, 4);
}

}  // namespace
