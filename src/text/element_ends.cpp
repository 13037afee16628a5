// element_ends.cpp - matching end tags for many start tags of one name in a single pass.

#include "text/element_ends.h"

#include <cstdint>
#include <cstring>

#include "text/ascii.h"
#include "text/xml_scan.h"

// eb_find_close moves from '<' to '<' (eb_nesting_step), and where it goes from each '<'
// (past it, past "</", or past the '>' of a self-closing tag) and how it
// changes the depth (-1 for an end tag, +1 for a nested start tag, 0 else)
// depend on that '<' alone, never on where the scan began. A body that
// follows a '>' never lies inside a skipped self-closing tag (those hold no
// '>' before their own), so the scan from any body joins, at its first '<',
// the one chain of '<' visited from the document's start. Along that chain
// a running level tells each body's answer: the first end tag at which the
// level is back to the level where the body's scan joined. Bodies waiting
// for their end tag form a stack whose levels never decrease.

std::vector<eb_element_end> eb_element_ends(const char *begin, const char *end, const char *name,
                                            const std::vector<const char *> &bodies) {
    std::vector<eb_element_end> ends(bodies.size(), eb_element_end{nullptr, nullptr});
    struct waiting {
        std::size_t body;
        std::int64_t level;
    };
    std::vector<waiting> open;
    const std::size_t n = std::strlen(name);
    std::size_t next_body = 0;
    std::int64_t level = 0;
    eb_gt_cursor gts(end);
    const char *memo_gt = nullptr;  // the last end tag's '>' and its content end
    const char *memo_content_end = nullptr;

    for (const char *p = begin; p < end;) {
        const char *lt = static_cast<const char *>(std::memchr(p, '<', end - p));
        if (!lt) break;
        while (next_body < bodies.size() && bodies[next_body] <= lt)
            open.push_back({next_body++, level});
        const int step = eb_nesting_step(lt, end, name, n, gts, &p);
        if (step > 0) ++level;
        if (step >= 0) continue;
        if (!open.empty() && open.back().level == level) {
            const char *gt = gts.at_or_after(lt);
            eb_element_end e{nullptr, nullptr};
            if (gt) {
                if (gt != memo_gt) {
                    memo_gt = gt;
                    memo_content_end = eb_content_end(lt, gt + 1);
                }
                e = {gt + 1, memo_content_end};
            }
            while (!open.empty() && open.back().level == level) {
                ends[open.back().body] = e;
                open.pop_back();
            }
        }
        --level;
    }
    return ends;
}
