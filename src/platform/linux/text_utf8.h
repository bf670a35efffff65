// Copies system text (names, command lines, mount points: arbitrary bytes on
// Linux) into the fixed-size text fields of the records as valid UTF-8.
#ifndef VANTOREL_LINUX_TEXT_UTF8_H
#define VANTOREL_LINUX_TEXT_UTF8_H

#include <cstddef>

// Copies `src` (`src_len` bytes, ending early at a NUL) into `dst` as valid
// UTF-8: each invalid sequence (a stray continuation byte, a bad lead byte,
// an overlong form, a surrogate, a code point beyond U+10FFFF, a sequence
// cut short) becomes U+FFFD. The copy stops before the first character that
// would not fit in dst_size - 1 bytes, so it is never cut inside a
// character, and is always NUL-terminated (for dst_size > 0). Returns the
// number of bytes written before the NUL.
size_t utf8_copy_repaired(char *dst, size_t dst_size, const char *src, size_t src_len);

// The same for a NUL-terminated source.
size_t utf8_copy_repaired_cstr(char *dst, size_t dst_size, const char *src);

// Into a char array field, whose size is known.
template <size_t N>
size_t utf8_set(char (&field)[N], const char *src, size_t src_len) {
    return utf8_copy_repaired(field, N, src, src_len);
}
template <size_t N>
size_t utf8_set(char (&field)[N], const char *src) {
    return utf8_copy_repaired_cstr(field, N, src);
}

#endif  // VANTOREL_LINUX_TEXT_UTF8_H
