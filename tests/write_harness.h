// write_harness.h - what the writers' tests share: a writer run over a book in memory, change
// requests, qpdf's check, a PalmDB file's records.
#ifndef QEM_TEST_WRITE_HARNESS_H
#define QEM_TEST_WRITE_HARNESS_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "formats/full_readers.h"
#include "formats/mobi/mobi_write.h"
#include "formats/pdf/pdf_write.h"
#include "quenfold_ebook.h"

namespace qwrite {

template <typename T>
eb_field_change<T> to(T v) {
    return {true, std::move(v)};
}

inline eb_changes with(std::function<void(eb_changes &)> f) {
    eb_changes c;
    c.now = "2030-01-02T03:04:05Z";
    f(c);
    return c;
}

inline eb_record read_pdf(const std::string &pdf) {
    eb_source src(pdf.data(), pdf.size());
    eb_record r;
    EXPECT_EQ(eb_record_pdf(src, r), 0) << ebook_last_error();
    return r;
}

inline eb_record read_mobi(const std::string &book) {
    eb_record r;
    EXPECT_EQ(eb_record_mobi(book.data(), book.size(), r), 0) << ebook_last_error();
    return r;
}

// Runs a writer-shaped call over a book into a temporary file, as the
// engine would (the PDF writer gets the record as read); its output, ""
// when it fails. The book is in memory, or with `path` the file opened
// there (whose ranges are copied by the kernel).
using writer_fn = int (*)(const eb_source &, const eb_record &, const eb_changes &, int);
inline std::string run(writer_fn f, const std::string &book, const eb_changes &c, int *rc,
                       const char *path = nullptr) {
    eb_source src(book.data(), book.size()), file;
    if (path) {
        EXPECT_TRUE(file.open(path)) << ebook_last_error();
    }
    const eb_record before = f == eb_write_pdf ? read_pdf(book) : eb_record{};
    FILE *tmp = std::tmpfile();
    *rc = f(path ? file : src, before, c, fileno(tmp));
    std::string out(static_cast<std::size_t>(lseek(fileno(tmp), 0, SEEK_END)), '\0');
    pread(fileno(tmp), out.data(), out.size(), 0);
    std::fclose(tmp);
    return out;
}

// qpdf --check's exit status: 0 clean, 3 warnings, 2 errors.
inline int qpdf_check(const std::string &path) {
    const int st = std::system(("qpdf --check '" + path + "' >/dev/null 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

inline bool have_tool(const char *cmd) {
    return std::system(cmd) == 0;
}

// Every field PDF books hold, set.
inline const eb_changes kAll = with([](eb_changes &c) {
    c.title = to<std::string>("Ny titel \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC");
    c.authors = to<std::vector<eb_person>>({{"Ann Author", "", "aut"}, {"Bo; Second", "", "aut"}});
    c.description = to<std::string>("One < two & three.\n\nSecond paragraph.");
    c.subjects = to<std::vector<std::string>>({"Sea", "Light, houses"});
    c.languages = to<std::vector<std::string>>({"sv", "en"});
    c.series = to<std::vector<eb_series>>({{"Keepers", "2"}});
    c.isbn = to<std::string>("9780306406157");
    c.publisher = to<std::string>("Harbour & Sons");
    c.published = to<std::string>("2001-02-03");
    c.rights = to<std::string>("CC BY-SA");
    c.title_sort = to<std::string>("Titel, Ny");
});

inline void expect_all(const eb_record &r) {
    EXPECT_EQ(r.title, "Ny titel \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC");
    ASSERT_EQ(r.authors.size(), 2u);
    EXPECT_EQ(r.authors[1].name, "Bo; Second");
    EXPECT_EQ(r.description, "One < two & three.\n\nSecond paragraph.");
    EXPECT_EQ(r.subjects, (std::vector<std::string>{"Sea", "Light, houses"}));
    EXPECT_EQ(r.languages, (std::vector<std::string>{"sv", "en"}));
    ASSERT_EQ(r.series.size(), 1u);
    EXPECT_EQ(r.series[0].name, "Keepers");
    EXPECT_EQ(r.series[0].index, "2");
    EXPECT_EQ(r.publisher, "Harbour & Sons");
    EXPECT_EQ(r.published, "2001-02-03");
    EXPECT_EQ(r.rights, "CC BY-SA");
    EXPECT_EQ(r.title_sort, "Titel, Ny");
    EXPECT_EQ(r.modified, "2030-01-02T03:04:05Z");
    ASSERT_FALSE(r.identifiers.empty());
    EXPECT_EQ(r.identifiers[0].scheme, "isbn");
    EXPECT_EQ(r.identifiers[0].value, "9780306406157");
}

inline std::uint32_t u32(const std::string &b, std::size_t at) {
    auto c = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(b[at + i])}; };
    return c(0) << 24 | c(1) << 16 | c(2) << 8 | c(3);
}

// A PalmDB file's records, as its record list cuts them.
inline std::vector<std::string> records(const std::string &book) {
    const std::uint32_t n =
        static_cast<unsigned char>(book[76]) << 8 | static_cast<unsigned char>(book[77]);
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t from = u32(book, 78 + 8 * i);
        const std::size_t to = i + 1 < n ? u32(book, 78 + 8 * (i + 1)) : book.size();
        out.push_back(book.substr(from, to - from));
    }
    return out;
}

}  // namespace qwrite

#endif  // QEM_TEST_WRITE_HARNESS_H
