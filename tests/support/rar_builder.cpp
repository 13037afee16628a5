// rar_builder.cpp - stored RAR 4 and RAR 5 archives: block headers, CRCs and RAR 5's vints by hand.
#include "rar_builder.h"

#include <zlib.h>

#include <cstdint>

namespace qtest {

namespace {

std::uint32_t crc32_of(const std::string &bytes) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef *>(bytes.data()), bytes.size()));
}

void le16(std::string &s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void le32(std::string &s, std::uint32_t v) {
    le16(s, v & 0xFFFF);
    le16(s, v >> 16);
}

// Filler standing in for encrypted data or headers: AES works on 16-byte blocks.
std::string filler(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 151 + 7) & 0xFF);
    return s;
}
std::string padded(std::size_t n) {
    return filler((n + 15) / 16 * 16);
}

// ---- RAR 4 -----------------------------------------------------------------

constexpr unsigned kMainSolid = 0x0008, kMainPassword = 0x0080;
constexpr unsigned kFilePassword = 0x0004, kFileSolid = 0x0010, kFileDirectory = 0x00E0,
                   kFileUnicode = 0x0200, kFileSalt = 0x0400, kLongBlock = 0x8000;

// A block: HEAD_CRC (the low 16 bits of the CRC-32 of everything after it),
// HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE, then the type's fields.
std::string block4(unsigned type, unsigned flags, const std::string &fields) {
    std::string body;
    body += static_cast<char>(type);
    le16(body, flags);
    le16(body, static_cast<std::uint32_t>(2 + body.size() + 2 + fields.size()));
    body += fields;
    std::string out;
    le16(out, crc32_of(body) & 0xFFFF);
    return out + body;
}

// UTF-8 to UTF-16 code units (no validation: the tests give valid text).
std::u16string utf16(const std::string &s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n && i + k < s.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// WinRAR's name field for a name beyond ASCII: an ASCII stand-in, a NUL, a
// high byte, then per four characters a flag byte whose 2-bit fields say how
// each is stored; every character here is stored whole (field value 2, low
// byte first).
std::string encoded_name(const std::string &name) {
    std::string ascii;
    for (char c : name)
        ascii += (static_cast<unsigned char>(c) < 0x80) ? c : '_';
    std::string out = ascii + '\0';
    out += '\0';  // high byte, unused by whole characters
    std::u16string units = utf16(name);
    for (std::size_t i = 0; i < units.size(); i += 4) {
        out += static_cast<char>(0xAA);
        for (std::size_t k = i; k < i + 4 && k < units.size(); ++k) {
            out += static_cast<char>(units[k] & 0xFF);
            out += static_cast<char>(units[k] >> 8);
        }
    }
    return out;
}

bool ascii_only(const std::string &s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string rar4(const RarDesc &desc) {
    std::string out("Rar!\x1A\x07\x00", 7);
    unsigned main_flags =
        (desc.solid ? kMainSolid : 0) | (desc.header_encrypted ? kMainPassword : 0);
    out += block4(0x73, main_flags, std::string(6, '\0'));
    if (desc.header_encrypted) return out + filler(8) + padded(200);
    bool first = true;
    for (const RarEntry &e : desc.entries) {
        std::string stored = e.name;
        for (char &c : stored)
            if (c == '/') c = '\\';
        unsigned flags = kLongBlock;
        std::string name = stored;
        if (!ascii_only(stored)) {
            flags |= kFileUnicode;
            if (desc.encoded_unicode) name = encoded_name(stored);
        }
        if (e.directory) flags |= kFileDirectory;
        if (desc.solid && !first) flags |= kFileSolid;
        if (e.encrypted) flags |= kFilePassword | kFileSalt;
        const std::string data = e.directory   ? std::string()
                                 : e.encrypted ? padded(e.data.size())
                                               : e.data;
        std::string f;
        le32(f, static_cast<std::uint32_t>(data.size()));    // PACK_SIZE
        le32(f, static_cast<std::uint32_t>(e.data.size()));  // UNP_SIZE
        f += '\x02';                                         // HOST_OS: Win32
        le32(f, e.directory ? 0 : crc32_of(e.data));         // FILE_CRC
        le32(f, 0x50210000);                                 // FTIME: 2020-01-01 (DOS)
        f += static_cast<char>(29);                          // UNP_VER 2.9
        f += '\x30';                                         // METHOD: store
        le16(f, static_cast<std::uint32_t>(name.size()));    // NAME_SIZE
        le32(f, e.directory ? 0x10 : 0x20);                  // ATTR
        f += name;
        if (e.encrypted) f += filler(8);  // SALT
        out += block4(0x74, flags, f) + data;
        first = false;
    }
    return out + block4(0x7B, 0x4000, "");
}

// ---- RAR 5 -----------------------------------------------------------------

void vint(std::string &s, std::uint64_t v) {
    do {
        unsigned char b = v & 0x7F;
        v >>= 7;
        if (v) b |= 0x80;
        s += static_cast<char>(b);
    } while (v);
}

constexpr unsigned kHasExtra = 0x0001, kHasData = 0x0002;

// A header: CRC-32 of what follows it, the size of the rest as a vint, then
// the type, the flags and the type's fields (extra area included).
std::string header5(unsigned type, unsigned flags, const std::string &fields) {
    std::string rest;
    vint(rest, type);
    vint(rest, flags);
    rest += fields;
    std::string sized;
    vint(sized, rest.size());
    sized += rest;
    std::string out;
    le32(out, crc32_of(sized));
    return out + sized;
}

// The file encryption record of the extra area: AES-256, a password check
// value present.
std::string crypt_record() {
    std::string rec;
    vint(rec, 0x01);  // type: encryption
    vint(rec, 0);     // version: AES-256
    vint(rec, 0x0001);
    rec += static_cast<char>(15);                 // KDF count (log2)
    rec += filler(16) + filler(16) + filler(12);  // salt, IV, check value
    std::string out;
    vint(out, rec.size());
    return out + rec;
}

std::string rar5(const RarDesc &desc) {
    std::string out("Rar!\x1A\x07\x01\x00", 8);
    if (desc.header_encrypted) {
        std::string f;
        vint(f, 0);       // encryption version
        vint(f, 0x0001);  // password check present
        f += static_cast<char>(15);
        f += filler(16) + filler(12);
        return out + header5(4, 0, f) + padded(200);
    }
    std::string main;
    vint(main, desc.solid ? 0x0004 : 0);
    out += header5(1, 0, main);
    for (const RarEntry &e : desc.entries) {
        const std::string data = e.directory   ? std::string()
                                 : e.encrypted ? padded(e.data.size())
                                               : e.data;
        const std::string extra = e.encrypted ? crypt_record() : std::string();
        // WinRAR gives every file header a data area, an empty one included.
        std::string f;
        unsigned flags = kHasData;
        if (!extra.empty()) {
            flags |= kHasExtra;
            vint(f, extra.size());
        }
        vint(f, data.size());
        vint(f, e.directory      ? 0x0001
                : e.size_unknown ? 0x000C
                                 : 0x0004);  // directory, CRC-32, size unknown
        vint(f, e.directory || e.size_unknown ? 0 : e.data.size());
        vint(f, e.directory ? 040755 : 0100644);
        if (!e.directory) le32(f, crc32_of(e.data));
        vint(f, 0);  // store: version 0, method 0, and no solid bit (only packed data has one)
        vint(f, 1);  // host OS: Unix
        vint(f, e.name.size());
        f += e.name + extra;
        out += header5(2, flags, f) + data;
    }
    std::string end;
    vint(end, 0);
    return out + header5(5, 0, end);
}

}  // namespace

std::string build_rar(const RarDesc &desc) {
    return desc.version == 4 ? rar4(desc) : rar5(desc);
}

}  // namespace qtest
