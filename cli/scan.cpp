// scan.cpp - the info and scan subcommands: describe books and print them as JSON, a table or CSV.
#include <algorithm>

#include "cli.h"
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

void print_table(const std::vector<const Book *> &books, const std::vector<Field> &fields) {
    std::vector<std::vector<std::string>> rows(1);
    for (Field f : fields)
        rows[0].push_back(field_heading(f, true));
    for (const Book *b : books) {
        rows.emplace_back();
        for (Field f : fields)
            rows.back().push_back(field_cell(*b, f, true));
    }
    print_columns(stdout, rows);
}

void print_csv(const std::vector<const Book *> &books, const std::vector<Field> &fields, bool raw) {
    std::string line;
    for (Field f : fields) {
        if (!line.empty()) line += ',';
        line += field_heading(f, false);
    }
    write_out(stdout, line + "\r\n");
    for (const Book *b : books) {
        line.clear();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) line += ',';
            line += csv_field(field_cell(*b, fields[i], false), raw);
        }
        write_out(stdout, line + "\r\n");
    }
}

// Finds the books of every directory; false when one could not be read.
bool walk(const ScanOptions &opt, std::vector<std::string> &paths) {
    Visited visited;
    WalkOptions how;
    how.recursive = opt.recursive;
    how.basic_only = opt.detail == Detail::Basic;
    bool ok = true;
    for (const std::string &d : opt.dirs)
        ok = collect_books(d, how, visited, paths) && ok;
    return ok;
}

}  // namespace

int run_info(const std::vector<std::string> &paths, unsigned jobs, Detail detail) {
    if (paths.size() == 1) {
        // One book: the library's object, unchanged.
        char *text = detail == Detail::Full ? ebook_metadata(paths[0].c_str())
                                            : ebook_info(paths[0].c_str());
        if (!text) {
            complain("%s: %s", paths[0].c_str(), ebook_last_error());
            return kExitFailed;
        }
        write_json(text);
        write_out(stdout, "\n");
        ebook_free_string(text);
        return stdout_ok() ? kExitOk : kExitFailed;
    }
    std::vector<Book> books = describe_all(paths, jobs, detail, {});
    bool ok = report_failures(books, true);
    std::vector<const Book *> all;
    for (const Book &b : books)
        all.push_back(&b);
    write_json(json_array(all));
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
            write_json(b.element + "\n");
            std::fflush(stdout);
        };
    }
    std::vector<Book> books = describe_all(paths, opt.jobs, opt.detail, stream);
    ok = report_failures(books, !stream) && ok;

    std::vector<const Book *> sorted;
    for (const Book &b : books)
        sorted.push_back(&b);
    std::sort(sorted.begin(), sorted.end(),
              [](const Book *a, const Book *b) { return a->path < b->path; });
    if (opt.format == "json")
        write_json(json_array(sorted));
    else if (opt.format == "table")
        print_table(sorted, opt.fields.empty() ? default_table_fields() : opt.fields);
    else if (opt.format == "csv")
        print_csv(sorted, opt.fields.empty() ? default_csv_fields(opt.detail) : opt.fields,
                  opt.csv_raw);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
