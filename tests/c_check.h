/* c_check.h - the check of the plain-C tests: a condition that fails is printed and counted, and the test goes on. */
#ifndef QEM_TEST_C_CHECK_H
#define QEM_TEST_C_CHECK_H

#include <stdio.h>

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                              \
        }                                                                            \
    } while (0)

#endif
