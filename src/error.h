// error.h - the per-thread error text that every failure writes and ebook_last_error returns.
#ifndef QUENFOLD_ERROR_H
#define QUENFOLD_ERROR_H

#include <cstddef>

#if defined(__GNUC__)
#define EB_PRINTF(fmt_idx, first_arg) __attribute__((format(printf, fmt_idx, first_arg)))
#else
#define EB_PRINTF(fmt_idx, first_arg)
#endif

// 512 bytes per thread, the last message formatted on that thread.
constexpr std::size_t EB_ERR_SIZE = 512;

// Formats into the calling thread's error text with snprintf rules. A message
// longer than 511 bytes keeps its first and last 254 bytes with "..." between,
// so a long path loses its middle, never what failed or why. fmt is always a
// fixed string; outside data enters through %s/%u.
void eb_set_error(const char *fmt, ...) EB_PRINTF(1, 2);
// Empties the calling thread's error text (drops a tolerated step's message).
void eb_clear_error();
// "<what>: <subject> (<system text for errnum>)", as in
// "cannot open file: /books/x.epub (No such file or directory)".
void eb_set_errno_error(const char *what, const char *subject, int errnum);
// The calling thread's error text; never null, valid until the thread ends.
const char *eb_error_text();

// No exception may cross the C boundary. The readers report failure by
// result, but the reading path holds standard containers, so running out of
// memory can still throw: every export's work runs inside eb_guarded, which
// turns that into "out of memory" and the export's failure result.
template <typename R, typename F>
R eb_guarded(R failure, F &&work) noexcept {
    try {
        return work();
    } catch (...) {
        eb_set_error("out of memory");
        return failure;
    }
}

#endif  // QUENFOLD_ERROR_H
