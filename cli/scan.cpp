// scan.cpp - the info and scan subcommands: describe books and print them as JSON, a table or CSV.
#include <sys/stat.h>

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
    out += ']';
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

// Paths lose their start, so that the file name stays; author lists keep
// their first whole names.
Cut cut_for(Field f) {
    return f == Field::Path ? Cut::Start : f == Field::Author ? Cut::Names : Cut::End;
}

void print_table(const std::vector<const Book *> &books, const std::vector<Field> &fields,
                 std::size_t width) {
    std::vector<std::vector<std::string>> rows(1);
    std::vector<Cut> cuts;
    for (Field f : fields) {
        rows[0].push_back(field_heading(f, true));
        cuts.push_back(cut_for(f));
    }
    for (const Book *b : books) {
        rows.emplace_back();
        for (Field f : fields)
            rows.back().push_back(field_cell(*b, f, true));
    }
    print_columns(stdout, rows, width, cuts);
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

// Finds the books named and those in every directory named; false when a
// directory could not be read.
bool walk(const std::vector<std::string> &args, bool recursive, Detail detail,
          std::vector<std::string> &paths) {
    WalkOptions how;
    how.recursive = recursive;
    how.basic_only = detail == Detail::Basic;
    return gather_books(args, how, paths);
}

}  // namespace

int run_info(const InfoOptions &opt) {
    struct stat st;
    const auto &args = opt.paths;
    if (args.size() == 1 && !(stat(args[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        // One book: the library's object, unchanged.
        const char *path = args[0].c_str();
        char *text = opt.detail == Detail::Full ? ebook_metadata(path) : ebook_info(path);
        if (!text) {
            complain("%s: %s", path, ebook_last_error());
            return kExitFailed;
        }
        write_json_document(text, opt.style);
        ebook_free_string(text);
        return stdout_ok() ? kExitOk : kExitFailed;
    }
    std::vector<std::string> paths;
    bool ok = walk(args, opt.recursive, opt.detail, paths);
    std::vector<Book> books = describe_all(paths, opt.jobs, opt.detail, {});
    ok = report_failures(books, true) && ok;
    std::vector<const Book *> all;
    for (const Book &b : books)
        all.push_back(&b);
    write_json_document(json_array(all), opt.style);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

int run_scan(const ScanOptions &opt) {
    std::vector<std::string> paths;
    bool ok = walk(opt.paths, opt.recursive, opt.detail, paths);

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
        write_json_document(json_array(sorted), opt.style);
    else if (opt.format == "table")
        print_table(sorted, opt.fields.empty() ? default_table_fields() : opt.fields, opt.width);
    else if (opt.format == "csv")
        print_csv(sorted, opt.fields.empty() ? default_csv_fields(opt.detail) : opt.fields,
                  opt.csv_raw);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
