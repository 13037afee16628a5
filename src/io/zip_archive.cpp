// zip_archive.cpp - the ZIP archive handle over minizip: directory kept once, members inflated by
// zlib.

#include "io/zip_archive.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include <minizip/unzip.h>

#include "heap.h"
#include "io/zip_io.h"
#include "text/ascii.h"

namespace {

// Smallest archive: an end-of-central-directory record alone. An empty input
// would pass for an empty archive; a book that short is no archive at all.
constexpr std::uint64_t ZIP_EOCD_SIZE = 22;
constexpr std::uint32_t kStored = 0, kDeflated = 8;
// Before ZIP64 a count of 0xFFFF meant "count the entries yourself", and
// minizip then reads on until an entry fails to parse.
constexpr std::uint64_t kUnknownCount = 0xFFFF;

unzFile unz(void *p) {
    return static_cast<unzFile>(p);
}

}  // namespace

bool eb_ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (eb_ascii_lower(static_cast<unsigned char>(a[i])) !=
            eb_ascii_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool eb_ascii_iends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && eb_ascii_iequal(s.substr(s.size() - suffix.size()), suffix);
}

eb_zip_archive::eb_zip_archive(const eb_source &src) : io_(new eb_zip_io(src)) {
    open();
}

eb_zip_archive::eb_zip_archive(const void *data, std::uint64_t len)
    : own_(new eb_source(data, len)), io_(new eb_zip_io(*own_)) {
    open();
}

eb_zip_archive::~eb_zip_archive() {
    if (unz_) unzClose(unz(unz_));
}

bool eb_zip_archive::source_failed() const {
    return io_->error || io_->src.failed();
}

// Walks the whole central directory once, keeping each member's raw name
// (up to its first NUL byte, as C strings hold it), sizes, CRC and the place
// of its entry. A directory that cannot be walked to its declared end is no
// archive: the handle stays closed.
void eb_zip_archive::open() {
    if (io_->src.size() < ZIP_EOCD_SIZE) return;
    zlib_filefunc64_def table = io_->table();
    unzFile uf = unzOpen2_64("", &table);
    if (!uf) return;
    unz_global_info64 gi;
    bool good = unzGetGlobalInfo64(uf, &gi) == UNZ_OK;
    std::unique_ptr<char[]> name(new char[65536]);  // a stored name has at most 65535 bytes
    int rc = good ? unzGoToFirstFile(uf) : UNZ_BADZIPFILE;
    while (good && rc == UNZ_OK) {
        unz_file_info64 fi;
        unz64_file_pos pos;
        if (unzGetCurrentFileInfo64(uf, &fi, name.get(), 65536, nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzGetFilePos64(uf, &pos) != UNZ_OK) {
            good = false;
            break;
        }
        const std::size_t n = fi.size_filename < 65536 ? std::strlen(name.get()) : 0;
        members_.push_back({names_.size(), n, pos.pos_in_zip_directory, pos.num_of_file,
                            fi.uncompressed_size, fi.compressed_size,
                            static_cast<std::uint32_t>(fi.crc),
                            static_cast<std::uint32_t>(fi.compression_method),
                            static_cast<std::uint32_t>(fi.flag)});
        names_.append(name.get(), n);
        rc = unzGoToNextFile(uf);
    }
    if (good) {
        if (rc == UNZ_END_OF_LIST_OF_FILE)
            good = members_.size() == gi.number_entry || gi.number_entry == 0;
        else
            good = gi.number_entry == kUnknownCount && members_.size() >= kUnknownCount;
    }
    if (good && gi.size_comment > 0) {
        comment_.resize(gi.size_comment);
        int got = unzGetGlobalComment(uf, comment_.data(), gi.size_comment + 1);
        comment_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    if (!good || io_->error) {
        comment_.clear();
        unzClose(uf);
        members_.clear();
        names_.clear();
        return;
    }
    unz_ = uf;
}

std::string_view eb_zip_archive::name(std::uint64_t i) const {
    if (!unz_ || i >= members_.size()) return {};
    return std::string_view(names_).substr(members_[i].name_at, members_[i].name_len);
}

std::int64_t eb_zip_archive::find(std::string_view want) const {
    for (std::uint64_t i = 0; i < members_.size(); ++i)
        if (eb_ascii_iequal(name(i), want)) return static_cast<std::int64_t>(i);
    return -1;
}

bool eb_zip_archive::encrypted(std::uint64_t i) const {
    return unz_ && i < members_.size() && (members_[i].flags & 1);
}

bool eb_zip_archive::size(std::uint64_t i, std::uint64_t *out) const {
    if (!unz_ || i >= members_.size()) return false;
    *out = members_[i].size;
    return true;
}

bool eb_zip_archive::size_possible(std::uint64_t i) const {
    if (!unz_ || i >= members_.size()) return false;
    const member &m = members_[i];
    // Deflate cannot expand data more than about 1032 times, and a stored
    // member not at all: a header claiming more is lying.
    if (m.method == kStored && m.size > m.comp_size) return false;
    if (m.method == kDeflated && m.size / 1032 > m.comp_size + 1) return false;
    return true;
}

eb_zip_read eb_zip_archive::read(std::uint64_t i, std::uint64_t cap, std::string *out) const {
    out->clear();
    char *block = nullptr;
    std::uint64_t len = 0;
    eb_zip_read r = read_block(i, cap, &block, &len);
    if (r == eb_zip_read::ok) out->assign(block, len);
    std::free(block);
    return r;
}

eb_zip_read eb_zip_archive::read_block(std::uint64_t i, std::uint64_t cap, char **out,
                                       std::uint64_t *len) const {
    *out = nullptr;
    *len = 0;
    if (!unz_ || i >= members_.size()) return eb_zip_read::missing;
    const member &m = members_[i];
    // A size the data cannot give is a lie and gets no block.
    if (m.size > cap || !size_possible(i)) return eb_zip_read::too_large;
    // Encrypted members and other compression methods cannot be read.
    if ((m.flags & 1) || (m.method != kStored && m.method != kDeflated))
        return eb_zip_read::damaged;
    eb_unique<char> block(static_cast<char *>(std::malloc(m.size ? m.size : 1)));
    if (!block) return eb_zip_read::damaged;
    eb_zip_read r = inflate_into(m, block.get());
    if (r != eb_zip_read::ok) return r;
    *out = block.release();
    *len = m.size;
    return eb_zip_read::ok;
}

namespace {

constexpr unsigned kChunk = 16384;

// A stored member: exactly its declared bytes, and nothing after them.
bool read_stored(unzFile uf, std::uint64_t size, char *out) {
    std::uint64_t got = 0;
    while (got < size) {
        const std::uint64_t want = size - got < kChunk ? size - got : kChunk;
        int n = unzReadCurrentFile(uf, out + got, static_cast<unsigned>(want));
        if (n <= 0) return false;
        got += static_cast<std::uint64_t>(n);
    }
    char extra;
    return unzReadCurrentFile(uf, &extra, 1) == 0;
}

struct inflate_end {
    z_stream *zs;
    ~inflate_end() { inflateEnd(zs); }
};

// A deflated member, raw compressed bytes from minizip inflated by zlib: the
// stream must end after exactly the declared bytes. Output past them lands in
// a scratch byte and fails the member.
bool read_deflated(unzFile uf, std::uint64_t size, char *out) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    inflate_end end{&zs};
    unsigned char in[kChunk];
    unsigned char scratch;
    bool past_end = false;
    int zr = Z_OK;
    while (zr != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            int n = unzReadCurrentFile(uf, in, sizeof in);
            if (n <= 0) return false;  // the stream stops short, or the book does
            zs.next_in = in;
            zs.avail_in = static_cast<uInt>(n);
        }
        if (zs.avail_out == 0) {
            const std::uint64_t done = zs.total_out;
            if (done >= size) {
                zs.next_out = &scratch;
                zs.avail_out = 1;
                past_end = true;
            } else {
                const std::uint64_t left = size - done;
                zs.next_out = reinterpret_cast<Bytef *>(out + done);
                zs.avail_out = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
            }
        }
        zr = inflate(&zs, Z_NO_FLUSH);
        if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) return false;
        if (past_end && zs.avail_out == 0) return false;  // more than declared
    }
    return zs.total_out == size;
}

}  // namespace

// Member m through minizip, which finds its data behind the local header,
// read raw and inflated here, so that both a short and a long stream are
// caught; then its CRC over the declared bytes.
eb_zip_read eb_zip_archive::inflate_into(const member &m, char *out) const {
    unzFile uf = unz(unz_);
    unz64_file_pos pos{m.dir_pos, m.index};
    if (unzGoToFilePos64(uf, &pos) != UNZ_OK) return eb_zip_read::damaged;
    int method = 0, level = 0;
    if (unzOpenCurrentFile2(uf, &method, &level, 1) != UNZ_OK) return eb_zip_read::damaged;
    bool good = m.method == kStored ? read_stored(uf, m.size, out) : read_deflated(uf, m.size, out);
    unzCloseCurrentFile(uf);
    if (!good) return eb_zip_read::damaged;
    if (crc32_z(0, reinterpret_cast<const Bytef *>(out), m.size) != m.crc)
        return eb_zip_read::damaged;
    return eb_zip_read::ok;
}
