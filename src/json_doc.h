// json_doc.h - owners of yyjson documents, shared by the library and the command-line tool.
#ifndef QUENFOLD_JSON_DOC_H
#define QUENFOLD_JSON_DOC_H

#include <yyjson.h>

#include <memory>

// One deleter for both kinds of document, so that every owner in the tree is
// the same type and no call site frees a document by hand.
struct eb_json_free {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
    void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
using eb_doc_ptr = std::unique_ptr<yyjson_doc, eb_json_free>;
using eb_mut_doc_ptr = std::unique_ptr<yyjson_mut_doc, eb_json_free>;

#endif  // QUENFOLD_JSON_DOC_H
