// The book source as libqpdf's input: it behaves as qpdf's own buffer input under any sequence of
// calls, over a file and over memory, and a large PDF is read by a few small ranges.
#include <gtest/gtest.h>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "formats/pdf/pdf_source.h"
#include "pdf_builder.h"
#include "temp_dir.h"

namespace {

// Lines of every ending (CR, LF, CRLF, runs of them) between random bytes.
std::string lines(std::size_t n) {
    std::mt19937 rng(7);
    std::string s;
    const char *ends[] = {"\r", "\n", "\r\n", "\n\n\r"};
    while (s.size() < n) {
        s += std::string(rng() % 300, static_cast<char>('a' + rng() % 26));
        if (rng() % 50 == 0) s += std::string(200000, 'z');  // longer than the largest fill
        s += ends[rng() % 4];
    }
    return s;
}

// Random calls on both inputs; every result, position and last offset must match.
void same_as_qpdf(eb_pdf_input &ours, const std::string &bytes) {
    BufferInputSource theirs("reference", bytes);
    std::mt19937 rng(11);
    const auto size = static_cast<qpdf_offset_t>(bytes.size());
    for (int i = 0; i < 4000; ++i) {
        const unsigned op = rng() % 7;
        std::string a, b;
        switch (op) {
            case 0: {
                const qpdf_offset_t at = static_cast<qpdf_offset_t>(rng() % (bytes.size() + 50));
                ours.seek(at, SEEK_SET);
                theirs.seek(at, SEEK_SET);
                break;
            }
            case 1: {
                const qpdf_offset_t back = static_cast<qpdf_offset_t>(rng() % 3000);
                ours.seek(-back < -size ? -size : -back, SEEK_END);
                theirs.seek(-back < -size ? -size : -back, SEEK_END);
                break;
            }
            case 2: {
                const qpdf_offset_t by = static_cast<qpdf_offset_t>(rng() % 5000) - 2500;
                if (theirs.tell() + by < 0) break;
                ours.seek(by, SEEK_CUR);
                theirs.seek(by, SEEK_CUR);
                break;
            }
            case 3: {
                // Mostly qpdf's small reads, sometimes a stream's large one.
                const std::size_t n = rng() % 8 == 0 ? rng() % 400000 : rng() % 300;
                a.resize(n);
                b.resize(n);
                const std::size_t got_a = ours.read(a.data(), n);
                const std::size_t got_b = theirs.read(b.data(), n);
                ASSERT_EQ(got_a, got_b) << "read " << n << " at call " << i;
                ASSERT_EQ(a.substr(0, got_a), b.substr(0, got_b)) << "call " << i;
                break;
            }
            case 4:
                ASSERT_EQ(ours.findAndSkipNextEOL(), theirs.findAndSkipNextEOL()) << "call " << i;
                break;
            case 5:
                ours.unreadCh('x');
                theirs.unreadCh('x');
                break;
            default:
                ours.rewind();
                theirs.rewind();
        }
        ASSERT_EQ(ours.tell(), theirs.tell()) << "op " << op << " at call " << i;
        ASSERT_EQ(ours.getLastOffset(), theirs.getLastOffset()) << "op " << op << " at call " << i;
    }
}

TEST(PdfSource, BehavesAsQpdfsOwnInput) {
    const std::string bytes = lines(1500000);
    const eb_source in_memory(bytes.data(), bytes.size());
    eb_pdf_input from_memory(in_memory);
    same_as_qpdf(from_memory, bytes);

    qtest::TempDir dir("pdf-source");
    eb_source file;
    ASSERT_TRUE(file.open(dir.put("lines", bytes).c_str()));
    eb_pdf_input from_file(file);
    same_as_qpdf(from_file, bytes);
    EXPECT_FALSE(file.failed());
}

// A 16 MB document whose objects lie at its end, as most writers put them:
// opening it and reading its metadata asks the file for a few small ranges.
TEST(PdfSource, LargeDocumentReadByFewSmallRanges) {
    qtest::PdfDesc d;
    d.filler = 16 << 20;
    d.info = {{"Title", qtest::pdf_literal("Heavy")}};
    d.xmp = qtest::xmp_packet("<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>");
    qtest::TempDir dir("pdf-source");
    eb_source file;
    ASSERT_TRUE(file.open(dir.put("heavy.pdf", qtest::build_pdf(d)).c_str()));
    auto input = std::make_shared<eb_pdf_input>(file);
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processInputSource(input);
    EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getStringValue(), "Heavy");
    EXPECT_TRUE(pdf.getRoot().getKey("/Metadata").isStream());
    EXPECT_LE(input->source_bytes(), 32u * 1024) << input->source_reads() << " reads";
    EXPECT_LE(input->source_reads(), 8u);
}

}  // namespace
