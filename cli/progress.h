// progress.h - the progress bar the tool draws on a terminal while it works through many books.
#ifndef QEM_CLI_PROGRESS_H
#define QEM_CLI_PROGRESS_H

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace qcli {

// "[#####.....] 120/2000  310 books/s  ETA 0:06" on stderr, redrawn in place.
// Only for a person watching a terminal, and only once the work has taken
// longer than a moment, so that quick runs and pipelines see nothing.
class Progress {
    using Clock = std::chrono::steady_clock;

  public:
    explicit Progress(std::size_t total) : total_(total), start_(Clock::now()) {
        enabled_ = total > 0 && isatty(STDERR_FILENO);
    }
    void update(std::size_t done) {
        if (!enabled_) return;
        auto now = Clock::now();
        double secs = std::chrono::duration<double>(now - start_).count();
        if (secs < 0.5) return;
        // A few redraws a second are enough for the eye; more only cost.
        if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        char counts[160];
        double rate = secs > 0 ? static_cast<double>(done) / secs : 0.0;
        char eta[32] = "--:--";
        if (done > 0 && rate > 0) {
            auto left = static_cast<unsigned long>(static_cast<double>(total_ - done) / rate + 0.5);
            std::snprintf(eta, sizeof eta, "%lu:%02lu", left / 60, left % 60);
        }
        std::snprintf(counts, sizeof counts, " %zu/%zu  %.0f books/s  ETA %s", done, total_, rate,
                      eta);
        std::size_t cols = 80;
        winsize ws{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) cols = ws.ws_col;
        std::string line = "\r";
        std::size_t room = cols > std::strlen(counts) + 3 ? cols - std::strlen(counts) - 3 : 0;
        std::size_t bar = std::min<std::size_t>(room, 40);
        if (bar >= 10) {
            std::size_t full = total_ ? bar * done / total_ : bar;
            line += '[';
            line.append(full, '#');
            line.append(bar - full, '.');
            line += ']';
        }
        line += shown(counts);
        line += "\033[K";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    // Removes the bar, so that other output starts on a clean line.
    void clear() {
        if (!drawn_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

  private:
    std::size_t total_;
    Clock::time_point start_, last_;
    bool enabled_ = false;
    bool drawn_ = false;
};

}  // namespace qcli

#endif
