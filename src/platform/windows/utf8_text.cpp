#include "utf8_text.h"

#include <cstdint>
#include <cstring>

namespace {

uint32_t unit_at(const unsigned char *bytes, size_t i) {
    return static_cast<uint32_t>(bytes[2 * i]) | static_cast<uint32_t>(bytes[2 * i + 1]) << 8;
}

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Encodes one code point; returns its length in bytes (1 to 4).
size_t encode(uint32_t cp, unsigned char *bytes) {
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | cp >> 12);
        bytes[1] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
    bytes[1] = static_cast<unsigned char>(0x80 | (cp >> 12 & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

size_t convert(char *out, size_t out_size, const void *units, size_t unit_count,
               bool stop_at_nul) {
    if (out_size == 0) return 0;
    const size_t room = out_size - 1;
    size_t written = 0;
    const auto *bytes = static_cast<const unsigned char *>(units);
    for (size_t i = 0; bytes != nullptr && i < unit_count; ++i) {
        uint32_t cp = unit_at(bytes, i);
        if (cp == 0 && stop_at_nul) break;
        size_t consumed_extra = 0;
        if (is_high_surrogate(cp) && i + 1 < unit_count && is_low_surrogate(unit_at(bytes, i + 1))) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit_at(bytes, i + 1) - 0xDC00);
            consumed_extra = 1;
        } else if (is_high_surrogate(cp) || is_low_surrogate(cp)) {
            cp = 0xFFFD;
        }
        unsigned char encoded[4];
        const size_t n = encode(cp, encoded);
        if (n > room - written) break;
        for (size_t k = 0; k < n; ++k) out[written + k] = static_cast<char>(encoded[k]);
        written += n;
        i += consumed_extra;
    }
    out[written] = '\0';
    return written;
}

}  // namespace

size_t utf8_from_utf16(char *out, size_t out_size, const void *units, size_t unit_count) {
    return convert(out, out_size, units, unit_count, true);
}

size_t utf8_list_from_utf16(char *out, size_t out_size, const void *units,
                            size_t unit_count) {
    if (out_size < 2) {
        if (out_size == 1) out[0] = '\0';
        return 0;
    }
    // One byte is kept back for the NUL that ends the list.
    const size_t written = convert(out, out_size - 1, units, unit_count, false);
    out[written + 1] = '\0';
    return written;
}

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

size_t utf8_copy(char *dst, size_t dst_size, const char *src, size_t src_size) {
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
