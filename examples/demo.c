/* demo.c - a small C host: prints the JSON description of each book given on
 * the command line (the short object; the full record for a book only it
 * reads, such as a comic archive), or the library's error text. */
#include <stdio.h>

#include "quenfold_ebook.h"

int main(int argc, char **argv) {
    int failed = 0;
    int i;
    for (i = 1; i < argc; i++) {
        char *json = ebook_info(argv[i]);
        if (!json) json = ebook_metadata(argv[i]);
        if (json) {
            printf("%s\n  %s\n", argv[i], json);
            if (ebook_last_error()[0]) printf("  (notice: %s)\n", ebook_last_error());
            ebook_free_string(json);
        } else {
            printf("%s\n  error: %s\n", argv[i], ebook_last_error());
            failed = 1;
        }
    }
    return failed;
}
