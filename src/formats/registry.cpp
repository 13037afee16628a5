// registry.cpp - the rows of the format table: each format's extensions, content tests, readers and
// cover.
#include "formats/registry.h"

#include "formats/comic/comic.h"
#include "formats/comic/comic_archive.h"
#include "formats/comic/comic_write.h"
#include "formats/epub/epub_write.h"
#include "formats/fb2/fb2_probe.h"
#include "formats/fb2/fb2_write.h"
#include "formats/full_readers.h"
#include "formats/lazy_readers.h"
#include "formats/mobi/mobi_write.h"
#include "formats/mobi/palm.h"
#include "formats/pdf/pdf_write.h"
#include "formats/readers.h"
#include "formats/zip_books.h"

namespace {

// ---- EPUB ------------------------------------------------------------------

constexpr std::string_view kEpub[] = {".epub"};

bool any_zip(eb_book &b) {
    return b.zip_signature();
}

// A ZIP found by content was opened by the tests: its reader takes that handle.
int read_epub(eb_book &b, eb_record &r) {
    if (!b.zip_opened()) return eb_record_epub(b.src(), r);
    const int rc = eb_record_epub_zip(b.zip(), r);
    return b.zip().source_failed() ? -1 : rc;
}

// ---- FictionBook -----------------------------------------------------------

// The first ending names the document itself, the others a ZIP holding it.
constexpr std::string_view kFb2[] = {".fb2", ".fb2.zip", ".fbz"};

bool zip_of_one_fb2(eb_book &b) {
    if (!b.zip_signature()) return false;
    const eb_zip_archive &za = b.zip();
    return za.ok() && za.find("META-INF/container.xml") < 0 && eb_zip_fb2_member(za) >= 0;
}

// More than four bytes, an XML start, and the root element in the whole text.
bool fb2_text(eb_book &b) {
    if (b.src().size() <= 4 || !eb_fb2_may_be(b.head().substr(0, 68))) return false;
    const std::string_view *text = b.text();
    return text && eb_fb2_looks_like(*text);
}

int read_fb2(eb_book &b, eb_record &r) {
    if (b.zip_opened() || (!b.by_content() && b.suffix() != kFb2[0])) {
        const int rc = eb_record_fb2_zip(b.zip(), b.label(), r);
        return b.zip().source_failed() ? -1 : rc;
    }
    const std::string_view *text = b.text();
    return text ? eb_record_fb2(*text, r) : -1;
}

// ---- Mobipocket family -----------------------------------------------------

constexpr std::string_view kMobi[] = {".mobi", ".azw", ".prc", ".pdb"};
constexpr std::string_view kMobiInfo[] = {".mobi", ".azw"};
constexpr std::string_view kAzw3[] = {".azw3"};
constexpr std::string_view kPalmDoc[] = {".pdb", ".prc"};
constexpr eb_signature kPalmBooks[] = {{EB_PALM_KIND_AT, EB_PALM_MOBI},
                                       {EB_PALM_KIND_AT, EB_PALM_DOC}};

bool palm_mobi(eb_book &b) {
    return eb_palm_kind_of(b.head()) == eb_palm_kind::mobi;
}
bool palm_doc(eb_book &b) {
    return eb_palm_kind_of(b.head()) == eb_palm_kind::doc;
}

// Under any of the family's names only the two kinds of book are read; a
// file shorter than the database header is left to the reader, which says so.
bool palm_book(eb_book &b) {
    if (b.src().size() < EB_PALM_HEADER) return true;
    return eb_palm_kind_of(b.head()) != eb_palm_kind::other;
}

int read_mobi(eb_book &b, eb_record &r) {
    return eb_record_mobi(b.src(), r);
}

// ---- PDF -------------------------------------------------------------------

constexpr std::string_view kPdf[] = {".pdf"};

// The header at the very start, or (tried last) anywhere in the first KiB,
// where PDF readers look for it.
bool pdf_at_start(eb_book &b) {
    return b.head().substr(0, 68).find("%PDF-") != std::string_view::npos;
}
bool pdf_in_head(eb_book &b) {
    return b.head().find("%PDF-") != std::string_view::npos;
}

int read_pdf(eb_book &b, eb_record &r) {
    return eb_lazy_record_pdf(b.src(), r);
}

// ---- Comic archives --------------------------------------------------------

constexpr std::string_view kCbz[] = {".cbz"};
constexpr std::string_view kCbr[] = {".cbr"};
constexpr std::string_view kCb7[] = {".cb7"};
constexpr std::string_view kCbt[] = {".cbt"};

bool comic_zip(eb_book &b) {
    return b.zip_signature() && eb_comic_zip_by_content(b.zip());
}
eb_comic_kind archive_kind(eb_book &b) {
    return eb_comic_sniff_bytes(b.head()).kind;
}
bool rar(eb_book &b) {
    const eb_comic_kind k = archive_kind(b);
    return k == eb_comic_kind::rar4 || k == eb_comic_kind::rar5;
}
bool sevenzip(eb_book &b) {
    return archive_kind(b) == eb_comic_kind::sevenzip;
}
bool tar(eb_book &b) {
    return archive_kind(b) == eb_comic_kind::tar;
}

// Named, the content decides the archive kind; found by content, a ZIP is
// read through the handle the tests opened, any other archive only when it
// holds a ComicInfo.xml.
int read_comic(eb_book &b, eb_record &r) {
    if (!b.by_content()) return eb_record_comic(b.src(), b.name(), b.label(), r);
    if (b.zip_opened()) {
        const int rc = eb_record_comic_zip(b.zip(), b.label(), r);
        return b.zip().source_failed() ? -1 : rc;
    }
    return eb_record_comic_by_content(b.src(), b.label(), r);
}

// ---- The table -------------------------------------------------------------

using P = eb_probe;

// The PDF writer lives in the module with the PDF reader; this row's writer
// reaches it through the module's table.
constexpr eb_format_writer kPdfWriter = {"PDF books", eb_pdf_stores, eb_lazy_write_pdf};

constexpr eb_format kFormats[] = {
    {.name = "epub",
     .extensions = kEpub,
     .info_extensions = kEpub,
     .content = {{{P::zip, any_zip}}},
     .read = read_epub,
     .info = eb_parse_epub_source,
     .writer = &eb_epub_writer},
    {.name = "fb2",
     .extensions = kFb2,
     .info_extensions = {kFb2, 1},
     .content = {{{P::zip_single, zip_of_one_fb2}, {P::text, fb2_text}}},
     .read = read_fb2,
     .info = eb_parse_fb2_source,
     .writer = &eb_fb2_writer},
    {.name = "mobi",
     .extensions = kMobi,
     .info_extensions = kMobiInfo,
     .shared_extensions = kPalmDoc,
     .signatures = kPalmBooks,
     .content = {{{P::palm, palm_mobi}}},
     .vet = palm_book,
     .read = read_mobi,
     .info = eb_parse_mobi_source,
     .writer = &eb_mobi_writer},
    {.name = "azw3",
     .extensions = kAzw3,
     .info_extensions = kAzw3,
     .content = {{{P::palm, palm_mobi}}},
     .vet = palm_book,
     .read = read_mobi,
     .info = eb_parse_mobi_source,
     .writer = &eb_azw3_writer},
    {.name = "palmdoc",
     .extensions = kPalmDoc,
     .shared_extensions = kPalmDoc,
     .signatures = kPalmBooks,
     .content = {{{P::palm, palm_doc}}},
     .vet = palm_book,
     .read = read_mobi},
    {.name = "pdf",
     .extensions = kPdf,
     .content = {{{P::signature, pdf_at_start}, {P::late, pdf_in_head}}},
     .read = read_pdf,
     .writer = &kPdfWriter,
     .in_module = true},
    {.name = "cbz",
     .extensions = kCbz,
     .content = {{{P::zip_comic, comic_zip}}},
     .read = read_comic,
     .cover = eb_comic_cover,
     .writer = &eb_cbz_writer},
    {.name = "cbr",
     .extensions = kCbr,
     .content = {{{P::signature, rar}}},
     .read = read_comic,
     .cover = eb_comic_cover,
     .in_module = true},
    {.name = "cb7",
     .extensions = kCb7,
     .content = {{{P::signature, sevenzip}}},
     .read = read_comic,
     .cover = eb_comic_cover,
     .in_module = true},
    {.name = "cbt",
     .extensions = kCbt,
     .content = {{{P::signature, tar}}},
     .read = read_comic,
     .cover = eb_comic_cover,
     .in_module = true},
};

}  // namespace

std::span<const eb_format> eb_formats() {
    return kFormats;
}
