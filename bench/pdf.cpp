// pdf.cpp - PDF benchmarks: the full record of PDFs with the same metadata at 60 KB and 30 MB (time
// and bytes read must not grow with the size), and the maker of the PDF library bench/compare
// times against exiftool.
//
//   qem_bench_pdf [Google Benchmark flags]            the benchmarks
//   qem_bench_pdf library DIR [--books N] [--seed S]  writes N PDFs for bench/compare
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "book_builders.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"
#include "read_meter.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * 1024;

// What one document looks like: pages, each with a content stream, whose
// bytes add up to about `bytes`.
struct Shape {
    int pages = 20;
    std::size_t bytes = 60 * KB;
    bool packed = false;   // object and cross-reference streams (PDF 1.5 and later)
    bool updated = false;  // an incremental update changing the Info dictionary
    bool encrypted = false;
    std::string title = "Tide Tables of the North Sea";
};

// A document as writers lay it out: the page tree and its pages, a content
// stream per page, Info in UTF-16BE and PDFDocEncoding, a deflated XMP
// packet.
std::string realistic_pdf(const Shape &s) {
    qtest::PdfDesc d;
    d.version = s.packed ? "1.6" : "1.4";
    d.object_stream = s.packed;
    d.info = {{"Title", qtest::pdf_utf16(s.title)},
              {"Author", qtest::pdf_literal("Ray, Kim; Bell, Tom")},
              {"Subject", qtest::pdf_hex("Tides \x84 currents \x84 moon")},
              {"Creator", qtest::pdf_literal("Writer")},
              {"Producer", qtest::pdf_literal("LibreOffice 7.4")},
              {"CreationDate", qtest::pdf_literal("D:20210314092653+01'00'")},
              {"ModDate", qtest::pdf_literal("D:20210314092653+01'00'")}};
    d.xmp = qtest::xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + s.title +
            "</rdf:li></rdf:Alt></dc:title>"
            "<dc:creator><rdf:Seq><rdf:li>Kim Ray</rdf:li><rdf:li>Tom Bell</rdf:li></rdf:Seq>"
            "</dc:creator><dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language>"
            "<dc:publisher><rdf:Bag><rdf:li>Harbour Press</rdf:li></rdf:Bag></dc:publisher>"
            "<prism:isbn>978-3-16-148410-0</prism:isbn>",
        "xmp:CreateDate=\"2021-03-14T09:26:53+01:00\" "
        "xmp:MetadataDate=\"2021-03-14T09:26:53+01:00\" pdf:Producer=\"LibreOffice 7.4\"");
    d.xmp_flate = true;
    // Pages in a balanced tree of ten per node, as Distiller and pdfTeX
    // write them, and some eight objects a page as real books have: the
    // page, its content stream, resources, two link annotations, two
    // structure elements, and an image every fourth page; eight shared fonts.
    d.pages_value = "8 0 R";
    int next = 9;
    auto add = [&](std::string body, bool stream = false, std::string data = {}) {
        d.objects.push_back({next, std::move(body), stream, std::move(data), false});
        return std::to_string(next++) + " 0 R";
    };
    std::string fonts;
    for (int f = 0; f < 8; ++f) {
        const std::string fd = add("<< /Type /FontDescriptor /FontName /Serif" + std::to_string(f) +
                                   " /Flags 34 /ItalicAngle 0 >>");
        fonts += "/F" + std::to_string(f) + " " +
                 add("<< /Type /Font /Subtype /Type1 /BaseFont /Serif" + std::to_string(f) +
                     " /FontDescriptor " + fd + " >>") +
                 " ";
    }
    const std::size_t per_page = s.bytes / static_cast<std::size_t>(s.pages);
    std::string nodes;
    for (int first = 0; first < s.pages; first += 10) {
        const int node = next++;
        std::string kids;
        int count = 0;
        for (int p = first; p < s.pages && p < first + 10; ++p, ++count) {
            std::string res = "<< /Font << " + fonts + ">>";
            if (p % 4 == 0)
                res += " /XObject << /Im0 " +
                       add("<< /Type /XObject /Subtype /Image /Width 16 /Height 16 "
                           "/BitsPerComponent 8 /ColorSpace /DeviceGray >>",
                           true, qtest::incompressible(256)) +
                       " >>";
            const std::string resources = add(res + " >>");
            const std::string contents = add("<< >>", true, qtest::incompressible(per_page));
            std::string annots;
            for (int k = 0; k < 2; ++k)
                annots += add("<< /Type /Annot /Subtype /Link /Rect [72 72 144 86] /Border [0 0 0] "
                              "/A << /S /URI /URI (https://example.org/) >> >>") +
                          " ";
            const std::string page = add("<< /Type /Page /Parent " + std::to_string(node) +
                                         " 0 R /MediaBox [0 0 595 842] /Resources " + resources +
                                         " /Contents " + contents + " /Annots [" + annots +
                                         "] /StructParents " + std::to_string(p) + " >>");
            for (int k = 0; k < 2; ++k)
                add("<< /Type /StructElem /S /P /Pg " + page + " /K " + std::to_string(k) + " >>");
            kids += page + " ";
        }
        d.objects.push_back({node, "<< /Type /Pages /Parent 8 0 R /Kids [" + kids + "] /Count " +
                                       std::to_string(count) + " >>"});
        nodes += std::to_string(node) + " 0 R ";
    }
    d.objects.push_back(
        {8, "<< /Type /Pages /Kids [" + nodes + "] /Count " + std::to_string(s.pages) + " >>"});
    if (s.updated)
        d.updates = {{{{"Title", qtest::pdf_utf16(s.title)},
                       {"ModDate", qtest::pdf_literal("D:20220101120000Z")}},
                      "",
                      {}}};
    const std::string pdf = qtest::build_pdf(d);
    return s.encrypted ? qtest::encrypt_pdf(pdf, "", "owner", 4, true) : pdf;
}

const std::string &work_dir() {
    static const std::string dir = [] {
        const char *root = std::getenv("QEM_BENCH_TMP");
        if (root && *root) setenv("QEM_TEST_TMP", root, 1);
        return qtest::make_temp_dir("qem-bench-pdf");
    }();
    return dir;
}

// The same metadata and pages at two sizes, and the small one with a
// damaged cross-reference table (read whole by qpdf's recovery).
void BM_pdf_metadata(benchmark::State &state) {
    static const char *names[] = {"pdf-60KB.pdf", "pdf-30MB.pdf", "pdf-30MB-damaged.pdf"};
    const int which = static_cast<int>(state.range(0));
    const std::string path = work_dir() + "/" + names[which];
    if (!std::filesystem::exists(path)) {
        Shape s;
        s.bytes = which == 0 ? 60 * KB : 30 * MB;
        std::string pdf = realistic_pdf(s);
        // A wrong first digit of the last startxref sends qpdf to recovery.
        if (which == 2) pdf[pdf.rfind("startxref\n") + 10] = '9';
        qtest::write_file(path, pdf);
    }
    state.SetLabel(names[which]);
    qbench::read_meter meter;
    for (auto _ : state) {
        char *json = ebook_metadata(path.c_str());
        if (!json || !std::strstr(json, "\"pages\":20")) {
            state.SkipWithError(json ? json : ebook_last_error());
            ebook_free_string(json);
            break;
        }
        benchmark::DoNotOptimize(json);
        ebook_free_string(json);
    }
    meter.report(state);
    state.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(path)) / static_cast<double>(MB);
}
BENCHMARK(BM_pdf_metadata)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// A seeded mix like a collection's PDFs: 10 to 800 pages, 100 KB to 12 MB,
// half with object streams, some updated, a few encrypted with an empty
// user password.
int write_library(const std::string &dir, int books, unsigned seed) {
    std::filesystem::create_directories(dir);
    std::uint64_t x = seed * 2654435761u + 1;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    for (int i = 0; i < books; ++i) {
        Shape s;
        s.pages = 10 + static_cast<int>(next() % 790);
        s.bytes = 100 * KB + next() % (next() % 10 == 0 ? 12 * MB : 2 * MB);
        s.packed = next() % 2 == 0;
        s.updated = next() % 10 == 0;
        s.encrypted = next() % 20 == 0;
        s.title = "Almanac " + std::to_string(i);
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.pdf", i);
        qtest::write_file(dir + name, realistic_pdf(s));
    }
    std::printf("%d PDFs written to %s\n", books, dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::strcmp(argv[1], "library") == 0) {
        int books = 200;
        unsigned seed = 1;
        for (int i = 3; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--books") == 0) books = std::atoi(argv[i + 1]);
            if (std::strcmp(argv[i], "--seed") == 0)
                seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
        }
        return write_library(argv[2], books, seed);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
