#include "text_utf8.h"

#include <cstdint>
#include <cstring>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the valid sequence at s (at most `avail` bytes), or 0 with
// *consumed set to the bytes that make up the invalid sequence (at least 1).
size_t valid_sequence(const unsigned char *s, size_t avail, size_t *consumed) {
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        need = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 3;
        if (c == 0xE0) lo = 0xA0;          // no overlong forms
        if (c == 0xED) hi = 0x9F;          // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 4;
        if (c == 0xF0) lo = 0x90;          // no overlong forms
        if (c == 0xF4) hi = 0x8F;          // nothing beyond U+10FFFF
    } else {
        *consumed = 1;                     // continuation byte or C0, C1, F5-FF
        return 0;
    }
    size_t i = 1;
    for (; i < need && i < avail; ++i) {
        const unsigned char b = s[i];
        const bool ok = i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (!ok) break;
    }
    if (i == need) return need;
    // The longest valid prefix counts as one invalid sequence.
    *consumed = i;
    return 0;
}

}  // namespace

size_t utf8_copy_repaired(char *dst, size_t dst_size, const char *src, size_t src_len) {
    if (dst == nullptr || dst_size == 0) return 0;
    size_t out = 0;
    if (src != nullptr) {
        const void *nul = std::memchr(src, '\0', src_len);
        if (nul != nullptr) src_len = static_cast<size_t>(static_cast<const char *>(nul) - src);
        const unsigned char *s = reinterpret_cast<const unsigned char *>(src);
        size_t i = 0;
        while (i < src_len) {
            size_t consumed = 0;
            const size_t n = valid_sequence(s + i, src_len - i, &consumed);
            const char *piece = n != 0 ? src + i : kReplacement;
            const size_t piece_len = n != 0 ? n : 3;
            if (out + piece_len > dst_size - 1) break;
            std::memcpy(dst + out, piece, piece_len);
            out += piece_len;
            i += n != 0 ? n : consumed;
        }
    }
    dst[out] = '\0';
    return out;
}

size_t utf8_copy_repaired_cstr(char *dst, size_t dst_size, const char *src) {
    return utf8_copy_repaired(dst, dst_size, src, src != nullptr ? std::strlen(src) : 0);
}
