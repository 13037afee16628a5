// fuzz_meta_comic.cpp - the full record and the cover of arbitrary bytes as a comic archive, by
// name and by content.
#include "comic_repair.h"
#include "formats/comic/comic.h"
#include "fuzz_meta_common.h"

QFUZZ_COMIC_MUTATOR

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Named a comic, every archive kind is tried (tar last, for .cbt);
    // without a name the content alone decides.
    qfuzz::run_metadata(data, size, "book.cbt");
    qfuzz::run_metadata(data, size, nullptr);
    // The cover as ebook_extract_cover chooses and reads it.
    char *bytes = qfuzz::copy_exact(data, size);
    const eb_source src(bytes, size);
    unsigned char *image = nullptr;
    std::uint64_t len = 0;
    eb_clear_error();
    const int rc = eb_comic_cover(src, "book.cbz", false, &image, &len);
    qfuzz::check(rc == 0 || rc == -1);
    qfuzz::check(rc == 0 ? image != nullptr : image == nullptr && ebook_last_error()[0] != '\0');
    std::free(image);
    std::free(bytes);
    return 0;
}
