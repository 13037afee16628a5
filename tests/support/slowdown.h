// slowdown.h - how many times slower this build runs than a plain one, for the few time bounds.
#ifndef QEM_TEST_SLOWDOWN_H
#define QEM_TEST_SLOWDOWN_H

// A bound that tells linear from quadratic work in a plain build must not
// fail an AddressSanitizer build on a busy machine, where the same linear
// work runs ten times slower or more.
#if defined(__SANITIZE_ADDRESS__)
#define QEM_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEM_SLOW_BUILD 1
#endif
#endif

namespace qtest {
#ifdef QEM_SLOW_BUILD
constexpr double kSlowdown = 10.0;
#else
constexpr double kSlowdown = 1.0;
#endif
}  // namespace qtest

#endif
