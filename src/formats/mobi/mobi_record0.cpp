// mobi_record0.cpp - record 0 of a Mobipocket book taken apart and rebuilt: the EXTH records of the
// changed fields replaced, the full name, the lengths and the padding set; every other byte kept.
#include "formats/mobi/mobi_record0.h"

#include <iconv.h>

#include <cerrno>
#include <optional>

#include "error.h"
#include "text/markup_write.h"

namespace {

constexpr std::uint64_t kExthFlagAt = 128;  // the EXTH flag (0x40) in the MOBI header
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

std::uint32_t u32(std::string_view b, std::uint64_t at) {
    if (at + 4 > b.size()) return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(b.data() + at);
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void put_u32(std::string &b, std::uint64_t at, std::uint32_t v) {
    b[at] = static_cast<char>(v >> 24);
    b[at + 1] = static_cast<char>(v >> 16);
    b[at + 2] = static_cast<char>(v >> 8);
    b[at + 3] = static_cast<char>(v);
}

std::string be32(std::uint32_t v) {
    std::string s(4, '\0');
    put_u32(s, 0, v);
    return s;
}

std::uint64_t pad4(std::uint64_t n) {
    return (4 - n % 4) % 4;
}

// The UTF-8 sequence at s[i]: its length and code point (1 and the byte when
// it is no sequence; the engine hands over valid UTF-8 only).
std::size_t utf8_at(std::string_view s, std::size_t i, std::uint32_t *cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c < 0xC0 || i + n > s.size()) {
        *cp = c;
        return 1;
    }
    std::uint32_t v = c & (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k)
        v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    *cp = v;
    return n;
}

// UTF-8 text as windows-1252; a character it lacks becomes a character
// reference when refs is set, else fails the text.
std::optional<std::string> to_cp1252(std::string_view s, bool refs) {
    iconv_t cd = iconv_open("WINDOWS-1252", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::size_t i = 0;
    bool ok = true;
    while (ok && i < s.size()) {
        char buf[256];
        char *in = const_cast<char *>(s.data() + i), *o = buf;
        std::size_t in_left = s.size() - i, out_left = sizeof buf;
        const std::size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
        out.append(buf, static_cast<std::size_t>(o - buf));
        i = static_cast<std::size_t>(in - s.data());
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        std::uint32_t cp = 0;
        i += utf8_at(s, i, &cp);
        if (refs)
            out += "&#" + std::to_string(cp) + ";";
        else
            ok = false;
    }
    iconv_close(cd);
    return ok ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

// The writing of texts in the record's encoding.
class encoder {
  public:
    explicit encoder(std::uint32_t codepage) : cp1252_(codepage == 1252) {}
    // False with the error text naming the field when a character has no
    // place in the encoding.
    bool operator()(const char *field, std::string_view text, std::string *out,
                    bool markup = false) const {
        if (!cp1252_) {
            *out = std::string(text);
            return true;
        }
        std::optional<std::string> b = to_cp1252(text, markup);
        if (!b) {
            eb_set_error(
                "%s: a character has no place in the book's text encoding "
                "(windows-1252)",
                field);
            return false;
        }
        *out = std::move(*b);
        return true;
    }

  private:
    bool cp1252_;
};

// One field's EXTH records: the types it replaces and what replaces them.
struct group {
    std::vector<std::uint32_t> types;
    std::vector<std::string> values;
    bool done = false;
};

bool add_text(std::vector<group> &groups, std::uint32_t type, const char *field,
              const eb_field_change<std::string> &c, const encoder &enc, bool markup = false) {
    if (!c.given) return true;
    group g{{type}, {}, false};
    if (c.sets() && !c.value->empty()) {
        std::string b;
        if (!enc(field, markup ? eb_text_to_markup(*c.value) : *c.value, &b, markup)) return false;
        g.values.push_back(std::move(b));
    }
    groups.push_back(std::move(g));
    return true;
}

bool add_list(std::vector<group> &groups, std::uint32_t type, const char *field,
              const std::vector<std::string> &values, const encoder &enc) {
    group g{{type}, {}, false};
    for (const std::string &v : values) {
        if (v.empty()) continue;
        std::string b;
        if (!enc(field, v, &b)) return false;
        g.values.push_back(std::move(b));
    }
    groups.push_back(std::move(g));
    return true;
}

// The groups of every field the request changes, each record text encoded.
bool changed_groups(const eb_changes &c, std::uint32_t codepage, std::vector<group> &groups) {
    const encoder enc(codepage);
    for (const auto &[given, name] : {std::pair{c.subtitle.given, "subtitle"},
                                      {c.contributors.given, "contributors"},
                                      {c.series.given, "series"},
                                      {c.identifiers.given, "identifiers"}})
        if (given) {
            eb_set_error("%s: not stored by MOBI books", name);
            return false;
        }
    if (c.title.clears() || (c.title.sets() && c.title.value->empty())) {
        eb_set_error(
            "title: a MOBI book always has one (its database name stands in); "
            "it cannot be removed");
        return false;
    }
    if (!add_text(groups, 503, "title", c.title, enc) ||
        !add_text(groups, 508, "title_sort", c.title_sort, enc) ||
        !add_text(groups, 101, "publisher", c.publisher, enc) ||
        !add_text(groups, 103, "description", c.description, enc, true) ||
        !add_text(groups, 104, "isbn", c.isbn, enc) ||
        !add_text(groups, 106, "published", c.published, enc) ||
        !add_text(groups, 109, "rights", c.rights, enc))
        return false;
    if (c.authors.given) {
        std::vector<std::string> names;
        if (c.authors.sets())
            for (const eb_person &p : *c.authors.value)
                names.push_back(p.name);
        if (!add_list(groups, 100, "authors", names, enc)) return false;
    }
    if (c.subjects.given &&
        !add_list(groups, 105, "subjects",
                  c.subjects.sets() ? *c.subjects.value : std::vector<std::string>{}, enc))
        return false;
    if (c.languages.given &&
        !add_list(groups, 524, "languages",
                  c.languages.sets() ? *c.languages.value : std::vector<std::string>{}, enc))
        return false;
    // A removed cover: the image record stays (the text may show it), the
    // offsets naming it as cover and thumbnail go.
    if (c.cover.clears()) groups.push_back({{201, 202}, {}, false});
    return true;
}

void emit(group &g, std::string &recs, std::uint32_t &count) {
    g.done = true;
    const std::uint32_t type = g.types[0];
    for (const std::string &v : g.values) {
        recs += be32(type) + be32(static_cast<std::uint32_t>(8 + v.size())) + v;
        ++count;
    }
}

}  // namespace

std::uint32_t eb_mobi_record0::exth_u32(std::uint32_t type) const {
    for (const eb_mobi_exth &e : exth)
        if (e.type == type && e.data.size() >= 4) return u32(e.data, 0);
    return kNone;
}

std::uint32_t eb_mobi_record0::first_image() const {
    return u32(bytes, 108) & 0xFFFFu;
}

bool eb_mobi_parse_record0(std::string bytes, eb_mobi_record0 &out) {
    const std::string_view b = bytes;
    if (b.size() < 16) {
        eb_set_error("MOBI record 0 too small; write refused, nothing changed");
        return false;
    }
    if (b[12] != 0 || b[13] != 0) {
        eb_set_error("will not modify a DRM-protected book");
        return false;
    }
    if (b.size() < 24 || b.substr(16, 4) != "MOBI") {
        eb_set_error("no MOBI header (PalmDOC only); write refused, nothing changed");
        return false;
    }
    const std::uint64_t hlen = u32(b, 20);
    if (hlen < kExthFlagAt + 4 - 16 || 16 + hlen > b.size()) {
        eb_set_error(
            "MOBI header too short for metadata, or past its record; write refused, "
            "nothing changed");
        return false;
    }
    out.codepage = u32(b, 28);
    out.exth_at = out.rest_at = 16 + hlen;
    out.name_off = u32(b, 84);
    out.name_len = u32(b, 88);
    out.has_exth = (u32(b, kExthFlagAt) & 0x40u) && b.substr(out.exth_at, 4) == "EXTH";
    if (out.has_exth) {
        const std::uint64_t len = u32(b, out.exth_at + 4), count = u32(b, out.exth_at + 8);
        const std::uint64_t end = out.exth_at + len;
        bool ok = len >= 12 && end <= b.size();
        std::uint64_t w = out.exth_at + 12;
        for (std::uint64_t i = 0; ok && i < count; ++i) {
            const std::uint64_t rlen = w + 8 <= end ? u32(b, w + 4) : 0;
            ok = rlen >= 8 && rlen <= end - w;
            if (ok) out.exth.push_back({u32(b, w), std::string(b.substr(w + 8, rlen - 8))});
            w += rlen;
        }
        if (!ok) {
            eb_set_error("MOBI EXTH block is damaged; write refused, nothing changed");
            return false;
        }
        // The block's padding (NUL bytes up to a multiple of four) belongs
        // to it, unless the full name starts inside it.
        std::uint64_t rest = end, limit = end + pad4(end);
        if (out.name_off >= end && out.name_off < limit) limit = out.name_off;
        while (rest < limit && rest < b.size() && b[rest] == '\0')
            ++rest;
        out.rest_at = rest;
    }
    out.bytes = std::move(bytes);
    return true;
}

bool eb_mobi_rebuild_record0(const eb_mobi_record0 &r0, const eb_changes &changes,
                             std::string *out) {
    std::vector<group> groups;
    if (!changed_groups(changes, r0.codepage, groups)) return false;

    std::string recs;
    std::uint32_t count = 0;
    for (const eb_mobi_exth &e : r0.exth) {
        group *owner = nullptr;
        for (group &g : groups)
            for (std::uint32_t t : g.types)
                if (t == e.type) owner = &g;
        if (!owner) {
            recs += be32(e.type) + be32(static_cast<std::uint32_t>(8 + e.data.size())) + e.data;
            ++count;
        } else if (!owner->done) {
            emit(*owner, recs, count);
        }
    }
    for (group &g : groups)
        if (!g.done) emit(g, recs, count);

    const std::string_view b = r0.bytes;
    std::string head(b.substr(0, r0.exth_at));
    std::string exth;
    if (r0.has_exth || count > 0) {
        put_u32(head, kExthFlagAt, u32(head, kExthFlagAt) | 0x40u);
        exth = "EXTH" + be32(static_cast<std::uint32_t>(12 + recs.size())) + be32(count) + recs;
        exth.append(pad4(exth.size()), '\0');
    }
    std::string rest(b.substr(r0.rest_at));
    const std::uint64_t new_rest_at = head.size() + exth.size();

    // The full name: replaced where it lay after the block (with its NUL
    // terminator and padding), else written at the start of what follows it.
    // A name that lay inside the old block moves with its bytes.
    const bool inside = r0.name_len <= b.size() && r0.name_off <= b.size() - r0.name_len;
    const bool in_rest = inside && r0.name_off >= r0.rest_at;
    std::uint64_t name_off = in_rest ? new_rest_at + (r0.name_off - r0.rest_at) : r0.name_off;
    std::uint64_t name_len = r0.name_len;
    std::optional<std::string> name;
    if (changes.title.sets()) {
        name.emplace();
        if (!encoder(r0.codepage)("title", *changes.title.value, &*name)) return false;
    } else if (inside && r0.name_len > 0 && !in_rest && r0.name_off + r0.name_len > r0.exth_at) {
        name = std::string(b.substr(r0.name_off, r0.name_len));
    }
    if (name) {
        const std::uint64_t at = in_rest ? r0.name_off - r0.rest_at : 0;
        const std::uint64_t old_end = in_rest ? at + r0.name_len : 0;
        const std::uint64_t old_pad = in_rest ? 2 + pad4(r0.name_off + r0.name_len + 2) : 0;
        std::uint64_t zeros = 0;
        while (zeros < old_pad && old_end + zeros < rest.size() && rest[old_end + zeros] == '\0')
            ++zeros;
        name_len = name->size();
        name_off = new_rest_at + at;
        name->append(2 + pad4(name_off + name_len + 2), '\0');
        rest.replace(at, old_end + zeros - at, *name);
    }
    if (name_off > kNone || name_len > kNone) {
        eb_set_error("MOBI record 0 would outgrow its offsets; write refused, nothing changed");
        return false;
    }
    put_u32(head, 84, static_cast<std::uint32_t>(name_off));
    put_u32(head, 88, static_cast<std::uint32_t>(name_len));
    *out = head + exth + rest;
    return true;
}
