// pdf_append.cpp - the old PDF's end read (startxref and the section it names), and the incremental
// update written: objects, a cross-reference table or stream of exactly them, trailer, marks.
#include "formats/pdf/pdf_append.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "error.h"
#include "formats/pdf/pdf_update_mark.h"

namespace {

constexpr std::uint64_t kTailWindow = 1024;  // where readers look for startxref

bool damaged() {
    eb_set_error("PDF is damaged; write refused, nothing changed");
    return false;
}

bool is_space(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number at s[*i] (at most 19 digits), *i past it.
bool number(std::string_view s, std::size_t *i, std::uint64_t *v) {
    const std::size_t from = *i;
    *v = 0;
    while (*i < s.size() && is_digit(s[*i]) && *i - from < 19)
        *v = *v * 10 + static_cast<std::uint64_t>(s[(*i)++] - '0');
    return *i > from && (*i == s.size() || !is_digit(s[*i]));
}

void skip_space(std::string_view s, std::size_t *i) {
    while (*i < s.size() && is_space(s[*i]))
        ++*i;
}

// "N G obj" then, within the bytes read, a dictionary naming /Type /XRef.
bool xref_stream_at(std::string_view s) {
    std::size_t i = 0;
    std::uint64_t v = 0;
    if (!number(s, &i, &v)) return false;
    skip_space(s, &i);
    if (!number(s, &i, &v)) return false;
    skip_space(s, &i);
    if (s.substr(i, 3) != "obj") return false;
    const std::size_t dict = s.find("<<", i);
    if (dict == std::string_view::npos) return false;
    const std::size_t type = s.find("/Type", dict);
    if (type == std::string_view::npos) return false;
    i = type + 5;
    skip_space(s, &i);
    return s.substr(i, 5) == "/XRef" &&
           (i + 5 == s.size() || !std::isalnum(static_cast<unsigned char>(s[i + 5])));
}

std::string padded(std::uint64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(v));
    return buf;
}

// Consecutive object numbers as runs: first number and count.
std::vector<std::pair<int, int>> runs(const std::vector<int> &nums) {
    std::vector<std::pair<int, int>> out;
    for (int n : nums) {
        if (!out.empty() && out.back().first + out.back().second == n)
            ++out.back().second;
        else
            out.emplace_back(n, 1);
    }
    return out;
}

void put_be(std::string &s, std::uint64_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        s += static_cast<char>((v >> (8 * k)) & 0xFF);
}

}  // namespace

bool eb_pdf_read_tail(const eb_source &book, eb_pdf_tail *tail) {
    tail->size = book.size();
    const std::uint64_t from = tail->size > kTailWindow ? tail->size - kTailWindow : 0;
    std::string end(tail->size - from, '\0');
    if (!book.read(from, end.data(), end.size())) {
        book.report_short_read();
        return false;
    }
    tail->ends_with_eol = !end.empty() && (end.back() == '\n' || end.back() == '\r');
    const std::size_t at = end.rfind("startxref");
    if (at == std::string::npos) return damaged();
    std::size_t i = at + 9;
    skip_space(end, &i);
    if (!number(end, &i, &tail->startxref) || tail->startxref >= tail->size) return damaged();

    // The section's start, and a cross-reference stream's dictionary.
    char head[4096];
    const std::uint64_t n = std::min<std::uint64_t>(sizeof head, tail->size - tail->startxref);
    if (!book.read(tail->startxref, head, n)) {
        book.report_short_read();
        return false;
    }
    std::string_view h(head, n);
    std::size_t lead = 0;
    skip_space(h, &lead);
    h.remove_prefix(lead);
    if (h.substr(0, 4) == "xref" && (h.size() == 4 || is_space(h[4]))) return true;
    tail->xref_stream = xref_stream_at(h);
    return tail->xref_stream || damaged();
}

std::string eb_pdf_update(const eb_pdf_tail &tail, std::vector<eb_pdf_new_object> objects, int size,
                          std::string_view trailer) {
    std::sort(objects.begin(), objects.end(),
              [](const eb_pdf_new_object &a, const eb_pdf_new_object &b) { return a.num < b.num; });
    const std::string old = std::to_string(tail.size);
    std::string u = tail.ends_with_eol ? "" : "\n";
    u += std::string(kPdfUpdateBegins) + old + "\n";

    std::vector<int> nums;
    std::vector<std::uint64_t> offsets;
    std::vector<int> gens;
    for (const eb_pdf_new_object &o : objects) {
        nums.push_back(o.num);
        gens.push_back(o.gen);
        offsets.push_back(tail.size + u.size());
        u += std::to_string(o.num) + " " + std::to_string(o.gen) + " obj\n" + o.body + "\nendobj\n";
    }
    const std::uint64_t xref_at = tail.size + u.size();
    const std::string common =
        " /Prev " + std::to_string(tail.startxref) + " " + std::string(trailer);
    if (!tail.xref_stream) {
        // Entries of exactly 20 bytes: offset, generation, "n", CR LF.
        u += "xref\n";
        std::size_t k = 0;
        for (const auto &[first, count] : runs(nums)) {
            u += std::to_string(first) + " " + std::to_string(count) + "\n";
            for (int j = 0; j < count; ++j, ++k)
                u += padded(offsets[k], 10) + " " + padded(static_cast<std::uint64_t>(gens[k]), 5) +
                     " n\r\n";
        }
        u += "trailer\n<< /Size " + std::to_string(size) + common + " >>\n";
    } else {
        // The stream lists itself as well, as the last object.
        nums.push_back(size);
        gens.push_back(0);
        offsets.push_back(xref_at);
        int width = 1;
        while (width < 8 && (xref_at >> (8 * width)) != 0)
            ++width;
        std::string data, index;
        for (std::size_t k = 0; k < nums.size(); ++k) {
            data += '\x01';
            put_be(data, offsets[k], width);
            put_be(data, static_cast<std::uint64_t>(gens[k]), 2);
        }
        for (const auto &[first, count] : runs(nums))
            index +=
                (index.empty() ? "" : " ") + std::to_string(first) + " " + std::to_string(count);
        u += std::to_string(size) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size + 1) +
             " /W [1 " + std::to_string(width) + " 2] /Index [" + index + "] /Length " +
             std::to_string(data.size()) + common + " >>\nstream\n" + data +
             "\nendstream\nendobj\n";
    }
    u +=
        std::string(kPdfUpdateEnds) + old + "\nstartxref\n" + std::to_string(xref_at) + "\n%%EOF\n";
    return u;
}
