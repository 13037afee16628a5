// epub_opf.h - the metadata of an EPUB package document (EPUB 2 and 3) for the full record.
#ifndef QUENFOLD_FORMATS_EPUB_OPF_H
#define QUENFOLD_FORMATS_EPUB_OPF_H

#include <string>
#include <string_view>

#include "full_record.h"

// The namespaces of a package's metadata, for its reader and its editor.
inline constexpr std::string_view kDcNs = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kDcTermsNs = "http://purl.org/dc/terms/";

// The manifest item that holds the cover image, as the package names it.
struct eb_opf_cover {
    std::string href;  // relative to the package document; empty when no item was found
    std::string mime;  // the item's media-type
    std::string from;  // "cover-image", "meta-cover" or "first-image"
};

// Reads the package document (any encoding it declares) into r: version,
// titles, creators and contributors, languages, series, identifiers, dates,
// publisher, rights, description, subjects, the declared encoding and the
// reader's warnings. Never fails: a broken document gives what could be read.
void eb_opf_read(std::string_view opf, eb_record &r, eb_opf_cover *cover);

#endif  // QUENFOLD_FORMATS_EPUB_OPF_H
