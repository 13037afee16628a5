// fb2_text.cpp - FictionBook rich text as plain paragraphs, and the cover's binary element sized.
#include "formats/fb2/fb2_text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/fb2/fb2_avx2.h"
#include "text/base64.h"
#include "text/encoding.h"

namespace {

// The record cuts every text at EB_TEXT_LIMIT: an annotation is read only
// a little past it (the cut then falls on a character boundary).
constexpr std::size_t kMaxDescription = EB_TEXT_LIMIT + 8;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

#if defined(__SSE2__)
__m128i load16(const char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// 0xFF in the lanes of v whose bytes lie in lo..lo+n-1: shifted so that
// range starts at -128, one signed compare tells.
__m128i in_span(__m128i v, unsigned char lo, int n) {
    const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - lo)));
    return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + n)));
}

// 0xFF in the lanes of v that hold a Base64 alphabet character: a letter of
// either case, '/' or a digit (neighbours in ASCII), or '+'.
__m128i b64_lanes(__m128i v) {
    const __m128i letter = in_span(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 26);
    const __m128i digit = in_span(v, '/', 11);
    return _mm_or_si128(_mm_or_si128(letter, digit), _mm_cmpeq_epi8(v, _mm_set1_epi8('+')));
}

// 0xFF where the needle's first byte is at p and its last byte m - 1 later.
__m128i pair_lanes(const char *p, __m128i v, std::size_t m, __m128i first, __m128i last) {
    return _mm_and_si128(_mm_cmpeq_epi8(v, first), _mm_cmpeq_epi8(load16(p + m - 1), last));
}

std::uint64_t bits64(__m128i a, __m128i b, __m128i c, __m128i d) {
    const auto bits = [](__m128i v) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v)));
    };
    return bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
}

#endif

// How many Base64 alphabet characters the element text starting at body
// holds before the first '=' (padding ends the data) or '<' (the end of the
// element); line breaks and other foreign bytes are passed over. A cover is
// a megabyte of such text, so it is counted 64 bytes at a time where the
// machine allows.
std::uint64_t b64_chars(std::string_view body) {
    std::uint64_t chars = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;  // two 64-bit sums
    __m128i lanes = zero;  // per-byte counts, added to total before they can wrap
    int rounds = 0;
#if defined(QEM_FB2_AVX2)
    if (fb2_have_avx2()) i = fb2_b64_blocks_avx2(body.data(), body.size(), &chars);
#endif
    for (; body.size() - i >= 64; i += 64) {
        const char *p = body.data() + i;
        const __m128i v0 = load16(p), v1 = load16(p + 16), v2 = load16(p + 32), v3 = load16(p + 48);
        // The block that holds the padding or the end tag ('<' and '=' are
        // neighbours in ASCII) is counted byte by byte below.
        const __m128i stop = _mm_or_si128(_mm_or_si128(in_span(v0, '<', 2), in_span(v1, '<', 2)),
                                          _mm_or_si128(in_span(v2, '<', 2), in_span(v3, '<', 2)));
        if (_mm_movemask_epi8(stop) != 0) break;
        // A matching lane is -1: subtracting counts it.
        lanes = _mm_sub_epi8(lanes, b64_lanes(v0));
        lanes = _mm_sub_epi8(lanes, b64_lanes(v1));
        lanes = _mm_sub_epi8(lanes, b64_lanes(v2));
        lanes = _mm_sub_epi8(lanes, b64_lanes(v3));
        if (++rounds == 63) {
            total = _mm_add_epi64(total, _mm_sad_epu8(lanes, zero));
            lanes = zero;
            rounds = 0;
        }
    }
    total = _mm_add_epi64(total, _mm_sad_epu8(lanes, zero));
    alignas(16) std::uint64_t sums[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(sums), total);
    chars += sums[0] + sums[1];
#endif
    for (; i < body.size(); ++i) {
        if (body[i] == '=' || body[i] == '<') break;
        chars += eb_b64_value(static_cast<unsigned char>(body[i])) >= 0;
    }
    return chars;
}

// The value of attribute `name` in the start tag text `tag` (no entity
// decoding: ids and media types are plain words); "" when absent.
std::string tag_attr(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos;
         at = tag.find(name, at + 1)) {
        if (at == 0 || !is_space(tag[at - 1])) continue;
        std::size_t k = at + name.size();
        while (k < tag.size() && is_space(tag[k]))
            ++k;
        if (k >= tag.size() || tag[k] != '=') continue;
        ++k;
        while (k < tag.size() && is_space(tag[k]))
            ++k;
        if (k >= tag.size() || (tag[k] != '"' && tag[k] != '\'')) continue;
        const std::size_t close = tag.find(tag[k], k + 1);
        if (close == std::string_view::npos) return "";
        return std::string(tag.substr(k + 1, close - k - 1));
    }
    return "";
}

// Text of the document's declared encoding as UTF-8.
std::string as_utf8(std::string_view raw, const std::string &encoding) {
    std::string out;
    if (encoding.empty() || !eb_decode(raw, encoding, &out, nullptr))
        out = eb_utf8_repair(raw, nullptr);
    return out;
}

std::string sniff_mime(std::string_view b64) {
    unsigned char head[8];
    std::size_t n = 0;
    unsigned acc = 0;
    int bits = 0;
    for (char c : b64) {
        if (c == '=' || c == '<' || n == sizeof head) break;
        const int v = eb_b64_value(static_cast<unsigned char>(c));
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            head[n++] = static_cast<unsigned char>(acc >> bits);
        }
    }
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8) return "image/jpeg";
    if (n >= 4 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G')
        return "image/png";
    if (n >= 4 && head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8')
        return "image/gif";
    return "application/octet-stream";
}

}  // namespace

std::size_t fb2_find(std::string_view hay, std::string_view needle, std::size_t from) {
    const std::size_t m = needle.size();
    if (m < 2 || from > hay.size() || hay.size() - from < m) return hay.find(needle, from);
    std::size_t i = from;
#if defined(__SSE2__)
    // The wide scan passes over the quiet blocks; it is taken up again after
    // every block with a pair that is not the needle (in Base64, one every
    // few kilobytes), not left at the first.
    const auto quiet = [&](std::size_t at) {
#if defined(QEM_FB2_AVX2)
        if (fb2_have_avx2())
            return fb2_quiet_blocks_avx2(hay.data(), hay.size(), at, m + 63, needle[0],
                                         needle[m - 1], m - 1, false);
#endif
        return at;
    };
    // 64 starts at a time: only those where both the first and the last
    // byte of the needle match are compared whole. In Base64 text and prose
    // that pair is rare, so nearly every block is passed over at once.
    const __m128i first = _mm_set1_epi8(needle[0]), last = _mm_set1_epi8(needle[m - 1]);
    for (i = quiet(i); hay.size() - i >= m + 63; i = quiet(i + 64)) {
        const char *p = hay.data() + i;
        const __m128i h0 = pair_lanes(p, load16(p), m, first, last);
        const __m128i h1 = pair_lanes(p + 16, load16(p + 16), m, first, last);
        const __m128i h2 = pair_lanes(p + 32, load16(p + 32), m, first, last);
        const __m128i h3 = pair_lanes(p + 48, load16(p + 48), m, first, last);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0)
            continue;
        for (std::uint64_t hits = bits64(h0, h1, h2, h3); hits != 0; hits &= hits - 1) {
            const int k = std::countr_zero(hits);
            if (std::memcmp(p + k + 1, needle.data() + 1, m - 2) == 0)
                return i + static_cast<std::size_t>(k);
        }
    }
#endif
    return hay.find(needle, i);
}

bool fb2_marked_encrypted(std::string_view doc) {
    // Both markers hold "yp" ("<encrypted" five bytes in, "...Encryption"
    // fifteen), a pair rare in prose and in Base64: one search for it, with
    // each hit checked against both, reads the pictures' megabytes once and
    // stops at a NUL.
    static constexpr std::string_view a = "<encrypted", b = "FictionBookEncryption", core = "yp";
    constexpr std::size_t in_a = 5, in_b = 15;
    const auto marker_at = [&](std::size_t at, std::string_view head) {
        return (at >= in_a && head.substr(at - in_a, a.size()) == a) ||
               (at >= in_b && head.substr(at - in_b, b.size()) == b);
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_set1_epi8(core.front()), last = _mm_set1_epi8(core.back());
    constexpr std::size_t reach = 64 + 16;  // a block, and room to check a marker ending in it
    // Zero in the lanes of v (at p) that hold a NUL or start the pair.
    const auto stops = [&](const char *p, __m128i v) {
        const __m128i pair =
            _mm_or_si128(_mm_xor_si128(v, first), _mm_xor_si128(load16(p + core.size() - 1), last));
        return _mm_min_epu8(pair, v);
    };
    // As in fb2_find, the wide scan is taken up again after each hit.
    const auto quiet = [&](std::size_t at) {
#if defined(QEM_FB2_AVX2)
        if (fb2_have_avx2())
            return fb2_quiet_blocks_avx2(doc.data(), doc.size(), at, reach, core.front(),
                                         core.back(), core.size() - 1, true);
#endif
        return at;
    };
    for (i = quiet(i); doc.size() - i >= reach; i = quiet(i + 64)) {
        const char *p = doc.data() + i;
        const __m128i v0 = load16(p), v1 = load16(p + 16), v2 = load16(p + 32), v3 = load16(p + 48);
        const __m128i s0 = stops(p, v0), s1 = stops(p + 16, v1), s2 = stops(p + 32, v2),
                      s3 = stops(p + 48, v3);
        const __m128i low = _mm_min_epu8(_mm_min_epu8(s0, s1), _mm_min_epu8(s2, s3));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(low, zero)) == 0) continue;
        // Only text before the NUL counts; no marker holds one, so none runs
        // across it.
        const std::uint64_t nuls = bits64(_mm_cmpeq_epi8(v0, zero), _mm_cmpeq_epi8(v1, zero),
                                          _mm_cmpeq_epi8(v2, zero), _mm_cmpeq_epi8(v3, zero));
        const std::size_t end =
            nuls ? i + static_cast<std::size_t>(std::countr_zero(nuls)) : doc.size();
        const std::string_view head = doc.substr(0, end);
        std::uint64_t hits = bits64(_mm_cmpeq_epi8(s0, zero), _mm_cmpeq_epi8(s1, zero),
                                    _mm_cmpeq_epi8(s2, zero), _mm_cmpeq_epi8(s3, zero));
        // Only starts before the first NUL: one past it would lie beyond head.
        if (nuls) hits &= (nuls & (~nuls + 1)) - 1;
        for (; hits != 0; hits &= hits - 1)
            if (marker_at(i + static_cast<std::size_t>(std::countr_zero(hits)), head)) return true;
        if (nuls) return false;
    }
#endif
    // The rest, too short for a block: no NUL lies before i.
    std::string_view head = doc;
    if (const void *nul = std::memchr(doc.data() + i, '\0', doc.size() - i))
        head = doc.substr(0, static_cast<std::size_t>(static_cast<const char *>(nul) - doc.data()));
    for (std::size_t at = head.find(core, i); at != std::string_view::npos;
         at = head.find(core, at + 1))
        if (marker_at(at, head)) return true;
    return false;
}

std::string fb2_trim(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

void fb2_paragraphs::text(std::string_view t) {
    for (char c : t) {
        if (total_ + cur_.size() >= kMaxDescription) return;
        if (is_space(c)) {
            space_ = !cur_.empty();
            continue;
        }
        if (space_) cur_ += ' ';
        space_ = false;
        cur_ += c;
    }
}

void fb2_paragraphs::block_edge(std::string_view name) {
    static constexpr std::string_view blocks[] = {
        "p",    "v",        "subtitle", "text-author", "empty-line", "title", "stanza", "poem",
        "cite", "epigraph", "table",    "tr",          "td",         "th",    "section"};
    for (std::string_view b : blocks)
        if (name == b) return flush();
}

void fb2_paragraphs::flush() {
    space_ = false;
    if (cur_.empty()) return;
    total_ += cur_.size() + 2;
    done_.push_back(std::move(cur_));
    cur_.clear();
}

std::string fb2_paragraphs::finish() {
    flush();
    std::string out;
    for (const auto &p : done_) {
        if (!out.empty()) out += "\n\n";
        out += p;
    }
    done_.clear();
    total_ = 0;
    return out;
}

void fb2_cover(std::string_view doc, const std::string &encoding, const std::string &href,
               eb_record &r, std::size_t from) {
    const std::string id = !href.empty() && href[0] == '#' ? href.substr(1) : href;
    if (id.empty()) return;
    // The binary elements are found in the bytes themselves, which for every
    // encoding but UTF-16 spell their markup in ASCII.
    std::string wide;
    std::string_view text = doc;
    std::string enc = encoding;
    if (enc.rfind("utf-16", 0) == 0) {
        if (!eb_decode(doc, enc, &wide, nullptr)) return;
        text = wide;
        enc.clear();
        from = 0;
    }
    // Each candidate's search for its '>' resumes the scan there, so the
    // scan reads the text once however many candidates it holds.
    for (std::size_t at = fb2_find(text, "binary", from), next = 0; at != std::string_view::npos;
         at = fb2_find(text, "binary", std::max(at + 6, next))) {
        // "<binary" or "<prefix:binary", then the end of the name. The '<'
        // of a prefixed name is looked for only as far back as a prefix
        // may reach, so text full of ":binary" stays linear to read.
        std::size_t lt = at;
        if (at > 0 && text[at - 1] == ':') {
            const std::size_t reach = at > 32 ? at - 32 : 0;
            lt = text.substr(reach, at - reach).rfind('<');
            if (lt == std::string_view::npos) continue;
            lt += reach;
        } else if (at == 0 || text[at - 1] != '<') {
            continue;
        } else {
            lt = at - 1;
        }
        const std::size_t after = at + 6;
        if (after >= text.size() || !(is_space(text[after]) || text[after] == '>')) continue;
        const std::size_t gt = text.find('>', after);
        if (gt == std::string_view::npos) return;
        next = gt;
        const std::string_view tag = text.substr(lt, gt - lt);
        if (as_utf8(tag_attr(tag, "id"), enc) != id) continue;
        if (tag.back() == '/') return;  // an empty element holds no picture
        // The picture's text runs to the next '<'; counting and sniffing
        // both stop there, so its end is not looked for first.
        const std::string_view body = text.substr(gt + 1);
        const std::uint64_t size = b64_chars(body) * 6 / 8;
        if (size == 0) return;
        std::string mime = fb2_trim(as_utf8(tag_attr(tag, "content-type"), enc));
        if (mime.empty()) mime = sniff_mime(body);
        r.cover = eb_cover_info{mime, size, "coverpage"};
        return;
    }
}
