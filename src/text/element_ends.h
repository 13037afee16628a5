// element_ends.h - the ends of many elements of one name, found in one pass over the document.
#ifndef QUENFOLD_TEXT_ELEMENT_ENDS_H
#define QUENFOLD_TEXT_ELEMENT_ENDS_H

#include <vector>

// Where the element whose content starts at a body ends, exactly as
// eb_find_close(body, end, name) and eb_content_end would tell: close is one
// past the end tag's '>' (null when the element is never closed) and
// content_end the '<' that ends its content.
struct eb_element_end {
    const char *close;
    const char *content_end;
};

// The ends of the elements named name whose bodies are given, in ascending
// order, each directly after a '>' within [begin, end). One pass, whatever
// the nesting: asking eb_find_close for each body in turn can cost a pass to
// the end of the document per body. Throws std::bad_alloc.
std::vector<eb_element_end> eb_element_ends(const char *begin, const char *end, const char *name,
                                            const std::vector<const char *> &bodies);

#endif  // QUENFOLD_TEXT_ELEMENT_ENDS_H
