/* pdf_warm.c - the warm cost of ebook_metadata on given books, through the public interface
 * alone (so that the same source builds against an earlier library for a before/after): one
 * call first (which opens the lazily loaded module and warms the page cache), then N timed
 * calls per book, and the min, median and max of them in milliseconds.
 *
 *   qem_pdf_warm [--runs N] FILE...
 */
#define _POSIX_C_SOURCE 199309L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "quenfold_ebook.h"

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int cmp_double(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv) {
    int runs = 50, first = 1;
    if (argc > 2 && strcmp(argv[1], "--runs") == 0) {
        runs = atoi(argv[2]);
        first = 3;
    }
    if (first >= argc || runs < 1) {
        fprintf(stderr, "usage: %s [--runs N] FILE...\n", argv[0]);
        return 2;
    }
    double *t = malloc(sizeof *t * (size_t)runs);
    if (!t) return 1;
    for (int i = first; i < argc; ++i) {
        char *json = ebook_metadata(argv[i]);
        if (!json) {
            fprintf(stderr, "%s: %s\n", argv[i], ebook_last_error());
            free(t);
            return 1;
        }
        ebook_free_string(json);
        for (int r = 0; r < runs; ++r) {
            const double t0 = now_ms();
            ebook_free_string(ebook_metadata(argv[i]));
            t[r] = now_ms() - t0;
        }
        qsort(t, (size_t)runs, sizeof *t, cmp_double);
        printf("%.3f %.3f %.3f %s\n", t[0], t[runs / 2], t[runs - 1], argv[i]);
    }
    free(t);
    return 0;
}
