// comic_rar5.cpp - RAR 5's headers walked for file names, sizes and encryption; data left to
// libarchive.
#include <zlib.h>

#include <cstring>

#include "formats/comic/comic_archive.h"
#include "io/cursor.h"

namespace {

// A header is at most 2 MiB by the format's own rule.
constexpr std::uint64_t kMaxHeader = 2u * 1024u * 1024u;
constexpr std::uint64_t kSignature = 8;
constexpr std::uint64_t kMain = 1, kFile = 2, kEncryption = 4, kEnd = 5;
constexpr std::uint64_t kHasExtra = 0x0001, kHasData = 0x0002;
constexpr std::uint64_t kDirectory = 0x0001, kHasTime = 0x0002, kHasCrc = 0x0004,
                        kSizeUnknown = 0x0008;
constexpr std::uint64_t kRecordEncryption = 0x01;

// Whether a file header's extra area holds an encryption record.
bool encrypted_extra(std::string_view area) {
    eb_cursor f(area);
    while (f.ok() && f.left() > 0) {
        eb_cursor record(f.text(f.vint()));
        if (!f.ok()) break;
        if (record.vint() == kRecordEncryption && record.ok()) return true;
    }
    return false;
}

}  // namespace

// Walks the headers from the signature on: each is read once (its CRC
// checked) and the data areas are stepped over by their declared sizes, so
// the cost is one read per member whatever the members weigh. Entries are
// numbered as libarchive numbers them: one per file header, directories
// included, service headers not.
eb_comic_listing eb_rar5_list(const eb_source &src, bool *solid) {
    eb_comic_listing l;
    const std::uint64_t size = src.size();
    std::uint64_t pos = kSignature, ordinal = 0;
    std::string header;
    auto stop = [&](const char *why) {
        l.warnings.push_back("archive listing stopped after " + std::to_string(ordinal) +
                             " entries: " + why);
    };
    // Most headers fit in the first read; a longer one takes a second.
    unsigned char head[512];
    for (;;) {
        if (pos >= size || size - pos < 6) {
            // An archive cut before its end header keeps what was listed.
            if (pos == size)
                l.complete = true;
            else
                stop("truncated header");
            break;
        }
        const std::size_t n =
            size - pos < sizeof head ? static_cast<std::size_t>(size - pos) : sizeof head;
        if (!src.read(pos, head, n)) break;
        eb_cursor sf(head + 4, n - 4);
        const std::uint64_t body = sf.vint();
        if (!sf.ok() || body == 0 || body > kMaxHeader || body > size - pos - 4 - sf.pos()) {
            stop("damaged header");
            break;
        }
        header.resize(sf.pos() + body);
        if (4 + header.size() <= n)
            std::memcpy(header.data(), head + 4, header.size());
        else if (!src.read(pos + 4, header.data(), header.size()))
            break;
        if (crc32_z(0, reinterpret_cast<const Bytef *>(header.data()), header.size()) !=
            eb_le32(head)) {
            stop("header CRC mismatch");
            break;
        }
        const std::string_view fields = std::string_view(header).substr(sf.pos());
        eb_cursor f(fields);
        const std::uint64_t type = f.vint(), flags = f.vint();
        const std::uint64_t extra = (flags & kHasExtra) ? f.vint() : 0;
        const std::uint64_t data = (flags & kHasData) ? f.vint() : 0;
        if (!f.ok() || extra > fields.size()) {
            stop("damaged header");
            break;
        }
        if (type == kEncryption) {
            l.header_encrypted = true;
            break;
        }
        if (type == kEnd) {
            l.complete = true;
            break;
        }
        if (type == kMain) {
            *solid = f.vint() & 0x0004;
        } else if (type == kFile) {
            if (ordinal >= EB_COMIC_MAX_MEMBERS) {
                stop("too many members");
                break;
            }
            const std::uint64_t file_flags = f.vint(), unpacked = f.vint();
            f.vint();                              // attributes
            if (file_flags & kHasTime) f.skip(4);  // modification time
            if (file_flags & kHasCrc) f.skip(4);   // data CRC
            f.vint();                              // compression information
            f.vint();                              // host system
            const std::string_view name = f.text(f.vint());
            if (!f.ok()) {
                stop("damaged file header");
                break;
            }
            if (!(file_flags & kDirectory)) {
                const bool enc = encrypted_extra(fields.substr(fields.size() - extra));
                l.files.push_back({l.names.size(), name.size(),
                                   (file_flags & kSizeUnknown) ? 0 : unpacked, ordinal, enc});
                l.names.append(name);
            }
            ++ordinal;
        }
        const std::uint64_t next = pos + 4 + header.size();
        if (data > size - next) {
            stop("truncated data");
            break;
        }
        pos = next + data;
    }
    return l;
}
