/*
 * quenfold_ebook.h - public C interface of quenfold-ebook-meta.
 *
 * Reads the metadata of e-books without rendering or decrypting them: EPUB,
 * FictionBook 2, the Mobipocket family (MOBI, AZW, AZW3) and PalmDOC, and in
 * the full record also PDF and comic archives (CBZ, CBR, CB7, CBT), and
 * writes metadata into books in place (ebook_write_metadata). Twelve
 * functions, NUL-terminated byte strings in, compact JSON text out.
 *
 * Versions: QUENFOLD_EBOOK_VERSION_MAJOR, _MINOR, _PATCH and _STRING
 * (quenfold_ebook_version.h) give the version of this header,
 * ebook_version() that of the library loaded. A newer minor version only
 * adds functions; each function is exported under the version node of the
 * release that added it (QUENFOLD_EBOOK_0.1 for the first nine,
 * QUENFOLD_EBOOK_0.2 for ebook_formats, ebook_version and
 * ebook_write_metadata), so a host can
 * test for one with dlsym or a weak reference.
 *
 * Common rules
 * - The operations (ebook_info, ebook_extract_cover, ebook_scan_dir,
 *   ebook_rename_plan, ebook_metadata, ebook_metadata_from_memory,
 *   ebook_metadata_from_reader, ebook_write_metadata) first
 *   empty the calling thread's error text, then test their arguments. A
 *   NULL result (or -1) means failure and the error text says why; a
 *   non-NULL result (or 0) means success. After a success the
 *   error text may still hold a notice (a DRM-protected book, a partly
 *   understood one): judge success by the result, never by the text.
 * - Every string returned by ebook_info, ebook_scan_dir, ebook_rename_plan,
 *   ebook_metadata, ebook_metadata_from_memory, ebook_metadata_from_reader,
 *   ebook_formats and ebook_write_metadata is a heap block owned by the
 *   caller; release it with ebook_free_string and nothing else.
 *   ebook_version's is the library's own.
 * - Thread safety: any number of threads may call any function at once.
 *   Each thread has its own error text; the library keeps no other state,
 *   starts no threads and takes no locks, but for one: the first PDF or
 *   RAR, 7z or tar comic of the process opens the module that reads them
 *   (libquenfold-ebook-meta-pdf-comics.so.<version>, beside this library),
 *   once, while other threads that need it wait; it is never closed. A
 *   write holds an flock on the book it writes (see ebook_write_metadata).
 * - Paths are passed to the system unchanged (no change of encoding).
 */
#ifndef QUENFOLD_EBOOK_H
#define QUENFOLD_EBOOK_H

#include <stddef.h>

#include "quenfold_ebook_version.h"

#if defined(_WIN32)
#if defined(QUENFOLD_EBOOK_BUILD)
#define QUENFOLD_EBOOK_API __declspec(dllexport)
#else
#define QUENFOLD_EBOOK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUENFOLD_EBOOK_API __attribute__((visibility("default")))
#else
#define QUENFOLD_EBOOK_API
#endif

#if defined(__cplusplus) && __cplusplus >= 201103L
#define QUENFOLD_EBOOK_NOEXCEPT noexcept
#else
#define QUENFOLD_EBOOK_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Describes one book as a JSON object:
 *   {"drm":false,"format":"epub","title":"...","author":"...","language":"...",
 *    "series":"...","series_index":"...","has_cover":true[,"asin":"..."]}
 * path: the book file (NULL fails with "NULL path"). The reader is chosen by
 * extension (epub, fb2, mobi, azw, azw3, any letter case), else by content.
 * A Palm database is a book only of the kind "BOOKMOBI" or "TEXtREAd" (type
 * and creator): others fail with "unsupported ebook format" under any name.
 * Result: a heap string to release with ebook_free_string, or NULL on failure.
 * A DRM-protected book is still described ("drm" true) and the error text
 * keeps the notice ending in "; will not decrypt".
 * Memory of one call, whatever the book claims: an EPUB is read by ranges
 * (the end of the archive with its directory, then the members it needs):
 * META-INF/container.xml and the package document, each at most 16 MiB
 * inflated (a larger one fails like a missing member), with working memory
 * of the same order; a MOBI by ranges of its first records; an FB2 whole (at
 * most 512 MiB, else "file too large: ..."), into a block the thread keeps
 * for its next book; and the texts taken from it. Time is linear in these
 * sizes, however the markup is nested. PDFs and comic archives are read by
 * ebook_metadata only.
 */
QUENFOLD_EBOOK_API char *ebook_info(const char *path) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * Writes the cover image of the book at path to out_path, byte for byte as
 * the book holds it (no conversion). out_path is created or truncated.
 * Result: 0 on success; -1 on failure ("NULL argument", "no cover image found",
 * a DRM-protected book, a write failure...). Nothing is written when the book
 * has no cover. An out_path that is the book itself (the same file, also
 * through a link) is refused with "cover path is the book itself: ..." and
 * the book is never truncated.
 * Memory: that of ebook_info, plus the cover: for EPUB its member, at most
 * 512 MiB inflated; for FB2 its decoded image, at most 3/4 of its Base64
 * text; for MOBI a copy of its image record, at most the file's size.
 * Comic archives (by extension .cbz .cbr .cb7 .cbt, or by content under
 * another name, as for ebook_metadata) give the page their full record names
 * as the cover, at most 512 MiB, read within the bounds stated there; an
 * encrypted page fails with "cover image is encrypted: ...; will not decrypt".
 */
QUENFOLD_EBOOK_API int ebook_extract_cover(const char *path,
                                           const char *out_path) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * Describes every book file (by extension) directly inside dir, not recursing
 * and skipping names that begin with '.'. Result: a JSON array, one element
 * per book: "path" followed by the members of ebook_info's object, or "path"
 * and "error" for a book that could not be described.
 * Release it with ebook_free_string. NULL on failure ("NULL dir", "cannot open
 * dir: ..."). Element order is the directory's enumeration order.
 */
QUENFOLD_EBOOK_API char *ebook_scan_dir(const char *dir) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * Proposes new file names. files_json: a JSON array whose elements are book
 * paths (strings, read from disk) or objects describing a book ("path",
 * "author", "series", "series_index" or "idx", "title", "ext"). pattern: a
 * name pattern with the placeholders {author} {title} {series} {idx}
 * {series_index}; NULL or "" means "{author} - {series} #{idx} - {title}".
 * Result: a JSON array of {"from","to","to_name","rename":false}, clashing
 * names (equal byte for byte, or once normalised to NFC) numbered "X (2)",
 * "X (3)"; release it with ebook_free_string. Nothing is renamed. In names,
 * control characters (C0, DEL, C1) and '"' '*' '/' ':' '<' '>' '?' '\' '|'
 * become '_'; bidi controls, U+2028/2029 and zero-width characters are
 * removed; a field that shows nothing counts as absent. An extension (from
 * "ext" or from the path) is kept only when it is a full stop followed by
 * bytes a name may hold: one with '/', '\', a control byte or another
 * character the names avoid leaves the book without extension, so "to_name"
 * never holds a path separator. NULL on failure
 * ("NULL files_json", "invalid files_json", ...).
 */
QUENFOLD_EBOOK_API char *ebook_rename_plan(const char *files_json,
                                           const char *pattern) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * The full record of one book: everything it states, as one JSON object that
 * is always valid UTF-8 (texts decoded from the book's declared encoding;
 * bytes that do not decode become U+FFFD and add a warning). Every key is
 * always present, in this order:
 *   format ("epub" "fb2" "mobi" "azw3" "palmdoc" "cbz" "cbr" "cb7" "cbt" "pdf"),
 *   container ("fb2.zip"|null),
 *   version (string|null), title, title_sort, subtitle,
 *   authors and contributors ([{"name","sort","role"}], MARC relator roles),
 *   language, languages ([]), series ([{"name","index"}], primary first),
 *   identifiers ([{"scheme","value"}]), isbn (13 digits|null), asin (|null),
 *   publisher, published, modified, rights, description (plain text),
 *   subjects ([]), pages (integer|null), cover ({"mime","size","from"}|null),
 *   drm (bool), drm_scheme ("adobe-adept" "readium-lcp" "apple-fairplay"
 *   "mobipocket" "fb2-encrypted" "archive-password" "pdf-password"
 *   "unknown"|null), obfuscated_fonts (bool),
 *   encoding (the declared text encoding when not UTF-8|null), warnings ([]).
 * Absent texts are "", absent lists []. Texts other than "rights" and
 * "description" are one line: a run of spaces, tabs and line breaks in the
 * book's markup is one space, and none is kept at either end.
 * docs/metadata.schema.json is the JSON Schema of the object.
 * path: the book file (NULL fails with "NULL path"). The reader is chosen by
 * extension (epub; fb2; fb2.zip and fbz, a ZIP holding one FB2 document;
 * mobi, azw, azw3, prc, pdb; cbz, cbr, cb7, cbt; pdf; any letter case), else
 * by content. A file named .zip (not .fb2.zip) is no book and fails with
 * "unsupported ebook format", as does a Palm database of another kind than
 * "BOOKMOBI" or "TEXtREAd".
 * A DRM-protected book succeeds: its metadata is not encrypted and is read,
 * nothing is decrypted, and "drm" and "drm_scheme" say what protects it.
 * Font obfuscation alone is no protection ("obfuscated_fonts" true). A PDF
 * that needs a password to open is the exception: only its protection is
 * given, as nothing of it can be read without decrypting.
 * Result: a heap string to release with ebook_free_string, or NULL when the
 * file cannot be read as a book at all (the error text says why). After a
 * success the error text is empty; soft notices are in "warnings".
 * Bounds, whatever the book holds: each list keeps the first of equal
 * entries; every text is cut at 65,536 bytes (on a character boundary);
 * markup nested more than 1,024 deep ends the reading of its document. The
 * time of a call is linear in what it reads, broken documents included, and
 * its peak memory is at most 4 times the markup it reads (a package
 * document, at most 16 MiB inflated; a FictionBook's text) plus 16 MiB, plus
 * 320 bytes for each entry of the record's lists (authors, subjects,
 * identifiers...), which the JSON returned holds anyway.
 * Reads: an EPUB costs 2 read requests in the common case: its last 64 KiB
 * + 22 bytes (the end of the archive and, in most books, its whole
 * directory), then one range for the container and package documents and
 * the protection lists when they lie within 64 KiB of one another; a book
 * of at most 64 KiB + 22 bytes is read in one. A directory that starts
 * before those last bytes, and a package document far from the container
 * or not named *.opf, cost one request more each. The pictures are never
 * read. A MOBI costs a few ranges of its first records, an FB2 one read of
 * the whole file.
 * Bounds for a PDF, whatever it claims: qpdf reads it, and nothing it
 * inflates on its own goes unchecked. Every cross-reference stream is
 * decoded first, at most 16 MiB each and 64 MiB in all; past that, or
 * listing more objects than the file has bytes, the call fails with "not a
 * valid PDF: cross-reference stream ...". Nothing is read from an object
 * stream while the file is opened (an object needed then that lies in one
 * reads as null, with a warning). Each object stream the record needs,
 * directly or through a stream's /Length or filters, is decoded first, at
 * most 16 MiB each and 64 MiB in all; past that its objects read as missing,
 * with a warning. The XMP packet is read up to 4 MiB. A file whose
 * cross-reference data is unusable is rebuilt by one scan of it; the
 * rebuild's search for a trailer parses at most 1 MiB in all, beyond which
 * the call fails with "PDF is damaged beyond repair".
 * Thread-safe like every export; each call reads the book on its own.
 *
 * PDF: by the .pdf extension, or under another name by "%PDF-" within its
 * first 1,024 bytes. What is read: the header, the trailer, the catalog with
 * its /Lang, the page tree root ("pages"), the Info dictionary and the XMP
 * stream, never the pages' content. Two paths, one record: whichever reads
 * a file, its record is the same.
 *   Read lazily, the common case: an unencrypted file whose cross-reference
 *   data (classic tables, streams or both, through any updates) and the
 *   objects the record needs are written as readers expect: startxref in
 *   the last 1,024 bytes, each section and object where the data says,
 *   /Size one past the highest object listed, streams unfiltered or in
 *   FlateDecode, objects in the plain syntax (no comments, no key twice,
 *   no # in a name). Only those objects are read: an entry of a classic
 *   table found by arithmetic (20 bytes each), of a cross-reference stream
 *   in place among its rows (inflated once), an object in an object stream
 *   by inflating that stream alone. Its time hardly grows with the page
 *   count (a flat page tree's list of pages is read through, a
 *   cross-reference stream inflated) and its memory holds what it reads: a
 *   table of all the file's objects is never built. It leaves to qpdf
 *   anything past its own bounds: 32 sections, 1,000 subsections, rows of
 *   32 MiB, 64 objects of 4 MiB each, object streams of 16 MiB together.
 *   Read whole by libqpdf, every other file: encrypted, damaged, written
 *   oddly, or stating a page count above 1,000 that its newest
 *   cross-reference section does not list as many objects in use for.
 *   libqpdf reads it through the library from the ranges it asks for: a
 *   miss reads a block of at least 4 KiB; blocks read in sequence double up
 *   to 128 KiB, so a call costs a few reads whatever the file's size. A
 *   file whose cross-reference data is damaged is repaired by one scan of
 *   the whole file.
 * XMP wins over the Info dictionary field by field, unless the Info
 * dictionary was changed later.
 * Bounds, whatever a PDF claims: the XMP stream is decoded up to 4 MiB (the
 * rest is not read, with a warning); an object stream holding an object
 * the reader asks for is decoded up to 16 MiB, all of them together up to
 * 64 MiB, past which its objects read as missing, with a warning. An
 * encrypted PDF that opens with the empty password is read; one that needs
 * a password or another security handler gives "drm" true, its
 * "drm_scheme" ("pdf-password", "adobe-adept", "unknown") and nothing else.
 *
 * Comic archives: .cbz, .cbr, .cb7 and .cbt by extension, the content
 * deciding the archive kind that "format" names (with a warning when the
 * extension says another); under any other name (not .zip) a RAR, 7z or tar
 * archive, or a ZIP without an EPUB container, that holds a ComicInfo.xml.
 * ComicInfo.xml (the root one, else the first one folder down), then
 * ComicBookInfo (the ZIP comment), then comet.xml each fill only what those
 * before left empty. "pages" is ComicInfo's PageCount when above 0, else the
 * number of image members; "cover" the FrontCover page, else CoMet's
 * coverImage, else the first image in natural order ("from" says which:
 * "front-cover", "comet-cover-image", "first-image"). Encrypted members or
 * headers give "drm" true, "drm_scheme" "archive-password" and what can be
 * read without the password, which is never guessed.
 * Bounds, whatever an archive claims: ComicInfo.xml and comet.xml at most
 * 4 MiB each (a larger one fails the call with "zip member too large: ...");
 * at most 1,000,000 members listed; images are never read for the record.
 *   ZIP (cbz): the central directory, then only the documents, inflated.
 *   RAR 5: one read per member header, data stepped over; a solid archive
 *     decompresses every member before a document it reads: at most 64 MiB
 *     per call, beyond which the document is left unread with a warning (a
 *     member that states no size counts by what it decompresses to;
 *     libarchive 3.6 refuses such a member, and the documents after it).
 *   RAR 4: the same, one read per block header; in a solid RAR 4 libarchive
 *     reaches only the first member, so a document after it is left unread
 *     with a warning ("... cannot be read"), while pages and cover are known.
 *   7z: the directory at the archive's end, its counts read before anything
 *     is made of them (decoded with LZMA, LZMA2 or Deflate when packed): a
 *     directory declaring more than 1,000,000 files (or streams, folders),
 *     decoding past 64 MiB, or packed by another method is not listed, and
 *     the call fails with "not a comic archive: %s (archive listing stopped
 *     after 0 entries: ...)"; a member's data lies behind all before it, so
 *     reading one counts them against the same 64 MiB.
 *   tar: headers listed, data skipped.
 */
QUENFOLD_EBOOK_API char *ebook_metadata(const char *path) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * The full record (as ebook_metadata) of a book the host already holds in
 * memory: len bytes at data, which are only read, never kept or changed, and
 * must stay valid during the call. name (may be NULL) only chooses the reader
 * by its extension as for files ("upload.fb2.zip", "x.prc"); without it, or
 * when it names no reader, the content decides. It is never opened. data NULL
 * fails with "NULL data". Result and release as for ebook_metadata.
 */
QUENFOLD_EBOOK_API char *ebook_metadata_from_memory(const void *data, size_t len,
                                                    const char *name) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * A host's reader of one book (a file behind HTTP, an object in a store, a
 * member of another archive): copies up to len bytes of the book, starting
 * at offset, into buf, and returns how many it copied (0 only at the end of
 * the book), or -1 on failure. It must write nothing beyond buf[len - 1] and
 * must not throw or jump out of the call. ctx is the host's own pointer,
 * handed back unchanged.
 */
typedef long long (*ebook_read_fn)(void *ctx, unsigned long long offset, void *buf, size_t len);

/*
 * The full record (as ebook_metadata) of a book of size bytes that the
 * library reads through the host's callback read, with ctx passed back to
 * it. name (may be NULL) chooses the reader by its extension as for files
 * and names the book in messages; it is never opened. read NULL fails with
 * "NULL read". Result and release as for ebook_metadata.
 * Calls: the library asks for as few, as large ranges as it can, one at a
 * time on the calling thread, all before it returns, never past size. A read
 * smaller than 16 KiB asks for the 16 KiB around it. With a name (or
 * without, where noted) a book takes:
 *   MOBI, AZW, AZW3: 2 (the first 16 KiB, then the cover's first bytes);
 *     1 when the cover starts in the first 16 KiB; one more for a book with
 *     a KF8 part (its header) and one more when record 0 and the record
 *     list reach past 16 KiB.
 *   FB2: 1 (the whole text: the cover's size is at its end); 2 without a
 *     name. An FB2 inside a ZIP reads like an EPUB and its one document.
 *   EPUB: 2 (its last 64 KiB + 22 bytes, which hold the central directory
 *     in most books, then one range for the container and package
 *     documents and the protection lists when they lie within 64 KiB of one
 *     another, as packagers put them); 1 for a book of at most 64 KiB + 22
 *     bytes; one more for a directory that starts before those last bytes,
 *     and one more for a package document far from the container or not
 *     named *.opf. Without a name, one more for the first 16 KiB, unless
 *     that range already holds the container and package documents.
 *   PDF read lazily (see ebook_metadata): 2, its last 64 KiB (startxref,
 *     the trailer, the end of a classic table, the objects written last)
 *     and its first 16 KiB (the header); 1 for a book of at most 64 KiB.
 *     With a classic table at most 3: one more for the entries and objects
 *     it needs elsewhere when they lie within 16 KiB of one another, as
 *     TeX writes them (the objects written last just before the table,
 *     whose first entries list them); a book stating more than 1,000
 *     pages, one more for each MiB of its table (its entries in use are
 *     counted). A cross-reference stream longer than the last 64 KiB, and
 *     each object stream elsewhere, cost one more.
 *   PDF read by libqpdf: those 2, then the blocks of at least 16 KiB that
 *     qpdf's reads fall in; a damaged one is read whole.
 *   Any book of at most 16 KiB: 1.
 * Failures: a callback result of -1 (any negative result, or one above
 * len) gives "read failed: %s" (the name, or "<reader>") and no record; 0
 * before size bytes gives "short read: %s". Either way the callback is not
 * called again in that call. Fewer bytes than asked are asked for again.
 * Whatever the callback returns, and whatever it gives in successive calls
 * (bytes that change between calls), the library reads and writes only
 * inside its own buffers and returns a record or a failure.
 * Threads: the library calls read only from the thread that called this
 * function; calls for different books may run at once on many threads when
 * the callback itself is safe to run so.
 */
QUENFOLD_EBOOK_API char *ebook_metadata_from_reader(ebook_read_fn read, void *ctx,
                                                    unsigned long long size,
                                                    const char *name) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * Flags of ebook_write_metadata, or-ed together:
 * EBOOK_WRITE_DRY_RUN     build and check the new book, return its record, keep nothing;
 * EBOOK_WRITE_KEEP_MTIME  the new book keeps the old one's access and modification times;
 * EBOOK_WRITE_BREAK_LINKS write a book that has several hard links (the other names keep
 *                         the old book);
 * EBOOK_WRITE_UNDO_LAST   take the last update this library appended off a PDF, giving back
 *                         its bytes before that write exactly (changes_json must be "{}");
 *                         "PDF ends with no update written by quenfold-ebook-meta; nothing
 *                         changed" when its last update is not one of ours.
 */
#define EBOOK_WRITE_DRY_RUN 1u
#define EBOOK_WRITE_KEEP_MTIME 2u
#define EBOOK_WRITE_BREAK_LINKS 4u
#define EBOOK_WRITE_UNDO_LAST 8u

/*
 * Writes changes into the book at path and returns its full record (as
 * ebook_metadata gives it) read back from the new file; release it with
 * ebook_free_string. NULL on failure, and then the book is byte for byte as
 * it was and no file is left beside it.
 *
 * changes_json: a JSON object with any of the record's writable keys:
 *   title, title_sort, subtitle, publisher, rights, description (strings);
 *   authors, contributors (arrays of names or of {"name","sort","role"};
 *     roles are MARC relator codes, "aut" for authors and only for them);
 *   language (a BCP 47 tag) or languages (an array of them, the primary
 *     first); series (an array of {"name","index"}, the primary first);
 *   identifiers (an array of {"scheme","value"}); isbn (an ISBN-10 or -13
 *     with a good check digit: it replaces any ISBN the book states other
 *     than its unique identifier, so that "isbn" reads back as the new one);
 *   published (an ISO 8601 date: YYYY, YYYY-MM, YYYY-MM-DD, or with a time);
 *   subjects (an array of strings); cover (the path of a JPEG, PNG, GIF or
 *     WebP image of at most 64 MiB, recognised by its first bytes).
 * A key with a value sets the field; null, "" or [] removes what the book
 * states; an absent key leaves it alone. Texts are taken as the record gives
 * them: white space folded in one-line texts, the description plain text
 * whose paragraphs are separated by blank lines (written so that it reads
 * back the same); the record returned shows each value as it is now stored.
 * A value the book already states is not written again, and a request that
 * changes nothing writes nothing (the book's record is returned).
 *
 * Formats: EPUB 2 and 3 (only the package document changes; every other
 * member is copied byte for byte), FictionBook (.fb2, and the document of
 * .fb2.zip / .fbz; only the description's title-info and publish-info
 * change), CBZ (ComicInfo.xml updated in place or created at the root;
 * the pages are copied byte for byte), MOBI, AZW and AZW3 (record 0, and a
 * combined book's KF8 record 0, rebuilt; the cover record replaced when a
 * new cover is given; every other record byte for byte), PDF (an
 * incremental update appended: the old bytes stay an exact prefix).
 *
 * How it writes: the new book is written to ".NAME.quenfold-XXXXXX" created
 * in the book's directory (the book's permission bits, its owner where the
 * process may give it), flushed with fsync, read back by this library and
 * checked (every value asked for present, every other field unchanged but
 * "modified"), then renamed over the book and the directory synced. A
 * symbolic link is written through to its target. Writers of one book (any
 * threads or processes using this library) take turns through an flock on
 * it. A leftover of a crash is recognisable by its name.
 *
 * Errors (the error text):
 *   "NULL path", "NULL changes_json", "unknown flags: %u";
 *   "changes are not valid UTF-8", "malformed changes JSON: %s at byte %u",
 *   "changes must be a JSON object", "duplicate field: %s",
 *   "unknown field: %s" (e.g. "unknown field: colour"),
 *   "field is not writable: %s" (format, modified, pages... the library's own),
 *   "%s: expected a string" and the like for a value of the wrong type,
 *   "%s: control characters other than tab and line breaks are not allowed",
 *   "%s: longer than 65536 bytes",
 *   "language: not a BCP 47 language tag: %s", "published: not an ISO 8601
 *   date: %s", "isbn: not a valid ISBN-10 or ISBN-13: %s", "%s: not a
 *   relator code", "cover: not a JPEG, PNG, GIF or WebP image: %s",
 *   "cover: cannot open: %s (%s)", "cover: image larger than 64 MiB: %s";
 *   "cannot open file: %s (%s)" and the reader's own errors;
 *   "will not modify a DRM-protected book: %s";
 *   "cannot write %s archives" (cbr, cb7, cbt), "cannot write %s books";
 *   "%s: not stored by %s" (a field the format has no place for, e.g.
 *   "series: not stored by PDF books"), and a format's own refusals, such as
 *   "subtitle: not stored by EPUB 2 books", "cannot clear title: EPUB books
 *   require one", "isbn: the book's unique identifier is this ISBN; it is
 *   never changed";
 *   "book has %u hard links; ... (EBOOK_WRITE_BREAK_LINKS allows it): %s";
 *   "%s is not well-formed XML; write refused, nothing changed (line %u: %s)"
 *   for a package document, FictionBook or ComicInfo.xml;
 *   "cannot create a file beside the book: %s (%s)", "cannot write the new
 *   book (%s)" (No space left on device...), "cannot replace the book: %s (%s)";
 *   "verification failed: %s" (the new book does not read back as asked;
 *   it is removed);
 *   "book changed while writing: %s" (its size, time or inode moved).
 * Thread-safe like every export.
 */
QUENFOLD_EBOOK_API char *ebook_write_metadata(const char *path, const char *changes_json,
                                              unsigned flags) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * The calling thread's error text: the last message of this thread's last
 * call, or "". Never NULL. At most 511 bytes: a longer message keeps its
 * first and last 254 bytes with "..." between, so a long path loses its
 * middle, never what failed or why. Valid until the thread ends; its
 * content changes with the thread's next call to one of the operations.
 */
QUENFOLD_EBOOK_API const char *ebook_last_error(void) QUENFOLD_EBOOK_NOEXCEPT;

/* Releases a string returned by this library. NULL does nothing. */
QUENFOLD_EBOOK_API void ebook_free_string(char *s) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * The formats this library reads, as a JSON array with one object per value
 * of the full record's "format", in a fixed order:
 *   {"format":"mobi",
 *    "extensions":[".mobi",".azw",".prc",".pdb"],  name endings that choose
 *        it, lower case (compared without letter case; ".fb2.zip" is one);
 *    "info_extensions":[".mobi",".azw"],  those ebook_info and
 *        ebook_scan_dir read it under ([] for a format only ebook_metadata
 *        reads);
 *    "read":true,  ebook_metadata reads it;
 *    "write":false,  it can be written;
 *    "cover":true,  ebook_extract_cover gives its cover;
 *    "module":false,  its reader lives in the module opened at first use
 *        (libquenfold-ebook-meta-pdf-comics.so.<version>, see above);
 *    "shared_extensions":[".prc",".pdb"],  endings that files of other kinds
 *        share (Palm address books, memos): a file under one of them is a
 *        book only when it holds one of
 *    "signatures":[{"offset":60,"bytes":"BOOKMOBI"},...]  the bytes at that
 *        offset; a directory walk passes over the other files silently.}
 * The formats: epub, fb2, mobi, azw3, palmdoc, pdf, cbz, cbr, cb7, cbt. A
 * file whose name ends in none of the extensions is still read when its
 * content says what it is (not under a bare ".zip").
 * Result: a heap string to release with ebook_free_string; NULL only when
 * memory runs out (the error text then says so). Unlike the operations, it
 * does not empty the error text first.
 */
QUENFOLD_EBOOK_API char *ebook_formats(void) QUENFOLD_EBOOK_NOEXCEPT;

/*
 * The library's version, "MAJOR.MINOR.PATCH" (QUENFOLD_EBOOK_VERSION_STRING
 * of the header it was built with). A string of the library's own: never
 * NULL, never to be released. Leaves the error text alone.
 */
QUENFOLD_EBOOK_API const char *ebook_version(void) QUENFOLD_EBOOK_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUENFOLD_EBOOK_H */
