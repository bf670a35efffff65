#include "utf8_text.h"

#include <cstdint>

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
