// bench_books.h - books of realistic size and shape for the benchmarks: prose, stand-in
// images, EPUB/FB2/MOBI files and large package documents, all from a seeded generator.
#ifndef QEM_BENCH_BOOKS_H
#define QEM_BENCH_BOOKS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qbench {

// splitmix64: small, fast and the same on every machine, so a seed names a
// library byte for byte.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [lo, hi].
    std::size_t range(std::size_t lo, std::size_t hi);
    // Log-uniform in [lo, hi]: as many books of 100-200 KB as of 1-2 MB.
    std::size_t log_range(std::size_t lo, std::size_t hi);
    bool chance(double p);

  private:
    std::uint64_t state_;
};

// What a book says about itself.
struct Meta {
    std::string title;
    std::string author_first;
    std::string author_last;
    std::string language = "en";
    std::string series;  // empty: no series
    std::string series_index;
    std::string asin;  // MOBI only; empty: none
};

Meta random_meta(Rng &rng);

// About n bytes of XHTML paragraphs of English-like words (compresses like
// prose, about 3:1 with deflate).
std::string prose(Rng &rng, std::size_t n);
// A stand-in JPEG of exactly n bytes (n >= 32): JFIF header, incompressible
// body, end marker.
std::string fake_jpeg(Rng &rng, std::size_t n);

struct EpubShape {
    std::size_t text_bytes = 200 * 1024;  // uncompressed XHTML, split into chapters
    std::size_t image_bytes = 0;          // total of the pictures besides the cover
    std::size_t cover_bytes = 60 * 1024;  // 0: no cover
    std::size_t manifest_padding = 0;     // extra manifest items (fonts, pages)
    bool encrypted = false;               // META-INF/encryption.xml
};
std::string make_epub(Rng &rng, const Meta &m, const EpubShape &shape);

struct Fb2Shape {
    std::size_t text_bytes = 300 * 1024;
    std::size_t cover_bytes = 0;  // decoded size; Base64 makes it 4/3 larger
    std::size_t image_bytes = 0;  // further binaries
};
std::string make_fb2(Rng &rng, const Meta &m, const Fb2Shape &shape);

struct MobiShape {
    std::size_t text_bytes = 300 * 1024;  // in 4096-byte text records
    std::size_t cover_bytes = 60 * 1024;  // 0: no cover
    std::size_t image_bytes = 0;          // further image records
    bool kf8 = false;                     // AZW3 (MOBI type 248, version 8)
    std::uint16_t encryption = 0;         // 2: protected
};
std::string make_mobi(Rng &rng, const Meta &m, const MobiShape &shape);

// A package document of about n bytes: the metadata a reader looks for, then
// a manifest and spine long enough to reach n.
std::string package_document(Rng &rng, const Meta &m, std::size_t n);

// One EPUB at any weight: a cover, a few chapters and one stored picture of
// plate bytes, so that books of 60 KB and of 30 MB differ in nothing else.
std::string plated_epub(Rng &rng, std::size_t plate);

}  // namespace qbench

#endif
