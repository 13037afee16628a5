/* A copy of the library without its module beside it still reads what it
 * reads alone, and says of a PDF or a 7z comic which file it could not load. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "c_check.h"

typedef char *(*from_memory_fn)(const void *, size_t, const char *);
typedef const char *(*last_error_fn)(void);
typedef void (*free_fn)(char *);

static int starts(const char *s, const char *prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

static int copy_file(const char *from, const char *to) {
    char buf[65536];
    size_t n;
    FILE *in = fopen(from, "rb"), *out = fopen(to, "wb");
    int ok = in && out;
    while (ok && (n = fread(buf, 1, sizeof buf, in)) > 0)
        ok = fwrite(buf, 1, n, out) == n;
    if (in) fclose(in);
    if (out && fclose(out) != 0) ok = 0;
    return ok;
}

int main(int argc, char **argv) {
    static const char pdf[] = "%PDF-1.4\ntrailer <<>>\n%%EOF\n";
    /* A 7z comic: RAR archives are listed without the module. */
    static const char sz[] = "7z\xbc\xaf\x27\x1c no more of the archive";
    static const char fb2[] =
        "<FictionBook><description><title-info><book-title>Alone</book-title>"
        "</title-info></description></FictionBook>";
    char dir[] = "/tmp/qem-missing-module-XXXXXX";
    char lib[4200];
    void *handle;
    from_memory_fn from_memory;
    last_error_fn last_error;
    free_fn free_string;
    char *s;

    if (argc < 3 || !mkdtemp(dir)) return 2;
    snprintf(lib, sizeof lib, "%s/libquenfold-ebook-meta.so", dir);
    CHECK(copy_file(argv[1], lib));
    handle = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    CHECK(handle != NULL);
    if (!handle) return 1;
    *(void **)&from_memory = dlsym(handle, "ebook_metadata_from_memory");
    *(void **)&last_error = dlsym(handle, "ebook_last_error");
    *(void **)&free_string = dlsym(handle, "ebook_free_string");
    CHECK(from_memory && last_error && free_string);
    if (!from_memory || !last_error || !free_string) return 1;

    s = from_memory(fb2, sizeof fb2 - 1, NULL);
    CHECK(s != NULL && strstr(s, "\"title\":\"Alone\"") != NULL);
    free_string(s);

    /* argv[2]: the module's file name, which both messages name in full. */
    CHECK(from_memory(pdf, sizeof pdf - 1, "a.pdf") == NULL);
    CHECK(starts(last_error(), "cannot read PDF: <memory> (its reader is not available: "));
    CHECK(strstr(last_error(), dir) != NULL && strstr(last_error(), argv[2]) != NULL);
    CHECK(from_memory(sz, sizeof sz - 1, "b.cb7") == NULL);
    CHECK(starts(last_error(),
                 "not a comic archive: b.cb7 (the reader of RAR, 7z and tar archives "
                 "is not available: "));
    CHECK(strstr(last_error(), argv[2]) != NULL);
    if (failures) fprintf(stderr, "last error: %s\n", last_error());

    dlclose(handle);
    unlink(lib);
    rmdir(dir);
    return failures ? 1 : 0;
}
