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
// error), in the order they finished. Draws a progress bar on stderr when that is a terminal and
// the work takes more than a moment. An exception thrown while describing (out of memory) stops the
// work and is thrown again here, on the calling thread.
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

// True when the name ends (any letter case) in one of the extensions the
// library reads books under (ebook_formats: epub, fb2, fb2.zip, mobi, pdf,
// cbz...); with `basic_only` one of those ebook_scan_dir lists.
bool has_book_ext(std::string_view name, bool basic_only = false);

// False for a file under an extension that other files share (.prc and .pdb
// also name Palm address books and memos) which holds none of the signatures
// the library gives for a book there (the PalmDB type and creator); true
// for any other file, and for one that cannot be read (the library says why).
bool holds_book_signature(const std::string &path);

// Appends to `out` the book files lying in `dir` (and below it when
// recursive): names starting with '.' are skipped, the extension decides.
// Paths are "<dir>/<name>", sorted within each directory. Reports
// directories that cannot be read on stderr and then returns false; the
// walk goes on.
bool collect_books(const std::string &dir, const WalkOptions &how, Visited &visited,
                   std::vector<std::string> &out);

// The books named on a command line that mixes files and directories, in
// its order: the books collect_books finds in each directory, and every
// other path as it was given, to be described (a file that is no book, or
// none at all, then fails as a book, with the library's message). False
// when a directory could not be read.
bool gather_books(const std::vector<std::string> &args, const WalkOptions &how,
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

// The text with U+FFFD in place of each byte that starts no valid character.
std::string utf8_repaired(std::string_view s);

// Adds "path" to a JSON object, and "path_bytes" (the exact bytes in Base64)
// when the path is not valid UTF-8; "path" then holds U+FFFD for each byte
// that is not part of a valid character. The CLI's own JSON text stays valid
// UTF-8 while a script can still address the file.
void add_path_members(yyjson_mut_doc *doc, yyjson_mut_val *obj, std::string_view path);

// ---- output ----------------------------------------------------------------

// One character as a terminal shows it: its bytes after the output guard and
// the columns it takes (two for a wide one). A character that continues the
// one before it (a combining accent, a joiner) belongs to that one.
struct Glyph {
    std::string text;
    std::size_t width = 0;
};

// The text as it may reach a terminal, character by character. Control
// characters (C0, DEL, C1), bidi controls, U+2028/2029 and bytes that are
// not UTF-8 become visible escapes such as \x1b, \u009b or \u202e (one
// glyph each, as wide as its characters), so that no name or book text can
// move the cursor, change colours, retitle the window or show itself in
// another order.
std::vector<Glyph> glyphs(std::string_view s);

// The output guard: the glyphs of the text joined. `width` (may be null)
// gets the display width.
std::string shown(std::string_view s, std::size_t *width = nullptr);

// How a cell wider than its column is shortened, always marked by "…".
enum class Cut {
    End,    // the end goes: "The Brothers Kara…"
    Start,  // the start goes, so that a path keeps its file name: "…/Karamazov.epub"
    Names,  // a list joined by " & " keeps its first whole names: "Ann Lee & …"
};

// Column widths within `room` columns: when the natural widths do not fit,
// the columns narrower than an equal share keep theirs and the others share
// the rest equally (at least one column each).
std::vector<std::size_t> fair_widths(const std::vector<std::size_t> &natural, std::size_t room);

// The width a table is fitted to: `asked` (--width) when above 0; none (0)
// with `no_truncate`; else the terminal's when standard output is one, else
// the COLUMNS variable, else none.
std::size_t table_width(long asked, bool no_truncate);

// Prints rows as columns separated by two blanks, aligned by display width;
// every cell passes the output guard; the last column is not padded. With a
// `width` (0: none) the columns share it by fair_widths and longer cells are
// cut as `cuts` says for their column (Cut::End for the others).
void print_columns(std::FILE *out, const std::vector<std::vector<std::string>> &rows,
                   std::size_t width = 0, const std::vector<Cut> &cuts = {});

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

// How a JSON document is laid out: on one line, or indented by two spaces
// with one member or element a line, for a person to read.
enum class JsonStyle { Compact, Pretty };

// The layout a command prints its JSON in: --pretty or --compact when one
// was given, else indented when standard output is a terminal and one line
// for a file or a pipe (which scripts read).
JsonStyle json_style(bool pretty, bool compact);

// Writes one JSON document (compact text, such as the library's) and a line
// end to standard output in `style`, through write_json; the values are the
// same either way, texts byte for byte. False when writing failed.
bool write_json_document(std::string_view json, JsonStyle style);

// Writes `text` and checks the stream; false when writing failed.
bool write_out(std::FILE *out, std::string_view text);

// Flushes standard output; false (after saying so on stderr) when it could
// not be written.
bool stdout_ok();

// ---- commands --------------------------------------------------------------

struct InfoOptions {
    std::vector<std::string> paths;  // books and directories
    bool recursive = false;
    unsigned jobs = 1;
    Detail detail = Detail::Full;
    JsonStyle style = JsonStyle::Compact;
};

int run_info(const InfoOptions &opt);

struct ScanOptions {
    std::vector<std::string> paths;  // directories and books
    bool recursive = false;
    unsigned jobs = 1;
    std::string format = "json";
    bool csv_raw = false;
    Detail detail = Detail::Full;
    std::vector<Field> fields;  // empty: the format's default columns
    JsonStyle style = JsonStyle::Compact;
    std::size_t width = 0;  // of the table; 0: no limit
};

int run_scan(const ScanOptions &opt);

int run_cover(const std::string &book, const std::string &out);

struct RenameOptions {
    std::vector<std::string> paths;
    std::string pattern;  // empty: the library's default pattern
    bool apply = false;
    bool recursive = false;
    bool table = false;
    bool folders = false;  // each '/' of the pattern makes a folder
    unsigned jobs = 1;
    std::string log;   // with apply: the file the moves are added to
    std::string undo;  // a log whose moves are taken back (no paths then)
    JsonStyle style = JsonStyle::Compact;
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
    // With --folders: the path up to the folders (the directory named, or the
    // book's own, with its slash; empty for the working directory) and the
    // folders below it, each one name; "to" is `base`, the folders and
    // "to_name" joined by slashes.
    bool in_folders = false;
    std::string base;
    std::vector<std::string> folders;
};

// What the planner is told of one book: its path (for the directory and the
// extension), decoded first author, primary series with its index, and title.
struct PlanRequest {
    std::string path, author, series, series_index, title;
};

// The library's plan for the books, read into entries (a .fb2.zip keeps both
// extensions); false (after saying why) when there is none.
bool plan_names(const std::vector<PlanRequest> &asked, const std::string &pattern,
                std::vector<Entry> &plan);

// The plan with --folders: each book's folders from the parts of `pattern`
// before its last '/', each part named by the planner as a whole name is
// (sanitised, never "." or "..", a leading full stop made visible; no
// folder where the part names nothing for the book, as "{series}" for a book
// in none), below `base_of` the book; its name from the last part, clashes
// numbered within each folder. Books whose new path would not fit the planner are left out
// with a message (`ok` false) and taken out of `asked`. Entries in the order
// of `asked`.
bool plan_in_folders(std::vector<PlanRequest> &asked, const std::string &pattern,
                     const std::vector<std::string> &base_of, std::vector<Entry> &plan, bool &ok);

// Where a book's folders go: the directory named on the command line that
// the book was found in (`dir_arg`, empty for a book named itself), else
// the book's own directory; with its slash, as the walk joins paths.
std::string folder_base(const std::string &book, const std::string &dir_arg);

// Makes underscores of the leading full stops of a planned name (".hack"
// becomes "_hack"), which would hide the file.
// True when it changed.
bool make_visible_name(std::string &name);

// How the applied moves are kept: stdout records as a table or JSON lines,
// and a log file (fd -1: none) for --undo.
struct ApplyOutput {
    bool table = false;
    int log_fd = -1;
};

// Carries out the plan for the books asked about, in order; false when some
// book was not renamed, or standard output or the log could not be written.
bool apply_plan(const std::vector<Entry> &plan, const std::vector<std::string> &asked,
                const ApplyOutput &out);

// Moves the books of a --log file back; the exit status.
int run_undo(const std::string &log, bool table);

// Renames without ever replacing an existing file; -1 with errno on failure
// (EEXIST when the target is taken). Names relative to a directory
// descriptor, as renameat2 takes them.
int rename_noreplace(int from_dir, const char *from, int to_dir, const char *to);

// One JSON line of a move: "from", "to" and, when given, "made_folders".
std::string move_line(std::string_view from, std::string_view to,
                      const std::vector<std::string> &made = {});

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
    // Takes the last update this tool appended off each PDF instead.
    bool undo_last = false;
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
