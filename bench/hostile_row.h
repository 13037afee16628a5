// hostile_row.h - one row of the hostile benchmark's full-record table: a book, and what its
// record must hold.
#ifndef QEM_BENCH_HOSTILE_ROW_H
#define QEM_BENCH_HOSTILE_ROW_H

#include <functional>
#include <string>
#include <vector>

struct Row {
    const char *name;
    const char *file;
    std::function<std::string()> make;  // the book's bytes
    std::vector<std::string> want;      // pieces the record must hold, or "ERR:" and the message
};

// Round three: PDFs and archives that made qpdf or libarchive inflate,
// allocate or repair without bound, and end tags that name no open element.
const std::vector<Row> &round_three_rows();

#endif  // QEM_BENCH_HOSTILE_ROW_H
