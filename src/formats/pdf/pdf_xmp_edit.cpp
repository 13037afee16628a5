// pdf_xmp_edit.cpp - XMP packet editing by byte ranges: expat finds where each replaced property
// and each top-level rdf:Description's start tag lie, and the packet is copied around them.
#include "formats/pdf/pdf_xmp_edit.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <new>
#include <set>
#include <vector>

#include "error.h"
#include "formats/pdf/pdf_xmp.h"
#include "text/markup_write.h"

const char *const eb_xmp_namespaces =
    " xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""
    " xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\""
    " xmlns:xmpidq=\"http://ns.adobe.com/xmp/Identifier/qual/1.0/\""
    " xmlns:calibre=\"http://calibre-ebook.com/xmp-namespace\""
    " xmlns:calibreSI=\"http://calibre-ebook.com/xmp-namespace-series-index\"";

namespace {

using namespace eb_xmp_ns;

constexpr char kSep = '\n';

struct name_parts {
    std::string_view ns, local, prefix;
};

// expat's "uri\nlocal\nprefix" (a name without namespace is its local part).
name_parts split(std::string_view s) {
    const std::size_t a = s.find(kSep);
    if (a == std::string_view::npos) return {{}, s, {}};
    const std::size_t b = s.find(kSep, a + 1);
    if (b == std::string_view::npos) return {s.substr(0, a), s.substr(a + 1), {}};
    return {s.substr(0, a), s.substr(a + 1, b - a - 1), s.substr(b + 1)};
}

// A byte range of the packet and what takes its place.
struct edit {
    std::size_t from, to;
    std::string with;
};

struct state {
    XML_Parser parser = nullptr;
    const eb_xmp_replaced *replaced = nullptr;
    std::string_view packet;
    std::vector<std::size_t> start_ends;  // where the open elements' start tags end
    int depth = 0, desc_depth = 0, drop_depth = 0, rdf_depth = 0;
    std::size_t drop_from = 0;
    bool doctype = false, found_rdf = false;
    std::size_t rdf_end = 0;
    std::string about;
    bool have_about = false;
    std::vector<edit> edits;
};

// The start tag without the attributes whose written names are in `names`.
// The tag is well-formed (expat read it): names, '=', quoted values.
std::string without_attributes(std::string_view tag, const std::set<std::string> &names) {
    std::size_t i = 1;
    while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '/' &&
           tag[i] != '>')
        ++i;
    std::string out(tag.substr(0, i));
    while (i < tag.size()) {
        const std::size_t ws = i;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size() || tag[i] == '/' || tag[i] == '>') {
            out.append(tag.substr(ws));
            break;
        }
        const std::size_t name_at = i;
        while (i < tag.size() && tag[i] != '=' && !std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        const std::string name(tag.substr(name_at, i - name_at));
        i = tag.find_first_of("\"'", i);
        if (i == std::string_view::npos) return std::string(tag);
        const std::size_t close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos) return std::string(tag);
        i = close + 1;
        if (!names.count(name)) out.append(tag.substr(ws, i - ws));
    }
    return out;
}

void XMLCALL on_start(void *ud, const XML_Char *name, const XML_Char **atts) {
    auto &s = *static_cast<state *>(ud);
    const std::size_t at = static_cast<std::size_t>(XML_GetCurrentByteIndex(s.parser));
    const std::size_t len = static_cast<std::size_t>(XML_GetCurrentByteCount(s.parser));
    s.start_ends.push_back(at + len);
    ++s.depth;
    if (s.drop_depth) return;
    const name_parts n = split(name);
    if (n.ns == kRdf && n.local == "RDF" && !s.found_rdf && !s.rdf_depth) s.rdf_depth = s.depth;
    if (s.desc_depth && s.depth == s.desc_depth + 1) {
        // A property element of a description: removed whole when replaced.
        if ((*s.replaced)(n.ns, n.local)) {
            s.drop_depth = s.depth;
            s.drop_from = at;
        }
        return;
    }
    if (s.desc_depth || n.ns != kRdf || n.local != "Description") return;
    s.desc_depth = s.depth;
    std::set<std::string> names;
    for (const XML_Char **a = atts; *a; a += 2) {
        const name_parts an = split(a[0]);
        if (an.ns == kRdf && an.local == "about" && !s.have_about) {
            s.about = a[1];
            s.have_about = true;
        }
        if (!an.ns.empty() && (*s.replaced)(an.ns, an.local))
            names.insert(std::string(an.prefix) + ":" + std::string(an.local));
    }
    if (!names.empty())
        s.edits.push_back({at, at + len, without_attributes(s.packet.substr(at, len), names)});
}

void XMLCALL on_end(void *ud, const XML_Char *) {
    auto &s = *static_cast<state *>(ud);
    const std::size_t at = static_cast<std::size_t>(XML_GetCurrentByteIndex(s.parser));
    const std::size_t len = static_cast<std::size_t>(XML_GetCurrentByteCount(s.parser));
    // An empty-element tag ends where it starts: expat gives it no end tag.
    const std::size_t end = len ? at + len : s.start_ends.back();
    if (s.drop_depth == s.depth) {
        s.edits.push_back({s.drop_from, end, {}});
        s.drop_depth = 0;
    }
    if (s.desc_depth == s.depth) s.desc_depth = 0;
    if (s.rdf_depth == s.depth) {
        s.rdf_depth = 0;
        s.found_rdf = len != 0;
        s.rdf_end = at;
    }
    s.start_ends.pop_back();
    --s.depth;
}

void XMLCALL on_doctype(void *ud, const XML_Char *, const XML_Char *, const XML_Char *, int) {
    auto &s = *static_cast<state *>(ud);
    s.doctype = true;
    XML_StopParser(s.parser, XML_FALSE);
}

bool refuse(const char *why) {
    eb_set_error("PDF XMP packet %s; write refused, nothing changed", why);
    return false;
}

}  // namespace

bool eb_xmp_edit(std::string_view packet, const eb_xmp_replaced &replaced,
                 std::string_view properties, std::string *out) {
    if (packet.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        *out =
            "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
            "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
            "<rdf:Description rdf:about=\"\"" +
            std::string(eb_xmp_namespaces) + ">\n" + std::string(properties) +
            "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
        return true;
    }
    XML_Parser p = XML_ParserCreateNS("UTF-8", kSep);
    if (!p) throw std::bad_alloc();
    XML_SetReturnNSTriplet(p, XML_TRUE);
    state s;
    s.parser = p;
    s.replaced = &replaced;
    s.packet = packet;
    XML_SetUserData(p, &s);
    XML_SetElementHandler(p, on_start, on_end);
    XML_SetStartDoctypeDeclHandler(p, on_doctype);
    const bool ok =
        XML_Parse(p, packet.data(), static_cast<int>(packet.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(p);
    if (s.doctype) return refuse("declares a DTD");
    if (!ok) return refuse("is not well-formed UTF-8 XML");
    if (!s.found_rdf) return refuse("has no rdf:RDF element to add to");

    s.edits.push_back({s.rdf_end, s.rdf_end,
                       "<rdf:Description rdf:about=\"" + eb_xml_escape(s.about) + "\"" +
                           eb_xmp_namespaces + ">\n" + std::string(properties) +
                           "</rdf:Description>\n"});
    std::sort(s.edits.begin(), s.edits.end(),
              [](const edit &a, const edit &b) { return a.from < b.from; });
    out->clear();
    std::size_t at = 0;
    for (const edit &e : s.edits) {
        out->append(packet.substr(at, e.from - at));
        out->append(e.with);
        at = e.to;
    }
    out->append(packet.substr(at));
    return true;
}
