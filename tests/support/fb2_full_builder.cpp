// fb2_full_builder.cpp - FictionBook documents with a complete description.
#include "fb2_full_builder.h"

namespace qtest {

namespace {
void section(std::string &out, const std::string &name, const std::vector<std::string> &children,
             bool always = false) {
    if (children.empty() && !always) return;
    out += "<" + name + ">\n";
    for (const auto &c : children)
        out += c + "\n";
    out += "</" + name + ">\n";
}
}  // namespace

std::string build_fb2_full(const Fb2FullDesc &s) {
    const std::string p = s.prefix.empty() ? "" : s.prefix + ":";
    const std::string ns = s.prefix.empty() ? "xmlns" : "xmlns:" + s.prefix;
    std::string out;
    if (!s.encoding.empty()) out += "<?xml version=\"1.0\" encoding=\"" + s.encoding + "\"?>\n";
    out += "<" + p + "FictionBook " + ns +
           "=\"http://www.gribuser.ru/xml/fictionbook/2.0\""
           " xmlns:l=\"http://www.w3.org/1999/xlink\">\n<" +
           p + "description>\n";
    section(out, p + "title-info", s.title_info, true);
    section(out, p + "document-info", s.document_info);
    section(out, p + "publish-info", s.publish_info);
    out += "</" + p + "description>\n<" + p + "body>" + s.body + "</" + p + "body>\n";
    for (const Fb2Binary &b : s.binaries) {
        out += "<" + p + "binary id=\"" + b.id + "\"";
        if (!b.content_type.empty()) out += " content-type=\"" + b.content_type + "\"";
        out += ">\n" + base64_encode(b.bytes) + "\n</" + p + "binary>\n";
    }
    out += "</" + p + "FictionBook>\n";
    return out;
}

std::string fb2_person(const std::string &tag, const std::string &first, const std::string &middle,
                       const std::string &last, const std::string &nickname) {
    std::string out = "<" + tag + ">";
    auto part = [&](const char *name, const std::string &v) {
        if (!v.empty()) out += std::string("<") + name + ">" + v + "</" + name + ">";
    };
    part("first-name", first);
    part("middle-name", middle);
    part("last-name", last);
    part("nickname", nickname);
    return out + "</" + tag + ">";
}

}  // namespace qtest
