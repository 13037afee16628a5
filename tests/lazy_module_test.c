/* A host that reads no PDF and no RAR, 7z or tar comic never loads libqpdf
 * or libarchive; its first PDF loads them, through the library's module. */
#define _GNU_SOURCE
#include <link.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "c_check.h"
#include "quenfold_ebook.h"

static int seen(struct dl_phdr_info *info, size_t size, void *data) {
    (void)size;
    return strstr(info->dlpi_name, (const char *)data) != NULL;
}

/* Whether an object whose path holds part is in the process. */
static int loaded(const char *part) {
    return dl_iterate_phdr(seen, (void *)part);
}

/* No cross-reference table: qpdf finds the objects by recovery. */
static const char pdf[] =
    "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n"
    "2 0 obj <</Type /Pages /Kids [] /Count 0>> endobj\n"
    "3 0 obj <</Title (Lazy Reader)>> endobj\n"
    "trailer <</Root 1 0 R /Info 3 0 R>>\n%%EOF\n";

/* One thread's PDF; its JSON, or NULL with its error text printed. */
static void *read_pdf(void *unused) {
    char *s = ebook_metadata_from_memory(pdf, sizeof pdf - 1, NULL);
    (void)unused;
    if (!s) fprintf(stderr, "%s\n", ebook_last_error());
    return s;
}

int main(void) {
    static const char fb2[] =
        "<FictionBook><description><title-info><book-title>Light</book-title>"
        "</title-info></description></FictionBook>";
    pthread_t threads[4];
    char *s;
    int i;

    s = ebook_metadata_from_memory(fb2, sizeof fb2 - 1, NULL);
    CHECK(s != NULL && strstr(s, "\"title\":\"Light\"") != NULL);
    ebook_free_string(s);
    CHECK(!loaded("libqpdf"));
    CHECK(!loaded("libarchive"));
    CHECK(!loaded("pdf-comics"));

    /* Several threads need the module at once: it is opened once for all. */
    for (i = 0; i < 4; i++)
        CHECK(pthread_create(&threads[i], NULL, read_pdf, NULL) == 0);
    for (i = 0; i < 4; i++) {
        void *got = NULL;
        pthread_join(threads[i], &got);
        s = got;
        CHECK(s != NULL);
        if (s) {
            CHECK(strstr(s, "\"format\":\"pdf\"") != NULL);
            CHECK(strstr(s, "\"title\":\"Lazy Reader\"") != NULL);
        }
        ebook_free_string(s);
    }
    CHECK(loaded("libqpdf"));
    CHECK(loaded("pdf-comics"));

    /* The module's failures reach the caller's error text. */
    CHECK(ebook_metadata_from_memory("%PDF-1.4\n", 9, "broken.pdf") == NULL);
    CHECK(strncmp(ebook_last_error(), "not a valid PDF: ", 17) == 0);
    return failures ? 1 : 0;
}
