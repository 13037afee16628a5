// xml_repair.cpp - one linear pass that mends bytes, references and stray '<' in XML text.
#include "text/xml_repair.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "text/char_ref.h"
#include "text/encoding.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// HTML 4 entity names that turn up in hand-made package documents and
// FictionBooks: all of Latin-1, typography, a few symbols and Greek letters.
const std::unordered_map<std::string_view, std::uint32_t> &html_entities() {
    static const std::unordered_map<std::string_view, std::uint32_t> table = [] {
        std::unordered_map<std::string_view, std::uint32_t> t;
        static const char *const latin1[96] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
            "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
            "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
            "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
            "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
            "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
            "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
            "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
            "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
            "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
            "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
            "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        for (std::uint32_t i = 0; i < 96; ++i)
            t.emplace(latin1[i], 160 + i);
        static const struct {
            const char *name;
            std::uint32_t cp;
        } more[] = {
            {"OElig", 338},   {"oelig", 339},   {"Scaron", 352},  {"scaron", 353},
            {"Yuml", 376},    {"fnof", 402},    {"circ", 710},    {"tilde", 732},
            {"ensp", 8194},   {"emsp", 8195},   {"thinsp", 8201}, {"zwnj", 8204},
            {"zwj", 8205},    {"lrm", 8206},    {"rlm", 8207},    {"ndash", 8211},
            {"mdash", 8212},  {"lsquo", 8216},  {"rsquo", 8217},  {"sbquo", 8218},
            {"ldquo", 8220},  {"rdquo", 8221},  {"bdquo", 8222},  {"dagger", 8224},
            {"Dagger", 8225}, {"bull", 8226},   {"hellip", 8230}, {"permil", 8240},
            {"prime", 8242},  {"Prime", 8243},  {"lsaquo", 8249}, {"rsaquo", 8250},
            {"oline", 8254},  {"frasl", 8260},  {"euro", 8364},   {"trade", 8482},
            {"larr", 8592},   {"uarr", 8593},   {"rarr", 8594},   {"darr", 8595},
            {"harr", 8596},   {"minus", 8722},  {"infin", 8734},  {"asymp", 8776},
            {"ne", 8800},     {"le", 8804},     {"ge", 8805},     {"loz", 9674},
            {"hearts", 9829}, {"alpha", 945},   {"beta", 946},    {"gamma", 947},
            {"delta", 948},   {"epsilon", 949}, {"lambda", 955},  {"mu", 956},
            {"pi", 960},      {"sigma", 963},   {"omega", 969},   {"Omega", 937},
        };
        for (const auto &e : more)
            t.emplace(e.name, e.cp);
        return t;
    }();
    return table;
}

bool is_name_start(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool is_name_char(unsigned char c) {
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// ASCII that stands for itself in XML text: neither markup nor a control
// character. A table, as the test runs once per byte of the document.
constexpr auto kPlain = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned c = 0x20; c < 0x80; ++c)
        t[c] = c != '<' && c != '&';
    t['\t'] = t['\n'] = t['\r'] = true;
    return t;
}();

bool xml_char_ok(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Length of a well-formed UTF-8 sequence at s[i] (0 when none starts there).
std::size_t seq_len(std::string_view s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80   ? 1
                          : c < 0xC2 ? 0
                          : c < 0xE0 ? 2
                          : c < 0xF0 ? 3
                          : c < 0xF5 ? 4
                                     : 0;
    if (n <= 1 || s.size() - i < n) return n == 1 ? 1 : 0;
    return eb_utf8_valid(s.substr(i, n)) ? n : 0;
}

// Mending never makes a text more than this many times its size (plus a
// little): a document that would need more is read up to that point.
constexpr std::size_t kMaxGrowth = 2;
// Repairs whose places are kept exactly; past them, offsets in the source are
// estimated from the last one kept.
constexpr std::size_t kMaxAnchors = 1 << 16;

// The next place of a needle at or after a position that only moves forward:
// a search that found nothing answers every later one, and one that found a
// place answers every position up to it, so that any number of searches for
// an end that never comes cost one pass.
class forward_find {
  public:
    explicit forward_find(std::string_view needle) : needle_(needle) {}
    std::size_t operator()(std::string_view s, std::size_t from) {
        if (!searched_ || from < from_ || (found_ != std::string_view::npos && from > found_)) {
            found_ = s.find(needle_, from);
            from_ = from;
            searched_ = true;
        }
        return found_;
    }

  private:
    std::string_view needle_;
    std::size_t from_ = 0, found_ = 0;
    bool searched_ = false;
};

class repairer {
  public:
    explicit repairer(std::string_view src)
        : s_(src), limit_(kMaxGrowth * src.size() + 64 * 1024) {}

    eb_xml_repaired run() {
        while (i_ < s_.size()) {
            if (copying_ && r_.text.size() > limit_) {
                r_.warnings.push_back(
                    "document needs more mending than twice its size; the rest not read");
                break;
            }
            const char c = s_[i_];
            if (c == '<') {
                markup();
            } else if (c == '&') {
                reference();
            } else {
                // A run of plain ASCII text needs no mending: copied whole.
                const std::size_t end = plain_run(i_);
                if (end == i_) {
                    byte();
                    continue;
                }
                copy(end - i_);
            }
        }
        r_.unchanged = !copying_;
        report();
        return std::move(r_);
    }

  private:
    std::string_view s_;
    std::size_t i_ = 0;
    eb_xml_repaired r_;
    std::size_t limit_;
    std::unordered_set<std::string> declared_;  // entities of the document type
    std::size_t bad_bytes_ = 0, bare_amp_ = 0, html_ = 0, unknown_ = 0, bad_ref_ = 0, stray_lt_ = 0,
                unclosed_ = 0;
    std::string first_html_, first_unknown_;
    forward_find comment_end_{"-->"}, pi_end_{"?>"}, cdata_end_{"]]>"}, gt_{">"}, bracket_{"]"};

    // The end of the run of plain bytes from `from`: eight bytes a step
    // while they all are plain, then one at a time.
    std::size_t plain_run(std::size_t from) const {
        const auto *b = reinterpret_cast<const unsigned char *>(s_.data()) + from;
        const auto *e = b + (s_.size() - from);
        const auto *p = b;
        while (e - p >= 8 && (kPlain[p[0]] & kPlain[p[1]] & kPlain[p[2]] & kPlain[p[3]] &
                              kPlain[p[4]] & kPlain[p[5]] & kPlain[p[6]] & kPlain[p[7]]))
            p += 8;
        while (p != e && kPlain[*p])
            ++p;
        return from + static_cast<std::size_t>(p - b);
    }

    // The mended text is made at the first repair: until then it is the
    // source itself, and a document that needs no repair is never copied.
    bool copying_ = false;

    // The next n bytes of the source go into the text as they are.
    void copy(std::size_t n) {
        if (copying_) r_.text.append(s_.data() + i_, n);
        i_ += n;
    }
    // The next n bytes of the source become out.
    void edit(std::string_view out, std::size_t n) {
        if (!copying_) {
            // Room for the most the text may grow to, taken once: the text is
            // never moved, and only the part written is ever touched.
            r_.text.reserve(limit_ + 64);
            r_.text.assign(s_.data(), i_);
            copying_ = true;
        }
        r_.text += out;
        i_ += n;
        if (r_.anchors.size() < kMaxAnchors) r_.anchors.push_back({r_.text.size(), i_});
    }

    // Copies one character at i_, mending it when it is not a character XML
    // allows in a document.
    void byte() {
        const unsigned char c = static_cast<unsigned char>(s_[i_]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return replace(1);
            return copy(1);
        }
        const std::size_t n = seq_len(s_, i_);
        if (n == 0) return replace(1);
        // U+FFFE and U+FFFF are not XML characters.
        if (n == 3 && c == 0xEF && s_[i_ + 1] == '\xBF' &&
            (s_[i_ + 2] == '\xBE' || s_[i_ + 2] == '\xBF'))
            return replace(3);
        copy(n);
    }

    void replace(std::size_t n) {
        edit(kReplacement, n);
        ++bad_bytes_;
    }

    // A comment, processing instruction or CDATA section (whose opening is
    // `open` bytes long), copied with byte repairs only. One that never ends
    // is passed over up to the next '<', so that what follows it is still
    // read; of a CDATA section only the opening is dropped, its content read
    // as text.
    void verbatim(forward_find &end, std::size_t open, std::size_t close, bool cdata) {
        const std::size_t at = end(s_, i_ + open);
        if (at != std::string_view::npos) {
            while (i_ < at + close)
                byte();
            return;
        }
        ++unclosed_;
        if (cdata) return edit("", open);
        const std::size_t lt = s_.find('<', i_ + 1);
        edit("", (lt == std::string_view::npos ? s_.size() : lt) - i_);
    }

    void markup() {
        // Start and end tags, by far the most markup, go first.
        const unsigned char next = i_ + 1 < s_.size() ? static_cast<unsigned char>(s_[i_ + 1]) : 0;
        if ((is_name_start(next) && next != ':') || next == '/') return copy(1);
        const std::string_view rest = s_.substr(i_);
        if (rest.starts_with("<!--")) return verbatim(comment_end_, 4, 3, false);
        if (rest.starts_with("<![CDATA[")) return verbatim(cdata_end_, 9, 3, true);
        if (rest.starts_with("<?")) return verbatim(pi_end_, 2, 2, false);
        if (rest.starts_with("<!DOCTYPE")) return doctype();
        if (is_name_start(next) || next == '!') return copy(1);
        edit("&lt;", 1);
        ++stray_lt_;
    }

    // The document type declaration, internal subset included; the names of
    // the general entities it declares stay references.
    void doctype() {
        // Every search stays inside the declaration, so that many of them
        // cost no more than the text they span.
        std::size_t end = s_.size();
        const std::size_t gt = gt_(s_, i_);
        const std::string_view head = s_.substr(0, gt == std::string_view::npos ? s_.size() : gt);
        const std::size_t bracket = head.find('[', i_);
        if (bracket != std::string_view::npos) {
            const std::size_t close = bracket_(s_, bracket);
            const std::size_t gt2 = close == std::string_view::npos ? close : gt_(s_, close);
            if (gt2 != std::string_view::npos) end = gt2 + 1;
        } else if (gt != std::string_view::npos) {
            end = gt + 1;
        }
        const std::string_view decl = s_.substr(0, end);
        for (std::size_t at = decl.find("<!ENTITY", i_); at != std::string_view::npos;
             at = decl.find("<!ENTITY", at + 1)) {
            std::size_t k = at + 8;
            while (k < end && (s_[k] == ' ' || s_[k] == '\t' || s_[k] == '\n' || s_[k] == '\r'))
                ++k;
            std::size_t e = k;
            while (e < end && is_name_char(static_cast<unsigned char>(s_[e])))
                ++e;
            if (e > k && declared_.size() < 1024) declared_.emplace(s_.substr(k, e - k));
        }
        while (i_ < end)
            byte();
    }

    void reference() {
        const std::size_t start = i_;
        std::size_t k = i_ + 1;
        if (k < s_.size() && s_[k] == '#') {
            std::uint32_t cp = 0;
            const std::size_t n = eb_numeric_ref(s_.substr(start), &cp);
            if (n == 0) return bare_ampersand();
            if (xml_char_ok(cp)) return copy(n);
            edit(kReplacement, n);
            ++bad_ref_;
            return;
        }
        std::size_t e = k;
        if (e < s_.size() && is_name_start(static_cast<unsigned char>(s_[e])))
            while (e < s_.size() && e - k < 64 && is_name_char(static_cast<unsigned char>(s_[e])))
                ++e;
        if (e == k || e >= s_.size() || s_[e] != ';') return bare_ampersand();
        const std::string_view name = s_.substr(k, e - k);
        // A name with bytes that are not UTF-8 is no reference: the bytes
        // are mended one by one as text.
        if (!eb_utf8_valid(name)) return bare_ampersand();
        const std::size_t n = e + 1 - start;
        if (eb_predefined_entity(name) != 0 || declared_.count(std::string(name))) return copy(n);
        const auto &table = html_entities();
        if (auto it = table.find(name); it != table.end()) {
            edit("&#" + std::to_string(it->second) + ";", n);
            if (html_++ == 0) first_html_ = name;
        } else {
            edit("&amp;" + std::string(name) + ";", n);
            if (unknown_++ == 0) first_unknown_ = name;
        }
    }

    void bare_ampersand() {
        edit("&amp;", 1);
        ++bare_amp_;
    }

    void report() {
        auto times = [](std::size_t n) {
            return " (" + std::to_string(n) + (n == 1 ? " time)" : " times)");
        };
        auto &w = r_.warnings;
        if (bad_bytes_)
            w.push_back("invalid bytes or characters replaced by U+FFFD" + times(bad_bytes_));
        if (bare_amp_) w.push_back("bare '&' read as text" + times(bare_amp_));
        if (html_)
            w.push_back("HTML entity &" + first_html_ + "; and others read as characters" +
                        times(html_));
        if (unknown_)
            w.push_back("undefined entity &" + first_unknown_ + "; and others kept as text" +
                        times(unknown_));
        if (bad_ref_)
            w.push_back("character reference to a forbidden character replaced by U+FFFD" +
                        times(bad_ref_));
        if (stray_lt_) w.push_back("'<' that starts no markup read as text" + times(stray_lt_));
        if (unclosed_)
            w.push_back("comment, instruction or CDATA section that never ends passed over" +
                        times(unclosed_));
    }
};

}  // namespace

eb_xml_repaired eb_xml_repair(std::string_view src) {
    return repairer(src).run();
}

std::size_t eb_xml_source_offset(const std::vector<eb_xml_anchor> &anchors, std::size_t x) {
    auto it = std::upper_bound(anchors.begin(), anchors.end(), x,
                               [](std::size_t v, const eb_xml_anchor &a) { return v < a.out; });
    if (it == anchors.begin()) return x;
    --it;
    return it->in + (x - it->out);
}

std::uint32_t eb_html_entity(std::string_view name) {
    const auto &table = html_entities();
    const auto it = table.find(name);
    return it == table.end() ? 0 : it->second;
}
