// pdf_xmp_edit.h - an XMP packet edited in place: the properties being replaced removed, a new
// rdf:Description holding their new values added, every other byte of the packet kept.
#ifndef QUENFOLD_FORMATS_PDF_PDF_XMP_EDIT_H
#define QUENFOLD_FORMATS_PDF_PDF_XMP_EDIT_H

#include <functional>
#include <string>
#include <string_view>

// Whether a property (namespace URI, local name) is one the edit replaces.
using eb_xmp_replaced = std::function<bool(std::string_view ns, std::string_view local)>;

// The packet with every property `replaced` names removed from each
// top-level rdf:Description (as an element, or as an attribute of the
// description), and a new rdf:Description holding `properties` (property
// elements whose prefixes it binds itself: rdf, dc, xmp, pdf, xmpidq,
// calibre, calibreSI) added at the end of rdf:RDF, about the same resource as
// the others. With no old packet a new one is made. False with the error
// text set when the old packet is not well-formed UTF-8 XML, declares a
// DTD, or has no rdf:RDF element to add to ("PDF XMP packet ...; write
// refused, nothing changed"). Linear in the packet.
bool eb_xmp_edit(std::string_view packet, const eb_xmp_replaced &replaced,
                 std::string_view properties, std::string *out);

// The namespace declarations of the new description.
extern const char *const eb_xmp_namespaces;

#endif  // QUENFOLD_FORMATS_PDF_PDF_XMP_EDIT_H
