// fb2_cover_write.cpp - a FictionBook's cover: the coverpage's image and the binary it names.
//
// The old picture's binary is replaced where it stands when nothing but the
// coverpage names it ("#id" once in the document); otherwise it stays and
// the new binary follows the last one. Its id is "cover.EXT" (cover-2.EXT...
// when taken), its Base64 text in lines of 76 characters.
#include "error.h"
#include "formats/fb2/fb2_edit.h"

namespace {

constexpr std::string_view kXlink = "http://www.w3.org/1999/xlink";

std::string base64_lines(const std::string &in) {
    static const char *abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(in.size() / 3 * 4 + in.size() / 57 + 8);
    std::size_t col = 0;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const auto b = [&](std::size_t k) {
            return k < in.size() ? static_cast<unsigned char>(in[k]) : 0u;
        };
        const unsigned v = b(i) << 16 | b(i + 1) << 8 | b(i + 2);
        out += abc[v >> 18 & 63];
        out += abc[v >> 12 & 63];
        out += i + 1 < in.size() ? abc[v >> 6 & 63] : '=';
        out += i + 2 < in.size() ? abc[v & 63] : '=';
        if ((col += 4) == 76 && i + 3 < in.size()) {
            out += '\n';
            col = 0;
        }
    }
    return out;
}

// How often "#id" stands as a whole quoted link in the document's bytes.
// Only ASCII ids in ASCII-compatible encodings can be counted; for the
// others the answer is "many", which keeps the binary.
std::size_t links_to(const eb_fb2_doc &d, const std::string &id) {
    for (unsigned char c : id)
        if (c >= 0x80) return 2;
    if (d.t.unit != 1) return 2;
    std::size_t n = 0;
    const std::string_view text = d.text();
    const std::string needle = "#" + id;
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
        const std::size_t end = at + needle.size();
        if (end < text.size() && (text[end] == '"' || text[end] == '\'')) ++n;
    }
    return n;
}

std::string href_of(const eb_xml_elem &image) {
    for (const auto &a : image.attrs) {
        const std::size_t colon = a.first.find(':');
        if ((colon == std::string::npos ? a.first : a.first.substr(colon + 1)) == "href")
            return a.second;
    }
    return {};
}

}  // namespace

bool eb_fb2_doc::cover(const eb_field_change<eb_cover_image> &f) {
    const std::vector<int> pages = kids(title_info, "coverpage");
    std::string old_id;
    if (!pages.empty())
        for (int k : t.children(pages[0]))
            if (old_id.empty() && el(k).local() == "image") old_id = href_of(el(k));
    if (!old_id.empty() && old_id[0] == '#') old_id.erase(0, 1);
    int old_binary = -1;
    for (int b : binaries)
        if (!old_id.empty() && std::string(el(b).attr_local("id")) == old_id) old_binary = b;
    const bool replace = old_binary >= 0 && links_to(*this, old_id) <= 1;
    if (replace) drop(old_binary);
    for (int pg : pages)
        drop(pg);
    if (!f.value) return true;

    const eb_cover_image &img = *f.value;
    std::string id = "cover." + img.extension;
    for (int n = 2; t.ids.count(id) && !(replace && id == old_id); ++n)
        id = "cover-" + std::to_string(n) + "." + img.extension;
    t.ids.insert(id);
    // The image links in the XLink namespace, under the prefix the document
    // binds to it, or one declared on the image itself.
    std::string prefix;
    std::vector<std::pair<std::string, std::string>> a;
    if (!t.prefix_for(title_info, kXlink, &prefix, true)) {
        prefix = "l";
        a.emplace_back("xmlns:l", std::string(kXlink));
    }
    a.emplace_back(prefix + ":href", "#" + id);
    place(title_info, "coverpage", elem_raw("coverpage", {}, elem("image", a, "")));

    const std::string binary = p->element_raw(
        std::string(el(root).prefix()).empty() ? "binary"
                                               : std::string(el(root).prefix()) + ":binary",
        {{"id", id}, {"content-type", img.mime}}, p->markup(base64_lines(img.bytes)));
    if (replace)
        p->insert_after(el(old_binary), binary);
    else if (!binaries.empty())
        p->insert_after(el(binaries.back()), binary);
    else
        p->append_child(el(root), binary);
    return true;
}
