// record_settle.cpp - the last step of every reader: texts cut to one limit, lists without repeats.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "full_record.h"

namespace {

// Cuts s to EB_TEXT_LIMIT bytes without splitting a UTF-8 sequence.
void cut(std::string &s) {
    if (s.size() <= EB_TEXT_LIMIT) return;
    std::size_t n = EB_TEXT_LIMIT;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    s.resize(n);
}

using key = std::array<std::string_view, 3>;

struct key_hash {
    std::size_t operator()(const key &k) const noexcept {
        std::size_t h = 0;
        for (std::string_view part : k)
            h = h * 1000003u ^ std::hash<std::string_view>()(part);
        return h;
    }
};

// Keeps the first of the entries of v whose keys are equal, in order.
template <typename T, typename KeyOf>
void keep_first(std::vector<T> &v, KeyOf key_of) {
    if (v.size() < 2) return;
    std::vector<bool> keep(v.size());
    {
        std::unordered_set<key, key_hash> seen;
        seen.reserve(v.size());
        for (std::size_t i = 0; i < v.size(); ++i)
            keep[i] = seen.insert(key_of(v[i])).second;
    }  // the views into v end here, before v moves
    std::size_t out = 0;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (keep[i]) {
            if (out != i) v[out] = std::move(v[i]);
            ++out;
        }
    v.resize(out);
}

}  // namespace

void eb_record_settle(eb_record &r) {
    for (std::string *s : {&r.title, &r.title_sort, &r.subtitle, &r.language, &r.publisher,
                           &r.published, &r.modified, &r.rights, &r.description})
        cut(*s);
    for (auto *list : {&r.authors, &r.contributors})
        for (eb_person &p : *list) {
            cut(p.name);
            cut(p.sort);
            cut(p.role);
        }
    for (auto *list : {&r.languages, &r.subjects})
        for (std::string &s : *list)
            cut(s);
    for (eb_series &s : r.series) {
        cut(s.name);
        cut(s.index);
    }
    for (eb_identifier &id : r.identifiers) {
        cut(id.scheme);
        cut(id.value);
    }

    auto text = [](const std::string &s) { return key{s, {}, {}}; };
    keep_first(r.subjects, text);
    keep_first(r.languages, text);
    keep_first(r.identifiers, [](const eb_identifier &i) { return key{i.scheme, i.value, {}}; });
    keep_first(r.series, [](const eb_series &s) { return key{s.name, s.index, {}}; });
    auto person = [](const eb_person &p) { return key{p.name, p.sort, p.role}; };
    keep_first(r.authors, person);
    keep_first(r.contributors, person);
}
