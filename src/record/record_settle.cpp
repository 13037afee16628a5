// record_settle.cpp - the last steps of every reader: texts made valid UTF-8, one-line texts with
// their spacing folded, texts cut to one limit, lists without empty entries or repeats.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "full_record.h"
#include "record/record_texts.h"
#include "text/encoding.h"

namespace {

// Cuts s to EB_TEXT_LIMIT bytes without splitting a UTF-8 sequence.
void cut(std::string &s) {
    if (s.size() <= EB_TEXT_LIMIT) return;
    std::size_t n = EB_TEXT_LIMIT;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    s.resize(n);
}

constexpr bool xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A title, a name or a list entry is one line: markup wraps and indents it
// at will (a title broken over two lines of a package document, a name
// between tabs), and in XML such white space means one space. Runs of it
// become one space, none at either end. A text already in that form (nearly
// all) is only read.
void fold(std::string &s) {
    bool clean = s.empty() || (!xml_space(s.front()) && !xml_space(s.back()));
    for (std::size_t i = 0; clean && i < s.size(); ++i)
        clean = !(xml_space(s[i]) && (s[i] != ' ' || xml_space(s[i + 1])));
    if (clean) return;
    std::size_t out = 0;
    bool gap = false;
    for (char c : s) {
        if (xml_space(c)) {
            gap = out > 0;
            continue;
        }
        if (gap) s[out++] = ' ';
        gap = false;
        s[out++] = c;
    }
    s.resize(out);
}

// Both steps of a one-line text.
void settle_line(std::string &s) {
    fold(s);
    cut(s);
}

using key = std::array<std::string_view, 3>;

std::size_t hash_of(const key &k) {
    std::size_t h = 0;
    for (std::string_view part : k)
        h = (h ^ std::hash<std::string_view>()(part)) * 0x9E3779B97F4A7C15ull;
    return h;
}

// Keeps the first of the entries of v whose keys are equal, in order. An
// open-addressing table of entry numbers (twice the list, a power of two)
// finds equal keys: no allocation per entry, and a probe compares hashes
// before keys.
template <typename T, typename KeyOf>
void keep_first(std::vector<T> &v, KeyOf key_of) {
    const std::size_t n = v.size();
    if (n < 2) return;
    std::size_t cap = 4;
    while (cap < 2 * n)
        cap <<= 1;
    std::vector<std::size_t> slot(cap, 0);  // entry number + 1, 0 when free
    std::vector<std::size_t> hashes(n);
    std::vector<bool> keep(n);
    for (std::size_t i = 0; i < n; ++i) {
        const key k = key_of(v[i]);
        const std::size_t h = hashes[i] = hash_of(k);
        for (std::size_t at = h & (cap - 1);; at = (at + 1) & (cap - 1)) {
            const std::size_t s = slot[at];
            if (s == 0) {
                slot[at] = i + 1;
                keep[i] = true;
                break;
            }
            if (hashes[s - 1] == h && key_of(v[s - 1]) == k) break;
        }
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) {
            if (out != i) v[out] = std::move(v[i]);
            ++out;
        }
    v.resize(out);
}

// Drops the entries whose text folding left empty: a name, a value or a
// series of nothing but white space or control breaks says nothing, and a
// host may take every entry's name as a label.
template <typename T, typename TextOf>
void drop_empty(std::vector<T> &v, TextOf text_of) {
    std::erase_if(v, [&](const T &e) { return text_of(e).empty(); });
}

}  // namespace

void eb_record_ensure_utf8(eb_record &r) {
    bool replaced = false;
    eb_record_texts(r, [&](std::string &s, eb_text_kind) {
        if (!eb_utf8_valid(s)) {
            s = eb_utf8_repair(s, nullptr);
            replaced = true;
        }
    });
    if (replaced) r.warnings.push_back("invalid UTF-8 replaced");
}

void eb_record_settle(eb_record &r) {
    // Rights and the description are prose: their line breaks are kept.
    eb_record_texts(r, [](std::string &s, eb_text_kind kind) {
        if (kind == eb_text_kind::line)
            settle_line(s);
        else if (kind == eb_text_kind::prose)
            cut(s);
    });

    auto same = [](const std::string &s) -> const std::string & { return s; };
    drop_empty(r.subjects, same);
    drop_empty(r.languages, same);
    drop_empty(r.identifiers, [](const eb_identifier &i) -> const std::string & { return i.value; });
    drop_empty(r.series, [](const eb_series &s) -> const std::string & { return s.name; });
    auto name = [](const eb_person &p) -> const std::string & { return p.name; };
    drop_empty(r.authors, name);
    drop_empty(r.contributors, name);
    // A role of white space is no role: the list's own default stands in.
    for (auto [list, role] : {std::pair{&r.authors, "aut"}, std::pair{&r.contributors, "ctb"}})
        for (eb_person &p : *list)
            if (p.role.empty()) p.role = role;

    auto text = [](const std::string &s) { return key{s, {}, {}}; };
    keep_first(r.subjects, text);
    keep_first(r.languages, text);
    keep_first(r.identifiers, [](const eb_identifier &i) { return key{i.scheme, i.value, {}}; });
    keep_first(r.series, [](const eb_series &s) { return key{s.name, s.index, {}}; });
    auto person = [](const eb_person &p) { return key{p.name, p.sort, p.role}; };
    keep_first(r.authors, person);
    keep_first(r.contributors, person);
}

void eb_fold_line(std::string &s) {
    fold(s);
}
