// xml_reader.cpp - lenient XML reading: encoding, decoding and mending before parsing.
#include "text/xml_reader.h"

#include <string>

#include "text/encoding.h"
#include "text/xml_repair.h"
#include "text/xml_session.h"

namespace {

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The encoding a document names for itself: a byte order mark first, then
// the byte pattern of a UTF-16 "<?", then the XML declaration. "" for none.
std::string sniff_encoding(std::string_view doc, bool *declaration_ascii) {
    *declaration_ascii = false;
    const auto *p = reinterpret_cast<const unsigned char *>(doc.data());
    const std::size_t n = doc.size();
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return "utf-8";
    if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
        return "utf-16";
    if (n >= 4 && p[0] == '<' && p[1] == 0 && p[2] == '?' && p[3] == 0) return "utf-16le";
    if (n >= 4 && p[0] == 0 && p[1] == '<' && p[2] == 0 && p[3] == '?') return "utf-16be";
    const std::string_view head = doc.substr(0, 1024);
    std::size_t at = head.find("<?xml");
    if (at == std::string_view::npos || head.find_first_not_of(" \t\r\n") != at) return "";
    const std::size_t end = head.find("?>", at);
    if (end == std::string_view::npos) return "";
    const std::string_view decl = head.substr(at, end - at);
    at = decl.find("encoding");
    if (at == std::string_view::npos) return "";
    at = decl.find('=', at);
    if (at == std::string_view::npos) return "";
    at = decl.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string_view::npos || (decl[at] != '"' && decl[at] != '\'')) return "";
    const std::size_t close = decl.find(decl[at], at + 1);
    if (close == std::string_view::npos) return "";
    *declaration_ascii = true;
    return lower(std::string(decl.substr(at + 1, close - at - 1)));
}

// Encodings whose every character takes two or four bytes: UTF-16, UCS-2,
// UCS-4 and UTF-32 under their usual labels, of either byte order.
bool wide_encoding(std::string_view label) {
    for (std::string_view family : {"utf-16", "utf16", "ucs-2", "ucs2", "iso-10646-ucs-2",
                                    "utf-32", "utf32", "ucs-4", "ucs4", "iso-10646-ucs-4"})
        if (label.starts_with(family)) return true;
    return label == "unicode" || label == "csunicode";
}

// A label from the document as warning text: printable ASCII, short.
std::string shown(std::string_view label) {
    std::string out;
    for (char c : label.substr(0, 40))
        out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}

}  // namespace

eb_xml_result eb_xml_read(std::string_view doc, eb_xml_handler &h) {
    eb_xml_result res;
    bool declared = false;
    std::string label = sniff_encoding(doc, &declared);
    if (declared && wide_encoding(label)) {
        // The declaration was legible as single bytes, so the text is not in
        // an encoding of two or four bytes a character.
        res.warnings.push_back("document declares " + shown(label) + " but is not; read as UTF-8");
        label.clear();
    }
    const bool utf8 = label.empty() || label == "utf-8" || label == "utf8";
    std::string decoded;
    std::string_view source = doc;
    if (!utf8) {
        bool replaced = false;
        if (eb_decode(doc, label, &decoded, &replaced)) {
            res.encoding = label;
            source = decoded;
            if (replaced)
                res.warnings.push_back("bytes invalid in " + label + " replaced by U+FFFD");
        } else {
            res.warnings.push_back("unknown encoding " + shown(label) + "; read as UTF-8");
        }
    } else if (doc.starts_with("\xEF\xBB\xBF")) {
        source = doc.substr(3);
    }

    eb_xml_repaired fixed = eb_xml_repair(source);
    res.warnings.insert(res.warnings.end(), fixed.warnings.begin(), fixed.warnings.end());
    const std::string_view text = fixed.unchanged ? source : std::string_view(fixed.text);
    const std::size_t end = eb_xml_parse_resuming(text, h, res.warnings);

    // Map the end back to the input: exact through the repairs; in proportion
    // for a document that had to be decoded from another encoding.
    const std::size_t in_source =
        end >= text.size() ? source.size() : eb_xml_source_offset(fixed.anchors, end);
    if (source.data() == decoded.data() && !decoded.empty()) {
        res.consumed = end >= text.size()
                           ? doc.size()
                           : static_cast<std::size_t>(static_cast<double>(in_source) *
                                                      static_cast<double>(doc.size()) /
                                                      static_cast<double>(decoded.size()));
    } else {
        res.consumed = in_source + static_cast<std::size_t>(source.data() - doc.data());
    }
    if (res.consumed > doc.size()) res.consumed = doc.size();
    return res;
}
