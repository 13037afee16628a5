// comic_rar4.cpp - RAR 4's block headers walked for file names, sizes and encryption; data left to
// libarchive.
#include <zlib.h>

#include <cstring>
#include <string>

#include "formats/comic/comic_archive.h"
#include "text/utf8.h"

namespace {

constexpr std::uint64_t kMarker = 7;
constexpr unsigned kMain = 0x73, kFile = 0x74, kEnd = 0x7B;
constexpr unsigned kLongBlock = 0x8000, kMainSolid = 0x0008;
constexpr unsigned kPassword = 0x0004, kDirectory = 0x00E0, kLarge = 0x0100, kUnicode = 0x0200;

std::uint32_t le(const unsigned char *p, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}


// WinRAR's compact Unicode name: an ASCII stand-in, a NUL, a high byte,
// then per four characters a flag byte whose 2-bit fields say how each is
// stored (a low byte alone, with the high byte, both bytes, or a run taken
// from the stand-in). Decoded as libarchive decodes it, into UTF-8; a
// backslash separates folders.
std::string compact_name(std::string_view field) {
    const std::size_t nul = field.find('\0');
    const std::string_view ascii = field.substr(0, nul);
    std::u16string units;
    std::size_t at = nul + 1;
    auto next = [&]() -> unsigned {
        return at < field.size() ? static_cast<unsigned char>(field[at++]) : 0;
    };
    const unsigned high = next();
    unsigned flags = 0, bits = 0;
    while (at < field.size() && units.size() < field.size()) {
        if (bits == 0) {
            flags = next();
            bits = 8;
        }
        bits -= 2;
        switch ((flags >> bits) & 3) {
            case 0:
                units += static_cast<char16_t>(next());
                break;
            case 1:
                units += static_cast<char16_t>(high << 8 | next());
                break;
            case 2: {
                const unsigned lo = next();
                units += static_cast<char16_t>(next() << 8 | lo);
                break;
            }
            default: {
                unsigned n = next();
                unsigned extra = 0, hi = 0;
                if (n & 0x80) {
                    extra = next();
                    hi = high;
                }
                for (n = (n & 0x7F) + 2; n > 0 && units.size() < field.size(); --n) {
                    const std::size_t i = units.size();
                    const unsigned c = i < ascii.size() ? static_cast<unsigned char>(ascii[i]) : 0;
                    units += static_cast<char16_t>(hi << 8 | ((c + extra) & 0xFF));
                }
            }
        }
    }
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t cp = units[i];
        if (cp == 0) break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp < 0xE000)
            cp = 0xFFFD;
        eb_utf8_append(out, cp == '\\' ? '/' : cp);
    }
    return out;
}

// The name as stored: the compact form when the Unicode flag comes with a
// NUL, else the bytes themselves (UTF-8 under the flag, the archiver's code
// page without it), backslashes made slashes.
std::string name_of(std::string_view field, unsigned flags) {
    if ((flags & kUnicode) && field.find('\0') != std::string_view::npos)
        return compact_name(field);
    std::string out(field);
    for (char &c : out)
        if (c == '\\') c = '/';
    return out;
}

}  // namespace

// Walks the blocks from the marker on: each header is read once (its CRC
// checked) and data is stepped over by its declared size, so the cost is one
// read per member whatever the members weigh. Entries are numbered as
// libarchive numbers them: one per file header, directories included.
eb_comic_listing eb_rar4_list(const eb_source &src, bool *solid) {
    eb_comic_listing l;
    const std::uint64_t size = src.size();
    std::uint64_t pos = kMarker, ordinal = 0;
    auto stop = [&](const char *why) {
        l.warnings.push_back("archive listing stopped after " + std::to_string(ordinal) +
                             " entries: " + why);
    };
    unsigned char head[7];
    std::string header;
    for (;;) {
        if (pos == size) {
            l.complete = true;  // cut before its end block: what was listed stands
            break;
        }
        if (size - pos < 7 || !src.read(pos, head, 7)) {
            stop("truncated header");
            break;
        }
        const unsigned type = head[2], flags = le(head + 3, 2), head_size = le(head + 5, 2);
        if (head_size < 7 || head_size > size - pos) {
            stop("damaged header");
            break;
        }
        header.resize(head_size - 2);
        if (!src.read(pos + 2, header.data(), header.size())) break;
        // Offsets below count from the block's start, as the format states them.
        const auto *b = reinterpret_cast<const unsigned char *>(header.data());
        auto h = [b](std::size_t at) { return b + at - 2; };
        if ((crc32_z(0, b, header.size()) & 0xFFFF) != le(head, 2)) {
            stop("header CRC mismatch");
            break;
        }
        std::uint64_t data =
            ((flags & kLongBlock) || type == kFile) && head_size >= 11 ? le(h(7), 4) : 0;
        if (type == kEnd) {
            l.complete = true;
            break;
        }
        if (type == kMain) *solid = flags & kMainSolid;
        if (type == kFile) {
            if (head_size < 32) {
                stop("damaged file header");
                break;
            }
            if (ordinal >= EB_COMIC_MAX_MEMBERS) {
                stop("too many members");
                break;
            }
            const bool large = flags & kLarge;
            const unsigned host = *h(15), name_size = le(h(26), 2);
            const std::uint32_t attr = le(h(28), 4);
            const std::size_t name_at = large ? 40 : 32;
            if (name_at + name_size > head_size) {
                stop("damaged file header");
                break;
            }
            std::uint64_t unpacked = le(h(11), 4);
            if (large) {
                data |= static_cast<std::uint64_t>(le(h(32), 4)) << 32;
                unpacked |= static_cast<std::uint64_t>(le(h(36), 4)) << 32;
            }
            // A member's kind as libarchive takes it: from MS-DOS attributes
            // on MS-DOS, OS/2 and Windows, from the mode on Unix, Mac OS
            // and BeOS; libarchive reads no other host's.
            bool directory = (flags & kDirectory) == kDirectory, regular;
            if (host <= 2) {
                directory = directory || (attr & 0x10);
                regular = !directory;
            } else if (host <= 5) {
                directory = directory || (attr & 0170000) == 0040000;
                regular = !directory && (attr & 0170000) == 0100000;
            } else {
                stop("unknown host system");
                break;
            }
            if (regular) {
                const std::string name =
                    name_of(std::string_view(header).substr(name_at - 2, name_size), flags);
                l.files.push_back(
                    {l.names.size(), name.size(), unpacked, ordinal, (flags & kPassword) != 0});
                l.names.append(name);
            }
            ++ordinal;
        }
        const std::uint64_t next = pos + head_size;
        if (data > size - next) {
            stop("truncated data");
            break;
        }
        pos = next + data;
    }
    return l;
}
