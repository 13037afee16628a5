// record_texts.h - every text of the full record, each visited once, with what kind of text it is.
#ifndef QUENFOLD_RECORD_RECORD_TEXTS_H
#define QUENFOLD_RECORD_RECORD_TEXTS_H

#include <string>

#include "full_record.h"

enum class eb_text_kind {
    line,   // a title, a name, a list entry: one line once settled
    prose,  // the rights and the description: their line breaks are kept
    label,  // what names the book's kind rather than its content (format,
            // container, versions, schemes, the cover's type and origin) and
            // the warnings: kept as written
};

// Calls visit(std::string &text, eb_text_kind) for every text member of r,
// the members of every list entry included. The one list of the record's
// texts: whatever makes every text valid or settled goes through it, so a
// member added to the record is never forgotten by one of them.
template <typename F>
void eb_record_texts(eb_record &r, F &&visit) {
    visit(r.format, eb_text_kind::label);
    for (std::optional<std::string> *s : {&r.container, &r.version, &r.drm_scheme, &r.encoding})
        if (*s) visit(**s, eb_text_kind::label);
    for (std::string *s : {&r.title, &r.title_sort, &r.subtitle, &r.language, &r.publisher,
                           &r.published, &r.modified})
        visit(*s, eb_text_kind::line);
    visit(r.rights, eb_text_kind::prose);
    visit(r.description, eb_text_kind::prose);
    for (auto *list : {&r.authors, &r.contributors})
        for (eb_person &p : *list) {
            visit(p.name, eb_text_kind::line);
            visit(p.sort, eb_text_kind::line);
            visit(p.role, eb_text_kind::line);
        }
    for (auto *list : {&r.languages, &r.subjects})
        for (std::string &s : *list)
            visit(s, eb_text_kind::line);
    for (eb_series &s : r.series) {
        visit(s.name, eb_text_kind::line);
        visit(s.index, eb_text_kind::line);
    }
    for (eb_identifier &id : r.identifiers) {
        visit(id.scheme, eb_text_kind::line);
        visit(id.value, eb_text_kind::line);
    }
    if (r.cover) {
        visit(r.cover->mime, eb_text_kind::label);
        visit(r.cover->from, eb_text_kind::label);
    }
    for (std::string &w : r.warnings)
        visit(w, eb_text_kind::label);
}

#endif  // QUENFOLD_RECORD_RECORD_TEXTS_H
