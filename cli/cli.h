// cli.h - pieces of the quenfold-ebook-meta command-line tool shared by its source files.
#ifndef QEM_CLI_H
#define QEM_CLI_H

#include <sys/types.h>
#include <yyjson.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json_doc.h"

namespace qcli {

inline constexpr const char *kProg = "quenfold-ebook-meta";

// Exit statuses: everything done, something failed (the rest is complete),
// the command line itself was wrong (or the tool could not go on at all).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// "quenfold-ebook-meta: <message>" on stderr, shown through `shown`, so that
// names and book texts in it cannot drive the terminal.
void complain(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The system's words for an errno value; the one place that turns one into text.
std::string errno_text(int err);

// ---- books -----------------------------------------------------------------

// How much of a book is read: the full record (ebook_metadata), always
// valid UTF-8, or the short object of ebook_info, whose texts are the
// book's bytes.
enum class Detail { Full, Basic };

// One book as the library described it.
struct Book {
    std::string path;
    bool ok = false;      // the library gave an object (DRM-protected books included)
    std::string error;    // the library's message when !ok
    std::string object;   // the library's JSON object text, unchanged
    std::string element;  // compact JSON element: "path" (and "path_bytes"), then the members
    bool drm = false;
    bool has_cover = false;
    // Texts for columns and names. Of the full record: the authors' names
    // joined by " & " (first_author the first alone), the primary series.
    std::string format, title, author, first_author, series, series_index, language, asin, isbn,
        publisher, published;
    std::string pages;  // the record's page or image count, "" when it states none
};

// Describes one book through ebook_metadata (Full) or ebook_info (Basic).
Book describe(const std::string &path, Detail detail);

// Describes the books on up to `jobs` threads and returns them in the order
// of `paths`. `on_done` (may be empty) runs for each book as it finishes, one
// at a time; with it, only the books that failed are returned (path and
// error), in the order they finished. Draws a progress bar on stderr when that is a terminal and the
// work takes more than a moment. An exception thrown while describing (out
// of memory) stops the work and is thrown again here, on the calling thread.
std::vector<Book> describe_all(const std::vector<std::string> &paths, unsigned jobs, Detail detail,
                               const std::function<void(const Book &)> &on_done);

// ---- columns ---------------------------------------------------------------

// One column of `table` and `csv`.
enum class Field {
    Path,
    Drm,
    Format,
    Title,
    Author,
    Language,
    Series,
    SeriesIndex,
    HasCover,
    Asin,
    Isbn,
    Publisher,
    Published,
    Pages,
    Error
};

// The names --fields accepts, comma-separated, for messages and help.
std::string field_names();

// Reads a --fields list ("title,author"); false (with `bad` set to the
// first unknown or empty name) when one is not a column.
bool parse_fields(std::string_view list, std::vector<Field> &out, std::string &bad);

// The columns shown when --fields is not given.
std::vector<Field> default_table_fields();
std::vector<Field> default_csv_fields(Detail detail);

// Column heading: the field's name, upper case for the table.
std::string field_heading(Field f, bool table);

// A book's cell. In the table the format carries "(drm)" and the series its
// index; in CSV every value stands alone. A book that could not be read
// shows its error in the table's title cell and in the error column.
std::string field_cell(const Book &b, Field f, bool table);

// ---- directory walk --------------------------------------------------------

// Directories already walked, by device and inode, so that symbolic links
// that lead back up the tree (or to a tree already walked) end the walk.
using Visited = std::set<std::pair<dev_t, ino_t>>;

struct WalkOptions {
    bool recursive = false;
    // Follow symbolic links to directories and take links to books as books.
    // Without it, a link to a directory is not entered and a link to a book
    // is reported and left out: what is renamed stays inside the tree.
    bool follow_links = true;
    // Only the extensions ebook_scan_dir lists (what --basic shows).
    bool basic_only = false;
};

// True when the name's extension (any letter case) is one of the book
// extensions: epub, fb2, mobi, azw, azw3, and unless `basic_only` also
// fb2.zip, fbz, prc, pdb and pdf, and the comic archives cbz, cbr, cb7 and cbt.
bool has_book_ext(std::string_view name, bool basic_only = false);

// True when the file starts like a Mobipocket book or a PalmDOC text (the
// PalmDB type and creator): .prc and .pdb also name other Palm databases.
bool palm_book(const std::string &path);

// Appends to `out` the book files lying in `dir` (and below it when
// recursive): names starting with '.' are skipped, the extension decides.
// Paths are "<dir>/<name>", sorted within each directory. Reports
// directories that cannot be read on stderr and then returns false; the
// walk goes on.
bool collect_books(const std::string &dir, const WalkOptions &how, Visited &visited,
                   std::vector<std::string> &out);

// ---- JSON text -------------------------------------------------------------

// Length of the valid UTF-8 character at the start of s (not empty) and
// its code point; 0 when s does not start with one.
std::size_t utf8_char(std::string_view s, char32_t &cp);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s);

// Reads JSON text; null when it is not JSON under `flags`. Running out of
// memory is thrown (std::bad_alloc), never taken for text that is no JSON.
eb_doc_ptr read_json(std::string_view text, yyjson_read_flag flags);

// Adds "path" to a JSON object, and "path_bytes" (the exact bytes in Base64)
// when the path is not valid UTF-8; "path" then holds U+FFFD for each byte
// that is not part of a valid character. The CLI's own JSON text stays valid
// UTF-8 while a script can still address the file.
void add_path_members(yyjson_mut_doc *doc, yyjson_mut_val *obj, std::string_view path);

// ---- output ----------------------------------------------------------------

// The output guard: the text as it may reach a terminal. Control characters
// (C0, DEL, C1), bidi controls, U+2028/2029 and bytes that are not UTF-8
// become visible escapes such as \x1b, \u009b or \u202e, so that no name or
// book text can move the cursor, change colours, retitle the window or show
// itself in another order. `width` (may be null) gets the display width,
// escapes counted as the characters they are written with.
std::string shown(std::string_view s, std::size_t *width = nullptr);

// Prints rows as columns separated by two blanks, aligned by display width;
// every cell passes the output guard; the last column is not padded.
void print_columns(std::FILE *out, const std::vector<std::vector<std::string>> &rows);

// One CSV field as RFC 4180 wants it: quoted when it holds a comma, a
// quote, CR or LF, with quotes doubled. Unless `raw`, control characters
// other than CR and LF become a space, and a field starting with = + - or @
// gets a leading ' so that a spreadsheet takes it as text, not a formula.
std::string csv_field(std::string_view s, bool raw);

// JSON text as it may reach a terminal: DEL, C1 controls, bidi controls and
// U+2028/2029 written as \u escapes (the same JSON value), and each byte that
// is not UTF-8 (only under --basic) as U+FFFD, which is what a UTF-8
// terminal shows for it. JSON escapes C0 controls itself.
std::string terminal_json(std::string_view json);

// Writes JSON text to standard output: as terminal_json gives it when that
// is a terminal, unchanged to a file or a pipe. False when writing failed.
bool write_json(std::string_view text);

// Writes `text` and checks the stream; false when writing failed.
bool write_out(std::FILE *out, std::string_view text);

// Flushes standard output; false (after saying so on stderr) when it could
// not be written.
bool stdout_ok();

// ---- commands --------------------------------------------------------------

int run_info(const std::vector<std::string> &paths, unsigned jobs, Detail detail);

struct ScanOptions {
    std::vector<std::string> dirs;
    bool recursive = false;
    unsigned jobs = 1;
    std::string format = "json";
    bool csv_raw = false;
    Detail detail = Detail::Full;
    std::vector<Field> fields;  // empty: the format's default columns
};

int run_scan(const ScanOptions &opt);

int run_cover(const std::string &book, const std::string &out);

struct RenameOptions {
    std::vector<std::string> paths;
    std::string pattern;  // empty: the library's default pattern
    bool apply = false;
    bool recursive = false;
    bool table = false;
    unsigned jobs = 1;
};

// The placeholders a name pattern may hold.
inline constexpr const char *kKnownPlaceholders = "{author} {title} {series} {idx} {series_index}";

// The first placeholder of `pattern` (with its braces) that the planner does
// not know; empty when there is none. Braces are read as the planner reads
// them: a '{' with no '}' after it is plain text.
std::string unknown_placeholder(std::string_view pattern);

int run_rename(const RenameOptions &opt);

// One entry of a rename plan.
struct Entry {
    std::string from, to, to_name;
};

// Carries out the plan for the books asked about, in order; false when some
// book was not renamed or standard output could not be written.
bool apply_plan(const std::vector<Entry> &plan, const std::vector<std::string> &asked, bool table);

// Renames without ever replacing an existing file; -1 with errno on failure
// (EEXIST when the target is taken).
int rename_noreplace(const char *from, const char *to);

// ---- set -------------------------------------------------------------------

// What `set` writes. A field option given sets the field; --clear NAME
// removes it. Book paths come from `books`, or with their changes from the
// JSON lines of `from`.
struct SetOptions {
    std::vector<std::string> books;
    std::string from;  // a file of JSON lines, "-" for standard input
    // Field options, each with whether it was given.
    std::string title, series, series_index, language, publisher, published, description, isbn,
        cover;
    bool title_given = false, series_given = false, index_given = false, language_given = false,
         publisher_given = false, published_given = false, description_given = false,
         isbn_given = false, cover_given = false;
    std::vector<std::string> authors, subjects, identifiers, clear;
    bool dry_run = false, keep_mtime = false, break_links = false;
    bool json = false;
    unsigned jobs = 1;
};

// The fields --clear accepts, space-separated, for messages and help.
extern const char *const kClearableFields;

// One book's work: its path and its request (JSON text), or the request's
// fault (a line of --from that could not be read).
struct SetTask {
    std::string path;
    std::string changes;  // a JSON object; with field options, built per book
    std::string fault;
};

// The tasks of a command line: one per book, its request made from the
// field options once the book's record is known (make_request), or one per
// line of --from. False (after saying why) when --from cannot be read.
bool set_tasks(const SetOptions &opt, std::vector<SetTask> &out);

// The request for one book from the field options and the book's record
// (the JSON the library gave, or "" when it could not be read): the series
// options change the primary series only, --identifier replaces the
// identifiers of its scheme only. Empty with *fault set when the options
// cannot apply to this book.
std::string make_request(const SetOptions &opt, std::string_view record, std::string *fault);

// Validates the field options before any book is touched; false (after
// saying why) for a usage error.
bool check_set_options(const SetOptions &opt);

int run_set(const SetOptions &opt);

}  // namespace qcli

#endif
