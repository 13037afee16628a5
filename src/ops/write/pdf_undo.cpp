// pdf_undo.cpp - finding the update of ours that ends a PDF by its two marks, and writing the bytes
// before it.
#include "ops/write/pdf_undo.h"

#include <string>
#include <string_view>

#include "error.h"
#include "formats/pdf/pdf_update_mark.h"
#include "io/write_out.h"

namespace {

constexpr std::uint64_t kTail = 256;  // the closing mark, startxref and %%EOF fit

bool none() {
    eb_set_error("PDF ends with no update written by quenfold-ebook-meta; nothing changed");
    return false;
}

// Decimal digits at s[*i] without a leading zero (but "0"), *i past them.
bool digits(std::string_view s, std::size_t *i, std::uint64_t *v) {
    const std::size_t from = *i;
    *v = 0;
    while (*i < s.size() && s[*i] >= '0' && s[*i] <= '9' && *i - from < 19)
        *v = *v * 10 + static_cast<std::uint64_t>(s[(*i)++] - '0');
    return *i > from && (s[from] != '0' || *i == from + 1);
}

bool literal(std::string_view s, std::size_t *i, std::string_view what) {
    if (s.substr(*i, what.size()) != what) return false;
    *i += what.size();
    return true;
}

}  // namespace

bool eb_pdf_last_update(const eb_source &book, std::uint64_t *before_size) {
    const std::uint64_t size = book.size();
    const std::uint64_t from = size > kTail ? size - kTail : 0;
    std::string tail(size - from, '\0');
    if (!book.read(from, tail.data(), tail.size())) {
        book.report_short_read();
        return false;
    }
    // The closing mark, then nothing but startxref and %%EOF to the end.
    const std::size_t at = tail.rfind(kPdfUpdateEnds);
    if (at == std::string::npos) return none();
    std::size_t i = at + kPdfUpdateEnds.size();
    std::uint64_t old = 0, xref = 0;
    if (!digits(tail, &i, &old) || !literal(tail, &i, "\nstartxref\n") ||
        !digits(tail, &i, &xref) || !literal(tail, &i, "\n%%EOF\n") || i != tail.size() ||
        old >= size || xref <= old || xref >= from + at)
        return none();
    // The opening mark where the old file ended (after a line break of ours
    // when it ended without one), naming the same length.
    const std::string begin = std::string(kPdfUpdateBegins) + std::to_string(old) + "\n";
    std::string head(begin.size() + 1, '\0');
    if (old + head.size() > size) return none();
    if (!book.read(old, head.data(), head.size())) {
        book.report_short_read();
        return false;
    }
    const bool ours = head.compare(0, begin.size(), begin) == 0 ||
                      (head[0] == '\n' && head.compare(1, begin.size(), begin) == 0 && old > 0);
    if (!ours) return none();
    *before_size = old;
    return true;
}

int eb_undo_pdf_update(const eb_source &book, const eb_record &, const eb_changes &, int out_fd) {
    std::uint64_t old = 0;
    if (!eb_pdf_last_update(book, &old)) return -1;
    return eb_copy_range(book, 0, old, out_fd) ? 0 : -1;
}
