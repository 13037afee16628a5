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

#ifndef QEM_VERSION
#define QEM_VERSION "unknown"
#endif

namespace qcli {
namespace {

// What the command line asked for: one subcommand and its options.
struct Request {
    CLI::App *info = nullptr, *cover = nullptr, *scan = nullptr, *rename = nullptr, *set = nullptr;
    std::vector<std::string> info_books;
    unsigned info_jobs = 1;
    bool info_basic = false, scan_basic = false;
    std::string scan_fields;
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
    r.info = app.add_subcommand(
        "info",
        "Print the full record of books as JSON: the object of one book, an array for several");
    r.info->add_option("BOOK", r.info_books, "Book files")->required();
    add_jobs_option(r.info, r.info_jobs, cores);
    r.info->add_flag("--basic", r.info_basic, kBasicHelp);
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
        "scan",
        "Describe the books (epub, fb2, fb2.zip, fbz, mobi, azw, azw3, prc, pdb, pdf) and comics "
        "(cbz, cbr, cb7, cbt) in directories");
    r.scan->add_option("DIR", o.dirs, "Directories")->required();
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
    r.scan->add_flag("--csv-raw", o.csv_raw,
                     "csv: fields exactly as read, without replacing control characters "
                     "or guarding a leading = + - @ with '");
}

void add_rename(CLI::App &app, Request &r, unsigned cores) {
    RenameOptions &o = r.ren;
    r.rename = app.add_subcommand(
        "rename", "Plan new file names from the books' metadata; rename with --apply");
    r.rename->add_option("PATH", o.paths, "Book files or directories")->required();
    r.rename->add_option("--pattern", o.pattern,
                         std::string("Name pattern with ") + kKnownPlaceholders +
                             " (default \"{author} - {series} #{idx} - {title}\"); "
                             "any other placeholder is refused");
    r.rename->add_flag("--apply", o.apply, "Rename the files; an existing file is never replaced");
    r.rename->add_flag("-r,--recursive", o.recursive,
                       "Walk subdirectories too (symbolic links are not followed)");
    add_jobs_option(r.rename, o.jobs, cores);
    r.rename->add_option("--format", r.ren_format, "json (the plan) or table (old -> new)")
        ->check(CLI::IsMember({"json", "table"}));
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
        "Write metadata into books (epub, fb2, fb2.zip, fbz, cbz): each is written anew "
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
    if (r.info->parsed())
        return run_info(r.info_books, r.info_jobs, r.info_basic ? Detail::Basic : Detail::Full);
    if (r.cover->parsed()) return run_cover(r.cover_book, r.cover_out);
    if (r.scan->parsed()) {
        ScanOptions &o = r.scan_opt;
        o.detail = r.scan_basic ? Detail::Basic : Detail::Full;
        if (!r.scan_fields.empty()) {
            if (o.format != "table" && o.format != "csv") {
                complain("--fields chooses the columns of --format table or csv");
                return kExitUsage;
            }
            std::string bad;
            parse_fields(r.scan_fields, o.fields, bad);
        }
        return run_scan(o);
    }
    r.ren.table = r.ren_format == "table";
    return run_rename(r.ren);
}

int run(int argc, char **argv) {
    CLI::App app{
        "Reads the metadata of EPUB, FB2 and MOBI/AZW/AZW3 (and PalmDOC) books without changing "
        "them.",
        kProg};
    app.set_version_flag("--version", std::string(kProg) + " " + QEM_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 when every book was described (or renamed), 1 when some failed (the output "
        "is complete for the rest), 2 for a wrong command line or when the tool could not go on "
        "(out of memory). JSON is valid UTF-8: a file name that is not has U+FFFD in \"path\" "
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
