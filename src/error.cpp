// error.cpp - the per-thread error text and the system's words for errno values.

#include "error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
}  // namespace

void eb_set_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(g_err, sizeof g_err, fmt, ap);
    va_end(ap);
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
