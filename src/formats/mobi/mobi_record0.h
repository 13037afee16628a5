// mobi_record0.h - a Mobipocket record 0 (PalmDOC header, MOBI header, EXTH block, full name) taken
// apart and rebuilt with new metadata.
#ifndef QUENFOLD_FORMATS_MOBI_MOBI_RECORD0_H
#define QUENFOLD_FORMATS_MOBI_MOBI_RECORD0_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ops/write/writer.h"

struct eb_mobi_exth {
    std::uint32_t type;
    std::string data;
};

// A record 0 as the writer needs it. The bytes after the EXTH block (the
// full name, and the padding most books carry for later edits) are kept as
// they are; only the full name inside them may be replaced.
struct eb_mobi_record0 {
    std::string bytes;  // the whole record as read
    std::uint32_t codepage = 65001;
    std::uint64_t exth_at = 0;  // where the EXTH block starts (or would): 16 + header length
    std::uint64_t rest_at = 0;  // the first byte after the block and its padding
    bool has_exth = false;
    std::vector<eb_mobi_exth> exth;
    std::uint64_t name_off = 0, name_len = 0;  // as the MOBI header states them

    // The first EXTH record of a type as a 32-bit number (121, 201), or
    // 0xFFFFFFFF when there is none.
    std::uint32_t exth_u32(std::uint32_t type) const;
    // The first image record's index (header offset 108, low 16 bits).
    std::uint32_t first_image() const;
};

// Takes a record 0 apart. False with the error text set when it cannot be
// rebuilt without guessing: protected text ("will not modify a
// DRM-protected book"), no MOBI header, a header or EXTH block that does not
// fit the record ("... is damaged; write refused, nothing changed").
bool eb_mobi_parse_record0(std::string bytes, eb_mobi_record0 &out);

// The record with the changes made: every EXTH record of a changed field
// replaced by the new ones (in the place of the first it replaces, else at
// the end), the others kept in their order; the title as the full name and
// EXTH 503; the EXTH length and count, padding to four bytes, the EXTH flag
// and the full name's offset and length set. Texts are written in the
// record's encoding (UTF-8, or windows-1252 where a character outside it is
// refused, except in the description, where it becomes a character
// reference). False with the error text set.
bool eb_mobi_rebuild_record0(const eb_mobi_record0 &r0, const eb_changes &changes,
                             std::string *out);

#endif  // QUENFOLD_FORMATS_MOBI_MOBI_RECORD0_H
