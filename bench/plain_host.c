/* plain_host.c - a plain C host: ebook_info on every book of a directory, with no
 * environment or malloc settings of its own, as any program linking the library would.
 *
 * qem_plain_host DIR            describes every regular file in DIR, prints the count
 * qem_plain_host --io DIR       also reads /proc/self/io around each call and prints,
 *                               per extension, the median bytes read per book
 */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quenfold_ebook.h"

/* rchar of this process: every byte read() and pread() returned. */
static long long bytes_read_so_far(void) {
    FILE *f = fopen("/proc/self/io", "r");
    char key[32];
    long long v = -1;
    if (!f) return -1;
    while (fscanf(f, "%31s %lld", key, &v) == 2 && strcmp(key, "rchar:") != 0) v = -1;
    fclose(f);
    return v;
}

struct kind {
    char ext[8];
    long long *read;
    size_t n, cap;
};

static int cmp_ll(const void *a, const void *b) {
    long long x = *(const long long *)a, y = *(const long long *)b;
    return (x > y) - (x < y);
}

static void note(struct kind *kinds, size_t *nkinds, const char *name, long long bytes) {
    const char *dot = strrchr(name, '.');
    const char *ext = dot ? dot + 1 : "";
    size_t i;
    for (i = 0; i < *nkinds && strcmp(kinds[i].ext, ext) != 0; ++i) {
    }
    if (i == *nkinds) {
        if (i == 16) return;
        snprintf(kinds[i].ext, sizeof kinds[i].ext, "%s", ext);
        ++*nkinds;
    }
    if (kinds[i].n == kinds[i].cap) {
        kinds[i].cap = kinds[i].cap ? 2 * kinds[i].cap : 256;
        kinds[i].read = realloc(kinds[i].read, kinds[i].cap * sizeof *kinds[i].read);
        if (!kinds[i].read) exit(1);
    }
    kinds[i].read[kinds[i].n++] = bytes;
}

int main(int argc, char **argv) {
    int io = argc == 3 && strcmp(argv[1], "--io") == 0;
    const char *dir = argv[argc - 1];
    struct kind kinds[16] = {{{0}, NULL, 0, 0}};
    size_t nkinds = 0, books = 0, failed = 0, k;
    char path[4096];
    struct dirent *e;
    DIR *d;
    if (argc < 2 || (argc == 3 && !io)) {
        fprintf(stderr, "usage: qem_plain_host [--io] DIR\n");
        return 2;
    }
    d = opendir(dir);
    if (!d) {
        perror(dir);
        return 1;
    }
    while ((e = readdir(d)) != NULL) {
        long long before = 0;
        char *json;
        if (e->d_type != DT_REG) continue;
        snprintf(path, sizeof path, "%s/%s", dir, e->d_name);
        if (io) before = bytes_read_so_far();
        json = ebook_info(path);
        if (io) note(kinds, &nkinds, e->d_name, bytes_read_so_far() - before);
        ++books;
        if (!json) ++failed;
        ebook_free_string(json);
    }
    closedir(d);
    printf("%zu\n", books - failed);
    for (k = 0; k < nkinds; ++k) {
        qsort(kinds[k].read, kinds[k].n, sizeof *kinds[k].read, cmp_ll);
        printf("read %s: %zu books, median %lld bytes, max %lld bytes\n", kinds[k].ext, kinds[k].n,
               kinds[k].read[kinds[k].n / 2], kinds[k].read[kinds[k].n - 1]);
        free(kinds[k].read);
    }
    return failed ? 1 : 0;
}
