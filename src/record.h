// record.h - eb_meta, the book record every reader fills, and its JSON form.
#ifndef QUENFOLD_RECORD_H
#define QUENFOLD_RECORD_H

#include <cstdint>

struct eb_meta {
    char *title;
    char *author;
    char *language;
    char *series;
    char *series_index;
    char *asin;
    char *format;
    int has_cover;
    int drm;
    unsigned char *cover_data;
    std::uint64_t cover_len;
    char cover_mime[64];
};

void eb_meta_init(eb_meta *m);
// Releases every owned string and the cover block, then zeroes the record.
void eb_meta_free(eb_meta *m);
// The book JSON object as a new heap string, or null with the error text set.
char *eb_meta_to_json(const eb_meta *m);

#endif  // QUENFOLD_RECORD_H
