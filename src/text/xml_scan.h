// xml_scan.h - the tag scanner over byte ranges, and XML entity decoding.
#ifndef QUENFOLD_TEXT_XML_SCAN_H
#define QUENFOLD_TEXT_XML_SCAN_H

#include <cstddef>
#include <cstring>

#include "text/ascii.h"
#include "text/buffer.h"

// Lookups over byte ranges [start, end) that need not be NUL-terminated.
const char *eb_find_tag(const char *start, const char *end, const char *name);
const char *eb_find_close(const char *start, const char *end, const char *name);
int eb_attr_val(const char *tag_start, const char *tag_end, const char *name, char *out,
                std::size_t out_size);
char *eb_tag_text(const char *text, std::size_t len, const char *name);
void eb_xml_decode_entities(const char *text, std::size_t len, eb_buf *out);

// The pieces of eb_tag_text for callers that know where an element ends:
// the content's end from one past the end tag's '>', and the decoded,
// trimmed content (null when empty or nothing decodes).
const char *eb_content_end(const char *body, const char *close);
char *eb_element_text(const char *body, const char *body_end);

// The first '>' at or after a position that only moves forward through
// [.., end). One search serves every position up to the '>' it found, so a
// run of tags without '>' costs one pass, not one pass per tag.
class eb_gt_cursor {
  public:
    explicit eb_gt_cursor(const char *end) : end_(end) {}
    const char *at_or_after(const char *p) {
        if (!found_ || p > found_) {
            const void *g =
                p < end_ ? std::memchr(p, '>', static_cast<std::size_t>(end_ - p)) : nullptr;
            found_ = g ? static_cast<const char *>(g) : end_;
        }
        return found_ == end_ ? nullptr : found_;
    }

  private:
    const char *end_;
    const char *found_ = nullptr;
};

// One step of a walk over the elements named name (n bytes) from the '<' at
// lt (before end): -1 at one of their end tags, +1 at one of their start
// tags that is not self-closing, 0 at any other '<'; *next is where the walk
// goes on (past "</", past the '>' of a self-closing tag, else past the
// '<'). Every walk that balances such elements takes these steps, so they
// all agree on where an element ends.
inline int eb_nesting_step(const char *lt, const char *end, const char *name, std::size_t n,
                           eb_gt_cursor &gts, const char **next) {
    const std::size_t m = static_cast<std::size_t>(end - lt);
    *next = lt + 1;
    if (m > n + 2 && lt[1] == '/') {
        const unsigned char after = static_cast<unsigned char>(lt[n + 2]);
        if (std::memcmp(lt + 2, name, n) != 0 || !(after == '>' || eb_ascii_space(after))) return 0;
        *next = lt + 2;
        return -1;
    }
    if (m > n + 1 && lt[1] != '/' && lt[1] != '!' && std::memcmp(lt + 1, name, n) == 0) {
        const unsigned char after = static_cast<unsigned char>(lt[n + 1]);
        if (after == '/' || after == '>' || eb_ascii_space(after)) {
            const char *gt = gts.at_or_after(lt);
            if (!gt || gt[-1] != '/') return 1;
            *next = gt + 1;  // self-closing: no new level
        }
    }
    return 0;
}

#endif  // QUENFOLD_TEXT_XML_SCAN_H
