/* Calls every export from strict C99 through the public header: proves that
 * the header is valid C and that the shared library's ABI is plain C. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "c_check.h"
#include "quenfold_ebook.h"

/* A book behind the read callback: ctx is the text, offset and len as asked. */
static long long read_text(void *ctx, unsigned long long offset, void *buf, size_t len) {
    const char *text = (const char *)ctx;
    size_t size = strlen(text);
    if (offset >= size) return 0;
    if (len > size - offset) len = size - (size_t)offset;
    memcpy(buf, text + offset, len);
    return (long long)len;
}

static long long read_fails(void *ctx, unsigned long long offset, void *buf, size_t len) {
    (void)ctx, (void)offset, (void)buf, (void)len;
    return -1;
}

int main(int argc, char **argv) {
    const char *tmpdir = argc > 1 ? argv[1] : ".";
    char path[1024];
    char *s;
    FILE *f;

    /* A thread that never called the library reads an empty text. */
    CHECK(ebook_last_error() != NULL);
    CHECK(strcmp(ebook_last_error(), "") == 0);

    CHECK(ebook_info(NULL) == NULL);
    CHECK(strcmp(ebook_last_error(), "NULL path") == 0);

    CHECK(ebook_extract_cover(NULL, "x") == -1);
    CHECK(strcmp(ebook_last_error(), "NULL argument") == 0);
    CHECK(ebook_extract_cover("x", NULL) == -1);
    CHECK(strcmp(ebook_last_error(), "NULL argument") == 0);

    CHECK(ebook_scan_dir(NULL) == NULL);
    CHECK(strcmp(ebook_last_error(), "NULL dir") == 0);

    CHECK(ebook_rename_plan(NULL, NULL) == NULL);
    CHECK(strcmp(ebook_last_error(), "NULL files_json") == 0);

    CHECK(ebook_metadata(NULL) == NULL);
    CHECK(strcmp(ebook_last_error(), "NULL path") == 0);
    CHECK(ebook_metadata_from_memory(NULL, 0, NULL) == NULL);
    CHECK(strcmp(ebook_last_error(), "NULL data") == 0);

    /* A book the host holds in memory: a FictionBook found by its content. */
    {
        static const char fb2[] =
            "<?xml version=\"1.0\"?><FictionBook><description><title-info>"
            "<book-title>C Host</book-title></title-info></description></FictionBook>";
        s = ebook_metadata_from_memory(fb2, sizeof fb2 - 1, NULL);
        CHECK(s != NULL);
        if (s) {
            CHECK(strstr(s, "\"format\":\"fb2\"") != NULL);
            CHECK(strstr(s, "\"title\":\"C Host\"") != NULL);
            ebook_free_string(s);
        }
        /* The same book through the host's read callback. */
        s = ebook_metadata_from_reader(read_text, (void *)fb2, sizeof fb2 - 1, "c.fb2");
        CHECK(s != NULL);
        if (s) {
            CHECK(strstr(s, "\"title\":\"C Host\"") != NULL);
            ebook_free_string(s);
        }
        CHECK(ebook_metadata_from_reader(read_fails, NULL, sizeof fb2 - 1, "c.fb2") == NULL);
        CHECK(strcmp(ebook_last_error(), "read failed: c.fb2") == 0);
        CHECK(ebook_metadata_from_reader(NULL, NULL, 0, NULL) == NULL);
        CHECK(strcmp(ebook_last_error(), "NULL read") == 0);
    }

    /* An unsupported file: a NULL result and the dispatcher's message. */
    snprintf(path, sizeof path, "%s/c_api_test.txt", tmpdir);
    f = fopen(path, "wb");
    CHECK(f != NULL);
    if (f) {
        fputs("plain text, no book", f);
        fclose(f);
        CHECK(ebook_info(path) == NULL);
        CHECK(strncmp(ebook_last_error(), "unsupported ebook format: ", 26) == 0);
        remove(path);
    }

    /* A write from C: the new record back, the flags, the refusals. */
    snprintf(path, sizeof path, "%s/c_api_test.fb2", tmpdir);
    f = fopen(path, "wb");
    CHECK(f != NULL);
    if (f) {
        fputs("<?xml version=\"1.0\"?><FictionBook><description><title-info><author><nickname>A"
              "</nickname></author><book-title>Old</book-title><lang>en</lang></title-info>"
              "</description><body/></FictionBook>",
              f);
        fclose(f);
        s = ebook_write_metadata(path, "{\"title\":\"New\"}", EBOOK_WRITE_DRY_RUN);
        CHECK(s != NULL && strstr(s, "\"title\":\"New\"") != NULL);
        ebook_free_string(s);
        s = ebook_write_metadata(path, "{\"title\":\"Newer\"}", EBOOK_WRITE_KEEP_MTIME);
        CHECK(s != NULL && strstr(s, "\"title\":\"Newer\"") != NULL);
        ebook_free_string(s);
        CHECK(ebook_write_metadata(path, "{\"colour\":1}", 0) == NULL);
        CHECK(strcmp(ebook_last_error(), "unknown field: colour") == 0);
        CHECK(ebook_write_metadata(path, NULL, EBOOK_WRITE_BREAK_LINKS) == NULL);
        CHECK(strcmp(ebook_last_error(), "NULL changes_json") == 0);
        remove(path);
    }

    /* A described object (from JSON) comes back as a string the host frees. */
    s = ebook_rename_plan("[{\"title\":\"Notes\"}]", NULL);
    CHECK(s != NULL);
    if (s) {
        CHECK(strstr(s, "\"to_name\":\"Unknown - Notes.epub\"") != NULL);
        ebook_free_string(s);
    }
    CHECK(strcmp(ebook_last_error(), "") == 0);
    /* Releasing NULL is harmless and leaves the error text alone, as do the
     * library's version and its formats. */
    ebook_info(NULL);
    ebook_free_string(NULL);
    CHECK(strcmp(ebook_last_error(), "NULL path") == 0);
    {
        char version[32];
        snprintf(version, sizeof version, "%d.%d.%d", QUENFOLD_EBOOK_VERSION_MAJOR,
                 QUENFOLD_EBOOK_VERSION_MINOR, QUENFOLD_EBOOK_VERSION_PATCH);
        CHECK(strcmp(version, QUENFOLD_EBOOK_VERSION_STRING) == 0);
        CHECK(strcmp(ebook_version(), QUENFOLD_EBOOK_VERSION_STRING) == 0);
    }
    s = ebook_formats();
    CHECK(s != NULL && s[0] == '[');
    if (s) {
        CHECK(strstr(s, "{\"format\":\"epub\",\"extensions\":[\".epub\"],"
                        "\"info_extensions\":[\".epub\"],\"read\":true,\"write\":true,"
                        "\"cover\":true,\"module\":false,") == s + 1);
        ebook_free_string(s);
    }
    CHECK(strcmp(ebook_last_error(), "NULL path") == 0);

    if (failures) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    return 0;
}
