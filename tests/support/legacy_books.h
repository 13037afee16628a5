// legacy_books.h - books as older and font-embedding producers write them: FictionBook in
// windows-1251, EPUB with obfuscated fonts; for the command-line tests and the samples.
#ifndef QEM_TEST_LEGACY_BOOKS_H
#define QEM_TEST_LEGACY_BOOKS_H

#include <string>

#include "fb2_builder.h"
#include "zip_builder.h"

namespace qtest {

// UTF-8 text recoded to windows-1251 (glibc's iconv); throws when a
// character has no place in that code page.
std::string to_windows_1251(const std::string &utf8);

// The FictionBook of desc, with every text written in windows-1251 and the
// XML declaration saying so. desc's texts are given in UTF-8.
std::string build_fb2_windows_1251(Fb2Desc desc);

// The EPUB of desc with one embedded font, obfuscated by the IDPF algorithm:
// META-INF/encryption.xml lists that font alone, which is no protection of
// the book.
std::string build_epub_obfuscated_font(EpubDesc desc);

}  // namespace qtest

#endif
