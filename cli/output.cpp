// output.cpp - text for people and spreadsheets: display widths, aligned columns, CSV fields.
#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <cstring>

#include "cli.h"

namespace qcli {

namespace {

// Widths are those of a UTF-8 terminal whatever the user's locale says;
// the locale is switched for the calling thread only, so the library (which
// relies on the default locale) is never affected.
class Utf8Ctype {
  public:
    Utf8Ctype() {
        static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8) old_ = uselocale(utf8);
        active_ = utf8 != static_cast<locale_t>(0);
    }
    ~Utf8Ctype() {
        if (active_) uselocale(old_);
    }
    bool active() const { return active_; }
    Utf8Ctype(const Utf8Ctype &) = delete;
    Utf8Ctype &operator=(const Utf8Ctype &) = delete;

  private:
    locale_t old_ = static_cast<locale_t>(0);
    bool active_ = false;
};

}  // namespace

std::string printable(std::string_view s, std::size_t &width) {
    Utf8Ctype ctype;
    std::string out;
    out.reserve(s.size());
    width = 0;
    std::mbstate_t st{};
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) {  // tabs, line breaks, escape sequences
            out += '?';
            ++width;
            ++i;
            continue;
        }
        if (c < 0x80 || !ctype.active()) {
            out += static_cast<char>(c);
            width += (c < 0x80 || (c & 0xC0) != 0x80) ? 1 : 0;
            ++i;
            continue;
        }
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, s.data() + i, s.size() - i, &st);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
            // Not UTF-8: the byte goes out as it is and takes one column.
            st = std::mbstate_t{};
            out += static_cast<char>(c);
            ++width;
            ++i;
            continue;
        }
        int w = wcwidth(wc);
        if (w < 0) {  // C1 controls and other characters a terminal would act on
            out += '?';
            ++width;
        } else {
            out.append(s.substr(i, n));
            width += static_cast<std::size_t>(w);
        }
        i += n;
    }
    return out;
}

void print_columns(std::FILE *out, const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::vector<std::string>> cells(rows.size());
    std::vector<std::vector<std::size_t>> widths(rows.size());
    std::vector<std::size_t> col;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            std::size_t w = 0;
            cells[r].push_back(printable(rows[r][c], w));
            widths[r].push_back(w);
            if (col.size() <= c) col.resize(c + 1, 0);
            col[c] = std::max(col[c], w);
        }
    }
    std::string line;
    for (std::size_t r = 0; r < cells.size(); ++r) {
        line.clear();
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            line += cells[r][c];
            if (c + 1 < cells[r].size()) line.append(col[c] - widths[r][c] + 2, ' ');
        }
        // Blanks left by empty trailing cells would only trail the line.
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        line += '\n';
        write_out(out, line);
    }
}

std::string csv_field(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    q += '"';
    return q;
}

bool write_out(std::FILE *out, std::string_view text) {
    if (text.empty()) return !std::ferror(out);
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace qcli
