// pdf_streams.h - a PDF's stream data under caps: the XMP packet, and the object streams that
// qpdf would otherwise inflate whole however far they inflate.
#ifndef QUENFOLD_FORMATS_PDF_STREAMS_H
#define QUENFOLD_FORMATS_PDF_STREAMS_H

#include "formats/pdf/pdf_xmp.h"
#include "full_record.h"

class QPDF;

// The catalog's /Metadata stream decoded up to 4 MiB (a stream that inflates
// further stops there, with a warning) and read as XMP; nothing, with a
// warning, when it is no stream or cannot be decoded.
eb_pdf_xmp eb_pdf_xmp_stream(QPDF &pdf, eb_record &r);

// qpdf decodes an object stream whole the first time any object in it is
// wanted, with no limit. Before anything is read, each object stream holding
// an object the reader asks for (catalog, page tree root and count, Info and
// its entries) that could inflate past 16 MiB (raw data over 16 KiB) is
// decoded once up to that cap, at most 64 MiB for all together; one that goes
// past it, or past the budget, is replaced by null, with a warning: its
// objects read as missing. (Streams qpdf itself reaches through such objects,
// a stream's /Length kept in another object stream, are not checked.)
void eb_pdf_defuse_object_streams(QPDF &pdf, eb_record &r);

#endif  // QUENFOLD_FORMATS_PDF_STREAMS_H
