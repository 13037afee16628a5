// table.cpp - the table as a terminal shows it: columns aligned by display width, fitted to the
// width the user has, long cells cut fairly with an ellipsis.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "cli.h"

namespace qcli {

namespace {

constexpr const char *kEllipsis = "\u2026";

struct Cell {
    std::vector<Glyph> glyphs;
    std::size_t width = 0;
};

Cell make_cell(std::string_view text) {
    Cell c{glyphs(text), 0};
    for (const Glyph &g : c.glyphs)
        c.width += g.width;
    return c;
}

// A cut cell: its text and display width.
struct CutText {
    std::string text;
    std::size_t width;
};

// The first glyphs that fit `room` columns, then the ellipsis.
CutText cut_end(const Cell &c, std::size_t room) {
    std::string out;
    std::size_t used = 0;
    for (const Glyph &g : c.glyphs) {
        if (used + g.width + 1 > room) break;
        out += g.text;
        used += g.width;
    }
    return {out + kEllipsis, used + 1};
}

// The ellipsis, then the last glyphs that fit: a path keeps its file name.
CutText cut_start(const Cell &c, std::size_t room) {
    std::size_t used = 0, from = c.glyphs.size();
    while (from > 0 && used + c.glyphs[from - 1].width + 1 <= room)
        used += c.glyphs[--from].width;
    std::string out = kEllipsis;
    for (std::size_t i = from; i < c.glyphs.size(); ++i)
        out += c.glyphs[i].text;
    return {out, used + 1};
}

// A list joined by " & " keeps as many whole names as fit, then " & …";
// when not even the first fits, it is cut like any text.
CutText cut_names(std::string_view text, const Cell &c, std::size_t room) {
    constexpr std::string_view sep = " & ";
    for (std::size_t at = text.rfind(sep); at != std::string_view::npos && at > 0;
         at = text.rfind(sep, at - 1)) {
        std::size_t w = 0;
        std::string head = shown(text.substr(0, at), &w);
        if (w + 4 <= room) return {head + " & " + kEllipsis, w + 4};
    }
    return cut_end(c, room);
}

}  // namespace

std::vector<std::size_t> fair_widths(const std::vector<std::size_t> &natural, std::size_t room) {
    if (std::accumulate(natural.begin(), natural.end(), std::size_t{0}) <= room) return natural;
    // The narrow columns keep their width; the wide ones share what is left
    // equally (the columns a little wider than the share come first).
    std::vector<std::size_t> order(natural.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return natural[a] < natural[b]; });
    std::vector<std::size_t> out(natural.size(), 0);
    std::size_t left = room;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t cols = order.size() - k;
        const std::size_t share = left / cols;
        if (natural[order[k]] <= share) {
            out[order[k]] = natural[order[k]];
            left -= natural[order[k]];
            continue;
        }
        std::size_t extra = left - share * cols;
        for (std::size_t j = k; j < order.size(); ++j)
            out[order[j]] = std::max<std::size_t>(1, share + (extra > 0 ? (--extra, 1) : 0));
        break;
    }
    return out;
}

std::size_t table_width(long asked, bool no_truncate) {
    if (no_truncate) return 0;
    if (asked > 0) return static_cast<std::size_t>(asked);
    winsize ws{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    // A pipe gets whole rows, unless the shell exported its width.
    if (const char *cols = std::getenv("COLUMNS")) {
        char *end = nullptr;
        long n = std::strtol(cols, &end, 10);
        if (end != cols && *end == '\0' && n > 0 && n <= 100000) return static_cast<std::size_t>(n);
    }
    return 0;
}

void print_columns(std::FILE *out, const std::vector<std::vector<std::string>> &rows,
                   std::size_t width, const std::vector<Cut> &cuts) {
    std::vector<std::vector<Cell>> cells(rows.size());
    std::vector<std::size_t> col;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            cells[r].push_back(make_cell(rows[r][c]));
            if (col.size() <= c) col.resize(c + 1, 0);
            col[c] = std::max(col[c], cells[r].back().width);
        }
    }
    if (width > 0 && !col.empty()) {
        const std::size_t gaps = 2 * (col.size() - 1);
        col = fair_widths(col, width > gaps + col.size() ? width - gaps : col.size());
    }
    std::string line;
    for (std::size_t r = 0; r < cells.size(); ++r) {
        line.clear();
        for (std::size_t c = 0; c < cells[r].size(); ++c) {
            const Cell &cell = cells[r][c];
            std::size_t w = cell.width;
            if (w <= col[c]) {
                for (const Glyph &g : cell.glyphs)
                    line += g.text;
            } else {
                const Cut how = c < cuts.size() ? cuts[c] : Cut::End;
                CutText t = how == Cut::Start   ? cut_start(cell, col[c])
                            : how == Cut::Names ? cut_names(rows[r][c], cell, col[c])
                                                : cut_end(cell, col[c]);
                line += t.text;
                w = t.width;
            }
            if (c + 1 < cells[r].size()) line.append(col[c] - std::min(w, col[c]) + 2, ' ');
        }
        // Blanks left by empty trailing cells would only trail the line.
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        line += '\n';
        write_out(out, line);
    }
}

}  // namespace qcli
