// pdf_text_out.cpp - UTF-8 to PDF text strings (PDFDocEncoding or UTF-16BE) and ISO dates to PDF
// dates.
#include "formats/pdf/pdf_text_out.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "formats/pdf/pdf_text.h"

namespace {

// The code points PDFDocEncoding puts where Latin-1 has control and other
// characters (0x18-0x1F, 0x80-0xA0), taken from the reader's own table so
// that writing is its exact inverse.
struct pdfdoc_high {
    std::array<std::uint32_t, 0xA1 - 0x18> cp{};
    pdfdoc_high() {
        for (int c = 0x18; c <= 0xA0; ++c) {
            if (c >= 0x20 && c < 0x7F) continue;
            const std::string one(1, static_cast<char>(c));
            const std::string u = eb_pdf_text(one);
            std::uint32_t v = 0;
            if (u.size() == 3 && static_cast<unsigned char>(u[0]) >= 0xE0)
                v = (u[0] & 0x0F) << 12 | (u[1] & 0x3F) << 6 | (u[2] & 0x3F);
            else if (u.size() == 2)
                v = (u[0] & 0x1F) << 6 | (u[1] & 0x3F);
            if (v != 0xFFFD) cp[c - 0x18] = v;
        }
    }
};

// The byte of a code point in PDFDocEncoding, or -1.
int pdfdoc_byte(std::uint32_t cp) {
    static const pdfdoc_high high;
    if (cp == '\t' || cp == '\n' || cp == '\r' || (cp >= 0x20 && cp < 0x7F))
        return static_cast<int>(cp);
    if (cp >= 0xA1 && cp <= 0xFF) return static_cast<int>(cp);
    for (std::size_t i = 0; i < high.cp.size(); ++i)
        if (high.cp[i] == cp && cp != 0) return static_cast<int>(i + 0x18);
    return -1;
}

// The code points of valid UTF-8 text.
template <typename F>
void each_code_point(std::string_view s, F f) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t v = n == 1 ? c : c & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n && i + k < s.size(); ++k)
            v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        f(v);
        i += n;
    }
}

}  // namespace

std::string eb_pdf_text_object(std::string_view utf8) {
    std::string lit = "(";
    bool fits = true;
    each_code_point(utf8, [&](std::uint32_t cp) {
        const int b = pdfdoc_byte(cp);
        if (b < 0) fits = false;
        if (!fits) return;
        if (b == '\\' || b == '(' || b == ')') lit += '\\';
        if (b == '\n')
            lit += "\\n";
        else if (b == '\r')
            lit += "\\r";
        else
            lit += static_cast<char>(b);
    });
    if (fits) return lit + ")";
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "<FEFF";
    auto unit = [&](std::uint32_t u) {
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(u >> shift) & 0xF];
    };
    each_code_point(utf8, [&](std::uint32_t cp) {
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    });
    return out + ">";
}

std::string eb_pdf_date_of(std::string_view iso) {
    if (iso.size() != 20 || iso[4] != '-' || iso[7] != '-' || iso[10] != 'T' || iso[13] != ':' ||
        iso[16] != ':' || iso[19] != 'Z')
        return {};
    std::string d = "D:";
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
        if (iso[i] < '0' || iso[i] > '9') return {};
        d += iso[i];
    }
    return d + "Z";
}
