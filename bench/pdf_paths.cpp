// pdf_paths.cpp - the PDF reader's two paths over a directory of real PDFs: which files the lazy
// reader takes, whether its record is qpdf's, each path's time per file, and the reads a host's
// callback gets.
//
//   qem_bench_pdf_paths DIR [--quiet]
//
// Prints one line per file whose records differ (or that the lazy reader leaves to qpdf, with
// --why-not), then the counts, the median and largest times per path (warm, the best of 3), and
// the callback reads of the files that take the lazy path. Exit status 1 when any record differs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/pdf/pdf_paths.h"
#include "full_record.h"
#include "io/source.h"
#include "quenfold_ebook.h"

namespace {

std::string json_of(eb_record &r) {
    eb_record_settle(r);
    char *j = eb_record_to_json(r);
    std::string s = j ? j : "";
    std::free(j);
    return s;
}

// The record (as JSON) by one path, and the best time of three in microseconds.
std::string record(const std::string &bytes, eb_pdf_path path, double &us, int &rc) {
    std::string json;
    us = 1e30;
    for (int i = 0; i < 3; ++i) {
        const eb_source src(bytes.data(), bytes.size());
        eb_record r;
        const auto t0 = std::chrono::steady_clock::now();
        rc = eb_record_pdf_by(src, r, path);
        const auto t1 = std::chrono::steady_clock::now();
        us = std::min(us, std::chrono::duration<double, std::micro>(t1 - t0).count());
        json = json_of(r);
    }
    return json;
}

struct counted {
    const std::string *bytes;
    unsigned calls = 0;
};

long long count_read(void *ctx, unsigned long long off, void *buf, std::size_t len) {
    auto *c = static_cast<counted *>(ctx);
    ++c->calls;
    std::memcpy(buf, c->bytes->data() + off, len);
    return static_cast<long long>(len);
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [--why-not]\n", argv[0]);
        return 2;
    }
    const bool why_not = argc > 2 && std::strcmp(argv[2], "--why-not") == 0;
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::recursive_directory_iterator(argv[1]))
        if (e.is_regular_file() && e.path().extension() == ".pdf") files.push_back(e.path());
    std::sort(files.begin(), files.end());

    std::size_t lazy = 0, differ = 0;
    double lazy_us = 0, left_us = 0;  // all files of each path together
    std::vector<double> t_lazy, t_qpdf;
    std::vector<unsigned> reads;
    std::string slowest;
    double slowest_us = 0;
    for (const std::string &f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        double us_q = 0, us_l = 0;
        int rc_q = 0, rc_l = 0;
        const std::string q = record(bytes, eb_pdf_path::qpdf, us_q, rc_q);
        const std::string l = record(bytes, eb_pdf_path::lazy, us_l, rc_l);
        t_qpdf.push_back(us_q);
        if (rc_l == 1) {
            left_us += us_q;
            if (why_not) std::printf("qpdf %s\n", f.c_str());
            continue;
        }
        ++lazy;
        t_lazy.push_back(us_l);
        lazy_us += us_l;
        if (us_l > slowest_us) slowest_us = us_l, slowest = f;
        if (q != l || rc_q != rc_l) {
            ++differ;
            std::printf("DIFFER %s\n  qpdf %s\n  lazy %s\n", f.c_str(), q.c_str(), l.c_str());
        }
        counted c{&bytes};
        char *j = ebook_metadata_from_reader(count_read, &c, bytes.size(), "book.pdf");
        std::free(j);
        reads.push_back(c.calls);
        if (std::getenv("QEM_PDF_READS")) std::printf("reads %u %s\n", c.calls, f.c_str());
    }
    std::sort(reads.begin(), reads.end());
    std::printf("%zu PDFs: %zu lazy, %zu to qpdf, %zu records differ\n", files.size(), lazy,
                files.size() - lazy, differ);
    std::printf("qpdf path: median %.0f us, largest %.0f us\n", median(t_qpdf),
                t_qpdf.empty() ? 0 : *std::max_element(t_qpdf.begin(), t_qpdf.end()));
    std::printf("lazy path: median %.0f us, largest %.0f us (%s)\n", median(t_lazy), slowest_us,
                slowest.c_str());
    std::printf("together: %.1f ms for the lazy path's files, %.1f ms for qpdf's\n", lazy_us / 1e3,
                left_us / 1e3);
    if (!reads.empty())
        std::printf("callback reads (lazy files): median %u, 90th %u, most %u\n",
                    reads[reads.size() / 2], reads[reads.size() * 9 / 10], reads.back());
    return differ ? 1 : 0;
}
