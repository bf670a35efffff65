// UTF-8 text for the records: conversion of the system's UTF-16 texts, and
// cuts that never split a character, so that every field holds valid UTF-8
// whatever its size.
#ifndef VANTOREL_UTF8_TEXT_H
#define VANTOREL_UTF8_TEXT_H

#include <cstddef>

// Converts `unit_count` UTF-16 code units (little-endian, read byte-wise, so
// `units` need not be aligned) into UTF-8 at `out`, stopping at the first
// NUL unit, at the end of the units, or before the first character whose
// bytes would not fit in out_size - 1 bytes. An unpaired surrogate becomes
// U+FFFD. The result is NUL-terminated (nothing is written when out_size is
// 0); returns the number of bytes written before the NUL.
size_t utf8_from_utf16(char *out, size_t out_size, const void *units, size_t unit_count);

// The same for a list of texts: NUL units are converted as NUL bytes and do
// not end the conversion, so a list of NUL-separated texts stays a list.
// The output is always followed by one more NUL (within out_size).
size_t utf8_list_from_utf16(char *out, size_t out_size, const void *units,
                            size_t unit_count);

// The length of the longest prefix of the first `length` bytes of UTF-8
// text `text` that ends at a character boundary: a character whose bytes
// are not all within the first `length` is dropped whole.
size_t utf8_boundary(const char *text, size_t length);

// Copies at most dst_size - 1 bytes of `src` into `dst`, ending early at a
// NUL and never in the middle of a character, and terminates the copy.
// `src` is read only within its first `src_size` bytes. Returns the length
// of the copy.
size_t utf8_copy(char *dst, size_t dst_size, const char *src, size_t src_size);

#endif  // VANTOREL_UTF8_TEXT_H
