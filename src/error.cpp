// error.cpp - the per-thread error text and the system's words for errno values.

#include "error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text/utf8.h"

namespace {
// Zero-filled at each thread's first use; needs no constructor, so reading it
// from a fresh thread is just a TLS access.
thread_local char g_err[EB_ERR_SIZE];

// The system's text for errnum, safely from any thread (GNU strerror_r may
// return a static string instead of filling buf).
const char *errno_text(int errnum, char *buf, std::size_t size) {
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(errnum, buf, size);
#else
    if (strerror_r(errnum, buf, size) != 0) std::snprintf(buf, size, "error %d", errnum);
    return buf;
#endif
}

// The error text from s, which is longer: its start and its end, cut on
// UTF-8 characters, with "..." between them.
void cut_middle(std::string_view s) {
    constexpr std::size_t kHalf = (EB_ERR_SIZE - 1 - 3) / 2;
    const std::size_t head = utf8_prefix(s.data(), s.size(), kHalf);
    std::size_t tail = s.size() - kHalf;
    while (tail < s.size() && (static_cast<unsigned char>(s[tail]) & 0xC0) == 0x80)
        ++tail;
    std::memcpy(g_err, s.data(), head);
    std::memcpy(g_err + head, "...", 3);
    std::memcpy(g_err + head + 3, s.data() + tail, s.size() - tail);
    g_err[head + 3 + s.size() - tail] = '\0';
}
}  // namespace

void eb_set_error(const char *fmt, ...) {
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int n = std::vsnprintf(g_err, sizeof g_err, fmt, ap);
    va_end(ap);
    // Too long: the outside text (a path, a member name) lies between what
    // failed, at the start, and the reason, at the end; both stay whole when
    // the middle goes. Without memory for the whole text, the cut end stays.
    if (n >= static_cast<int>(sizeof g_err)) {
        if (char *whole = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1))) {
            std::vsnprintf(whole, static_cast<std::size_t>(n) + 1, fmt, again);
            cut_middle(std::string_view(whole, static_cast<std::size_t>(n)));
            std::free(whole);
        }
    }
    va_end(again);
}

void eb_clear_error() {
    g_err[0] = '\0';
}

void eb_set_errno_error(const char *what, const char *subject, int errnum) {
    char buf[256];
    eb_set_error("%s: %s (%s)", what, subject, errno_text(errnum, buf, sizeof buf));
}

const char *eb_error_text() {
    return g_err;
}
