// encoding.cpp - UTF-8 validation and repair, and decoding of declared encodings through iconv.
#include "text/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "text/utf8.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when the
// byte there does not start one (stray continuation byte, overlong form,
// surrogate, code point above U+10FFFF, or a sequence cut short).
std::size_t utf8_seq_len(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // overlong
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;  // overlong
        if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() - i < n) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    return n;
}

// Index of the first byte at or after i that is not ASCII. Book texts are
// mostly ASCII, so they are checked eight bytes at a time.
std::size_t ascii_run_end(std::string_view s, std::size_t i) {
    const char *p = s.data();
    const std::size_t n = s.size();
    for (; n - i >= 8; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, sizeof w);
        if (w & 0x8080808080808080ull) break;
    }
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80)
        ++i;
    return i;
}

// Index of the first byte at or after i that does not start a well-formed
// sequence; s.size() when the rest of s is valid UTF-8.
std::size_t valid_run_end(std::string_view s, std::size_t i) {
    while (i < s.size()) {
        i = ascii_run_end(s, i);
        if (i == s.size()) break;
        const std::size_t n = utf8_seq_len(s, i);
        if (n == 0) break;
        i += n;
    }
    return i;
}

// windows-1252 bytes 0x80-0x9F as code points (0: undefined, as in glibc's
// table); the rest of the code page is ISO-8859-1. This code page is the one
// Mobipocket headers declare, so it is decoded here without a converter.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string decode_cp1252(std::string_view bytes, bool *replaced) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    bool any = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t end = ascii_run_end(bytes, i);
        out.append(bytes.data() + i, end - i);
        if (end == bytes.size()) break;
        const auto b = static_cast<unsigned char>(bytes[end]);
        i = end + 1;
        const std::uint32_t cp = b >= 0xA0 ? b : kCp1252High[b - 0x80];
        if (cp == 0) {
            out += kReplacement;
            any = true;
        } else {
            eb_utf8_append(out, cp);
        }
    }
    if (replaced) *replaced = any;
    return out;
}

// Single-byte code pages whose lower half is ASCII in glibc's tables, by the
// name iconv is asked for: an all-ASCII text in one of them is its own UTF-8.
bool ascii_superset(const std::string &name) {
    auto digits_in = [](std::string_view d, int lo, int hi) {
        if (d.empty() || d.size() > 2 || (d.size() == 2 && d[0] == '0')) return false;
        int v = 0;
        for (char c : d) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        return v >= lo && v <= hi;
    };
    std::string n = name;
    for (char &c : n)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string_view v = n;
    for (std::string_view cp : {"windows-125", "cp125"})
        if (v.size() == cp.size() + 1 && v.starts_with(cp))
            return v.back() >= '0' && v.back() <= '8';
    for (std::string_view iso : {"iso-8859-", "iso8859-"})
        if (v.starts_with(iso)) {
            const std::string_view part = v.substr(iso.size());
            return part != "12" && digits_in(part, 1, 16);
        }
    return v == "koi8-r" || v == "koi8-u";
}

// Owns one iconv descriptor for the length of a call: converters keep shift
// state, so none is ever shared between calls or threads.
struct converter {
    iconv_t cd;
    explicit converter(const char *from) : cd(iconv_open("UTF-8", from)) {}
    ~converter() {
        if (ok()) iconv_close(cd);
    }
    converter(const converter &) = delete;
    converter &operator=(const converter &) = delete;
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

std::string lower_trimmed(std::string_view label) {
    while (!label.empty() && (label.front() == ' ' || label.front() == '\t'))
        label.remove_prefix(1);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\t'))
        label.remove_suffix(1);
    std::string out(label);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Labels reach iconv only when they look like encoding names: no '/' (which
// would ask glibc for transliteration modes) and nothing outside [a-z0-9._:-].
bool plausible_label(const std::string &l) {
    if (l.empty() || l.size() > 40) return false;
    for (char c : l) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || c == ':';
        if (!ok) return false;
    }
    return true;
}

bool is_utf8_label(const std::string &l) {
    return l == "utf-8" || l == "utf8";
}

// Width of one code unit for the UTF-16/32 families (a unit that fails to
// decode is skipped whole), else 1.
std::size_t unit_width(const std::string &l) {
    if (l.rfind("utf-16", 0) == 0 || l.rfind("utf16", 0) == 0 || l == "ucs-2") return 2;
    if (l.rfind("utf-32", 0) == 0 || l.rfind("utf32", 0) == 0 || l == "ucs-4") return 4;
    return 1;
}

// Books and HTML label their encodings more loosely than glibc names them.
std::string iconv_name(const std::string &l, std::string_view bytes) {
    if (l == "utf-16" || l == "utf16") {
        // iconv takes a BOM-less UTF-16 text as big-endian; a document that
        // starts with an ASCII character tells its order by the zero byte.
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
        if (bytes.size() >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
            return "UTF-16";
        if (bytes.size() >= 2 && p[0] != 0 && p[1] == 0) return "UTF-16LE";
        return "UTF-16BE";
    }
    if (l == "latin1" || l == "latin-1" || l == "l1") return "ISO-8859-1";
    if (l.rfind("win-", 0) == 0) return "WINDOWS-" + l.substr(4);
    if (l.rfind("x-cp", 0) == 0) return "CP" + l.substr(4);
    if (l == "x-mac-cyrillic" || l == "mac-cyrillic") return "MAC-CYRILLIC";
    return l;
}

void strip_bom(std::string &s) {
    if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) s.erase(0, 3);
}

}  // namespace

bool eb_utf8_valid(std::string_view s) {
    return valid_run_end(s, 0) == s.size();
}

std::string eb_utf8_repair(std::string_view s, bool *replaced) {
    std::size_t i = valid_run_end(s, 0);
    if (replaced) *replaced = i < s.size();
    if (i == s.size()) return std::string(s);
    std::string out;
    out.reserve(s.size() + 16);
    out.append(s.data(), i);
    while (i < s.size()) {
        // s[i] starts no well-formed sequence: one replacement for that byte.
        out += kReplacement;
        const std::size_t end = valid_run_end(s, ++i);
        out.append(s.data() + i, end - i);
        i = end;
    }
    return out;
}

bool eb_decode(std::string_view bytes, std::string_view encoding, std::string *out,
               bool *replaced) {
    const std::string label = lower_trimmed(encoding);
    if (replaced) *replaced = false;
    if (is_utf8_label(label)) {
        std::string text = eb_utf8_repair(bytes, replaced);
        strip_bom(text);
        *out = std::move(text);
        return true;
    }
    if (!plausible_label(label)) return false;
    const std::string name = iconv_name(label, bytes);
    if (name == "windows-1252" || name == "cp1252" || name == "WINDOWS-1252" || name == "CP1252") {
        *out = decode_cp1252(bytes, replaced);
        return true;
    }
    if (ascii_superset(name) && ascii_run_end(bytes, 0) == bytes.size()) {
        *out = std::string(bytes);
        return true;
    }
    converter conv(name.c_str());
    if (!conv.ok()) return false;

    const std::size_t unit = unit_width(label);
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    char chunk[4096];
    char *in = const_cast<char *>(bytes.data());  // iconv's signature is not const-correct
    std::size_t in_left = bytes.size();
    bool any = false;
    while (in_left > 0) {
        char *o = chunk;
        std::size_t o_left = sizeof chunk;
        const std::size_t r = iconv(conv.cd, &in, &in_left, &o, &o_left);
        text.append(chunk, static_cast<std::size_t>(o - chunk));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ (a byte the table lacks) or EINVAL (a sequence cut short at
        // the end): one replacement character per undecodable unit.
        text += kReplacement;
        any = true;
        const std::size_t skip = in_left < unit ? in_left : unit;
        in += skip;
        in_left -= skip;
        if (errno != EILSEQ) break;
    }
    // Flush any shift state (stateful encodings end in their initial state).
    char *o = chunk;
    std::size_t o_left = sizeof chunk;
    iconv(conv.cd, nullptr, nullptr, &o, &o_left);
    text.append(chunk, static_cast<std::size_t>(o - chunk));
    strip_bom(text);
    // iconv's output is UTF-8 by construction; repairing again is a guard
    // against a table that emits something unexpected, not a normal path.
    if (!eb_utf8_valid(text)) {
        text = eb_utf8_repair(text, nullptr);
        any = true;
    }
    if (replaced) *replaced = any;
    *out = std::move(text);
    return true;
}
