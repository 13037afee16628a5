// pdf_streams.h - a PDF's stream data under caps: the XMP packet, and the size a stream decodes
// to, checked before qpdf would inflate it whole however far it inflates.
#ifndef QUENFOLD_FORMATS_PDF_STREAMS_H
#define QUENFOLD_FORMATS_PDF_STREAMS_H

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <string>

#include "formats/pdf/pdf_xmp.h"
#include "full_record.h"

class InputSource;
class QPDF;

// The catalog's /Metadata stream (md) decoded up to 4 MiB (a stream that inflates
// further stops there, with a warning) and read as XMP; nothing, with a
// warning, when it is no stream or cannot be decoded.
eb_pdf_xmp eb_pdf_xmp_stream(QPDFObjectHandle md, eb_record &r);

// What decoding a stream under a cap came to.
struct eb_pdf_decoded {
    std::size_t bytes = 0;  // decoded, at most the cap
    bool over = false;      // the stream decodes further than the cap
    bool decoded = false;   // its filters were applied (qpdf knows them all)
};

// A stream of the document decoded as qpdf decodes it (decryption, then
// every filter), up to cap bytes that are kept nowhere.
eb_pdf_decoded eb_pdf_decode_size(QPDFObjectHandle stream, std::size_t cap);

// len raw bytes of in from offset at decoded through filter and parms (as a
// stream dictionary states them), up to cap bytes, of which the first `keep`
// are kept in *out: a stream checked before the document that holds it is
// opened. scratch is a stream of a QPDF of its own, whose data this replaces.
eb_pdf_decoded eb_pdf_decode_raw(QPDFObjectHandle scratch, InputSource &in, std::uint64_t at,
                                 std::uint64_t len, QPDFObjectHandle filter, QPDFObjectHandle parms,
                                 std::size_t cap, std::size_t keep, std::string *out);

#endif  // QUENFOLD_FORMATS_PDF_STREAMS_H
