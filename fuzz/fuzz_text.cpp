// fuzz_text.cpp - the tag scanner, the entity decoder and the Base64 decoder
// over arbitrary byte ranges that end exactly at the end of their heap block.
//
// Input: an element/attribute name, a NUL byte, then the text. Without a NUL
// the whole input is the text and the name is one the readers look up.
#include <cstring>
#include <initializer_list>

#include "fuzz_common.h"
#include "text/base64.h"
#include "text/buffer.h"
#include "text/xml_scan.h"

namespace {

const char *const kReaderNames[] = {"title",  "dc:title", "meta",     "item",       "rootfile",
                                    "binary", "author",   "sequence", "title-info", "coverpage",
                                    "image",  "a",        "id",       "l:href",     "content"};
const char *const kAttrs[] = {"id", "href", "l:href", "content", "name", "full-path", "property"};

void scan_tags(const char *p, const char *end, const char *name) {
    char out[256];
    const char *from = p;
    for (int i = 0; i < 64; ++i) {
        const char *tag = eb_find_tag(from, end, name);
        if (!tag) break;
        qfuzz::check(tag >= from && tag < end && *tag == '<');
        const char *gt = static_cast<const char *>(std::memchr(tag, '>', end - tag));
        if (gt) {
            for (const char *attr : kAttrs) {
                for (std::size_t size : {std::size_t{1}, std::size_t{8}, sizeof out}) {
                    if (eb_attr_val(tag, gt, attr, out, size) == 0)
                        qfuzz::check(std::strlen(out) < size);
                }
            }
            qfuzz::check(eb_attr_val(tag, gt, name, out, sizeof out) != 0 ||
                         std::strlen(out) < sizeof out);
            const char *close = eb_find_close(gt + 1, end, name);
            qfuzz::check(!close || (close > gt + 1 && close <= end && close[-1] == '>'));
        }
        const char *close = eb_find_close(tag + 1, end, name);
        qfuzz::check(!close || (close > tag + 1 && close <= end && close[-1] == '>'));
        from = gt ? gt + 1 : tag + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    char name[256];
    const std::uint8_t *text = data;
    std::size_t len = size;
    const void *nul = std::memchr(data, 0, size);
    if (nul) {
        std::size_t n = static_cast<const std::uint8_t *>(nul) - data;
        if (n >= sizeof name) return -1;  // names are short; do not keep such inputs
        std::memcpy(name, data, n);
        name[n] = '\0';
        text = data + n + 1;
        len = size - n - 1;
    } else {
        std::strcpy(name, kReaderNames[size % (sizeof kReaderNames / sizeof *kReaderNames)]);
    }

    char *p = qfuzz::copy_exact(text, len);
    const char *end = p + len;

    scan_tags(p, end, name);

    char out[256];
    if (eb_attr_val(p, end, name, out, sizeof out) == 0)
        qfuzz::check(std::strlen(out) < sizeof out);

    if (char *t = eb_tag_text(p, len, name)) std::free(t);

    // A reference is at least four bytes and yields at most three.
    eb_buf buf;
    eb_buf_init(&buf);
    eb_xml_decode_entities(p, len, &buf);
    qfuzz::check(buf.len <= len);
    qfuzz::check(buf.len == 0 || buf.data[buf.len] == '\0');
    eb_buf_free(&buf);

    std::uint64_t n = 0;
    unsigned char *bytes = eb_b64_decode(p, len, &n);
    qfuzz::check(bytes != nullptr && n <= len / 4 * 3 + 3);
    std::free(bytes);

    std::free(p);
    return 0;
}
