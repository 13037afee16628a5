// comic_7z.cpp - a 7z archive's directory read up to its counts, so that libarchive never allocates
// for more members than a comic may have.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formats/comic/comic_7z.h"

using namespace eb_7z;

namespace {

std::uint64_t le(const unsigned char *p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// A decoded directory at most this large: libarchive holds it whole, and a
// million members with their names fit in it.
constexpr std::uint64_t kMaxDirectory = 64u * 1024u * 1024u;
constexpr std::uint64_t kMaxCoders = 64;

class parser {
  public:
    parser(std::string_view s, counts &c) : s_(s), c_(c) {}

    void header() {
        const int id = byte();
        if (id == 0x17) {
            c_.encoded = true;
            streams(true);
            return;
        }
        if (id != 0x01) throw damaged{"7z directory damaged"};
        int p = byte();
        if (p == 0x02) {  // archive properties
            while (byte() != 0)
                skip(number());
            p = byte();
        }
        if (p == 0x03) {  // additional streams
            streams(false);
            p = byte();
        }
        if (p == 0x04) {  // the members' streams
            streams(false);
            p = byte();
        }
        if (p == 0x05)
            c_.files = bounded(number());
        else if (p != 0x00)
            throw damaged{"7z directory damaged"};
    }

  private:
    int byte() {
        if (at_ >= s_.size()) throw need_more{};
        return static_cast<unsigned char>(s_[at_++]);
    }
    void skip(std::uint64_t n) {
        if (n > s_.size() - at_) throw need_more{};
        at_ += static_cast<std::size_t>(n);
    }
    std::uint64_t number() {
        const int first = byte();
        std::uint64_t v = 0;
        for (int i = 0, mask = 0x80; i < 8; ++i, mask >>= 1) {
            if (!(first & mask))
                return v | static_cast<std::uint64_t>(first & (mask - 1)) << (8 * i);
            v |= static_cast<std::uint64_t>(byte()) << (8 * i);
        }
        return v;
    }
    // A count past the member limit is refused before anything is made of it.
    static std::uint64_t bounded(std::uint64_t n) {
        if (n > EB_COMIC_MAX_MEMBERS) throw too_many{n};
        return n;
    }
    void digests(std::uint64_t n) {
        std::uint64_t defined = n;
        if (byte() == 0) {
            defined = 0;
            for (std::uint64_t i = 0; i < (n + 7) / 8; ++i)
                for (int b = byte(); b; b &= b - 1)
                    ++defined;
        }
        skip(4 * defined);
    }
    void streams(bool for_header) {
        int id = byte();
        if (id == 0x06) {
            pack(for_header);
            id = byte();
        }
        std::vector<std::uint64_t> outs;  // unpacked streams a folder yields
        std::vector<bool> crc;
        if (id == 0x07) {
            folders(for_header, outs, crc);
            id = byte();
        }
        if (id == 0x08) {
            substreams(crc);
            id = byte();
        } else {
            c_.streams = bounded(c_.streams + outs.size());
        }
        if (id != 0) throw damaged{"7z directory damaged"};
    }

    void pack(bool for_header) {
        const std::uint64_t pos = number(), n = bounded(number());
        c_.pack = bounded(c_.pack + n);
        int id = byte();
        if (id == 0x09) {
            for (std::uint64_t i = 0; i < n; ++i) {
                const std::uint64_t size = number();
                if (for_header && i == 0) c_.pack_size = size;
            }
            id = byte();
        }
        if (for_header) c_.pack_pos = pos;
        for (; id != 0; id = byte())
            id == 0x0A ? digests(n) : skip(number());
    }

    void folders(bool for_header, std::vector<std::uint64_t> &outs, std::vector<bool> &crc) {
        if (byte() != 0x0B) throw damaged{"7z directory damaged"};
        const std::uint64_t n = bounded(number());
        c_.folders = bounded(c_.folders + n);
        if (byte() != 0) throw damaged{"7z directory in another stream"};
        for (std::uint64_t f = 0; f < n; ++f) {
            const std::uint64_t coders = number();
            if (coders == 0 || coders > kMaxCoders) throw damaged{"7z directory damaged"};
            std::uint64_t in = 0, out = 0;
            for (std::uint64_t k = 0; k < coders; ++k) {
                const int flags = byte();
                const std::size_t id_at = at_;
                skip(flags & 0x0F);
                const std::string method(s_.substr(id_at, flags & 0x0F));
                const std::uint64_t ci = (flags & 0x10) ? number() : 1;
                const std::uint64_t co = (flags & 0x10) ? number() : 1;
                if (ci > kMaxCoders || co > kMaxCoders) throw damaged{"7z directory damaged"};
                in += ci;
                out += co;
                std::string props;
                if (flags & 0x20) {
                    const std::uint64_t len = number();
                    const std::size_t props_at = at_;
                    skip(len);
                    props = std::string(s_.substr(props_at, static_cast<std::size_t>(len)));
                }
                if (flags & 0x80) throw damaged{"7z directory damaged"};
                if (for_header) {
                    if (method == "\x06\xF1\x07\x01") c_.aes = true;
                    c_.several = c_.several || coders > 1;
                    c_.method = method;
                    c_.props = props;
                }
            }
            for (std::uint64_t b = 0; b + 1 < out; ++b) {  // bind pairs
                number();
                number();
            }
            if (in < out - 1) throw damaged{"7z directory damaged"};
            const std::uint64_t packed = in - (out - 1);
            if (packed > 1)
                for (std::uint64_t p = 0; p < packed; ++p)
                    number();
            outs.push_back(out);
        }
        if (byte() != 0x0C) throw damaged{"7z directory damaged"};
        for (std::uint64_t f = 0; f < n; ++f)
            for (std::uint64_t o = 0; o < outs[f]; ++o) {
                const std::uint64_t size = number();
                if (for_header && f == 0) c_.unpack_size = size;  // the last output is the folder's
            }
        crc.assign(n, false);
        for (int id = byte(); id != 0; id = byte()) {
            if (id != 0x0A) {
                skip(number());
                continue;
            }
            const std::size_t before = at_;
            digests(n);
            // Which folders have a CRC: all, or those in the bit vector.
            if (static_cast<unsigned char>(s_[before]) != 0)
                crc.assign(n, true);
            else
                for (std::uint64_t f = 0; f < n; ++f)
                    crc[f] =
                        (static_cast<unsigned char>(s_[before + 1 + f / 8]) >> (7 - f % 8)) & 1;
        }
    }

    void substreams(const std::vector<bool> &crc) {
        std::vector<std::uint64_t> per(crc.size(), 1);
        int id = byte();
        if (id == 0x0D) {
            for (std::uint64_t &n : per)
                n = bounded(number());
            id = byte();
        }
        std::uint64_t total = 0, unknown = 0;
        for (std::size_t f = 0; f < per.size(); ++f) {
            total = bounded(total + per[f]);
            unknown += (per[f] == 1 && crc[f]) ? 0 : per[f];
        }
        c_.streams = bounded(c_.streams + total);
        if (id == 0x09) {
            for (std::uint64_t n : per)
                for (std::uint64_t k = 1; k < n; ++k)
                    number();
            id = byte();
        }
        for (; id != 0; id = byte())
            id == 0x0A ? digests(unknown) : skip(number());
    }

    std::string_view s_;
    counts &c_;
    std::size_t at_ = 0;
};

}  // namespace

namespace {

// Parses ever longer prefixes until the structure is whole.
template <typename More>
counts read_structure(More more) {
    std::string buf;
    for (;;) {
        const bool end = !more(buf);
        counts c;
        try {
            parser(buf, c).header();
            return c;
        } catch (const need_more &) {
            if (end) throw damaged{"7z directory damaged"};
        }
    }
}

}  // namespace

eb_7z_directory eb_7z_check(const eb_source &src) {
    eb_7z_directory d;
    try {
        unsigned char sig[32];
        if (src.size() < 32 || !src.read(0, sig, 32)) throw damaged{"7z directory damaged"};
        const std::uint64_t off = le(sig + 12, 8), size = le(sig + 20, 8);
        if (off > src.size() - 32 || size > src.size() - 32 - off)
            throw damaged{"7z directory damaged"};
        // The header as stored, read in growing pieces.
        std::uint64_t read = 0;
        counts c = read_structure([&](std::string &buf) {
            const std::uint64_t n =
                std::min<std::uint64_t>(size - read, std::max<std::size_t>(buf.size(), 4096));
            buf.resize(buf.size() + n);
            if (!src.read(32 + off + read, buf.data() + buf.size() - n, n))
                throw damaged{"7z directory damaged"};
            read += n;
            return read < size;
        });
        if (c.encoded) {
            if (c.aes) {
                d.encrypted = true;  // libarchive tells that itself
                return d;
            }
            const bool known =
                !c.several && (c.method == std::string("\x00", 1) || c.method == "\x03\x01\x01" ||
                               c.method == "\x21" || c.method == "\x04\x01\x08");
            if (!known) throw damaged{"7z directory compressed by a method not read here"};
            if (c.unpack_size > kMaxDirectory)
                throw damaged{"7z directory decodes to more than 64 MiB"};
            if (c.pack_pos > src.size() - 32 || c.pack_size > src.size() - 32 - c.pack_pos)
                throw damaged{"7z directory damaged"};
            eb_7z_unpacker u(src, c);
            c = read_structure([&u](std::string &buf) { return u.more(buf); });
            if (c.encoded) throw damaged{"7z directory damaged"};
        }
        d.files = c.files;
        d.ok = true;
    } catch (const damaged &e) {
        d.why = e.why;
    } catch (const too_many &t) {
        d.why = "the 7z directory declares " + std::to_string(t.n) + " entries, more than " +
                std::to_string(EB_COMIC_MAX_MEMBERS);
    }
    return d;
}
