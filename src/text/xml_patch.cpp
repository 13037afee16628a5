// xml_patch.cpp - byte-range edits of a document, new text encoded as the document declares.
#include "text/xml_patch.h"

#include <algorithm>

#include "text/utf8.h"

namespace {

bool is_ws(std::uint32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The code point at s[i] (valid UTF-8 expected; a stray byte stands for
// itself) and the bytes it spans.
std::uint32_t next_cp(std::string_view s, std::size_t &i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (i + static_cast<std::size_t>(n) > s.size()) n = 1;
    std::uint32_t cp = n == 1 ? b : n == 2 ? b & 0x1Fu : n == 3 ? b & 0x0Fu : b & 0x07u;
    for (int k = 1; k < n; ++k)
        cp = cp << 6 | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3Fu);
    i += static_cast<std::size_t>(n);
    return cp;
}


}  // namespace

eb_xml_patch::eb_xml_patch(std::string_view doc, const eb_xml_tree &tree) : doc_(doc), tree_(tree) {
    for (std::size_t b = 0; b < tree.code_page.size(); ++b)
        if (tree.code_page[b] >= 0)
            reverse_.emplace(tree.code_page[b], static_cast<unsigned char>(b));
}

std::uint32_t eb_xml_patch::unit_at(std::uint64_t at) const {
    const auto b = [&](std::uint64_t k) { return static_cast<unsigned char>(doc_[k]); };
    if (tree_.unit == 1) return b(at);
    return tree_.big_endian ? static_cast<std::uint32_t>(b(at) << 8 | b(at + 1))
                            : static_cast<std::uint32_t>(b(at) | b(at + 1) << 8);
}

void eb_xml_patch::put(std::string &out, std::uint32_t cp, bool as_ref) const {
    if (as_ref) {
        const std::string ref = "&#" + std::to_string(cp) + ";";
        for (char c : ref)
            put(out, static_cast<unsigned char>(c), false);
        return;
    }
    if (tree_.unit == 2) {
        auto unit = [&](std::uint32_t u) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += tree_.big_endian ? hi : lo;
            out += tree_.big_endian ? lo : hi;
        };
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
        return;
    }
    if (!tree_.code_page.empty()) {
        const auto it = reverse_.find(static_cast<std::int32_t>(cp));
        if (it == reverse_.end()) return put(out, cp, true);
        out += static_cast<char>(it->second);
        return;
    }
    const std::string &e = tree_.encoding;
    if (e == "iso-8859-1" || e == "latin1") {
        if (cp > 0xFF) return put(out, cp, true);
        out += static_cast<char>(cp);
        return;
    }
    if (e == "us-ascii" || e == "ascii") {
        if (cp > 0x7F) return put(out, cp, true);
        out += static_cast<char>(cp);
        return;
    }
    eb_utf8_append(out, cp);
}

std::string eb_xml_patch::encode(std::string_view utf8, int escape) const {
    std::string out;
    out.reserve(utf8.size() * static_cast<std::size_t>(tree_.unit) + 8);
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = next_cp(utf8, i);
        const char *ref = nullptr;
        if (escape && cp == '&') ref = "&amp;";
        if (escape && cp == '<') ref = "&lt;";
        if (escape == 1 && cp == '>') ref = "&gt;";
        if (escape == 2 && cp == '"') ref = "&quot;";
        if (escape == 2 && cp == '\'') ref = "&#39;";
        // Line ends and tabs survive only as references: a parser folds a
        // literal CR into LF, and any of them into a space in an attribute.
        if (escape && cp == '\r') ref = "&#13;";
        if (escape == 2 && (cp == '\t' || cp == '\n')) ref = cp == '\t' ? "&#9;" : "&#10;";
        if (ref) {
            for (const char *p = ref; *p; ++p)
                put(out, static_cast<unsigned char>(*p), false);
        } else {
            put(out, cp, false);
        }
    }
    return out;
}

std::string eb_xml_patch::markup(std::string_view ascii) const {
    return encode(ascii, 0);
}
std::string eb_xml_patch::text(std::string_view utf8) const {
    return encode(utf8, 1);
}
std::string eb_xml_patch::value(std::string_view utf8) const {
    return encode(utf8, 2);
}

std::string eb_xml_patch::element_raw(std::string_view qname,
                                      const std::vector<std::pair<std::string, std::string>> &attrs,
                                      std::string_view inner) const {
    std::string out = encode("<", 0) + encode(qname, 0);
    for (const auto &a : attrs)
        out += encode(" " + a.first + "=\"", 0) + value(a.second) + encode("\"", 0);
    if (inner.empty()) return out + encode("/>", 0);
    out += encode(">", 0);
    out += inner;
    return out + encode("</" + std::string(qname) + ">", 0);
}

std::string eb_xml_patch::element(std::string_view qname,
                                  const std::vector<std::pair<std::string, std::string>> &attrs,
                                  std::string_view t) const {
    return element_raw(qname, attrs, text(t));
}

void eb_xml_patch::replace(std::uint64_t begin, std::uint64_t end, std::string bytes) {
    edits_.push_back({begin, end, std::move(bytes), edits_.size()});
}

void eb_xml_patch::remove(const eb_xml_elem &e) {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit);
    std::uint64_t from = e.start;
    while (from >= u && is_ws(unit_at(from - u)))
        from -= u;
    replace(from, e.end, {});
}

void eb_xml_patch::set_inner(const eb_xml_elem &e, std::string bytes) {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit);
    if (!e.empty) return replace(e.start_end, e.end_start, std::move(bytes));
    replace(e.start_end - 2 * u, e.start_end,
            encode(">", 0) + bytes + encode("</" + e.qname + ">", 0));
}

void eb_xml_patch::set_text(const eb_xml_elem &e, std::string_view utf8) {
    set_inner(e, text(utf8));
}

std::vector<eb_xml_patch::tag_attr> eb_xml_patch::scan_tag(const eb_xml_elem &e) const {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit), end = e.start_end;
    std::vector<tag_attr> out;
    std::uint64_t p = e.start + u;
    auto c = [&](std::uint64_t at) {
        return at < end ? unit_at(at) : static_cast<std::uint32_t>('>');
    };
    while (p < end && !is_ws(c(p)) && c(p) != '/' && c(p) != '>')
        p += u;
    for (;;) {
        while (p < end && is_ws(c(p)))
            p += u;
        if (p >= end || c(p) == '/' || c(p) == '>') break;
        tag_attr a{{}, p, 0, 0};
        while (p < end && !is_ws(c(p)) && c(p) != '=') {
            a.name += c(p) < 0x80 ? static_cast<char>(c(p)) : '\x7f';
            p += u;
        }
        while (p < end && c(p) != '"' && c(p) != '\'')
            p += u;
        const std::uint32_t quote = c(p);
        p += u;
        a.value_at = p;
        while (p < end && c(p) != quote)
            p += u;
        a.value_end = p;
        p += u;
        out.push_back(std::move(a));
    }
    return out;
}

std::uint64_t eb_xml_patch::tag_close(const eb_xml_elem &e) const {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit);
    return e.empty ? e.start_end - 2 * u : e.start_end - u;
}

void eb_xml_patch::set_attr(const eb_xml_elem &e, std::string_view qname, std::string_view utf8) {
    for (const tag_attr &a : scan_tag(e))
        if (a.name == qname) return replace(a.value_at, a.value_end, value(utf8));
    insert(tag_close(e),
           encode(" " + std::string(qname) + "=\"", 0) + value(utf8) + encode("\"", 0));
}

void eb_xml_patch::remove_attr(const eb_xml_elem &e, std::string_view qname) {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit);
    for (const tag_attr &a : scan_tag(e)) {
        if (a.name != qname) continue;
        std::uint64_t from = a.name_at;
        while (from > e.start && is_ws(unit_at(from - u)))
            from -= u;
        return replace(from, a.value_end + u, {});
    }
}

std::string eb_xml_patch::indent_before(std::uint64_t at) const {
    const std::uint64_t u = static_cast<std::uint64_t>(tree_.unit);
    std::uint64_t p = at;
    while (p >= u && (unit_at(p - u) == ' ' || unit_at(p - u) == '\t'))
        p -= u;
    if (p < u || unit_at(p - u) != '\n') return {};
    p -= u;
    if (p >= u && unit_at(p - u) == '\r') p -= u;
    return std::string(doc_.substr(p, at - p));
}

void eb_xml_patch::insert_after(const eb_xml_elem &e, std::string_view bytes) {
    insert(e.end, indent_before(e.start) + std::string(bytes));
}

void eb_xml_patch::insert_before(const eb_xml_elem &e, std::string_view bytes) {
    insert(e.start, std::string(bytes) + indent_before(e.start));
}

void eb_xml_patch::append_child(const eb_xml_elem &e, std::string_view bytes) {
    if (e.empty) return set_inner(e, std::string(bytes));
    const auto idx = static_cast<int>(&e - tree_.elems.data());
    const std::vector<int> kids = tree_.children(idx);
    const std::string closing = indent_before(e.end_start);
    const std::uint64_t at = e.end_start - closing.size();
    std::string lead;
    if (!kids.empty())
        lead = indent_before(tree_.elems[static_cast<std::size_t>(kids.back())].start);
    else if (!closing.empty())
        lead = closing + markup("  ");
    insert(at, lead + std::string(bytes));
}

bool eb_xml_patch::apply(const std::function<bool(std::string_view)> &sink) const {
    std::vector<const edit *> order;
    for (const edit &e : edits_)
        order.push_back(&e);
    // By place; at one place insertions first, each in the order it was asked for.
    std::stable_sort(order.begin(), order.end(), [](const edit *a, const edit *b) {
        if (a->begin != b->begin) return a->begin < b->begin;
        const bool ai = a->begin == a->end, bi = b->begin == b->end;
        if (ai != bi) return ai;
        return a->order < b->order;
    });
    std::uint64_t at = 0;
    for (const edit *e : order) {
        if (e->begin < at || e->end > doc_.size()) return false;
        if (!sink(doc_.substr(at, e->begin - at)) || !sink(e->bytes)) return false;
        at = e->end;
    }
    return sink(doc_.substr(at));
}

bool eb_xml_patch::apply(std::string *out) const {
    std::string s;
    s.reserve(doc_.size() + 4096);
    if (!apply([&s](std::string_view piece) {
            s.append(piece);
            return true;
        }))
        return false;
    *out = std::move(s);
    return true;
}
