// micro.cpp - Google Benchmark microbenchmarks: one book per family and size (ebook_info
// and the full record), the tag scanner, Base64, the book JSON, and a rename plan.
//
// Books are made on first use in a temporary directory (QEM_BENCH_TMP, else
// the system's), so a filtered run builds only what it measures.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <zip.h>
#include "bench_books.h"
#include "book_builders.h"
#include "fb2_builder.h"
#include "read_meter.h"

#include "formats/readers.h"
#include "heap.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "text/base64.h"
#include "text/xml_scan.h"
#include "zip_builder.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * 1024;

std::string &work_dir() {
    static std::string dir = [] {
        const char *root = std::getenv("QEM_BENCH_TMP");
        if (root && *root) setenv("QEM_TEST_TMP", root, 1);
        return qtest::make_temp_dir("qem-bench");
    }();
    return dir;
}

struct BookFile {
    std::string path;
    std::size_t size = 0;
};

struct BookCase {
    const char *family;
    const char *size_class;
    const char *ext;
    std::function<std::string(qbench::Rng &)> make;
};

qbench::Meta sample_meta() {
    return qbench::Meta{
        "The Quiet Sea and Other Stories", "Hélène", "Marchand", "fr", "Côtes", "2", "B0BENCH001"};
}

const std::vector<BookCase> &book_cases() {
    static const std::vector<BookCase> cases = {
        {"epub", "small", "epub",
         [](qbench::Rng &r) {
             return qbench::make_epub(r, sample_meta(), {60 * KB, 0, 20 * KB, 0, false});
         }},
        {"epub", "typical", "epub",  // about 300 KB
         [](qbench::Rng &r) {
             return qbench::make_epub(r, sample_meta(), {400 * KB, 80 * KB, 80 * KB, 0, false});
         }},
        {"epub", "large", "epub",  // about 20 MB, mostly pictures
         [](qbench::Rng &r) {
             return qbench::make_epub(r, sample_meta(), {900 * KB, 19 * MB, 300 * KB, 0, false});
         }},
        // One book at 60 KB and at 30 MB: the same members, one picture of
        // 24 KB or of 30 MB. Reading in parts makes their cost the same.
        {"epub", "60KB", "epub", [](qbench::Rng &r) { return qbench::plated_epub(r, 24 * KB); }},
        {"epub", "30MB", "epub", [](qbench::Rng &r) { return qbench::plated_epub(r, 30 * MB); }},
        {"fb2", "small", "fb2",
         [](qbench::Rng &r) {
             return qbench::make_fb2(r, sample_meta(), {40 * KB, 0, 0});
         }},
        {"fb2", "typical", "fb2",
         [](qbench::Rng &r) {
             return qbench::make_fb2(r, sample_meta(), {400 * KB, 100 * KB, 0});
         }},
        {"fb2", "large", "fb2",  // a cover of 1 MB of Base64 text
         [](qbench::Rng &r) {
             return qbench::make_fb2(r, sample_meta(), {600 * KB, 768 * KB, 0});
         }},
        {"mobi", "small", "mobi",
         [](qbench::Rng &r) {
             return qbench::make_mobi(r, sample_meta(), {40 * KB, 20 * KB, 0, false, 0});
         }},
        {"mobi", "typical", "mobi",
         [](qbench::Rng &r) {
             return qbench::make_mobi(r, sample_meta(), {600 * KB, 100 * KB, 300 * KB, false, 0});
         }},
        {"mobi", "large", "azw3",  // about 5 MB
         [](qbench::Rng &r) {
             return qbench::make_mobi(r, sample_meta(), {1500 * KB, 300 * KB, 3300 * KB, true, 0});
         }},
        {"mobi", "30MB", "mobi",
         [](qbench::Rng &r) {
             return qbench::make_mobi(r, sample_meta(), {2 * MB, 300 * KB, 28 * MB, false, 0});
         }},
    };
    return cases;
}

const BookFile &book_file(const BookCase &c) {
    static std::map<std::string, BookFile> made;
    std::string key = std::string(c.family) + "-" + c.size_class;
    auto it = made.find(key);
    if (it != made.end()) return it->second;
    qbench::Rng rng(42);
    std::string bytes = c.make(rng);
    BookFile f{work_dir() + "/" + key + "." + c.ext, bytes.size()};
    qtest::write_file(f.path, bytes);
    return made.emplace(key, f).first->second;
}

void label_size(benchmark::State &state, std::size_t bytes) {
    state.counters["file_KiB"] = static_cast<double>(bytes) / 1024.0;
}

void bm_info(benchmark::State &state, const BookCase *c) {
    const BookFile &f = book_file(*c);
    qbench::read_meter meter;
    for (auto _ : state) {
        char *text = ebook_info(f.path.c_str());
        if (!text) {
            state.SkipWithError(ebook_last_error());
            break;
        }
        benchmark::DoNotOptimize(text);
        ebook_free_string(text);
    }
    meter.report(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.size));
    label_size(state, f.size);
}

// The full record of the same book as bm_info, with its bytes and read
// requests per call.
void bm_metadata(benchmark::State &state, const BookCase *c) {
    const BookFile &f = book_file(*c);
    qbench::read_meter meter;
    for (auto _ : state) {
        char *text = ebook_metadata(f.path.c_str());
        if (!text) {
            state.SkipWithError(ebook_last_error());
            break;
        }
        benchmark::DoNotOptimize(text);
        ebook_free_string(text);
    }
    meter.report(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.size));
    label_size(state, f.size);
}

void bm_cover(benchmark::State &state, const BookCase *c) {
    const BookFile &f = book_file(*c);
    const std::string out = work_dir() + "/cover-out.bin";
    qbench::read_meter meter;
    for (auto _ : state) {
        if (ebook_extract_cover(f.path.c_str(), out.c_str()) != 0) {
            state.SkipWithError(ebook_last_error());
            break;
        }
    }
    meter.report(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.size));
    label_size(state, f.size);
}

// ---- tag scanner over a 1 MB package document ------------------------------

const std::string &package_1mb() {
    static const std::string doc = [] {
        qbench::Rng rng(7);
        return qbench::package_document(rng, sample_meta(), 1 * MB);
    }();
    return doc;
}

void bm_find_tag_absent(benchmark::State &state) {
    const std::string &doc = package_1mb();
    for (auto _ : state) {
        const char *p = eb_find_tag(doc.data(), doc.data() + doc.size(), "dc:source");
        benchmark::DoNotOptimize(p);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

// The manifest pass of the EPUB reader: every item's properties, until the
// one that names the cover (last in this document).
void bm_manifest_pass(benchmark::State &state) {
    const std::string &doc = package_1mb();
    const char *end = doc.data() + doc.size();
    for (auto _ : state) {
        const char *found = nullptr;
        for (const char *p = doc.data(); (p = eb_find_tag(p, end, "item"));) {
            const char *gt = static_cast<const char *>(std::memchr(p, '>', end - p));
            if (!gt) break;
            char props[256];
            if (eb_attr_val(p, gt, "properties", props, sizeof props) == 0 &&
                std::strstr(props, "cover-image")) {
                found = p;
                break;
            }
            p = gt;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

void bm_tag_text(benchmark::State &state, const char *name) {
    const std::string &doc = package_1mb();
    for (auto _ : state) {
        char *t = eb_tag_text(doc.data(), doc.size(), name);
        benchmark::DoNotOptimize(t);
        std::free(t);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

// The whole EPUB reader over a book whose package document is 1 MB.
void bm_parse_epub_big_package(benchmark::State &state) {
    static const std::string book = [] {
        qbench::Rng rng(9);
        qtest::EpubDesc desc;
        desc.opf = package_1mb();
        desc.cover = qbench::fake_jpeg(rng, 50 * KB);
        return qtest::build_epub(desc);
    }();
    for (auto _ : state) {
        eb_meta meta;
        eb_meta_init(&meta);
        int rc = eb_parse_epub(book.data(), book.size(), &meta, 0);
        if (rc != 0 || !meta.has_cover) {
            state.SkipWithError("the book did not read");
            eb_meta_free(&meta);
            break;
        }
        eb_meta_free(&meta);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package_1mb().size()));
}

// ---- Base64 ----------------------------------------------------------------

void bm_base64(benchmark::State &state) {
    const std::size_t mb = static_cast<std::size_t>(state.range(0));
    qbench::Rng rng(3);
    const std::string text = qtest::base64_encode(qbench::fake_jpeg(rng, mb * MB * 3 / 4), 76);
    for (auto _ : state) {
        std::uint64_t n = 0;
        unsigned char *out = eb_b64_decode(text.data(), text.size(), &n);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// ---- book JSON ---------------------------------------------------------------

void bm_meta_to_json(benchmark::State &state) {
    eb_meta m;
    eb_meta_init(&m);
    m.title = eb_strdup("The Quiet Sea and Other Stories");
    m.author = eb_strdup("Hélène Marchand");
    m.language = eb_strdup("fr");
    m.series = eb_strdup("Côtes");
    m.series_index = eb_strdup("2");
    m.asin = eb_strdup("B0BENCH001");
    m.format = eb_strdup("azw3");
    m.has_cover = 1;
    std::strcpy(m.cover_mime, "image/jpeg");
    for (auto _ : state) {
        char *t = eb_meta_to_json(&m);
        benchmark::DoNotOptimize(t);
        std::free(t);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    eb_meta_free(&m);
}

// ---- rename plan -------------------------------------------------------------

// 100,000 books described by the host. distinct: how many different planned
// names there are (the rest clash and get numbered).
std::string rename_request(std::size_t count, std::size_t distinct) {
    qbench::Rng rng(11);
    std::string out = "[";
    out.reserve(count * 160);
    for (std::size_t i = 0; i < count; ++i) {
        qbench::Rng book(1000 + i % distinct);
        qbench::Meta m = qbench::random_meta(book);
        std::string title = m.title + " " + std::to_string(i % distinct);
        if (i) out += ',';
        out += "{\"path\":\"/books/shelf" + std::to_string(rng.range(1, 40)) + "/" +
               std::to_string(i) + ".epub\",\"author\":\"" + m.author_first + " " + m.author_last +
               "\",\"title\":\"" + title + "\"";
        if (!m.series.empty())
            out += ",\"series\":\"" + m.series + "\",\"idx\":\"" + m.series_index + "\"";
        out += '}';
    }
    out += ']';
    return out;
}

void bm_rename_plan(benchmark::State &state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::size_t distinct = static_cast<std::size_t>(state.range(1));
    const std::string request = rename_request(count, distinct);
    for (auto _ : state) {
        char *plan = ebook_rename_plan(request.c_str(), nullptr);
        if (!plan) {
            state.SkipWithError(ebook_last_error());
            break;
        }
        benchmark::DoNotOptimize(plan);
        ebook_free_string(plan);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

void register_all() {
    for (const BookCase &c : book_cases()) {
        std::string name = std::string("ebook_info/") + c.family + "/" + c.size_class;
        benchmark::RegisterBenchmark(name.c_str(), bm_info, &c)->Unit(benchmark::kMicrosecond);
        name = std::string("ebook_metadata/") + c.family + "/" + c.size_class;
        benchmark::RegisterBenchmark(name.c_str(), bm_metadata, &c)->Unit(benchmark::kMicrosecond);
    }
    for (const BookCase &c : book_cases()) {
        if (std::strcmp(c.size_class, "large") != 0 && std::strcmp(c.size_class, "30MB") != 0)
            continue;
        std::string name = std::string("ebook_extract_cover/") + c.family + "/" + c.size_class;
        benchmark::RegisterBenchmark(name.c_str(), bm_cover, &c)->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("eb_find_tag/absent/1MB", bm_find_tag_absent)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eb_find_tag+eb_attr_val/manifest_pass/1MB", bm_manifest_pass)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eb_tag_text/dc:title/1MB", bm_tag_text, "dc:title");
    benchmark::RegisterBenchmark("eb_tag_text/spine/1MB", bm_tag_text, "spine")
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eb_parse_epub/1MB_package", bm_parse_epub_big_package)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eb_b64_decode/MB", bm_base64)
        ->Arg(1)
        ->Arg(16)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("eb_meta_to_json", bm_meta_to_json);
    benchmark::RegisterBenchmark("ebook_rename_plan/entries/distinct", bm_rename_plan)
        ->Args({100000, 100000})
        ->Args({100000, 1000})
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtest::remove_tree(work_dir());
    return 0;
}
