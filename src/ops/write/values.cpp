// values.cpp - the checks of request values: texts, dates, language tags, roles, cover images.
#include "ops/write/values.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "error.h"
#include "ops/write/changes.h"

namespace {

bool digits(std::string_view s, std::size_t at, std::size_t n, int lo, int hi) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    return v >= lo && v <= hi;
}

bool alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool alnum(char c) {
    return alpha(c) || (c >= '0' && c <= '9');
}

bool xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string lf_lines(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

bool eb_w_text_ok(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        if (c == 0x7F) return false;
        // C1 controls U+0080-U+009F are C2 80 to C2 9F in UTF-8.
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            return false;
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
            static_cast<unsigned char>(s[i + 2]) >= 0xBE)
            return false;
    }
    return true;
}

std::string eb_w_rights_form(std::string_view s) {
    std::string t = lf_lines(s);
    std::size_t b = 0, e = t.size();
    while (b < e && xml_space(t[b]))
        ++b;
    while (e > b && xml_space(t[e - 1]))
        --e;
    return t.substr(b, e - b);
}

std::string eb_plain_paragraphs(std::string_view text) {
    const std::string t = lf_lines(text);
    std::string out, para;
    auto flush = [&] {
        eb_fold_line(para);
        if (!para.empty()) {
            if (!out.empty()) out += "\n\n";
            out += para;
        }
        para.clear();
    };
    std::size_t i = 0;
    while (i <= t.size()) {
        std::size_t e = t.find('\n', i);
        if (e == std::string::npos) e = t.size();
        std::string_view line(t.data() + i, e - i);
        bool blank = true;
        for (char c : line)
            blank = blank && xml_space(c);
        if (blank) {
            flush();
        } else {
            para += ' ';
            para.append(line);
        }
        i = e + 1;
    }
    flush();
    return out;
}

bool eb_w_iso_date(std::string_view s) {
    if (!digits(s, 0, 4, 0, 9999)) return false;
    if (s.size() == 4) return true;
    if (s.size() < 7 || s[4] != '-' || !digits(s, 5, 2, 1, 12)) return false;
    if (s.size() == 7) return true;
    const int month = (s[5] - '0') * 10 + (s[6] - '0');
    static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (s.size() < 10 || s[7] != '-' || !digits(s, 8, 2, 1, days[month - 1])) return false;
    if (s.size() == 10) return true;
    if (s[10] != 'T' || !digits(s, 11, 2, 0, 23) || s.size() < 16 || s[13] != ':' ||
        !digits(s, 14, 2, 0, 59))
        return false;
    std::size_t i = 16;
    if (i < s.size() && s[i] == ':') {
        if (!digits(s, i + 1, 2, 0, 60)) return false;
        i += 3;
        if (i < s.size() && s[i] == '.') {
            std::size_t k = i + 1;
            while (k < s.size() && s[k] >= '0' && s[k] <= '9')
                ++k;
            if (k == i + 1) return false;
            i = k;
        }
    }
    if (i == s.size()) return true;
    if (s[i] == 'Z') return i + 1 == s.size();
    if (s[i] != '+' && s[i] != '-') return false;
    return s.size() == i + 6 && digits(s, i + 1, 2, 0, 23) && s[i + 3] == ':' &&
           digits(s, i + 4, 2, 0, 59);
}

bool eb_w_bcp47(std::string_view s) {
    std::size_t i = 0, n = 0;
    bool first = true, priv = false;
    while (i <= s.size()) {
        std::size_t e = s.find('-', i);
        if (e == std::string_view::npos) e = s.size();
        const std::string_view sub = s.substr(i, e - i);
        if (sub.empty() || sub.size() > 8) return false;
        for (char c : sub)
            if (first ? !alpha(c) : !alnum(c)) return false;
        if (first) {
            priv = sub == "x" || sub == "X" || sub == "i" || sub == "I";
            if (!priv && sub.size() < 2) return false;
        }
        first = false;
        ++n;
        i = e + 1;
    }
    return !priv || n > 1;
}

bool eb_w_role_ok(std::string_view s) {
    if (s.size() < 2 || s.size() > 32) return false;
    for (char c : s)
        if (c < 'a' || c > 'z') return false;
    return true;
}

std::string eb_w_lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string eb_w_number_text(yyjson_val *v) {
    if (yyjson_is_uint(v)) return std::to_string(yyjson_get_uint(v));
    if (yyjson_is_sint(v)) return std::to_string(yyjson_get_sint(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", yyjson_get_real(v));
    return buf;
}

std::vector<yyjson_val *> eb_w_keys(yyjson_val *obj) {
    std::vector<yyjson_val *> out;
    std::size_t i, n;
    yyjson_val *k, *v;
    yyjson_obj_foreach(obj, i, n, k, v) out.push_back(k);
    return out;
}

bool eb_w_read_cover(const std::string &path, eb_cover_image *out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        eb_set_errno_error("cover: cannot open", path.c_str(), errno);
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && static_cast<std::uint64_t>(st.st_size) > EB_COVER_MAX) {
        ::close(fd);
        eb_set_error("cover: image larger than 64 MiB: %s", path.c_str());
        return false;
    }
    std::string bytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (r < 0 && errno == EINTR) continue;
            ok = r > 0;
            if (ok) got += static_cast<std::size_t>(r);
        }
    }
    ::close(fd);
    const std::string_view b = bytes;
    const char *mime = nullptr, *ext = nullptr;
    if (b.substr(0, 3) == "\xFF\xD8\xFF") mime = "image/jpeg", ext = "jpg";
    if (b.substr(0, 8) == "\x89PNG\r\n\x1A\n") mime = "image/png", ext = "png";
    if (b.substr(0, 6) == "GIF87a" || b.substr(0, 6) == "GIF89a") mime = "image/gif", ext = "gif";
    if (b.size() >= 12 && b.substr(0, 4) == "RIFF" && b.substr(8, 4) == "WEBP")
        mime = "image/webp", ext = "webp";
    if (!ok || !mime) {
        eb_set_error("cover: not a JPEG, PNG, GIF or WebP image: %s", path.c_str());
        return false;
    }
    *out = eb_cover_image{std::move(bytes), mime, ext};
    return true;
}

const char *eb_write_field_name(unsigned bit) {
    switch (bit) {
        case EB_W_TITLE:
            return "title";
        case EB_W_TITLE_SORT:
            return "title_sort";
        case EB_W_SUBTITLE:
            return "subtitle";
        case EB_W_AUTHORS:
            return "authors";
        case EB_W_CONTRIBUTORS:
            return "contributors";
        case EB_W_LANGUAGES:
            return "language";
        case EB_W_SERIES:
            return "series";
        case EB_W_IDENTIFIERS:
            return "identifiers";
        case EB_W_ISBN:
            return "isbn";
        case EB_W_PUBLISHER:
            return "publisher";
        case EB_W_PUBLISHED:
            return "published";
        case EB_W_DESCRIPTION:
            return "description";
        case EB_W_SUBJECTS:
            return "subjects";
        case EB_W_RIGHTS:
            return "rights";
        case EB_W_COVER:
            return "cover";
        default:
            return "?";
    }
}
