// pdf_quiet.h - a QPDF that writes nothing anywhere, for a document or for parsing alone.
#ifndef QUENFOLD_FORMATS_PDF_QUIET_H
#define QUENFOLD_FORMATS_PDF_QUIET_H

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>

#include <memory>

// Warnings are kept, never written: each QPDF gets a logger of its own that
// discards, so nothing reaches stderr and threads share none.
inline void eb_pdf_silence(QPDF &pdf) {
    std::shared_ptr<QPDFLogger> log = QPDFLogger::create();
    log->setInfo(log->discard());
    log->setWarn(log->discard());
    log->setError(log->discard());
    pdf.setLogger(log);
    pdf.setSuppressWarnings(true);
}

// A QPDF that opens no file: the context objects are parsed in (their
// references stay placeholders that resolve to null) and streams are
// decoded in.
struct eb_pdf_quiet {
    QPDF pdf;
    eb_pdf_quiet() { eb_pdf_silence(pdf); }
};

#endif  // QUENFOLD_FORMATS_PDF_QUIET_H
