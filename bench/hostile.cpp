// hostile.cpp - Google Benchmark over hostile books: nested and unclosed tags, a package
// document that inflates to 500 MB, and the full record's rows (lists of 100,000 values,
// unclosed instructions, 16 MiB of nesting...; PDF and archive bombs in hostile_round3.cpp).
// Every read must stay linear in the book and bounded in memory; each benchmark checks the
// result it measures.
//
// Books are written once to a temporary directory (QEM_BENCH_TMP, else the
// system's). "doc_MB" is the size of the document the reader scans,
// "peak_rss_MB" the process's peak resident size after the benchmark. A full
// record row also reports "call_peak_MB": the peak resident size of a fresh
// process that made one call, and "call_MB" what that call added to the
// process's size at its start.
//
// `qem_bench_hostile --write-books DIR` only writes the rows' books into DIR
// (for whole-process measurements of the command-line tool).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "book_builders.h"
#include "hostile_books.h"
#include "hostile_row.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

namespace {

constexpr double MB = 1024.0 * 1024.0;

std::string &work_dir() {
    static std::string dir = [] {
        const char *root = std::getenv("QEM_BENCH_TMP");
        if (root && *root) setenv("QEM_TEST_TMP", root, 1);
        return qtest::make_temp_dir("qem-bench-hostile");
    }();
    return dir;
}

struct Shape {
    const char *name;
    const char *file;
    double doc_bytes;
    std::function<void(const std::string &path)> write;
    std::string want;  // the start of ebook_info's text, or "ERR:" and the message
};

std::string epub_json(const std::string &rest) {
    return R"({"drm":false,"format":"epub",)" + rest;
}

const std::vector<Shape> &shapes() {
    static const std::vector<Shape> v = {
        {"epub/nested_dc_creator/800k", "creators.epub", 800000 * 12.0,
         [](const std::string &p) {
             qtest::write_file(p, qtest::epub_around_opf(qtest::nested_creators_opf(800000)));
         },
         epub_json(R"("title":"Hostile","author":"",)")},
        {"fb2/nested_title_info/400k", "title-info-400k.fb2", 400000 * 12.0,
         [](const std::string &p) { qtest::write_file(p, qtest::nested_title_info_fb2(400000)); },
         R"({"drm":false,"format":"fb2","title":"",)"},
        {"fb2/nested_title_info/870k", "title-info-870k.fb2", 870000 * 12.0,
         [](const std::string &p) { qtest::write_file(p, qtest::nested_title_info_fb2(870000)); },
         R"({"drm":false,"format":"fb2","title":"",)"},
        {"epub/unclosed_meta_collection/270k", "collections.epub", 270000 * 39.0,
         [](const std::string &p) {
             qtest::write_file(p, qtest::epub_around_opf(
                                      qtest::unclosed_metas_opf(270000, "belongs-to-collection")));
         },
         epub_json(R"("title":"Hostile","author":"","language":"","series":"",)")},
        {"epub/unclosed_meta_cover/450k", "covers.epub", 450000 * 23.0,
         [](const std::string &p) {
             qtest::write_file(p,
                               qtest::epub_around_opf(qtest::unclosed_metas_opf(450000, "cover")));
         },
         epub_json(R"("title":"Hostile",)")},
        {"epub/package_inflating_to_500MB", "inflating.epub", 500.0 * MB,
         [](const std::string &p) { qtest::write_inflating_epub(p, 500ull * 1024 * 1024); },
         "ERR:missing zip entry: OEBPS/content.opf"},
    };
    return v;
}


// ---- the full record's rows ------------------------------------------------

std::string epub(const std::string &opf) {
    return qtest::epub_around_opf(opf);
}

std::string package(const std::string &metadata, const std::string &manifest = "<manifest/>",
                    const std::string &decl = "UTF-8") {
    return "<?xml version=\"1.0\" encoding=\"" + decl +
           "\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
           "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
           metadata + "</metadata>" + manifest + "</package>";
}

std::string cover_claiming_4gib() {
    qtest::EpubDesc d;
    d.cover = "abc";
    d.cover_href = "c.jpg";
    return qtest::patch_member_header(qtest::build_epub(d), "OEBPS/c.jpg", 0xFFFFFFFFu,
                                      qtest::crc32_of("abc"));
}

const std::size_t MiB = 1024 * 1024;

const std::vector<Row> &rows() {
    static const std::vector<Row> v = {
        {"1/fb2_genres_160k", "genres.fb2", [] { return qtest::many_genres_fb2(160000); },
         {"\"g159999\""}},
        {"1/fb2_keywords_84k", "keywords.fb2", [] { return qtest::many_keywords_fb2(84000); },
         {"\"k83999\""}},
        {"1/fb2_sequences_80k", "sequences.fb2", [] { return qtest::many_sequences_fb2(80000); },
         {"\"s79999\""}},
        {"2/mobi_exth105_100k", "subjects.mobi", [] { return qtest::many_exth_mobi(105, 100000); },
         {"\"v99999\""}},
        {"2/mobi_exth104_100k", "isbns.mobi", [] { return qtest::many_exth_mobi(104, 100000); },
         {"\"v99999\""}},
        {"2/mobi_exth113_100k", "asins.mobi", [] { return qtest::many_exth_mobi(113, 100000); },
         {"\"v99999\""}},
        {"2/mobi_exth504_100k", "asins504.mobi", [] { return qtest::many_exth_mobi(504, 100000); },
         {"\"v99999\""}},
        {"2/mobi_exth524_100k", "languages.mobi", [] { return qtest::many_exth_mobi(524, 100000); },
         {"\"v99999\""}},
        {"3/epub_pis_1000_in_4MiB", "pis-4.epub",
         [] { return epub(qtest::unclosed_pis_opf(1000, 4 * MiB)); }, {"\"After\""}},
        {"3/epub_pis_1000_in_16MiB", "pis-16.epub",
         [] { return epub(qtest::unclosed_pis_opf(1000, 16 * MiB - 512)); }, {"\"After\""}},
        {"3/fb2_pis_1000_in_16MiB", "pis-16.fb2",
         [] { return qtest::unclosed_pis_fb2(1000, 16 * MiB); }, {"\"After\""}},
        {"3/fb2_pi_1_in_64MiB", "pi-64.fb2", [] { return qtest::unclosed_pis_fb2(1, 64 * MiB); },
         {"\"After\""}},
        {"4/epub_nested_a_16MiB", "nested.epub",
         [] { return epub(qtest::repeated_opf("<a>", 16 * MiB)); }, {"\"title\":\"Hostile\""}},
        {"4/epub_empty_meta_16MiB", "metas.epub",
         [] { return epub(qtest::repeated_opf("<meta/>", 16 * MiB)); }, {"\"title\":\"Hostile\""}},
        {"4/epub_empty_item_16MiB", "items.epub",
         [] { return epub(qtest::repeated_opf("<item/>", 16 * MiB)); }, {"\"title\":\"Hostile\""}},
        {"4/fb2_nested_16MiB", "nested.fb2", [] { return qtest::nested_fb2(16 * MiB); },
         {"\"title\":\"Hostile\""}},
        {"9/epub_cover_claiming_4GiB", "cover-4gib.epub", cover_claiming_4gib,
         {"\"cover\":null"}},
        {"10/epub_entity_after_error", "entity.epub",
         [] { return epub(qtest::entity_after_error_opf()); }, {"\"name\":\"X\""}},
        {"10/fb2_entity_after_error", "entity.fb2", [] { return qtest::entity_after_error_fb2(); },
         {"\"name\":\"X\""}},
        {"11/epub_declared_ucs2", "ucs2.epub",
         [] { return epub(package("<dc:title>Wide</dc:title>", "<manifest/>", "UCS-2")); },
         {"\"title\":\"Wide\""}},
        {"11/fb2_declared_utf32", "utf32.fb2",
         [] { return qtest::fb2_title_info("", "UTF-32"); }, {"\"title\":\"Hostile\""}},
        {"13/epub_manifest_first", "manifest-first.epub",
         [] {
             return epub(
                 "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
                 "version=\"3.0\"><manifest><item id=\"c\" href=\"c.xhtml\" "
                 "media-type=\"application/xhtml+xml\"/></manifest><metadata "
                 "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Late</dc:title>"
                 "<dc:language>fr</dc:language></metadata></package>");
         },
         {"\"title\":\"Late\"", "\"language\":\"fr\""}},
        {"14/epub_oeb12", "oeb12.epub",
         [] {
             return epub(
                 "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><metadata>"
                 "<dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Title>Old "
                 "Style</dc:Title><dc:Creator role=\"aut\">Ann</dc:Creator><dc:Language>en"
                 "</dc:Language></dc-metadata></metadata><manifest/></package>");
         },
         {"\"title\":\"Old Style\"", "\"name\":\"Ann\"", "\"language\":\"en\""}},
        {"15/fbz_without_fb2", "nothing.fbz",
         [] { return qtest::build_zip({qtest::zip_file("readme.txt", "just text")}); },
         {"ERR:no single FB2 document in ZIP: "}},
        {"16/epub_title_16MB", "long-title.epub",
         [] { return epub(package("<dc:title>" + std::string(16000000, 'T') + "</dc:title>")); },
         {"\"title\":\"TTTT"}},
        // Hundreds of broken spots (400), and a book with one every 85 bytes.
        {"24/fb2_error_ridden_240KB", "error-ridden.fb2",
         [] { return qtest::error_ridden_fb2(240 * 1024, 600); }, {"\"After\""}},
        {"24/fb2_error_ridden_240KB_dense", "error-ridden-dense.fb2",
         [] { return qtest::error_ridden_fb2(240 * 1024, 85); },
         {"\"title\":\"Hostile\"", "too many XML errors; reading stopped"}},
    };
    return v;
}

std::string metadata_text(const std::string &path) {
    char *s = ebook_metadata(path.c_str());
    if (!s) return "ERR:" + std::string(ebook_last_error());
    std::string out = s;
    ebook_free_string(s);
    return out;
}

// A line of /proc/self/status ("VmRSS", "VmHWM") in MB, or -1.
double status_mb(const char *key) {
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    double kb = -1;
    const std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') kb = std::atof(line + n + 1);
    std::fclose(f);
    return kb < 0 ? -1 : kb / 1024.0;
}

// `--one-call PATH`: one ebook_metadata call in this fresh process; prints
// its resident size before the call and its peak after it, in MB.
int one_call(const char *path) {
    const double start = status_mb("VmRSS");
    char *s = ebook_metadata(path);
    ebook_free_string(s);
    std::printf("%f %f\n", start, status_mb("VmHWM"));
    return 0;
}

// One call in a fresh process (this program again): its peak resident size
// and what the call added to the size it started with (both in MB), or -1. A
// forked child would reuse the pages its parent already holds.
std::pair<double, double> child_call(const std::string &path) {
    int fd[2];
    if (pipe(fd) != 0) return {-1, -1};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        dup2(fd[1], 1);
        execl("/proc/self/exe", "qem_bench_hostile", "--one-call", path.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fd[1]);
    char out[128] = {};
    const ssize_t n = pid > 0 ? read(fd[0], out, sizeof out - 1) : -1;
    close(fd[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    double start = -1, peak = -1;
    if (n <= 0 || std::sscanf(out, "%lf %lf", &start, &peak) != 2) return {-1.0, -1.0};
    return {peak, peak - start};
}

bool holds(const std::string &got, const Row &row) {
    for (const std::string &w : row.want) {
        if (w.rfind("ERR:", 0) == 0 ? got.rfind(w, 0) != 0 : got.find(w) == std::string::npos)
            return false;
    }
    return true;
}

void write_row(const Row &row, const std::string &path) {
    qtest::write_file(path, row.make());
}

void bm_row(benchmark::State &state, const Row *row) {
    const std::string path = work_dir() + "/" + row->file;
    write_row(*row, path);
    const std::string got = metadata_text(path);
    if (!holds(got, *row)) {
        state.SkipWithError(("unexpected result: " + got.substr(0, 300)).c_str());
        return;
    }
    for (auto _ : state) {
        char *s = ebook_metadata(path.c_str());
        benchmark::DoNotOptimize(s);
        ebook_free_string(s);
    }
    const auto [peak, call] = child_call(path);
    struct stat st;
    state.counters["book_MB"] = stat(path.c_str(), &st) == 0 ? st.st_size / MB : -1;
    state.counters["call_peak_MB"] = peak;
    state.counters["call_MB"] = call;
    std::remove(path.c_str());
}

std::string info_text(const std::string &path) {
    char *s = ebook_info(path.c_str());
    if (!s) return "ERR:" + std::string(ebook_last_error());
    std::string out = s;
    ebook_free_string(s);
    return out;
}

void bm_hostile(benchmark::State &state, const Shape *shape) {
    const std::string path = work_dir() + "/" + shape->file;
    static std::vector<std::string> written;
    bool have = false;
    for (const std::string &w : written)
        have = have || w == path;
    if (!have) {
        shape->write(path);
        written.push_back(path);
    }
    const std::string got = info_text(path);
    if (got.compare(0, shape->want.size(), shape->want) != 0) {
        state.SkipWithError(("unexpected result: " + got).c_str());
        return;
    }
    for (auto _ : state) {
        char *s = ebook_info(path.c_str());
        benchmark::DoNotOptimize(s);
        ebook_free_string(s);
    }
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    state.counters["doc_MB"] = shape->doc_bytes / MB;
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--one-call") == 0) return one_call(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--write-books") == 0) {
        for (const std::vector<Row> *table : {&rows(), &round_three_rows()})
            for (const Row &r : *table) {
                write_row(r, std::string(argv[2]) + "/" + r.file);
                std::printf("%s %s\n", r.name, r.file);
            }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const Shape &s : shapes())
        benchmark::RegisterBenchmark((std::string("ebook_info/") + s.name).c_str(), bm_hostile, &s)
            ->Unit(benchmark::kMillisecond);
    for (const std::vector<Row> *table : {&rows(), &round_three_rows()})
        for (const Row &r : *table)
            benchmark::RegisterBenchmark((std::string("ebook_metadata/") + r.name).c_str(), bm_row,
                                         &r)
                ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtest::remove_tree(work_dir());
    return 0;
}
