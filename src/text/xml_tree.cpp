// xml_tree.cpp - strict reading of a document into its elements' byte ranges, through expat.
#include "text/xml_tree.h"

#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include "error.h"

namespace {

constexpr std::string_view kXmlNs = "http://www.w3.org/XML/1998/namespace";
// Text kept of one element: more than the record keeps of any text.
constexpr std::size_t kTextCap = 256 * 1024;
constexpr std::size_t kChunk = 1 << 20;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

struct parser_free {
    void operator()(XML_ParserStruct *p) const { XML_ParserFree(p); }
};

struct iconv_closer {
    iconv_t cd;
    ~iconv_closer() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

// The code point of each byte of a single-byte code page; false when the
// encoding is unknown, multi-byte, or moves an ASCII character.
bool single_byte_page(const char *name, std::vector<std::int32_t> *page) {
    iconv_closer c{iconv_open("UTF-32LE", name)};
    if (c.cd == reinterpret_cast<iconv_t>(-1)) return false;
    page->assign(256, -1);
    for (int b = 0; b < 256; ++b) {
        iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(b);
        unsigned char out[8];
        char *ip = &in, *op = reinterpret_cast<char *>(out);
        std::size_t il = 1, ol = sizeof out;
        if (iconv(c.cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) {
            if (errno == EINVAL) return false;  // a lead byte: several bytes per character
            continue;
        }
        if (sizeof out - ol != 4) continue;
        (*page)[b] = static_cast<std::int32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
    }
    for (int b = 0; b < 0x80; ++b)
        if ((*page)[b] != b && b != '$' && b != '@' && b != '\\' && b != '^' && b != '`' &&
            b != '{' && b != '}' && b != '~')
            return false;
    return true;
}

class reading {
  public:
    reading(const eb_xml_keep_fn &keep, eb_xml_tree *t) : keep_(keep), t_(t) {}

    bool run(std::string_view doc, std::string *error) {
        std::unique_ptr<XML_ParserStruct, parser_free> p(XML_ParserCreate(nullptr));
        if (!p) throw std::bad_alloc();
        parser_ = p.get();
        std::random_device rd;
        XML_SetHashSalt(parser_, ((static_cast<unsigned long>(rd()) << 32) ^ rd()) | 1);
        XML_SetUserData(parser_, this);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_, 256 * 1024);
        XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, 10.0f);
        XML_SetElementHandler(parser_, on_start, on_end);
        // Text is reported only while an element keeps it: the pictures of a
        // FictionBook are megabytes of text no handler needs to see.
        XML_SetXmlDeclHandler(parser_, on_decl);
        XML_SetUnknownEncodingHandler(parser_, on_encoding, this);
        sniff(doc);
        std::size_t at = 0;
        do {
            const std::size_t n = doc.size() - at < kChunk ? doc.size() - at : kChunk;
            const bool last = at + n == doc.size();
            if (XML_Parse(parser_, doc.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
                if (!bad_encoding_.empty()) {
                    *error = "unsupported encoding " + bad_encoding_;
                } else {
                    *error = "line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
                             XML_ErrorString(XML_GetErrorCode(parser_));
                }
                return false;
            }
            at += n;
        } while (at < doc.size());
        return true;
    }

  private:
    const eb_xml_keep_fn &keep_;
    eb_xml_tree *t_;
    XML_Parser parser_ = nullptr;
    std::vector<int> open_;  // kept elements open now
    int skipped_ = 0;        // depth inside a skipped element
    int collecting_ = -1;    // the element whose text is being kept
    std::string bad_encoding_;

    // UTF-16 by a byte order mark or by '<' beside a NUL; the declaration
    // then names it as "utf-16" at most.
    void sniff(std::string_view d) {
        t_->encoding = "utf-8";
        if (d.size() < 2) return;
        const auto b0 = static_cast<unsigned char>(d[0]), b1 = static_cast<unsigned char>(d[1]);
        if ((b0 == 0xFF && b1 == 0xFE) || (b0 == '<' && b1 == 0)) {
            t_->unit = 2;
            t_->encoding = "utf-16";
        } else if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0 && b1 == '<')) {
            t_->unit = 2;
            t_->big_endian = true;
            t_->encoding = "utf-16";
        }
    }

    static void XMLCALL on_decl(void *u, const XML_Char *, const XML_Char *encoding, int) {
        auto *self = static_cast<reading *>(u);
        if (encoding && self->t_->unit == 1) self->t_->encoding = lower(encoding);
    }

    static int XMLCALL on_encoding(void *u, const XML_Char *name, XML_Encoding *info) {
        auto *self = static_cast<reading *>(u);
        std::vector<std::int32_t> page;
        if (!single_byte_page(name, &page)) {
            self->bad_encoding_ = name;
            return XML_STATUS_ERROR;
        }
        for (int b = 0; b < 256; ++b)
            info->map[b] = page[b];
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        self->t_->code_page = std::move(page);
        return XML_STATUS_OK;
    }

    // The namespace of a prefix ("" for the default one) in scope at the
    // element being opened, whose own attributes come first.
    bool resolve(std::string_view prefix, const eb_xml_elem &e, std::string *ns) const {
        if (prefix == "xml") {
            *ns = kXmlNs;
            return true;
        }
        const std::string decl = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
        if (const std::string *v = e.attr(decl)) {
            *ns = *v;
            return true;
        }
        std::string found;
        if (t_->prefix_for_decl(e.parent, decl, &found)) {
            *ns = found;
            return true;
        }
        return prefix.empty();  // no default namespace: none
    }

    static void XMLCALL on_start(void *u, const XML_Char *name, const XML_Char **atts) {
        auto *self = static_cast<reading *>(u);
        eb_xml_tree &t = *self->t_;
        for (const XML_Char **a = atts; *a; a += 2)
            if (std::strcmp(a[0], "id") == 0 || std::strcmp(a[0], "xml:id") == 0)
                t.ids.insert(a[1]);
        if (self->skipped_) {
            ++self->skipped_;
            return;
        }
        const int parent = self->open_.empty() ? -1 : self->open_.back();
        const int depth = static_cast<int>(self->open_.size()) + 1;
        const eb_xml_keep k = self->keep_(t, parent, depth, name);
        if (k == eb_xml_keep::skip) {
            self->skipped_ = 1;
            return;
        }
        eb_xml_elem e;
        e.parent = parent;
        e.depth = depth;
        e.qname = name;
        const int specified = XML_GetSpecifiedAttributeCount(self->parser_);
        for (int i = 0; i < specified && atts[i]; i += 2)
            e.attrs.emplace_back(atts[i], atts[i + 1]);
        e.start = static_cast<std::uint64_t>(XML_GetCurrentByteIndex(self->parser_));
        e.start_end = e.start + static_cast<std::uint64_t>(XML_GetCurrentByteCount(self->parser_));
        e.unbound = !self->resolve(e.prefix(), e, &e.ns);
        t.elems.push_back(std::move(e));
        const int idx = static_cast<int>(t.elems.size()) - 1;
        self->open_.push_back(idx);
        if (k == eb_xml_keep::text && self->collecting_ < 0) {
            self->collecting_ = idx;
            XML_SetCharacterDataHandler(self->parser_, on_text);
        }
    }

    static void XMLCALL on_end(void *u, const XML_Char *) {
        auto *self = static_cast<reading *>(u);
        if (self->skipped_) {
            --self->skipped_;
            return;
        }
        const int idx = self->open_.back();
        self->open_.pop_back();
        eb_xml_elem &e = self->t_->elems[static_cast<std::size_t>(idx)];
        const auto at = static_cast<std::uint64_t>(XML_GetCurrentByteIndex(self->parser_));
        const auto n = static_cast<std::uint64_t>(XML_GetCurrentByteCount(self->parser_));
        if (n == 0) {
            e.empty = true;
            e.end_start = e.end = e.start_end;
        } else {
            e.end_start = at;
            e.end = at + n;
        }
        if (self->collecting_ == idx) {
            self->collecting_ = -1;
            XML_SetCharacterDataHandler(self->parser_, nullptr);
        }
    }

    static void XMLCALL on_text(void *u, const XML_Char *s, int len) {
        auto *self = static_cast<reading *>(u);
        if (self->collecting_ < 0) return;
        std::string &text = self->t_->elems[static_cast<std::size_t>(self->collecting_)].text;
        const auto n = static_cast<std::size_t>(len);
        if (text.size() < kTextCap)
            text.append(s, n < kTextCap - text.size() ? n : kTextCap - text.size());
    }
};

}  // namespace

std::string_view eb_xml_elem::local() const {
    const std::size_t colon = qname.find(':');
    return colon == std::string::npos ? std::string_view(qname)
                                      : std::string_view(qname).substr(colon + 1);
}

std::string_view eb_xml_elem::prefix() const {
    const std::size_t colon = qname.find(':');
    return colon == std::string::npos ? std::string_view()
                                      : std::string_view(qname).substr(0, colon);
}

const std::string *eb_xml_elem::attr(std::string_view q) const {
    for (const auto &a : attrs)
        if (a.first == q) return &a.second;
    return nullptr;
}

std::string_view eb_xml_elem::attr_local(std::string_view l) const {
    for (const auto &a : attrs) {
        const std::size_t colon = a.first.find(':');
        const std::string_view name = colon == std::string::npos
                                          ? std::string_view(a.first)
                                          : std::string_view(a.first).substr(colon + 1);
        if (name == l && a.first.rfind("xmlns", 0) != 0) return a.second;
    }
    return {};
}

bool eb_xml_tree::prefix_for_decl(int e, std::string_view decl, std::string *uri) const {
    for (; e >= 0; e = elems[static_cast<std::size_t>(e)].parent)
        if (const std::string *v = elems[static_cast<std::size_t>(e)].attr(decl)) {
            *uri = *v;
            return true;
        }
    return false;
}

namespace {

// Whether a declared prefix can begin an element's name. The declaration's
// attribute name was an XML name, so each of its characters is a name
// character; a prefix must still not hold a colon nor start with one of the
// characters that may only follow (a digit, '-', '.', U+00B7, the combining
// marks U+0300-036F, U+203F-2040): `xmlns:1c` parses, `<1c:title>` does not.
bool names_elements(std::string_view p) {
    if (p.empty() || p.find(':') != std::string_view::npos) return false;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(p[i]); };
    if (b(0) < 0x80) return (b(0) >= 'A' && b(0) <= 'Z') || (b(0) >= 'a' && b(0) <= 'z') || b(0) == '_';
    std::uint32_t cp = 0;
    if ((b(0) & 0xE0) == 0xC0 && p.size() >= 2)
        cp = (b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu);
    else if ((b(0) & 0xF0) == 0xE0 && p.size() >= 3)
        cp = (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu);
    else
        return (b(0) & 0xF8) == 0xF0;  // above the BMP: name start characters
    return cp != 0xB7 && !(cp >= 0x300 && cp <= 0x36F) && !(cp >= 0x203F && cp <= 0x2040);
}

}  // namespace

bool eb_xml_tree::prefix_for(int e, std::string_view uri, std::string *prefix,
                             bool named_only) const {
    // The nearest declaration of each prefix wins: a prefix declared again
    // lower down for another namespace no longer names uri.
    std::unordered_set<std::string> seen;
    for (; e >= 0; e = elems[static_cast<std::size_t>(e)].parent) {
        for (const auto &a : elems[static_cast<std::size_t>(e)].attrs) {
            if (a.first != "xmlns" && a.first.rfind("xmlns:", 0) != 0) continue;
            const std::string p = a.first == "xmlns" ? std::string() : a.first.substr(6);
            if (!seen.insert(p).second) continue;
            if (a.second == uri && (p.empty() ? !named_only : names_elements(p))) {
                *prefix = p;
                return true;
            }
        }
    }
    return false;
}

bool eb_xml_tree::prefix_bound(int e, std::string_view prefix) const {
    std::string ignored;
    return prefix_for_decl(e, prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix), &ignored);
}

std::vector<int> eb_xml_tree::children(int e) const {
    std::vector<int> out;
    for (std::size_t i = static_cast<std::size_t>(e) + 1; i < elems.size(); ++i) {
        if (elems[i].depth <= elems[static_cast<std::size_t>(e)].depth) break;
        if (elems[i].parent == e) out.push_back(static_cast<int>(i));
    }
    return out;
}

bool eb_xml_tree_read(std::string_view doc, const eb_xml_keep_fn &keep, eb_xml_tree *out,
                      std::string *error) {
    *out = eb_xml_tree();
    return reading(keep, out).run(doc, error);
}

void eb_xml_tree_refuse(const char *what, const std::string &why) {
    if (why.rfind("unsupported encoding", 0) == 0)
        eb_set_error(
            "%s is in an encoding the writer cannot write (%s); write refused, nothing "
            "changed",
            what, why.c_str());
    else
        eb_set_error("%s is not well-formed XML; write refused, nothing changed (%s)", what,
                     why.c_str());
}
