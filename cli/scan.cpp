// scan.cpp - the info and scan subcommands: describe books and print them as JSON, a table or CSV.
#include <yyjson.h>

#include <algorithm>

#include "cli.h"
#include "json_doc.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

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

// Reports the books the library could not describe; false when there are any.
bool report_failures(const std::vector<Book> &books, bool say) {
    bool ok = true;
    for (const Book &b : books) {
        if (b.ok) continue;
        if (say) complain("%s: %s", b.path.c_str(), b.error.c_str());
        ok = false;
    }
    return ok;
}

std::string series_cell(const Book &b) {
    if (b.series_index.empty()) return b.series;
    if (b.series.empty()) return "#" + b.series_index;
    return b.series + " #" + b.series_index;
}

void print_table(const std::vector<const Book *> &books) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"FORMAT", "AUTHOR", "SERIES", "TITLE", "PATH"});
    for (const Book *b : books) {
        if (!b->ok)
            rows.push_back({"-", "", "", "(error: " + b->error + ")", b->path});
        else
            rows.push_back({b->drm ? b->format + " (drm)" : b->format, b->author, series_cell(*b),
                            b->title, b->path});
    }
    print_columns(stdout, rows);
}

// One CSV line; the columns come from the library's object, so that nothing
// is made up.
std::string csv_line(const Book &b, bool raw) {
    static const std::string_view keys[] = {"drm",          "format",    "title",
                                            "author",       "language",  "series",
                                            "series_index", "has_cover", "asin"};
    std::string line = csv_field(b.path, raw);
    eb_doc_ptr doc = b.ok ? read_json(b.object, YYJSON_READ_ALLOW_INVALID_UNICODE) : nullptr;
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    for (std::string_view k : keys) {
        line += ',';
        yyjson_val *v = root ? yyjson_obj_getn(root, k.data(), k.size()) : nullptr;
        if (yyjson_is_bool(v))
            line += yyjson_get_bool(v) ? "true" : "false";
        else if (yyjson_is_str(v))
            line += csv_field(std::string_view(yyjson_get_str(v), yyjson_get_len(v)), raw);
    }
    line += ',';
    if (!b.ok) line += csv_field(b.error, raw);
    line += "\r\n";
    return line;
}

void print_csv(const std::vector<const Book *> &books, bool raw) {
    write_out(stdout,
              "path,drm,format,title,author,language,series,series_index,has_cover,asin,"
              "error\r\n");
    for (const Book *b : books)
        write_out(stdout, csv_line(*b, raw));
}

// Finds the books of every directory; false when one could not be read.
bool walk(const ScanOptions &opt, std::vector<std::string> &paths) {
    Visited visited;
    WalkOptions how;
    how.recursive = opt.recursive;
    bool ok = true;
    for (const std::string &d : opt.dirs)
        ok = collect_books(d, how, visited, paths) && ok;
    return ok;
}

}  // namespace

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
        return stdout_ok() ? kExitOk : kExitFailed;
    }
    std::vector<Book> books = describe_all(paths, jobs, {});
    bool ok = report_failures(books, true);
    std::vector<const Book *> all;
    for (const Book &b : books)
        all.push_back(&b);
    write_out(stdout, json_array(all));
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

int run_scan(const ScanOptions &opt) {
    std::vector<std::string> paths;
    bool ok = walk(opt, paths);

    std::function<void(const Book &)> stream;
    if (opt.format == "jsonl") {
        // For pipelines over large libraries: each book as soon as it is read.
        stream = [](const Book &b) {
            if (!b.ok) complain("%s: %s", b.path.c_str(), b.error.c_str());
            if (b.element.empty()) return;
            write_out(stdout, b.element + "\n");
            std::fflush(stdout);
        };
    }
    std::vector<Book> books = describe_all(paths, opt.jobs, stream);
    ok = report_failures(books, !stream) && ok;

    std::vector<const Book *> sorted;
    for (const Book &b : books)
        sorted.push_back(&b);
    std::sort(sorted.begin(), sorted.end(),
              [](const Book *a, const Book *b) { return a->path < b->path; });
    if (opt.format == "json")
        write_out(stdout, json_array(sorted));
    else if (opt.format == "table")
        print_table(sorted);
    else if (opt.format == "csv")
        print_csv(sorted, opt.csv_raw);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
