// UTF-8 text into the records' fixed-size text fields, shared by the
// collectors of every platform. The source is taken as valid UTF-8 (a
// literal, or text the platform code already converted or repaired): a copy
// that does not fit is cut at a character boundary, so every field holds
// valid UTF-8 whatever its size.
#ifndef VANTOREL_COMMON_TEXT_FIELDS_H
#define VANTOREL_COMMON_TEXT_FIELDS_H

#include <cstddef>

// The length of the longest prefix of the first `length` bytes of UTF-8
// text `text` that ends at a character boundary: a character whose bytes
// are not all within the first `length` is dropped whole.
size_t utf8_boundary(const char *text, size_t length);

// Copies at most dst_size - 1 bytes of `src` into `dst`, ending early at a
// NUL and never in the middle of a character, and terminates the copy.
// `src` is read only within its first `src_size` bytes. Nothing is
// validated beyond the cut (the source is valid UTF-8 already). Returns the
// length of the copy.
size_t utf8_copy_cut(char *dst, size_t dst_size, const char *src, size_t src_size);

// utf8_copy_cut into a field, and what a longer text left behind the new
// one is zeroed, so a field always reads as its text followed by zeros only
// (which lets a record be cleared by zeroing just its texts).
void text_field_copy(char *dst, size_t dst_size, const char *src, size_t src_size);

// Copies a terminated text, such as a literal, into a field.
template <size_t N>
void text_field_set(char (&field)[N], const char *text) {
    text_field_copy(field, N, text, N);
}

#endif  // VANTOREL_COMMON_TEXT_FIELDS_H
