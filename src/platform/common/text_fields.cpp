#include "text_fields.h"

#include <cstring>

size_t utf8_boundary(const char *text, size_t length) {
    // Step back over the continuation bytes at the end, to the lead byte of
    // the last character, and keep that character only if it is complete.
    size_t start = length;
    size_t continuation = 0;
    while (start > 0 && continuation < 4 &&
           (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0) return 0;
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    size_t needed;
    if (lead < 0x80) needed = 1;
    else if ((lead & 0xE0) == 0xC0) needed = 2;
    else if ((lead & 0xF0) == 0xE0) needed = 3;
    else if ((lead & 0xF8) == 0xF0) needed = 4;
    else needed = 0;  // not a lead byte: drop it with its followers
    if (needed == 0) return start - 1;
    if (continuation + 1 >= needed) return start - 1 + needed;
    return start - 1;
}

size_t utf8_copy_cut(char *dst, size_t dst_size, const char *src, size_t src_size) {
    if (dst_size == 0) return 0;
    size_t n = 0;
    if (src != nullptr) {
        const size_t limit = src_size < dst_size - 1 ? src_size : dst_size - 1;
        const void *nul = std::memchr(src, '\0', limit);
        n = nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - src) : limit;
        std::memmove(dst, src, n);
        // A cut (or a source that ends within a character) keeps whole
        // characters only.
        n = utf8_boundary(dst, n);
    }
    dst[n] = '\0';
    return n;
}

void text_field_copy(char *dst, size_t dst_size, const char *src, size_t src_size) {
    if (dst_size == 0) return;
    const size_t length = utf8_copy_cut(dst, dst_size, src, src_size);
    for (size_t i = length + 1; i < dst_size && dst[i] != '\0'; ++i) dst[i] = '\0';
}
