// pdf_walk.h - a PDF's cross-reference chain walked before qpdf opens it, so that opening inflates
// nothing unchecked and a repair cannot turn quadratic.
#ifndef QUENFOLD_FORMATS_PDF_WALK_H
#define QUENFOLD_FORMATS_PDF_WALK_H

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class eb_pdf_input;

// Decoded bytes a stream qpdf inflates on its own (a cross-reference stream,
// an object stream) may reach; past it the stream is refused.
constexpr std::size_t EB_PDF_STREAM_CAP = 16u * 1024u * 1024u;

// What opening a document takes. qpdf, while it opens a file, inflates
// every cross-reference stream whole and resolves the encryption
// dictionary (with /ID and what the dictionary refers to) wherever the
// cross-reference data puts it, object streams included, with no bound. So
// the chain is walked first the way qpdf walks it: each cross-reference
// stream is decoded here under EB_PDF_STREAM_CAP (a larger one refuses the
// document), and the objects qpdf would resolve while opening that lie in
// object streams are named, to be set to null before it opens: nothing is
// read from an object stream while opening. No real file needs that: an
// encrypted document's object streams are themselves encrypted, so an
// encryption dictionary kept in one could never be decrypted.
//
// When the chain is broken before any trailer, qpdf rebuilds the
// cross-reference data by scanning the file, and parses the dictionary
// after each line starting with "trailer" until one parses: a file of many
// such lines whose dictionaries never close costs a parse to the end of the
// file per line. Those attempts are made here first, under a budget of
// 1 MiB read in all; a file that needs more is refused as damaged beyond
// repair.
struct eb_pdf_open_plan {
    std::string refusal;      // set: the document is not opened; the error text
    std::vector<int> nulled;  // objects to set to null before opening
    std::vector<std::string> warnings;
    std::uint64_t header_at = 0;  // where "%PDF-" is: qpdf counts offsets from there
    bool object_streams = false;  // a cross-reference stream places objects in object streams
    std::vector<int> packed;      // sorted, distinct: the objects it places there
    std::vector<int> packed_in;   // sorted, distinct: the object streams holding them
    bool encrypted = false;       // the trailer names an encryption dictionary
};

// Walks the chain of in (rewound afterwards). Throws std::bad_alloc only.
eb_pdf_open_plan eb_pdf_plan_open(const std::shared_ptr<eb_pdf_input> &in);

// The objects that the encryption dictionary reaches (through values and
// other objects, not through object streams) and that lie in object
// streams, found by opening the document once with every object stream set
// to null; added to plan.nulled. For an encrypted document whose
// cross-reference streams use object streams only.
void eb_pdf_plan_encryption(const std::shared_ptr<eb_pdf_input> &in, eb_pdf_open_plan &plan);

// The repair's search for a trailer, tried first (see above): true when it
// stays within the budget.
bool eb_pdf_repair_within_budget(const std::shared_ptr<eb_pdf_input> &in, std::uint64_t header_at);

// The references anywhere in a direct value (not through other objects);
// none is resolved.
void eb_pdf_references(QPDFObjectHandle h, std::vector<QPDFObjGen> &out);

#endif  // QUENFOLD_FORMATS_PDF_WALK_H
