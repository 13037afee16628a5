// pdf_text.cpp - PDF text strings and dates: the three encodings, PDFDocEncoding's table, ISO 8601.
#include "formats/pdf/pdf_text.h"

#include <cstdio>

#include "text/encoding.h"
#include "text/utf8.h"

namespace {

constexpr std::size_t kTextCap = 64 * 1024;
constexpr char32_t kReplacement = 0xFFFD;

// PDFDocEncoding where it is not Latin-1: 0x18-0x1F are spacing accents,
// 0x80-0xA0 typographic marks, ligatures and letters of other alphabets.
// 0 marks a code the encoding leaves undefined.
constexpr char16_t kAccents[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char16_t kHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC};

char32_t pdfdoc(unsigned char c) {
    if (c == '\t' || c == '\n' || c == '\r') return c;
    if (c < 0x18 || c == 0x7F) return kReplacement;
    if (c < 0x20) return kAccents[c - 0x18];
    if (c < 0x80) return c;
    if (c <= 0xA0) return kHigh[c - 0x80] ? kHigh[c - 0x80] : kReplacement;
    return c;
}

// UTF-16 code units, big- or little-endian, to UTF-8. A language escape
// (U+001B, a language code, U+001B) marks the text's language and is no text.
std::string from_utf16(std::string_view b, bool big) {
    std::string out;
    const std::size_t n = b.size() / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        const auto hi = static_cast<unsigned char>(b[2 * i + (big ? 0 : 1)]);
        const auto lo = static_cast<unsigned char>(b[2 * i + (big ? 1 : 0)]);
        return static_cast<char32_t>(hi << 8 | lo);
    };
    for (std::size_t i = 0; i < n && out.size() < kTextCap + 4; ++i) {
        char32_t u = unit(i);
        if (u == 0x1B) {
            std::size_t close = i + 1;
            while (close < n && close <= i + 6 && unit(close) != 0x1B)
                ++close;
            if (close < n && unit(close) == 0x1B) i = close;
            continue;
        }
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            u = kReplacement;
        }
        eb_utf8_append(out, u);
    }
    return out;
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    const char *ws = " \t\r\n";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    s = s.substr(b, s.find_last_not_of(ws) - b + 1);
    s.resize(utf8_prefix(s.data(), s.size(), kTextCap));
    return s;
}

bool digits(std::string_view t, std::size_t at, std::size_t n, int *value) {
    if (at + n > t.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    *value = v;
    return true;
}

bool in_range(int part, int v) {
    switch (part) {
        case 1:
            return v >= 1 && v <= 12;
        case 2:
            return v >= 1 && v <= 31;
        case 3:
            return v <= 23;
        case 4:
            return v <= 59;
        default:
            return v <= 60;  // a leap second
    }
}

// A zone at t[at]: Z (with anything after it), or a sign, two digits of
// hours and, after an optional ' or :, two of minutes.
void read_zone(std::string_view t, std::size_t at, eb_pdf_date &d) {
    if (at >= t.size()) return;
    if (t[at] == 'Z' || t[at] == 'z') {
        d.zoned = true;
        return;
    }
    if (t[at] != '+' && t[at] != '-') return;
    int h = 0, m = 0;
    if (!digits(t, at + 1, 2, &h) || h > 23) return;
    std::size_t next = at + 3;
    if (next < t.size() && (t[next] == '\'' || t[next] == ':')) ++next;
    if (!digits(t, next, 2, &m) || m > 59) m = 0;
    d.zoned = true;
    d.offset = (t[at] == '-' ? -1 : 1) * (h * 60 + m);
}

int *field(eb_pdf_date &d, int part) {
    int *f[] = {&d.year, &d.month, &d.day, &d.hour, &d.minute, &d.second};
    return f[part];
}

std::string_view strip_space(std::string_view t) {
    while (!t.empty() &&
           (t.front() == ' ' || t.front() == '\t' || t.front() == '\r' || t.front() == '\n'))
        t.remove_prefix(1);
    while (!t.empty() &&
           (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n'))
        t.remove_suffix(1);
    return t;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::string eb_pdf_text(std::string_view b) {
    if (b.size() >= 2 && b[0] == '\xFE' && b[1] == '\xFF')
        return trimmed(from_utf16(b.substr(2), true));
    if (b.size() >= 2 && b[0] == '\xFF' && b[1] == '\xFE')
        return trimmed(from_utf16(b.substr(2), false));
    if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") {
        std::string_view rest = b.substr(3);
        if (rest.size() > kTextCap + 4) rest = rest.substr(0, kTextCap + 4);
        return trimmed(eb_utf8_repair(rest, nullptr));
    }
    while (!b.empty() && b.back() == '\0')
        b.remove_suffix(1);
    std::string out;
    for (std::size_t i = 0; i < b.size() && out.size() < kTextCap + 4; ++i)
        eb_utf8_append(out, pdfdoc(static_cast<unsigned char>(b[i])));
    return trimmed(std::move(out));
}

std::string eb_pdf_date::iso() const {
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%04d", year);
    if (parts >= 2) n += std::snprintf(buf + n, sizeof buf - n, "-%02d", month);
    if (parts >= 3) n += std::snprintf(buf + n, sizeof buf - n, "-%02d", day);
    if (parts >= 4) n += std::snprintf(buf + n, sizeof buf - n, "T%02d", hour);
    if (parts >= 5) n += std::snprintf(buf + n, sizeof buf - n, ":%02d", minute);
    if (parts >= 6) n += std::snprintf(buf + n, sizeof buf - n, ":%02d", second);
    if (parts >= 4 && zoned) {
        if (offset == 0)
            std::snprintf(buf + n, sizeof buf - n, "Z");
        else
            std::snprintf(buf + n, sizeof buf - n, "%c%02d:%02d", offset < 0 ? '-' : '+',
                          (offset < 0 ? -offset : offset) / 60,
                          (offset < 0 ? -offset : offset) % 60);
    }
    return buf;
}

std::int64_t eb_pdf_date::instant() const {
    const unsigned m = parts >= 2 ? static_cast<unsigned>(month) : 1;
    const unsigned d = parts >= 3 ? static_cast<unsigned>(day) : 1;
    return days_from_civil(year, m, d) * 86400 + hour * 3600 + minute * 60 + second -
           static_cast<std::int64_t>(offset) * 60;
}

std::optional<eb_pdf_date> eb_pdf_parse_date(std::string_view t) {
    t = strip_space(t);
    if (t.size() >= 2 && (t[0] == 'D' || t[0] == 'd') && t[1] == ':') t = strip_space(t.substr(2));
    if (t.size() >= 5 && t[4] == '-') return eb_pdf_parse_iso(t);
    eb_pdf_date d;
    if (!digits(t, 0, 4, &d.year)) return std::nullopt;
    d.parts = 1;
    std::size_t at = 4;
    for (int part = 1; part < 6; ++part) {
        int v = 0;
        if (!digits(t, at, 2, &v)) break;
        if (!in_range(part, v)) return d;  // the fields from here on are not a date
        *field(d, part) = v;
        d.parts = part + 1;
        at += 2;
    }
    read_zone(t, at, d);
    return d;
}

std::optional<eb_pdf_date> eb_pdf_parse_iso(std::string_view t) {
    t = strip_space(t);
    eb_pdf_date d;
    if (!digits(t, 0, 4, &d.year)) return std::nullopt;
    if (t.size() > 4 && t[4] != '-') return std::nullopt;
    d.parts = 1;
    // Each field after the year: its separator, then two digits.
    static constexpr char kSep[] = {'-', '-', 'T', ':', ':'};
    std::size_t at = 4;
    for (int part = 1; part < 6; ++part) {
        if (at >= t.size()) return d;
        const char sep = t[at];
        const bool ok = sep == kSep[part - 1] || (part == 3 && (sep == ' ' || sep == 't'));
        int v = 0;
        if (!ok || !digits(t, at + 1, 2, &v)) break;
        if (!in_range(part, v)) return d;
        *field(d, part) = v;
        d.parts = part + 1;
        at += 3;
    }
    if (d.parts < 4) return d;
    if (at < t.size() && (t[at] == '.' || t[at] == ',')) {
        ++at;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9')
            ++at;
    }
    read_zone(t, at, d);
    return d;
}
