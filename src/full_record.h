// full_record.h - the full record of one book: everything it states, as valid UTF-8 text.
#ifndef QUENFOLD_FULL_RECORD_H
#define QUENFOLD_FULL_RECORD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A creator or contributor. role is a MARC relator code ("aut", "trl", "ill",
// "edt"...); authors whose role the book leaves unstated get "aut".
struct eb_person {
    std::string name;
    std::string sort;  // file-as / sort form when the book gives one, else ""
    std::string role;
};

struct eb_series {
    std::string name;
    std::string index;  // as the book writes it; never converted to a number
};

struct eb_identifier {
    std::string
        scheme;  // "isbn", "uuid", "asin", "doi", "fb2-id", or the book's own word, lower-cased
    std::string value;  // ISBNs as 13 digits; other values as found
};

struct eb_cover_info {
    std::string mime;
    std::uint64_t size = 0;
    std::string from;  // which rule found it, e.g. "cover-image", "meta-cover", "first-image",
                       // "coverpage", "exth-201"
};

// Every text member is valid UTF-8 (readers decode; the JSON writer refuses
// anything else). Absent texts are "", absent lists empty; the members kept
// in std::optional are written as null when absent.
struct eb_record {
    std::string format;  // "epub" | "fb2" | "mobi" | "azw3" | "palmdoc" | "pdf" | "cbz" | "cbr" |
                         // "cb7" | "cbt"
    std::optional<std::string> container;  // "fb2.zip" for an FB2 read out of a ZIP
    std::optional<std::string> version;    // EPUB package version, MOBI file version
    std::string title, title_sort, subtitle;
    std::vector<eb_person> authors;       // role author or unstated, document order
    std::vector<eb_person> contributors;  // every other role
    std::string language;                 // the primary language
    std::vector<std::string> languages;   // all of them, the primary first
    std::vector<eb_series> series;        // primary first
    std::vector<eb_identifier> identifiers;
    std::string publisher, published, modified, rights;
    std::string description;  // plain text, paragraphs separated by a blank line
    std::vector<std::string> subjects;
    // Pages the book states: a PDF's page count, a comic archive's image
    // count; absent where a format states none (reflowable text has no pages).
    std::optional<std::uint64_t> pages;
    std::optional<eb_cover_info> cover;
    bool drm = false;  // real protection only
    // "adobe-adept" | "readium-lcp" | "apple-fairplay" | "mobipocket" | "fb2-encrypted" |
    // "pdf-password" | "archive-password" | "unknown"
    std::optional<std::string> drm_scheme;
    bool obfuscated_fonts = false;
    std::optional<std::string>
        encoding;  // declared text encoding when not UTF-8 (e.g. "windows-1251")
    std::vector<std::string> warnings;  // soft notices; the call still succeeds
};

// Every text of the record, of every format, is cut to at most this many
// bytes (at a character boundary): titles, names, descriptions, list entries.
constexpr std::size_t EB_TEXT_LIMIT = 64 * 1024;

// The readers promise valid UTF-8; should one slip, every text that is not
// gets its bad bytes replaced (U+FFFD) and the warning "invalid UTF-8
// replaced", so that the host still gets valid JSON.
void eb_record_ensure_utf8(eb_record &r);

// Settles a record a reader filled (valid UTF-8): in every text but the
// rights and the description, runs of XML white space (space, tab, CR, LF)
// become one space and none is left at either end; every text is cut to
// EB_TEXT_LIMIT, then each list (subjects, languages, identifiers, series,
// authors, contributors) keeps the first of entries that are equal in every
// member, in its order. Linear in the record: equal entries are found by
// hashing.
void eb_record_settle(eb_record &r);

// One text as the settling makes a one-line text: runs of XML white space
// become one space, none at either end.
void eb_fold_line(std::string &s);

// The full record of the book in src, as ebook_metadata reads it: the
// reader chosen by name's extension (may be null), else by the content;
// ensured UTF-8 and settled. 0 (a protected book included), or -1 with the
// error text set. The writer reads both the old and the new book with it.
class eb_source;
int eb_read_full_record(const char *name, const eb_source &src, eb_record &r);

// The record as one compact JSON object, every key present, in this order:
// format container version title title_sort subtitle authors contributors
// language languages series identifiers isbn asin publisher published
// modified rights description subjects pages cover drm drm_scheme obfuscated_fonts
// encoding warnings. "isbn" and "asin" are the first identifiers of those
// schemes, or null. A malloc'd string for the host, or null with the error
// text set.
char *eb_record_to_json(const eb_record &r);

#endif  // QUENFOLD_FULL_RECORD_H
