// json_text.cpp - the tool's JSON: reading it, strict UTF-8, and path members that stay valid
// UTF-8.
#include <yyjson.h>

#include <new>

#include "cli.h"

namespace qcli {

namespace {

std::string base64(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (std::size_t rest = bytes.size() - i) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += rest == 2 ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace

std::string utf8_repaired(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 8);
    char32_t cp;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = utf8_char(s.substr(i), cp);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::size_t utf8_char(std::string_view s, char32_t &cp) {
    auto c = static_cast<unsigned char>(s[0]);
    std::size_t n;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 2;
        cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 3;
        cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - 1 < n) return 0;
    for (std::size_t k = 1; k <= n; ++k) {
        auto cc = static_cast<unsigned char>(s[k]);
        if (k == 1 ? (cc < lo || cc > hi) : (cc < 0x80 || cc > 0xBF)) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    return n + 1;
}

bool valid_utf8(std::string_view s) {
    char32_t cp;
    for (std::size_t i = 0, n; i < s.size(); i += n)
        if ((n = utf8_char(s.substr(i), cp)) == 0) return false;
    return true;
}

eb_doc_ptr read_json(std::string_view text, yyjson_read_flag flags) {
    yyjson_read_err err{};
    eb_doc_ptr doc(
        yyjson_read_opts(const_cast<char *>(text.data()), text.size(), flags, nullptr, &err));
    if (!doc && err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) throw std::bad_alloc();
    return doc;
}

void add_path_members(yyjson_mut_doc *doc, yyjson_mut_val *obj, std::string_view path) {
    if (valid_utf8(path)) {
        yyjson_mut_obj_add_strncpy(doc, obj, "path", path.data(), path.size());
        return;
    }
    std::string text = utf8_repaired(path), bytes = base64(path);
    yyjson_mut_obj_add_strncpy(doc, obj, "path", text.data(), text.size());
    yyjson_mut_obj_add_strncpy(doc, obj, "path_bytes", bytes.data(), bytes.size());
}

}  // namespace qcli
