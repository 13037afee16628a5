// pdf_lazy_xref.cpp - cross-reference sections by their outline: subsection headers and trailers
// of classic tables, /W and /Index of streams, entries read one at a time where arithmetic puts
// them.
#include "formats/pdf/pdf_lazy_xref.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kTail = 1024;             // where startxref is looked for
constexpr std::size_t kMaxSections = 32;        // sections followed through /Prev
constexpr std::size_t kMaxRuns = 1000;          // subsections, all sections together
constexpr std::size_t kMaxRows = 32u << 20;     // bytes of one stream's rows, decoded
constexpr std::uint64_t kMaxObject = 1u << 31;  // object numbers stay below
constexpr std::size_t kEntry = 20;              // a classic table's entry, end of line included

bool space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

bool digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t number(std::string_view s) {
    std::uint64_t n = 0;
    for (char c : s)
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    return n;
}

// A key that is there: a reference counts even though nothing here
// resolves it (hasKey and isNull would resolve it, to null).
bool present(QPDFObjectHandle dict, const char *key) {
    QPDFObjectHandle v = dict.getKey(key);
    return v.isIndirect() || !v.isNull();
}

// A direct integer in [0, max].
std::uint64_t direct_count(QPDFObjectHandle v, std::uint64_t max) {
    eb_pdf_require(!v.isIndirect() && v.isInteger() && v.getIntValue() >= 0 &&
                   static_cast<unsigned long long>(v.getIntValue()) <= max);
    return static_cast<std::uint64_t>(v.getIntValue());
}

// One classic entry, "oooooooooo ggggg n" and a two-byte end of line:
// in use (type 1) or free (type 0); any other form gives up.
eb_pdf_xref::entry table_entry(std::string_view e) {
    eb_pdf_require(e.size() == kEntry && digits(e.substr(0, 10)) && e[10] == ' ' &&
                   digits(e.substr(11, 5)) && e[16] == ' ' && (e[17] == 'n' || e[17] == 'f'));
    const std::string_view eol = e.substr(18, 2);
    eb_pdf_require(eol == " \r" || eol == " \n" || eol == "\r\n");
    eb_pdf_xref::entry x;
    x.type = e[17] == 'n' ? 1 : 0;
    x.f1 = number(e.substr(0, 10));
    x.f2 = number(e.substr(11, 5));
    return x;
}

std::uint64_t big_endian(const unsigned char *p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

}  // namespace

eb_pdf_xref::eb_pdf_xref(eb_pdf_objects &objs) : objs_(objs) {
    std::uint64_t at = startxref();
    std::vector<std::uint64_t> seen;
    for (;;) {
        eb_pdf_require(sections_.size() < kMaxSections &&
                       std::find(seen.begin(), seen.end(), at) == seen.end());
        seen.push_back(at);
        read_section(at);
        QPDFObjectHandle t = sections_.back().trailer;
        eb_pdf_require(!present(t, "/Encrypt"));
        if (!present(t, "/Prev")) break;
        at = direct_count(t.getKey("/Prev"), objs_.size() - 1);
    }
    const std::uint64_t size = direct_count(trailer().getKey("/Size"), kMaxObject);
    eb_pdf_require(size >= 1 && size - 1 == highest_);
}

std::uint64_t eb_pdf_xref::startxref() {
    const std::uint64_t n = objs_.size();
    const std::size_t tail = n < kTail ? static_cast<std::size_t>(n) : kTail;
    const std::string t = objs_.bytes(n - tail, tail);
    const std::size_t at = t.rfind("startxref");
    eb_pdf_require(at != std::string::npos);
    eb_pdf_parser p(objs_.context(), t, true);
    p.seek(at);
    eb_pdf_require(p.word() == "startxref");
    return p.count(n - 1);
}

void eb_pdf_xref::read_section(std::uint64_t at) {
    const std::string head = objs_.bytes(at, std::min<std::uint64_t>(5, objs_.size() - at));
    sections_.emplace_back();
    section &s = sections_.back();
    if (head.size() == 5 && head.compare(0, 4, "xref") == 0 && space(head[4])) {
        read_table(at + 4, s);
        return;
    }
    read_stream(at, s.main, true);
    s.trailer = s.main.dict;
    eb_pdf_require(!present(s.trailer, "/XRefStm"));
}

void eb_pdf_xref::read_table(std::uint64_t at, section &s) {
    const std::uint64_t size = objs_.size();
    std::uint64_t next_free = 0;  // subsections come in order, none overlapping
    for (;;) {
        const std::string w = objs_.bytes(at, std::min<std::uint64_t>(64, size - at));
        std::size_t i = 0;
        while (i < w.size() && space(w[i]))
            ++i;
        if (w.compare(i, 7, "trailer") == 0) {
            s.trailer = objs_.parse_at(at + i, [](eb_pdf_parser &p) {
                eb_pdf_require(p.word() == "trailer");
                return p.value();
            });
            break;
        }
        // "first count", spaces, one end of line (qpdf skips a run of them).
        std::size_t j = i;
        while (j < w.size() && w[j] >= '0' && w[j] <= '9')
            ++j;
        const std::string_view first(w.data() + i, j - i);
        std::size_t k = j;
        while (k < w.size() && w[k] == ' ')
            ++k;
        std::size_t l = k;
        while (l < w.size() && w[l] >= '0' && w[l] <= '9')
            ++l;
        const std::string_view count(w.data() + k, l - k);
        while (l < w.size() && w[l] == ' ')
            ++l;
        std::size_t m = l;
        while (m < w.size() && (w[m] == '\r' || w[m] == '\n'))
            ++m;
        eb_pdf_require(digits(first) && first.size() <= 10 && k > j && digits(count) &&
                       count.size() <= 10 && m > l && m < w.size());
        run r{number(first), number(count), at + m};
        eb_pdf_require(++runs_ <= kMaxRuns && r.first >= next_free &&
                       r.count <= (size - r.at) / kEntry && r.first + r.count <= kMaxObject);
        next_free = r.first + r.count;
        if (r.count) highest_ = std::max(highest_, r.first + r.count - 1);
        s.main.runs.push_back(r);
        s.main.rows += r.count;
        at = r.at + r.count * kEntry;
    }
    eb_pdf_require(s.trailer.isDictionary());
    if (present(s.trailer, "/XRefStm")) {
        s.hybrid = true;
        read_stream(direct_count(s.trailer.getKey("/XRefStm"), size - 1), s.xref_stream, false);
    }
}

void eb_pdf_xref::read_stream(std::uint64_t at, part &p, bool own_trailer) {
    eb_pdf_object o = objs_.object_at(at, -1, 0, [](QPDFObjGen) -> long long {
        throw eb_pdf_give_up{};  // a stream's length elsewhere: qpdf's affair
    });
    eb_pdf_require(o.stream);
    QPDFObjectHandle d = o.value;
    QPDFObjectHandle type = d.getKey("/Type");
    eb_pdf_require(!type.isIndirect() && type.isNameAndEquals("/XRef"));
    QPDFObjectHandle w = d.getKey("/W");
    eb_pdf_require(!w.isIndirect() && w.isArray() && w.getArrayNItems() == 3);
    static constexpr std::uint64_t kMaxWidth[3] = {4, 8, 8};
    for (int i = 0; i < 3; ++i)
        p.w[i] = static_cast<int>(direct_count(w.getArrayItem(i), kMaxWidth[i]));
    eb_pdf_require(p.w[1] > 0);
    const std::uint64_t size = direct_count(d.getKey("/Size"), kMaxObject);
    QPDFObjectHandle index = d.getKey("/Index");
    std::vector<std::uint64_t> pairs;
    if (present(d, "/Index")) {
        eb_pdf_require(!index.isIndirect() && index.isArray() && index.getArrayNItems() % 2 == 0);
        for (int i = 0; i < index.getArrayNItems(); ++i)
            pairs.push_back(direct_count(index.getArrayItem(i), kMaxObject));
    } else {
        pairs = {0, size};
    }
    std::uint64_t next_free = 0;
    const std::uint64_t width = static_cast<std::uint64_t>(p.w[0] + p.w[1] + p.w[2]);
    for (std::size_t i = 0; i < pairs.size(); i += 2) {
        run r{pairs[i], pairs[i + 1], p.rows};
        eb_pdf_require(++runs_ <= kMaxRuns && r.first >= next_free &&
                       r.first + r.count <= kMaxObject);
        next_free = r.first + r.count;
        if (r.count) highest_ = std::max(highest_, r.first + r.count - 1);
        p.rows += r.count;
        eb_pdf_require(p.rows * width <= kMaxRows);
        // More than one object for every 4 bytes of the file (65,536
        // whatever its size) is no file's data; qpdf's path refuses it.
        stream_rows_ += r.count;
        eb_pdf_require(stream_rows_ <= std::max<std::uint64_t>(objs_.size() / 4, 65536));
        p.runs.push_back(r);
    }
    p.stream = true;
    p.dict = d;
    p.data_at = o.data_at;
    p.data_len = o.data_len;
    if (!own_trailer) eb_pdf_require(!present(d, "/Encrypt"));
}

const std::string &eb_pdf_xref::rows_of(part &p) {
    if (!p.inflated) {
        const std::size_t width = static_cast<std::size_t>(p.w[0] + p.w[1] + p.w[2]);
        eb_pdf_require(p.data_len <= kMaxRows + kMaxRows / width);
        const std::size_t want = static_cast<std::size_t>(p.rows) * width;
        p.decoded = eb_pdf_decode(objs_.span(p.data_at, static_cast<std::size_t>(p.data_len)),
                                  p.dict, want, width);
        eb_pdf_require(p.decoded.size() == want);
        p.inflated = true;
    }
    return p.decoded;
}

eb_pdf_xref::entry eb_pdf_xref::entry_in(part &p, std::uint64_t num, bool &listed) {
    listed = false;
    auto r = std::find_if(p.runs.begin(), p.runs.end(), [num](const run &x) {
        return num >= x.first && num - x.first < x.count;
    });
    if (r == p.runs.end()) return {};
    listed = true;
    if (!p.stream) return table_entry(objs_.bytes(r->at + (num - r->first) * kEntry, kEntry));
    const std::string &rows = rows_of(p);
    const int width = p.w[0] + p.w[1] + p.w[2];
    const auto *row =
        reinterpret_cast<const unsigned char *>(rows.data()) + (r->at + num - r->first) * width;
    entry e;
    e.type = p.w[0] ? static_cast<int>(big_endian(row, p.w[0])) : 1;
    e.f1 = big_endian(row + p.w[0], p.w[1]);
    e.f2 = big_endian(row + p.w[0] + p.w[1], p.w[2]);
    eb_pdf_require(e.type <= 2);
    return e;
}

eb_pdf_xref::entry eb_pdf_xref::find(std::uint64_t num) {
    for (section &s : sections_) {
        bool listed = false;
        const entry e = entry_in(s.main, num, listed);
        if (s.main.stream) {
            if (!listed) continue;
            eb_pdf_require(e.type != 0);
            return e;
        }
        // In a hybrid section the table's entry in use comes first, then the
        // stream's; free in either is free.
        if (listed && e.type == 1) return e;
        bool free = listed;
        if (s.hybrid) {
            bool in_stream = false;
            const entry x = entry_in(s.xref_stream, num, in_stream);
            if (in_stream && x.type != 0) return x;
            free = free || in_stream;
        }
        eb_pdf_require(!free);
    }
    throw eb_pdf_give_up{};
}

std::uint64_t eb_pdf_xref::in_use() {
    section &s = sections_.front();
    eb_pdf_require(!s.hybrid);
    std::uint64_t n = 0;
    for (const run &r : s.main.runs) {
        if (s.main.stream) {
            // Rows of type 1 and 2 (object 0 is never one); with no type
            // field every row is of type 1.
            const int w0 = s.main.w[0];
            const std::size_t width = static_cast<std::size_t>(w0 + s.main.w[1] + s.main.w[2]);
            const auto *row =
                reinterpret_cast<const unsigned char *>(rows_of(s.main).data()) + r.at * width;
            std::uint64_t used = 0;
            for (std::uint64_t i = 0; i < r.count; ++i, row += width) {
                const std::uint64_t type = w0 == 1 ? row[0] : w0 ? big_endian(row, w0) : 1;
                eb_pdf_require(type <= 2);
                used += type != 0;
            }
            if (r.first == 0 && r.count) {
                const auto *zero = row - r.count * width;
                eb_pdf_require((w0 == 1 ? zero[0] : w0 ? big_endian(zero, w0) : 1) == 0);
            }
            n += used;
            continue;
        }
        // A table is read in pieces of at most 1 MiB (50,000 entries, one request
        // through a callback), each entry checked.
        constexpr std::uint64_t kPiece = (1u << 20) / kEntry;
        for (std::uint64_t i = 0; i < r.count; i += kPiece) {
            const std::uint64_t m = std::min(kPiece, r.count - i);
            const std::string_view piece = objs_.span(r.at + i * kEntry, m * kEntry);
            for (std::uint64_t k = 0; k < m; ++k) {
                const entry e = table_entry(piece.substr(k * kEntry, kEntry));
                eb_pdf_require(e.type == 0 || (r.first + i + k != 0 && e.f1 != 0));
                n += e.type;
            }
        }
    }
    return n;
}
