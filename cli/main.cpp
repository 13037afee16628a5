// main.cpp - quenfold-ebook-meta, the command line over the library: options, dispatch, last
// resort.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <sstream>
#include <thread>

#include "cli.h"
#include "quenfold_ebook.h"


namespace qcli {
namespace {

// --pretty and --compact, which every command printing JSON takes.
struct JsonFlags {
    bool pretty = false, compact = false;
};

void add_json_flags(CLI::App *cmd, JsonFlags &f) {
    auto *pretty = cmd->add_flag("--pretty", f.pretty,
                                 "JSON indented, one member a line (the default on a terminal)");
    cmd->add_flag("--compact", f.compact, "JSON on one line (the default to a file or a pipe)")
        ->excludes(pretty);
}

// The extensions the directory walk takes for books, for the help.
constexpr const char *kBookExtensions =
    "epub, fb2, fb2.zip, fbz, mobi, azw, azw3, prc, pdb, pdf, and the comic archives cbz, cbr, "
    "cb7 and cbt";

// What the command line asked for: one subcommand and its options.
struct Request {
    CLI::App *info = nullptr, *cover = nullptr, *scan = nullptr, *rename = nullptr,
             *set = nullptr;
    InfoOptions info_opt;
    bool info_basic = false, scan_basic = false;
    JsonFlags info_json, scan_json, ren_json;
    std::string scan_fields;
    long scan_width = 0;
    bool scan_no_truncate = false;
    std::string cover_book, cover_out;
    ScanOptions scan_opt;
    RenameOptions ren;
    std::string ren_format = "json";
    SetOptions set_opt;
    std::string set_format = "text";
};

void add_jobs_option(CLI::App *cmd, unsigned &jobs, unsigned cores) {
    jobs = cores;
    cmd->add_option("-j,--jobs", jobs, "Books read at once (default: number of cores)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
}

// Under --basic the tool prints what ebook_info and ebook_scan_dir print.
constexpr const char *kBasicHelp =
    "The short object of ebook_info (a listing element of ebook_scan_dir) instead of the full "
    "record; the book's texts are then the library's bytes, which need not be UTF-8";

void add_info(CLI::App &app, Request &r, unsigned cores) {
    InfoOptions &o = r.info_opt;
    r.info = app.add_subcommand("info",
                                "Print the full record of books as JSON: the object of one book, "
                                "an array for several or for a directory");
    r.info->add_option("PATH", o.paths, "Book files and directories (their books)")->required();
    r.info->add_flag("-r,--recursive", o.recursive, "Walk subdirectories too");
    add_jobs_option(r.info, o.jobs, cores);
    r.info->add_flag("--basic", r.info_basic, kBasicHelp);
    add_json_flags(r.info, r.info_json);
}

void add_cover(CLI::App &app, Request &r) {
    r.cover = app.add_subcommand(
        "cover", "Write the cover image of a book to a file (replaced whole, never the book)");
    r.cover->add_option("BOOK", r.cover_book, "Book file")->required();
    r.cover->add_option("OUT", r.cover_out, "File to write; - for standard output")->required();
}

void add_scan(CLI::App &app, Request &r, unsigned cores) {
    ScanOptions &o = r.scan_opt;
    r.scan = app.add_subcommand(
        "scan", std::string("Describe books: the files named and the books in the directories "
                            "named, by extension: ") +
                    kBookExtensions);
    r.scan->add_option("PATH", o.paths, "Directories and book files")->required();
    r.scan->add_flag("-r,--recursive", o.recursive, "Walk subdirectories too");
    add_jobs_option(r.scan, o.jobs, cores);
    r.scan
        ->add_option("--format", o.format,
                     "json (array sorted by path), jsonl (one book per line, as read), "
                     "table or csv")
        ->check(CLI::IsMember({"json", "jsonl", "table", "csv"}));
    r.scan->add_flag("--basic", r.scan_basic,
                     std::string(kBasicHelp) + "; only epub, fb2, mobi, azw and azw3 are listed");
    r.scan
        ->add_option("--fields", r.scan_fields,
                     "table and csv: the columns, comma-separated, from " + field_names())
        ->check(
            [](const std::string &list) -> std::string {
                std::vector<Field> fields;
                std::string bad;
                if (parse_fields(list, fields, bad)) return {};
                return "unknown field \"" + shown(bad) + "\"; the fields are " + field_names();
            },
            "FIELDS")
        ->type_name("LIST");
    auto *width = r.scan
                      ->add_option("--width", r.scan_width,
                                   "table: fit the lines to N columns (default: the terminal's "
                                   "width, else COLUMNS, else no limit)")
                      ->check(CLI::Range(1L, 100000L))
                      ->type_name("N");
    r.scan
        ->add_flag("--no-truncate", r.scan_no_truncate,
                   "table: whole cells, however wide the lines get")
        ->excludes(width);
    r.scan->add_flag("--csv-raw", o.csv_raw,
                     "csv: fields exactly as read, without replacing control characters "
                     "or guarding a leading = + - @ with '");
    add_json_flags(r.scan, r.scan_json);
}

void add_rename(CLI::App &app, Request &r, unsigned cores) {
    RenameOptions &o = r.ren;
    r.rename = app.add_subcommand(
        "rename", "Plan new file names from the books' metadata; rename with --apply");
    r.rename->add_option("PATH", o.paths, "Book files or directories");
    r.rename->add_option("--pattern", o.pattern,
                         std::string("Name pattern with ") + kKnownPlaceholders +
                             " (default \"{author} - {series} #{idx} - {title}\"); "
                             "any other placeholder is refused");
    auto *folders = r.rename->add_flag(
        "--folders", o.folders,
        "Each / of the pattern makes a folder, below the directory named (or the book's own for "
        "a book named): --pattern \"{author}/{title}\"");
    auto *apply = r.rename->add_flag("--apply", o.apply,
                                     "Rename the files; an existing file is never replaced");
    r.rename
        ->add_option("--log", o.log,
                     "With --apply: add each move to FILE as a JSON line of \"from\" and \"to\" "
                     "(and the folders it made), for --undo")
        ->needs(apply)
        ->type_name("FILE");
    r.rename
        ->add_option("--undo", o.undo,
                     "Move the books of a --log FILE back, the last first, never over an existing "
                     "file; folders the moves made are removed when empty")
        ->excludes(apply)
        ->excludes(folders)
        ->type_name("FILE");
    r.rename->add_flag("-r,--recursive", o.recursive,
                       "Walk subdirectories too (symbolic links are not followed)");
    add_jobs_option(r.rename, o.jobs, cores);
    r.rename->add_option("--format", r.ren_format, "json (the plan) or table (old -> new)")
        ->check(CLI::IsMember({"json", "table"}));
    add_json_flags(r.rename, r.ren_json);
}

// A text option whose presence is recorded: "" is a value (set_request
// tells an empty title from no --title).
void add_text(CLI::App *cmd, const char *name, std::string &value, bool &given, const char *what) {
    cmd->add_option(name, value, what)->each([&given](const std::string &) { given = true; });
}

void add_set(CLI::App &app, Request &r, unsigned cores) {
    SetOptions &o = r.set_opt;
    r.set = app.add_subcommand(
        "set",
        "Write metadata into books (epub, fb2, fb2.zip, fbz, cbz, mobi, azw, azw3, pdf): each is "
        "written anew "
        "beside the old one, read back and checked, then put in its place");
    r.set->add_option("BOOK", o.books, "Book files");
    add_text(r.set, "--title", o.title, o.title_given, "Title");
    r.set->add_option("--author", o.authors, "Author (repeat for several; replaces the authors)")
        ->type_name("NAME");
    add_text(r.set, "--series", o.series, o.series_given, "Name of the primary series");
    add_text(r.set, "--series-index", o.series_index, o.index_given,
             "Position in the primary series (the book's series when --series is not given)");
    add_text(r.set, "--language", o.language, o.language_given, "Language (a BCP 47 tag)");
    add_text(r.set, "--publisher", o.publisher, o.publisher_given, "Publisher");
    add_text(r.set, "--published", o.published, o.published_given, "Publication date (ISO 8601)");
    add_text(r.set, "--description", o.description, o.description_given,
             "Description, plain text; a blank line between paragraphs");
    r.set->add_option("--subject", o.subjects, "Subject (repeat for several; replaces them)")
        ->type_name("S");
    add_text(r.set, "--isbn", o.isbn, o.isbn_given, "ISBN-10 or ISBN-13");
    r.set->add_option("--identifier", o.identifiers,
                      "SCHEME:VALUE (repeat; replaces the book's identifiers of that scheme)");
    add_text(r.set, "--cover", o.cover, o.cover_given, "Cover image (JPEG, PNG, GIF or WebP)");
    r.set->add_option("--clear", o.clear, std::string("Remove a field: ") + kClearableFields)
        ->type_name("FIELD");
    r.set
        ->add_option("--from", o.from,
                     "JSON lines of {\"path\": ..., changes...} (what scan --format jsonl "
                     "writes, edited); - for standard input")
        ->type_name("FILE");
    r.set->add_flag("--undo-last", o.undo_last,
                    "Take the last update this tool appended off each PDF, giving back its "
                    "bytes before that write exactly");
    r.set->add_flag("--dry-run", o.dry_run, "Build and check each new book, keep nothing");
    r.set->add_flag("--keep-mtime", o.keep_mtime, "Keep each book's modification time");
    r.set->add_flag("--break-links", o.break_links,
                    "Write books that have several hard links (the other names keep the old book)");
    add_jobs_option(r.set, o.jobs, cores);
    r.set->add_option("--format", r.set_format, "text (old -> new per book) or json")
        ->check(CLI::IsMember({"text", "json"}));
}

int dispatch(Request &r) {
    if (r.set->parsed()) {
        r.set_opt.json = r.set_format == "json";
        return run_set(r.set_opt);
    }
    if (r.info->parsed()) {
        r.info_opt.detail = r.info_basic ? Detail::Basic : Detail::Full;
        r.info_opt.style = json_style(r.info_json.pretty, r.info_json.compact);
        return run_info(r.info_opt);
    }
    if (r.cover->parsed()) return run_cover(r.cover_book, r.cover_out);
    if (r.scan->parsed()) {
        ScanOptions &o = r.scan_opt;
        o.detail = r.scan_basic ? Detail::Basic : Detail::Full;
        const bool table = o.format == "table", csv = o.format == "csv";
        if (!r.scan_fields.empty()) {
            if (!table && !csv) {
                complain("--fields chooses the columns of --format table or csv");
                return kExitUsage;
            }
            std::string bad;
            parse_fields(r.scan_fields, o.fields, bad);
        }
        if ((r.scan_width > 0 || r.scan_no_truncate) && !table) {
            complain("--width and --no-truncate shape --format table");
            return kExitUsage;
        }
        if ((r.scan_json.pretty || r.scan_json.compact) && o.format != "json") {
            complain("--pretty and --compact lay out --format json; jsonl is one book a line");
            return kExitUsage;
        }
        o.style = json_style(r.scan_json.pretty, r.scan_json.compact);
        o.width = table ? table_width(r.scan_width, r.scan_no_truncate) : 0;
        return run_scan(o);
    }
    RenameOptions &o = r.ren;
    if (o.undo.empty() == o.paths.empty()) {
        complain(o.undo.empty() ? "rename: PATH is required (or --undo FILE)"
                                : "rename --undo takes the log alone, no PATH");
        return kExitUsage;
    }
    o.table = r.ren_format == "table";
    o.style = json_style(r.ren_json.pretty, r.ren_json.compact);
    return run_rename(o);
}

int run(int argc, char **argv) {
    CLI::App app{
        "Reads the metadata of e-books without changing them: EPUB, FictionBook 2, MOBI/AZW/AZW3 "
        "and PalmDOC, PDF, and comic archives (CBZ, CBR, CB7, CBT).",
        kProg};
    app.set_version_flag("--version", std::string(kProg) + " " + QUENFOLD_EBOOK_VERSION_STRING);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 when every book was described (or renamed), 1 when some failed (the output "
        "is complete for the rest), 2 for a wrong command line or when the tool could not go on "
        "(out of memory). JSON is indented on a terminal and one line to a file or a pipe "
        "(--pretty, --compact). JSON is valid UTF-8: a file name that is not has U+FFFD in "
        "\"path\" "
        "and its exact bytes in Base64 in \"path_bytes\"; the full record's texts are decoded "
        "from the book's own encoding. Under --basic the book's texts are the library's bytes, "
        "which need not be UTF-8.");
    app.fallthrough(false);

    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    Request r;
    add_info(app, r, cores);
    add_cover(app, r);
    add_scan(app, r, cores);
    add_rename(app, r, cores);
    add_set(app, r, cores);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // The parser's own messages quote the command line ("The following
        // argument was not expected: ..."), which may hold anything: they
        // pass the output guard like every other message.
        std::ostringstream err;
        const int rc = app.exit(e, std::cout, err);
        std::istringstream lines(err.str());
        for (std::string line; std::getline(lines, line);)
            write_out(stderr, shown(line) + "\n");
        return rc == 0 ? kExitOk : kExitUsage;
    }
    return dispatch(r);
}

}  // namespace
}  // namespace qcli

// Nothing thrown may end the process with an abort and a core dump: running
// out of memory, or a system error, ends with a message and status 2.
int main(int argc, char **argv) {
    using namespace qcli;
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        complain("out of memory");
    } catch (const std::exception &e) {  // filesystem and other system errors
        complain("%s", e.what());
    } catch (...) {
        complain("unexpected failure");
    }
    std::fflush(stdout);
    return kExitUsage;
}
