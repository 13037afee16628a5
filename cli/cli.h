// cli.h - pieces of the quenfold-ebook-meta command-line tool shared by its source files.
#ifndef QEM_CLI_H
#define QEM_CLI_H

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qcli {

inline constexpr const char *kProg = "quenfold-ebook-meta";

// Exit statuses: everything done, something failed (the rest is complete),
// the command line itself was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// "quenfold-ebook-meta: <message>" on stderr.
void complain(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// ---- books -----------------------------------------------------------------

// One book as the library described it.
struct Book {
    std::string path;
    bool ok = false;      // ebook_info gave an object (DRM-protected books included)
    std::string error;    // the library's message when !ok
    std::string object;   // the library's JSON object text, unchanged
    std::string element;  // compact JSON element: "path" then the object's members
    bool drm = false;
    std::string format, title, author, series, series_index;
};

// Describes one book through ebook_info.
Book describe(const std::string &path);

// Describes the books on up to `jobs` threads and returns them in the order
// of `paths`. `on_done` (may be empty) runs for each book as it finishes, one
// at a time. Draws a progress bar on stderr when that is a terminal and the
// work takes more than a moment.
std::vector<Book> describe_all(const std::vector<std::string> &paths, unsigned jobs,
                               const std::function<void(const Book &)> &on_done);

// ---- directory walk --------------------------------------------------------

// Directories already walked, by device and inode, so that symbolic links
// that lead back up the tree (or to a tree already walked) end the walk.
using Visited = std::set<std::pair<dev_t, ino_t>>;

// True when the name's extension (after its last dot, any letter case) is
// one of the book extensions.
bool has_book_ext(std::string_view name);

// Appends to `out` the book files lying in `dir` (and below it with
// `recursive`): names starting with '.' are skipped, the extension decides.
// Paths are "<dir>/<name>", sorted within each directory. Without
// `recursive` the entry's kind is not looked at. Reports directories that
// cannot be read on stderr and then returns false; the walk goes on.
bool collect_books(const std::string &dir, bool recursive, Visited &visited,
                   std::vector<std::string> &out);

// ---- output ----------------------------------------------------------------

// The text as a terminal cell: control characters become '?'. `width` gets
// its display width (bytes that are not UTF-8 count one column each).
std::string printable(std::string_view s, std::size_t &width);

// Prints rows as columns separated by two blanks, aligned by display width;
// the last column is not padded.
void print_columns(std::FILE *out, const std::vector<std::vector<std::string>> &rows);

// One CSV field as RFC 4180 wants it: quoted when it holds a comma, a
// quote, CR or LF, with quotes doubled.
std::string csv_field(std::string_view s);

// Writes `text` and checks the stream; false when writing failed.
bool write_out(std::FILE *out, std::string_view text);

// ---- rename ----------------------------------------------------------------

struct RenameOptions {
    std::vector<std::string> paths;
    std::string pattern;  // empty: the library's default pattern
    bool apply = false;
    bool recursive = false;
    bool table = false;
    unsigned jobs = 1;
};

int run_rename(const RenameOptions &opt);

// Renames without ever replacing an existing file; -1 with errno on failure
// (EEXIST when the target is taken).
int rename_noreplace(const char *from, const char *to);

}  // namespace qcli

#endif
