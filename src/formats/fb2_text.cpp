// fb2_text.cpp - FictionBook rich text as plain paragraphs, and the cover's binary element sized.
#include "formats/fb2_text.h"

#include <algorithm>

#include "text/encoding.h"

namespace {

constexpr std::size_t kMaxDescription = 1 << 20;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int b64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The value of attribute `name` in the start tag text `tag` (no entity
// decoding: ids and media types are plain words); "" when absent.
std::string tag_attr(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos;
         at = tag.find(name, at + 1)) {
        if (at == 0 || !is_space(tag[at - 1])) continue;
        std::size_t k = at + name.size();
        while (k < tag.size() && is_space(tag[k]))
            ++k;
        if (k >= tag.size() || tag[k] != '=') continue;
        ++k;
        while (k < tag.size() && is_space(tag[k]))
            ++k;
        if (k >= tag.size() || (tag[k] != '"' && tag[k] != '\'')) continue;
        const std::size_t close = tag.find(tag[k], k + 1);
        if (close == std::string_view::npos) return "";
        return std::string(tag.substr(k + 1, close - k - 1));
    }
    return "";
}

// Text of the document's declared encoding as UTF-8.
std::string as_utf8(std::string_view raw, const std::string &encoding) {
    std::string out;
    if (encoding.empty() || !eb_decode(raw, encoding, &out, nullptr))
        out = eb_utf8_repair(raw, nullptr);
    return out;
}

std::string sniff_mime(std::string_view b64) {
    unsigned char head[8];
    std::size_t n = 0;
    unsigned acc = 0;
    int bits = 0;
    for (char c : b64) {
        if (c == '=' || c == '<' || n == sizeof head) break;
        const int v = b64_value(c);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            head[n++] = static_cast<unsigned char>(acc >> bits);
        }
    }
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8) return "image/jpeg";
    if (n >= 4 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G')
        return "image/png";
    if (n >= 4 && head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8')
        return "image/gif";
    return "application/octet-stream";
}

}  // namespace

std::string fb2_trim(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

void fb2_paragraphs::text(std::string_view t) {
    for (char c : t) {
        if (total_ + cur_.size() >= kMaxDescription) return;
        if (is_space(c)) {
            space_ = !cur_.empty();
            continue;
        }
        if (space_) cur_ += ' ';
        space_ = false;
        cur_ += c;
    }
}

void fb2_paragraphs::block_edge(std::string_view name) {
    static constexpr std::string_view blocks[] = {
        "p",    "v",        "subtitle", "text-author", "empty-line", "title", "stanza", "poem",
        "cite", "epigraph", "table",    "tr",          "td",         "th",    "section"};
    for (std::string_view b : blocks)
        if (name == b) return flush();
}

void fb2_paragraphs::flush() {
    space_ = false;
    if (cur_.empty()) return;
    total_ += cur_.size() + 2;
    done_.push_back(std::move(cur_));
    cur_.clear();
}

std::string fb2_paragraphs::finish() {
    flush();
    std::string out;
    for (const auto &p : done_) {
        if (!out.empty()) out += "\n\n";
        out += p;
    }
    done_.clear();
    total_ = 0;
    return out;
}

void fb2_cover(std::string_view doc, const std::string &encoding, const std::string &href,
               eb_record &r, std::size_t from) {
    const std::string id = !href.empty() && href[0] == '#' ? href.substr(1) : href;
    if (id.empty()) return;
    // The binary elements are found in the bytes themselves, which for every
    // encoding but UTF-16 spell their markup in ASCII.
    std::string wide;
    std::string_view text = doc;
    std::string enc = encoding;
    if (enc.rfind("utf-16", 0) == 0) {
        if (!eb_decode(doc, enc, &wide, nullptr)) return;
        text = wide;
        enc.clear();
        from = 0;
    }
    // Each candidate's search for its '>' resumes the scan there, so the
    // scan reads the text once however many candidates it holds.
    for (std::size_t at = text.find("binary", from), next = 0; at != std::string_view::npos;
         at = text.find("binary", std::max(at + 6, next))) {
        // "<binary" or "<prefix:binary", then the end of the name.
        std::size_t lt = at;
        if (at > 0 && text[at - 1] == ':') {
            lt = text.rfind('<', at);
            if (lt == std::string_view::npos || at - lt > 32) continue;
        } else if (at == 0 || text[at - 1] != '<') {
            continue;
        } else {
            lt = at - 1;
        }
        const std::size_t after = at + 6;
        if (after >= text.size() || !(is_space(text[after]) || text[after] == '>')) continue;
        const std::size_t gt = text.find('>', after);
        if (gt == std::string_view::npos) return;
        next = gt;
        const std::string_view tag = text.substr(lt, gt - lt);
        if (as_utf8(tag_attr(tag, "id"), enc) != id) continue;
        if (tag.back() == '/') return;  // an empty element holds no picture
        const std::size_t body_end = text.find('<', gt + 1);
        const std::string_view body = text.substr(
            gt + 1, (body_end == std::string_view::npos ? text.size() : body_end) - gt - 1);
        std::uint64_t chars = 0;
        for (char c : body) {
            if (c == '=') break;
            chars += b64_value(c) >= 0;
        }
        const std::uint64_t size = chars * 6 / 8;
        if (size == 0) return;
        std::string mime = fb2_trim(as_utf8(tag_attr(tag, "content-type"), enc));
        if (mime.empty()) mime = sniff_mime(body);
        r.cover = eb_cover_info{mime, size, "coverpage"};
        return;
    }
}
