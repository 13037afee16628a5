// pdf_map.cpp - the Info dictionary and XMP merged field by field into the full record, the newer
// statement winning; authors and keywords split, dates in ISO 8601, identifiers classified.
#include "formats/pdf/pdf_map.h"

#include <unordered_set>
#include <vector>

#include "formats/pdf/pdf_text.h"
#include "record/identifiers.h"
#include "text/plain_text.h"
#include "text/utf8.h"

namespace {

std::string trim(std::string_view s) {
    const char *ws = " \t\r\n";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(ws) - b + 1));
}

// The non-empty parts of s between any of the separators, each trimmed.
std::vector<std::string> split_on(std::string_view s, std::string_view seps) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= s.size()) {
        std::size_t e = s.find_first_of(seps, i);
        if (e == std::string_view::npos) e = s.size();
        std::string part = trim(s.substr(i, e - i));
        if (!part.empty()) parts.push_back(std::move(part));
        i = e + 1;
    }
    return parts;
}

std::vector<std::string> texts(const std::vector<eb_xmp_value> &values) {
    std::vector<std::string> out;
    for (const eb_xmp_value &v : values) {
        std::string t = trim(v.text);
        if (!t.empty()) out.push_back(std::move(t));
    }
    return out;
}

// The list without repeats, first occurrences kept in order.
std::vector<std::string> unique(std::vector<std::string> list) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> out;
    for (std::string &s : list)
        if (seen.insert(s).second) out.push_back(std::move(s));
    return out;
}

// Runs of white space as one space: "A  B" and "A B" say the same.
std::string folded(std::string_view s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        const bool ws = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (ws) {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

std::string quoted(const std::string &s) {
    const std::size_t n = utf8_prefix(s.data(), s.size(), 60);
    std::string out(1, '\'');
    out.append(s, 0, n);
    out.append(n < s.size() ? "...'" : "'");
    return out;
}

// A PDF date as ISO 8601, or the text as it is when it is no date.
std::string info_date(const std::string &raw) {
    std::optional<eb_pdf_date> d = eb_pdf_parse_date(raw);
    return d ? d->iso() : raw;
}

// Whether the Info dictionary was changed after the XMP was written.
bool info_is_newer(const eb_pdf_info &info, const eb_pdf_xmp &xmp) {
    if (!info.present || !xmp.present) return false;
    std::optional<eb_pdf_date> mod = eb_pdf_parse_date(info.mod_date);
    std::optional<eb_pdf_date> ref = eb_pdf_parse_iso(xmp.first(eb_xmp::metadata_date));
    if (!ref) ref = eb_pdf_parse_iso(xmp.first(eb_xmp::modify_date));
    return mod && ref && mod->instant() > ref->instant();
}

// The later of the two modification dates, or the one that is a date.
std::string later_modified(const eb_pdf_info &info, const eb_pdf_xmp &xmp) {
    const std::string x = xmp.first(eb_xmp::modify_date);
    std::optional<eb_pdf_date> xd = eb_pdf_parse_iso(x), id = eb_pdf_parse_date(info.mod_date);
    if (xd && id) return id->instant() > xd->instant() ? id->iso() : x;
    if (xd) return x;
    if (id) return id->iso();
    return !x.empty() ? x : info.mod_date;
}

// A DOI as written bare ("10.1000/182"): the directory code, a slash, a suffix.
bool bare_doi(std::string_view v) {
    if (v.size() < 8 || v.substr(0, 3) != "10.") return false;
    std::size_t i = 3;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9')
        ++i;
    return i >= 7 && i + 1 < v.size() && v[i] == '/' &&
           v.find_first_of(" \t\r\n") == std::string_view::npos;
}

class identifier_list {
  public:
    explicit identifier_list(eb_record &r) : r_(r) {}
    void add(std::string_view scheme, std::string_view value) {
        if (trim(value).empty()) return;
        eb_identifier id = eb_classify_identifier(scheme, value);
        if (id.scheme.empty() && bare_doi(id.value)) id.scheme = "doi";
        if (seen_.insert(id.scheme + '\n' + id.value).second)
            r_.identifiers.push_back(std::move(id));
    }

  private:
    eb_record &r_;
    std::unordered_set<std::string> seen_;
};

void read_identifiers(const eb_pdf_info &info, const eb_pdf_xmp &xmp, eb_record &r) {
    identifier_list ids(r);
    for (eb_xmp p : {eb_xmp::identifier, eb_xmp::xmp_identifier})
        for (const eb_xmp_value &v : xmp[p])
            ids.add(v.scheme, v.text);
    for (const eb_xmp_value &v : xmp[eb_xmp::isbn])
        ids.add("isbn", v.text);
    for (const eb_xmp_value &v : xmp[eb_xmp::doi])
        ids.add("doi", v.text);
    ids.add("isbn", info.isbn);
    ids.add("doi", info.doi);
}

// The value of the source that wins, or the other's when it has none.
template <typename T>
const T &pick(bool info_wins, const T &from_xmp, const T &from_info) {
    if (info_wins) return from_info.empty() ? from_xmp : from_info;
    return from_xmp.empty() ? from_info : from_xmp;
}

void warn_if_differ(const char *what, const std::string &from_info, const std::string &from_xmp,
                    bool info_wins, eb_record &r) {
    if (from_info.empty() || from_xmp.empty() || folded(from_info) == folded(from_xmp)) return;
    r.warnings.push_back(
        std::string(what) + " differs between the Info dictionary (" + quoted(from_info) +
        ") and XMP (" + quoted(from_xmp) + "); " +
        (info_wins ? "the Info dictionary's is used: it was changed later" : "XMP's is used"));
}

}  // namespace

void eb_pdf_merge(const eb_pdf_info &info, const eb_pdf_xmp &xmp, const std::string &lang,
                  eb_record &r) {
    const bool info_wins = info_is_newer(info, xmp);

    const std::string xmp_title = xmp.alternative(eb_xmp::title);
    r.title = pick(info_wins, xmp_title, info.title);
    warn_if_differ("title", info.title, xmp_title, info_wins, r);

    // "Austen, Jane" is one person: the Info dictionary's authors are split
    // on ; and & only.
    const std::vector<std::string> xmp_authors = texts(xmp[eb_xmp::creator]);
    const std::vector<std::string> info_authors = split_on(info.author, ";&");
    for (const std::string &a : pick(info_wins, xmp_authors, info_authors))
        r.authors.push_back({a, "", "aut"});
    warn_if_differ("first author", info_authors.empty() ? "" : info_authors[0],
                   xmp_authors.empty() ? "" : xmp_authors[0], info_wins, r);

    // calibre keeps HTML comments in dc:description.
    std::string description = xmp.alternative(eb_xmp::description);
    if (description.find('<') != std::string::npos) description = eb_markup_to_text(description);
    r.description = pick(info_wins, description, info.subject);

    std::vector<std::string> xmp_subjects = texts(xmp[eb_xmp::subject]);
    if (xmp_subjects.empty()) xmp_subjects = split_on(xmp.first(eb_xmp::keywords), ",;");
    r.subjects = unique(pick(info_wins, xmp_subjects, split_on(info.keywords, ",;")));

    r.publisher = xmp.first(eb_xmp::publisher);
    r.rights = xmp.alternative(eb_xmp::rights);
    r.languages = unique(texts(xmp[eb_xmp::language]));
    if (r.languages.empty() && !lang.empty()) r.languages.push_back(lang);
    if (!r.languages.empty()) r.language = r.languages[0];

    r.published = xmp.first(eb_xmp::date);
    if (r.published.empty()) {
        const std::string created = info.creation_date.empty() ? "" : info_date(info.creation_date);
        r.published = pick(info_wins, xmp.first(eb_xmp::create_date), created);
    }
    r.modified = later_modified(info, xmp);

    read_identifiers(info, xmp, r);
    if (!xmp[eb_xmp::series].empty()) {
        const eb_xmp_value &s = xmp[eb_xmp::series][0];
        eb_series series{trim(s.text), trim(s.series_index)};
        if (series.index.empty()) series.index = xmp.first(eb_xmp::series_index);
        if (!series.name.empty()) r.series.push_back(std::move(series));
    }
    // calibre's sort form belongs to the XMP title.
    if (r.title == xmp_title) r.title_sort = xmp.first(eb_xmp::title_sort);
    std::size_t kept = 0;
    for (const std::string &w : xmp.warnings)
        if (kept++ < 3) r.warnings.push_back("XMP: " + w);
    if (xmp.warnings.size() > 3)
        r.warnings.push_back("XMP: " + std::to_string(xmp.warnings.size() - 3) + " more warnings");
}
