// book.cpp - one book on its way to a reader: its first bytes, its ZIP directory and its whole
// text, each read once.
#include "formats/book.h"

eb_book::eb_book(const eb_source &src, const char *name, const char *label)
    : src_(src), name_(name), label_(label) {}

eb_book::~eb_book() = default;

std::string_view eb_book::head() {
    if (head_read_) return head_;
    head_read_ = true;
    const std::size_t n = src_.size() < kHead ? static_cast<std::size_t>(src_.size()) : kHead;
    if (src_.memory())
        head_ = std::string_view(reinterpret_cast<const char *>(src_.memory()), n);
    else if (src_.read(0, head_buf_, n))
        head_ = std::string_view(head_buf_, n);
    return head_;
}

const eb_zip_archive &eb_book::zip() {
    if (!zip_) zip_ = std::make_unique<eb_zip_archive>(src_);
    return *zip_;
}

// A book in memory is its own text; a file is read in one request into the
// thread's reusable block.
const std::string_view *eb_book::text() {
    if (text_) return &*text_;
    if (text_failed_) return nullptr;
    if (src_.memory()) {
        text_ = std::string_view(reinterpret_cast<const char *>(src_.memory()), src_.size());
        return &*text_;
    }
    whole_.emplace(src_);
    if (!whole_->ok()) {
        text_failed_ = true;
        return nullptr;
    }
    text_ = std::string_view(whole_->data(), whole_->size());
    return &*text_;
}
