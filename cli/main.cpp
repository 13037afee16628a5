// main.cpp - quenfold-ebook-meta, the command line over the library: info, cover, scan, rename.
#include <fcntl.h>
#include <unistd.h>

#include <yyjson.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "cli.h"
#include "quenfold_ebook.h"

#ifndef QEM_VERSION
#define QEM_VERSION "unknown"
#endif

namespace qcli {
namespace {

// Standard output is checked once at the end: a full disk or a closed pipe
// must not pass for success.
int finish(int rc) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain("cannot write to standard output (%s)", std::strerror(errno));
        return kExitFailed;
    }
    return rc;
}

std::string json_array(const std::vector<const Book *> &books) {
    std::string out = "[";
    for (const Book *b : books) {
        if (b->element.empty()) continue;
        if (out.size() > 1) out += ',';
        out += b->element;
    }
    out += "]\n";
    return out;
}

int run_info(const std::vector<std::string> &paths, unsigned jobs) {
    if (paths.size() == 1) {
        // One book: the library's object, unchanged.
        char *text = ebook_info(paths[0].c_str());
        if (!text) {
            complain("%s: %s", paths[0].c_str(), ebook_last_error());
            return kExitFailed;
        }
        write_out(stdout, text);
        write_out(stdout, "\n");
        ebook_free_string(text);
        return finish(kExitOk);
    }
    std::vector<Book> books = describe_all(paths, jobs, {});
    int rc = kExitOk;
    std::vector<const Book *> all;
    for (const Book &b : books) {
        if (!b.ok) {
            complain("%s: %s", b.path.c_str(), b.error.c_str());
            rc = kExitFailed;
        }
        all.push_back(&b);
    }
    write_out(stdout, json_array(all));
    return finish(rc);
}

std::string series_cell(const Book &b) {
    if (b.series_index.empty()) return b.series;
    if (b.series.empty()) return "#" + b.series_index;
    return b.series + " #" + b.series_index;
}

int run_scan(const std::vector<std::string> &dirs, bool recursive, unsigned jobs,
             const std::string &format) {
    Visited visited;
    std::vector<std::string> paths;
    int rc = kExitOk;
    for (const std::string &d : dirs)
        if (!collect_books(d, recursive, visited, paths)) rc = kExitFailed;

    std::function<void(const Book &)> stream;
    if (format == "jsonl") {
        // For pipelines over large libraries: each book as soon as it is read.
        stream = [](const Book &b) {
            if (!b.ok) complain("%s: %s", b.path.c_str(), b.error.c_str());
            if (b.element.empty()) return;
            write_out(stdout, b.element + "\n");
            std::fflush(stdout);
        };
    }
    std::vector<Book> books = describe_all(paths, jobs, stream);

    std::vector<const Book *> sorted;
    for (const Book &b : books) {
        if (!b.ok) {
            rc = kExitFailed;
            if (!stream) complain("%s: %s", b.path.c_str(), b.error.c_str());
        }
        sorted.push_back(&b);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Book *a, const Book *b) { return a->path < b->path; });

    if (format == "json") {
        write_out(stdout, json_array(sorted));
    } else if (format == "table") {
        std::vector<std::vector<std::string>> rows;
        rows.push_back({"FORMAT", "AUTHOR", "SERIES", "TITLE", "PATH"});
        for (const Book *b : sorted) {
            if (!b->ok)
                rows.push_back({"-", "", "", "(error: " + b->error + ")", b->path});
            else
                rows.push_back({b->drm ? b->format + " (drm)" : b->format, b->author,
                                series_cell(*b), b->title, b->path});
        }
        print_columns(stdout, rows);
    } else if (format == "csv") {
        write_out(stdout,
                  "path,drm,format,title,author,language,series,series_index,has_cover,asin,"
                  "error\r\n");
        for (const Book *b : sorted) {
            // Columns come from the library's object, so that nothing is made up.
            std::string line = csv_field(b->path);
            std::string_view keys[] = {"drm",    "format",       "title",     "author", "language",
                                       "series", "series_index", "has_cover", "asin"};
            std::unique_ptr<yyjson_doc, decltype(&yyjson_doc_free)> doc(
                b->ok ? yyjson_read(b->object.data(), b->object.size(),
                                    YYJSON_READ_ALLOW_INVALID_UNICODE)
                      : nullptr,
                &yyjson_doc_free);
            yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
            for (std::string_view k : keys) {
                line += ',';
                yyjson_val *v = root ? yyjson_obj_getn(root, k.data(), k.size()) : nullptr;
                if (yyjson_is_bool(v))
                    line += yyjson_get_bool(v) ? "true" : "false";
                else if (yyjson_is_str(v))
                    line += csv_field(std::string_view(yyjson_get_str(v), yyjson_get_len(v)));
            }
            line += ',';
            if (!b->ok) line += csv_field(b->error);
            line += "\r\n";
            write_out(stdout, line);
        }
    }
    return finish(rc);
}

// Copies what is left of fd to standard output.
bool copy_to_stdout(int fd) {
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(STDOUT_FILENO, buf + off, static_cast<std::size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            off += w;
        }
    }
}

int run_cover(const std::string &book, const std::string &out) {
    if (out != "-") {
        if (ebook_extract_cover(book.c_str(), out.c_str()) != 0) {
            complain("%s: %s", book.c_str(), ebook_last_error());
            return kExitFailed;
        }
        return kExitOk;
    }
    if (isatty(STDOUT_FILENO)) {
        complain("not writing image data to a terminal; redirect standard output");
        return kExitUsage;
    }
    // The library writes to a named file: a private temporary one, read back
    // through the descriptor that created it and removed before copying.
    const char *tmpdir = std::getenv("TMPDIR");
    if (!tmpdir || !*tmpdir) tmpdir = "/tmp";
    std::string tmp = std::string(tmpdir) + "/quenfold-ebook-meta-cover-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        complain("cannot create a temporary file in %s (%s)", tmpdir, std::strerror(errno));
        return kExitFailed;
    }
    int rc = ebook_extract_cover(book.c_str(), tmp.c_str());
    std::string err = rc != 0 ? ebook_last_error() : "";
    unlink(tmp.c_str());
    if (rc != 0) {
        close(fd);
        complain("%s: %s", book.c_str(), err.c_str());
        return kExitFailed;
    }
    bool ok = lseek(fd, 0, SEEK_SET) == 0 && copy_to_stdout(fd);
    int e = errno;
    close(fd);
    if (!ok) {
        complain("cannot write the cover to standard output (%s)", std::strerror(e));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace
}  // namespace qcli

int main(int argc, char **argv) {
    using namespace qcli;
    CLI::App app{"Reads the metadata of EPUB, FB2 and MOBI/AZW/AZW3 books without changing them.",
                 kProg};
    app.set_version_flag("--version", std::string(kProg) + " " + QEM_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 when every book was described (or renamed), 1 when some failed (the output "
        "is complete for the rest), 2 for a wrong command line.");
    app.fallthrough(false);

    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    auto jobs_option = [&](CLI::App *cmd, unsigned &jobs) {
        jobs = cores;
        cmd->add_option("-j,--jobs", jobs, "Books read at once (default: number of cores)")
            ->check(CLI::Range(1u, 1024u))
            ->type_name("N");
    };

    std::vector<std::string> info_books;
    unsigned info_jobs = cores;
    CLI::App *info = app.add_subcommand(
        "info",
        "Print the metadata of books as JSON: the object of one book, an array for several");
    info->add_option("BOOK", info_books, "Book files")->required();
    jobs_option(info, info_jobs);

    std::string cover_book, cover_out;
    CLI::App *cover = app.add_subcommand("cover", "Write the cover image of a book to a file");
    cover->add_option("BOOK", cover_book, "Book file")->required();
    cover->add_option("OUT", cover_out, "File to write; - for standard output")->required();

    std::vector<std::string> scan_dirs;
    bool scan_recursive = false;
    unsigned scan_jobs = cores;
    std::string scan_format = "json";
    CLI::App *scan = app.add_subcommand(
        "scan", "Describe the books (epub, fb2, mobi, azw, azw3) in directories");
    scan->add_option("DIR", scan_dirs, "Directories")->required();
    scan->add_flag("-r,--recursive", scan_recursive, "Walk subdirectories too");
    jobs_option(scan, scan_jobs);
    scan->add_option("--format", scan_format,
                     "json (array sorted by path), jsonl (one book per line, as read), "
                     "table or csv")
        ->check(CLI::IsMember({"json", "jsonl", "table", "csv"}));

    RenameOptions ren;
    std::string ren_format = "json";
    CLI::App *rename = app.add_subcommand(
        "rename", "Plan new file names from the books' metadata; rename with --apply");
    rename->add_option("PATH", ren.paths, "Book files or directories")->required();
    rename->add_option("--pattern", ren.pattern,
                       "Name pattern with {author} {series} {idx} {title} "
                       "(default \"{author} - {series} #{idx} - {title}\")");
    rename->add_flag("--apply", ren.apply, "Rename the files; an existing file is never replaced");
    rename->add_flag("-r,--recursive", ren.recursive, "Walk subdirectories too");
    jobs_option(rename, ren.jobs);
    rename->add_option("--format", ren_format, "json (the plan) or table (old -> new)")
        ->check(CLI::IsMember({"json", "table"}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    if (info->parsed()) return run_info(info_books, info_jobs);
    if (cover->parsed()) return run_cover(cover_book, cover_out);
    if (scan->parsed()) return run_scan(scan_dirs, scan_recursive, scan_jobs, scan_format);
    ren.table = ren_format == "table";
    return finish(run_rename(ren));
}
