// xml_session.h - expat over mended UTF-8 text, resuming after every error.
#ifndef QUENFOLD_TEXT_XML_SESSION_H
#define QUENFOLD_TEXT_XML_SESSION_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/xml_reader.h"

// Parses text (valid UTF-8, whatever its XML declaration says) and passes
// its events to h. Where expat finds an error, a fresh parser resumes at the
// next tag with the elements still open opened again (not reported twice);
// an end tag of an element further out closes the ones inside it; a prefix
// used without a declaration is bound on the reader's account. Each fault
// adds a warning. Restarts are bounded, so the work stays linear in the
// text. Returns the offset in text where reading ended (its size when it ran
// to the end, the place of the handler's stop otherwise).
std::size_t eb_xml_parse_resuming(std::string_view text, eb_xml_handler &h,
                                  std::vector<std::string> &warnings);

#endif  // QUENFOLD_TEXT_XML_SESSION_H
