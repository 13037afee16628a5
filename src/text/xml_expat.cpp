// xml_expat.cpp - the thread's expat parser and the name helpers of the lenient reader.
#include "text/xml_expat.h"

#include <algorithm>
#include <new>
#include <random>

namespace eb_xml {

namespace {
struct spare_parser {
    parser_ptr parser;
    bool lent = false;
};
thread_local spare_parser t_spare;

unsigned long thread_salt() {
    thread_local const unsigned long salt = [] {
        std::random_device rd;
        const unsigned long v = (static_cast<unsigned long>(rd()) << 32) ^ rd();
        return v ? v : 1;
    }();
    return salt;
}
}  // namespace

std::string guess_namespace(std::string_view prefix) {
    if (prefix == "l" || prefix == "xlink") return "http://www.w3.org/1999/xlink";
    if (prefix == "dc") return "http://purl.org/dc/elements/1.1/";
    if (prefix == "dcterms") return "http://purl.org/dc/terms/";
    if (prefix == "opf") return "http://www.idpf.org/2007/opf";
    if (prefix == "calibre") return "http://calibre.kovidgoyal.net/2009/metadata";
    return "urn:x-undeclared:" + std::string(prefix);
}

std::string attr_escape(std::string_view v) {
    std::string out;
    for (char c : v) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string entity_declaration(std::string_view name, std::string_view value) {
    std::string out = "<!ENTITY " + std::string(name) + " \"";
    for (char c : value) {
        if (c == '&')
            out += "&#38;";
        else if (c == '%')
            out += "&#37;";
        else if (c == '"')
            out += "&#34;";
        else
            out += c;
    }
    return out + "\">";
}

bool plain_name(std::string_view s) {
    if (s.empty() || s.size() > 64) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!(letter || (i > 0 && other))) return false;
    }
    return true;
}

split_name split(std::string_view s) {
    const std::size_t a = s.find(kSep);
    if (a == std::string_view::npos) return {{}, s, {}};
    const std::size_t b = s.find(kSep, a + 1);
    if (b == std::string_view::npos) return {s.substr(0, a), s.substr(a + 1), {}};
    return {s.substr(0, a), s.substr(a + 1, b - a - 1), s.substr(b + 1)};
}

bool same_qname(const split_name &n, std::string_view qname) {
    if (n.prefix.empty()) return qname == n.local;
    return qname.size() == n.prefix.size() + 1 + n.local.size() && qname.starts_with(n.prefix) &&
           qname[n.prefix.size()] == ':' && qname.ends_with(n.local);
}

namespace {

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// At most one edit apart, letter case aside.
bool one_edit(std::string_view a, std::string_view b) {
    if (a.size() < b.size()) std::swap(a, b);
    if (a.size() - b.size() > 1) return false;
    std::size_t i = 0;
    while (i < b.size() && fold(a[i]) == fold(b[i]))
        ++i;
    if (i == b.size()) return true;
    if (a.size() > b.size()) return equal_folded(a.substr(i + 1), b.substr(i));
    return equal_folded(a.substr(i + 1), b.substr(i + 1)) ||
           (i + 1 < a.size() && fold(a[i]) == fold(b[i + 1]) && fold(a[i + 1]) == fold(b[i]) &&
            equal_folded(a.substr(i + 2), b.substr(i + 2)));
}

bool same_qname_but_case(const split_name &n, std::string_view qname) {
    if (n.prefix.empty()) return equal_folded(qname, n.local);
    return qname.size() == n.prefix.size() + 1 + n.local.size() &&
           equal_folded(qname.substr(0, n.prefix.size()), n.prefix) &&
           qname[n.prefix.size()] == ':' &&
           equal_folded(qname.substr(n.prefix.size() + 1), n.local);
}

bool typo_of(const split_name &n, std::string_view qname) {
    const std::size_t colon = qname.find(':');
    const std::string_view prefix =
        colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
    const std::string_view local =
        colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    return n.local.size() >= 4 && equal_folded(prefix, n.prefix) && one_edit(local, n.local);
}

}  // namespace

std::size_t end_tag_target(const std::vector<split_name> &open, std::string_view qname) {
    for (bool (*names)(const split_name &, std::string_view) : {same_qname, same_qname_but_case})
        for (std::size_t k = open.size(); k > 0; --k)
            if (!open[k - 1].local.empty() && names(open[k - 1], qname)) return k;
    return !open.empty() && typo_of(open.back(), qname) ? open.size() : 0;
}

std::vector<std::string_view> tag_prefixes(std::string_view tag) {
    std::vector<std::string_view> out;
    for (std::size_t k = 0; k < tag.size(); ++k) {
        const char c = tag[k];
        if (!(c == '<' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r')) continue;
        std::size_t e = k + 1;
        while (e < tag.size() && tag[e] != ':' && tag[e] != '=' && tag[e] != ' ' && tag[e] != '>' &&
               tag[e] != '/' && tag[e] != '"' && tag[e] != '\'')
            ++e;
        if (e >= tag.size() || tag[e] != ':' || e == k + 1) continue;
        const std::string_view prefix = tag.substr(k + 1, e - k - 1);
        if (plain_name(prefix) && prefix != "xml" && prefix != "xmlns") out.push_back(prefix);
    }
    return out;
}

std::size_t bind_tag_prefixes(std::string_view text, std::size_t at,
                              std::set<std::string, std::less<>> &bound,
                              std::vector<std::string> &warnings) {
    const std::size_t lt = text.rfind('<', at);
    if (lt == std::string_view::npos) return lt;
    const std::size_t gt = text.substr(0, std::min(text.size(), lt + 4096)).find('>', lt);
    const std::string_view tag = text.substr(lt, gt == std::string_view::npos ? 4096 : gt - lt);
    bool added = false;
    for (const std::string_view prefix : tag_prefixes(tag)) {
        if (bound.count(prefix)) continue;
        if (bound.size() >= 64) return std::string_view::npos;
        bound.emplace(prefix);
        warnings.push_back("namespace prefix '" + std::string(prefix) +
                           "' used without a declaration; taken as " + guess_namespace(prefix));
        added = true;
    }
    return added ? lt : std::string_view::npos;
}

std::string_view end_tag_name(std::string_view text, std::size_t at, std::size_t *after) {
    *after = 0;
    const std::size_t lt = text[at] == '<' ? at : text.rfind('<', at);
    if (lt == std::string_view::npos || lt + 1 >= text.size() || text[lt + 1] != '/') return {};
    const std::size_t gt = text.substr(0, std::min(text.size(), lt + 4096)).find('>', lt);
    if (gt == std::string_view::npos) return {};
    std::string_view qname = text.substr(lt + 2, gt - lt - 2);
    while (!qname.empty() && (qname.back() == ' ' || qname.back() == '\t' || qname.back() == '\n' ||
                              qname.back() == '\r'))
        qname.remove_suffix(1);
    *after = gt + 1;
    return qname;
}

parser_lease::parser_lease() {
    if (!t_spare.lent && t_spare.parser) {
        own_.swap(t_spare.parser);
        from_spare_ = true;
        t_spare.lent = true;
    } else {
        own_.reset(XML_ParserCreateNS("UTF-8", kSep));
        if (!own_) throw std::bad_alloc();
        from_spare_ = !t_spare.lent;
        t_spare.lent = t_spare.lent || from_spare_;
    }
}

bool parser_lease::reset() {
    return XML_ParserReset(own_.get(), "UTF-8") == XML_TRUE &&
           XML_SetHashSalt(own_.get(), thread_salt()) == 1;
}

parser_lease::~parser_lease() {
    if (!from_spare_) return;
    t_spare.lent = false;
    if (keep_) t_spare.parser = std::move(own_);
}

}  // namespace eb_xml
