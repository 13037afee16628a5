// hidden_chars.h - characters that reorder or hide text, and whether a text shows anything at all.
#ifndef QUENFOLD_TEXT_HIDDEN_CHARS_H
#define QUENFOLD_TEXT_HIDDEN_CHARS_H

// Header-only: the command-line tool uses the same rules for what it prints.

#include <utf8proc.h>

#include <cstddef>
#include <string_view>

// Bidirectional controls: embeddings and overrides (U+202A-202E), isolates
// (U+2066-2069) and the marks (U+200E, U+200F, U+061C). "Harmless\u202Etxt.exe"
// is shown as "Harmlessexe.txt".
inline bool eb_bidi_control(char32_t cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F || cp == 0x061C;
}

// The line and paragraph separators U+2028 and U+2029.
inline bool eb_unicode_line_break(char32_t cp) {
    return cp == 0x2028 || cp == 0x2029;
}

// Characters of no width: U+200B-200D, the word joiner U+2060 and U+FEFF.
inline bool eb_zero_width(char32_t cp) {
    return (cp >= 0x200B && cp <= 0x200D) || cp == 0x2060 || cp == 0xFEFF;
}

// The valid UTF-8 character at the start of s (not empty): its length, and
// the code point in *cp; 0 when s does not start with one.
inline std::size_t eb_utf8_char(std::string_view s, char32_t *cp) {
    utf8proc_int32_t c = 0;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(s.data()),
                                    static_cast<utf8proc_ssize_t>(s.size() < 4 ? s.size() : 4), &c);
    if (n <= 0) return 0;
    *cp = static_cast<char32_t>(c);
    return static_cast<std::size_t>(n);
}

// True when the text shows something: a character other than a space or
// separator, a control or format character, or a default-ignorable one (such
// as the Hangul fillers). Bytes that are not UTF-8 count as shown.
inline bool eb_text_visible(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {  // ASCII: all but blanks and controls show
            if (b > 0x20 && b != 0x7F) return true;
            ++i;
            continue;
        }
        char32_t cp = 0;
        std::size_t n = eb_utf8_char(s.substr(i), &cp);
        if (n == 0) return true;
        const utf8proc_property_t *p = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp));
        switch (p->category) {
            case UTF8PROC_CATEGORY_ZS:
            case UTF8PROC_CATEGORY_ZL:
            case UTF8PROC_CATEGORY_ZP:
            case UTF8PROC_CATEGORY_CC:
            case UTF8PROC_CATEGORY_CF:
                break;
            default:
                if (!p->ignorable) return true;
        }
        i += n;
    }
    return false;
}

#endif  // QUENFOLD_TEXT_HIDDEN_CHARS_H
