// registry.h - the format table: every format the library reads, what chooses it, and what reads
// it.
#ifndef QUENFOLD_FORMATS_REGISTRY_H
#define QUENFOLD_FORMATS_REGISTRY_H

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "formats/book.h"
#include "full_record.h"
#include "io/source.h"
#include "record.h"

struct eb_format_writer;  // ops/write/writer.h

// When a content test runs. Every test of one stage runs before any of the
// next (in table order within a stage) and the first that holds chooses: a
// ZIP archive is looked into first (what a member marks it as before what
// any ZIP is taken for), then the first bytes, then what reads more.
enum class eb_probe : std::uint8_t {
    none,        // no test
    zip_comic,   // a ZIP holding ComicInfo.xml and no EPUB container
    zip_single,  // a ZIP holding one FictionBook and no EPUB container
    zip,         // any other ZIP
    signature,   // a signature in the first bytes
    text,        // an XML text's root element (the text is read whole)
    palm,        // a PalmDB book's type and creator
    late,        // a signature further into the first KiB
};

struct eb_content_test {
    eb_probe when = eb_probe::none;
    bool (*holds)(eb_book &) = nullptr;
};

// Bytes a book holds at a fixed place.
struct eb_signature {
    std::uint64_t offset;
    std::string_view bytes;
};

// A reader chosen by content may find that the book is not of its format
// after all (a RAR archive without ComicInfo.xml): it returns this, and the
// book is "unsupported ebook format".
constexpr int EB_NOT_THIS_FORMAT = 1;

// One row of the table: one format as the full record's "format" names it.
struct eb_format {
    std::string_view name;
    // Name endings that choose it, lower case, dot included, compared
    // without letter case: the first row holding a name's ending wins.
    std::span<const std::string_view> extensions{};
    // Those of them under which ebook_info reads it (with `info`).
    std::span<const std::string_view> info_extensions{};
    // Those that files of other kinds share: a file under one of them is a
    // book only when it holds one of `signatures`. The vet applies the rule.
    std::span<const std::string_view> shared_extensions{};
    std::span<const eb_signature> signatures{};
    std::array<eb_content_test, 2> content{};
    // A test a book must pass even when its name chose the format (else it
    // is "unsupported ebook format"); null when the name is enough.
    bool (*vet)(eb_book &) = nullptr;
    // The full record (ebook_metadata): 0, -1 with the error text set, or
    // EB_NOT_THIS_FORMAT.
    int (*read)(eb_book &, eb_record &) = nullptr;
    // The book info of ebook_info and its cover (the reader contract of
    // readers.h); null for a format ebook_info does not read.
    int (*info)(const eb_source &, eb_meta *, int want_cover) = nullptr;
    // The cover of a format that ebook_info does not read: its bytes into a
    // new malloc block; 0, -1 with the error text set, or 1 when by_content
    // and the book is not of the format. Null where `info` gives the cover.
    int (*cover)(const eb_source &, const char *name, bool by_content, unsigned char **data,
                 std::uint64_t *len) = nullptr;
    // The writer, null while the format cannot be written.
    const eb_format_writer *writer = nullptr;
    // Whether its reader lives in the lazily loaded module (lazy_readers.h).
    bool in_module = false;
};

// The rows, in the order ebook_formats lists them.
std::span<const eb_format> eb_formats();

// The row of a format as the record names it ("epub", "azw3"...); null for
// another word. What writes a book finds its writer here.
const eb_format *eb_format_named(std::string_view format);
// The row whose extensions end name (may be null), and the ending in *suffix;
// null when none does.
const eb_format *eb_format_by_name(const char *name, std::string_view *suffix);
// A name that chooses no format and forbids the content to choose one: a
// bare ".zip" holds several books more often than one.
bool eb_name_refused(const char *name);
// The row whose content tests first hold for the book, in the order of
// eb_probe; null when none holds or a read failed (b.failed()).
const eb_format *eb_format_by_content(eb_book &b);
// The row that ebook_info reads under a lower-cased extension without its
// dot ("epub"); null for any other.
const eb_format *eb_format_for_info(std::string_view ext);

// The full record of one book: its reader chosen by name, else by content.
// label names the book in "unsupported ebook format: %s". The reader's
// result, or -1 with the error text set (or the source failed).
int eb_read_record(const eb_source &src, const char *name, const char *label, eb_record &r);

// The cover of a book that ebook_info does not read by its name: through the
// cover function of the row its name chooses, else of each row that has one
// with the content deciding. 0; -1 with the error text set; 1 when none
// claims the book (ebook_info's reader then decides by content).
int eb_format_cover(const eb_source &src, const char *name, unsigned char **data,
                    std::uint64_t *len);

// The table as JSON text for hosts (ebook_formats), a malloc'd string; null
// with the error text set.
char *eb_formats_json();

#endif  // QUENFOLD_FORMATS_REGISTRY_H
