// pdf_xref_text.cpp - the header, startxref and a table's lines, read with qpdf's own leniency and
// its own faults, so that the chain walked here is the one qpdf walks.
#include "formats/pdf/pdf_xref_text.h"

#include <cstdio>
#include <cstdlib>

#include "formats/pdf/pdf_source.h"

namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}

QPDFTokenizer::Token token(const std::shared_ptr<eb_pdf_input> &in, QPDFTokenizer &tok) {
    return tok.readToken(in, "PDF", true, 100);
}

// One entry line, of which qpdf reads at most 30 bytes: an offset, a
// generation and 'n' or 'f'. The offset of the next line.
std::uint64_t entry(eb_pdf_input &in, std::uint64_t at) {
    std::string line = eb_pdf_bytes(in, at, 30);
    if (line.empty()) throw eb_pdf_chain_broken{};
    line.resize(std::min(line.find_first_of("\r\n"), line.size()));
    const char *p = line.c_str();  // a NUL ends it too
    while (eb_pdf_space(*p))
        ++p;
    for (int field = 0; field < 2; ++field) {
        if (!digit(*p)) throw eb_pdf_chain_broken{};
        while (digit(*p))
            ++p;
        if (!eb_pdf_space(*p)) throw eb_pdf_chain_broken{};
        while (eb_pdf_space(*p))
            ++p;
    }
    if (*p != 'f' && *p != 'n') throw eb_pdf_chain_broken{};
    in.seek(static_cast<qpdf_offset_t>(at), SEEK_SET);
    in.findAndSkipNextEOL();
    return static_cast<std::uint64_t>(in.tell());
}

}  // namespace

std::string eb_pdf_bytes(eb_pdf_input &in, std::uint64_t at, std::size_t n) {
    std::string s(n, '\0');
    in.seek(static_cast<qpdf_offset_t>(at), SEEK_SET);
    s.resize(in.read(s.data(), n));
    return s;
}

std::uint64_t eb_pdf_header_at(eb_pdf_input &in) {
    const std::string head = eb_pdf_bytes(in, 0, 1024 + 16);
    for (std::size_t at = head.find("%PDF-"); at != std::string::npos && at < 1024;
         at = head.find("%PDF-", at + 1)) {
        std::size_t p = at + 5;
        if (p >= head.size() || !digit(head[p])) continue;
        while (p < head.size() && digit(head[p]))
            ++p;
        if (p + 1 < head.size() && head[p] == '.' && digit(head[p + 1])) return at;
    }
    return 0;
}

std::uint64_t eb_pdf_startxref(const std::shared_ptr<eb_pdf_input> &in, QPDFTokenizer &tok,
                               std::uint64_t header_at) {
    in->seek(0, SEEK_END);
    const std::uint64_t size = static_cast<std::uint64_t>(in->tell());
    const std::uint64_t len = size - header_at;
    const std::uint64_t from = header_at + (len > 1054 ? len - 1054 : 0);
    const std::string tail = eb_pdf_bytes(*in, from, static_cast<std::size_t>(size - from));
    for (std::size_t at = tail.rfind("startxref"); at != std::string::npos;
         at = at ? tail.rfind("startxref", at - 1) : std::string::npos) {
        in->seek(static_cast<qpdf_offset_t>(from + at), SEEK_SET);
        if (!token(in, tok).isWord("startxref")) continue;
        const QPDFTokenizer::Token t = token(in, tok);
        if (!t.isInteger()) continue;
        const long long v = std::strtoll(t.getValue().c_str(), nullptr, 10);
        return v > 0 ? static_cast<std::uint64_t>(v) : 0;
    }
    return 0;
}

std::uint64_t eb_pdf_table_trailer(const std::shared_ptr<eb_pdf_input> &in, QPDFTokenizer &tok,
                                   std::uint64_t at) {
    for (;;) {
        // A subsection's first line: first object, count; qpdf reads 50
        // bytes of it and passes over the white space after.
        const std::string first = eb_pdf_bytes(*in, at, 50);
        const char *p = first.c_str();
        auto number = [&p](long long *v) {
            if (!digit(*p)) return false;
            *v = 0;
            while (digit(*p)) {
                *v = *v * 10 + (*p++ - '0');
                if (*v > INT32_MAX) throw eb_pdf_chain_broken{};
            }
            return true;
        };
        long long obj = 0, num = 0;
        while (eb_pdf_space(*p))
            ++p;
        if (!number(&obj) || !eb_pdf_space(*p)) throw eb_pdf_chain_broken{};
        while (eb_pdf_space(*p))
            ++p;
        if (!number(&num)) throw eb_pdf_chain_broken{};
        while (eb_pdf_space(*p))
            ++p;
        at += static_cast<std::uint64_t>(p - first.c_str());
        for (long long k = 0; k < num; ++k)
            at = entry(*in, at);
        in->seek(static_cast<qpdf_offset_t>(at), SEEK_SET);
        if (token(in, tok).isWord("trailer")) return static_cast<std::uint64_t>(in->tell());
    }
}
