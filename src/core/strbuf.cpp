#include "strbuf.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime_hooks.h"

namespace {

// Pieces up to this many characters are formatted once on the stack.
constexpr size_t kStagingSize = 256;
// Room that every integer and every short-path fixed number fits in (with
// the NUL): with more spare capacity than this they are written in place.
constexpr size_t kNumberRoom = 32;

bool present(const strbuf *sb) { return sb != nullptr && sb->data != nullptr; }

// Makes room for `n` more bytes plus the NUL. Doubles the capacity, or, when
// doubling is not enough, sizes it to the need plus 1024. On failure the
// buffer is left exactly as it was.
bool strbuf_grow(strbuf *sb, size_t n) {
    if (n > SIZE_MAX - 1024 - sb->len) return false;
    const size_t needed = sb->len + n + 1;
    if (sb->capacity >= needed) return true;
    size_t grown = sb->capacity <= SIZE_MAX / 2 ? sb->capacity * 2 : SIZE_MAX;
    if (grown < needed) grown = sb->len + n + 1024;
    void *storage = s_hooks.mem_realloc(sb->data, grown);
    if (storage == nullptr) return false;
    sb->data = static_cast<char *>(storage);
    sb->capacity = grown;
    return true;
}

// Appends `n` bytes; a piece that cannot get room is dropped whole.
void append_bytes(strbuf *sb, const char *bytes, size_t n) {
    if (n == 0) return;
    if (!strbuf_grow(sb, n)) {
        sb->incomplete = true;
        return;
    }
    std::memcpy(sb->data + sb->len, bytes, n);
    sb->len += n;
    sb->data[sb->len] = '\0';
}

// The escape for one byte that JSON does not allow raw inside a string.
size_t escape_byte(unsigned char c, char out[7]) {
    static const char kHex[] = "0123456789abcdef";
    char named = 0;
    switch (c) {
        case '"': named = '"'; break;
        case '\\': named = '\\'; break;
        case '\b': named = 'b'; break;
        case '\f': named = 'f'; break;
        case '\n': named = 'n'; break;
        case '\r': named = 'r'; break;
        case '\t': named = 't'; break;
        default: break;
    }
    out[0] = '\\';
    if (named != 0) {
        out[1] = named;
        return 2;
    }
    out[1] = 'u';
    out[2] = '0';
    out[3] = '0';
    out[4] = kHex[c >> 4];
    out[5] = kHex[c & 0x0F];
    return 6;
}

// Bytes that end a run of plain text: the control bytes (NUL, which ends
// the text, among them), the quotation mark and the backslash.
struct special_table {
    bool special[256];
    constexpr special_table() : special() {
        for (int c = 0; c < 0x20; ++c) special[c] = true;
        special[static_cast<unsigned char>('"')] = true;
        special[static_cast<unsigned char>('\\')] = true;
    }
};
constexpr special_table kSpecial;

// Whether any of the eight bytes of `word` is special, with the usual
// "some byte below n" and "some byte equal to c" word tricks (exact as to
// whether there is one; which byte is found one at a time).
bool word_has_special(uint64_t word) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighs;
    const uint64_t quote = word ^ (kOnes * '"');
    const uint64_t backslash = word ^ (kOnes * '\\');
    return (below_space | ((quote - kOnes) & ~quote & kHighs) | ((backslash - kOnes) & ~backslash & kHighs)) != 0;
}

// Escapes `text` up to its NUL or `max_bytes` bytes. Plain runs go to the
// buffer in one piece each, every escape as a piece of its own. With
// `kWordReads`, runs are found eight bytes at a time, which reads ahead up
// to the bound: only for text inside an array of at least `max_bytes`.
template <bool kWordReads>
void append_escaped(strbuf *sb, const char *text, size_t max_bytes) {
    if (kWordReads && max_bytes <= SIZE_MAX / 8 && sb->capacity - sb->len > 6 * max_bytes) {
        // Room for the worst case (every byte escaped as \u00XX): no piece
        // could fail, so write straight into the storage, eight plain bytes
        // at a time. The text is the one the pieces would have made.
        char *out = sb->data + sb->len;
        size_t i = 0;
        for (;;) {
            while (max_bytes - i >= 8) {
                uint64_t word;
                std::memcpy(&word, text + i, sizeof word);
                if (word_has_special(word)) break;
                std::memcpy(out, &word, sizeof word);
                out += 8;
                i += 8;
            }
            while (i < max_bytes && !kSpecial.special[static_cast<unsigned char>(text[i])]) *out++ = text[i++];
            if (i >= max_bytes || text[i] == '\0') break;
            out += escape_byte(static_cast<unsigned char>(text[i++]), out);
        }
        sb->len = static_cast<size_t>(out - sb->data);
        sb->data[sb->len] = '\0';
        return;
    }
    size_t run = 0;  // start of the bytes that pass unchanged
    size_t i = 0;
    for (;;) {
        if (kWordReads) {
            while (max_bytes - i >= 8) {
                uint64_t word;
                std::memcpy(&word, text + i, sizeof word);
                if (word_has_special(word)) break;
                i += 8;
            }
        }
        while (i < max_bytes && !kSpecial.special[static_cast<unsigned char>(text[i])]) ++i;
        if (i >= max_bytes || text[i] == '\0') break;
        append_bytes(sb, text + run, i - run);
        char escape[7];
        append_bytes(sb, escape, escape_byte(static_cast<unsigned char>(text[i]), escape));
        run = ++i;
    }
    append_bytes(sb, text + run, i - run);
}

// The text of "%.<decimals>f" (decimals 0 to 2) for a finite value whose
// magnitude is below 2^52, from the exact binary value: the magnitude is
// mantissa * 2^-shift, so mantissa * 10^decimals (below 2^60) shifted right
// by `shift`, rounded half to even on the bits shifted out, is exactly what
// printf prints. Returns the length, or 0 when the value is outside this path.
size_t format_fixed_small(double value, int decimals, char *out) {
    static constexpr uint64_t kPow10[] = {1, 10, 100};
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int shift = 1074;  // subnormals and zero
    if (exponent != 0) {
        mantissa |= uint64_t{1} << 52;
        shift = 1075 - exponent;
    }
    if (shift <= 0) return 0;  // an integer of 2^52 or more
    const uint64_t product = mantissa * kPow10[decimals];
    uint64_t scaled = 0;  // below 2^60 / 2^64 when shift >= 64
    if (shift < 64) {
        scaled = product >> shift;
        const uint64_t rest = product & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
    }
    char *p = out;
    if (negative) *p++ = '-';  // "-0.00" for negative zero and small negatives, as printf
    const uint64_t whole = scaled / kPow10[decimals];
    p = std::to_chars(p, out + 20, whole).ptr;
    if (decimals > 0) {
        uint64_t fraction = scaled % kPow10[decimals];
        *p++ = '.';
        for (int d = decimals - 1; d >= 0; --d) {
            p[d] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        p += decimals;
    }
    return static_cast<size_t>(p - out);
}

}  // namespace

void strbuf_init(strbuf *sb, size_t capacity) {
    if (sb == nullptr) return;
    strbuf_free(sb);  // never leak storage a buffer may still hold
    if (capacity == 0) capacity = 1;
    void *storage = s_hooks.mem_alloc(capacity);
    if (storage == nullptr) return;
    sb->data = static_cast<char *>(storage);
    sb->capacity = capacity;
    sb->data[0] = '\0';
}

void strbuf_reset(strbuf *sb) {
    if (sb == nullptr) return;
    sb->len = 0;
    sb->incomplete = false;
    if (sb->data != nullptr) sb->data[0] = '\0';
}

void strbuf_free(strbuf *sb) {
    if (sb == nullptr) return;
    if (sb->data != nullptr) s_hooks.mem_free(sb->data);
    sb->data = nullptr;
    sb->len = 0;
    sb->capacity = 0;
    sb->incomplete = false;
}

void strbuf_append(strbuf *sb, const char *text) {
    if (!present(sb) || text == nullptr) return;
    append_bytes(sb, text, std::strlen(text));
}

void strbuf_append_n_slow(strbuf *sb, const char *bytes, size_t n) {
    if (!present(sb) || bytes == nullptr) return;
    append_bytes(sb, bytes, n);
}

namespace {

// Decimal text of an integer: straight into the storage when it has room,
// else through a small staging area and the growing append.
template <typename Integer>
void append_integer(strbuf *sb, Integer value) {
    if (!present(sb)) return;
    if (sb->capacity - sb->len > kNumberRoom) {  // no growth: straight into the storage
        sb->len = static_cast<size_t>(std::to_chars(sb->data + sb->len, sb->data + sb->capacity, value).ptr - sb->data);
        sb->data[sb->len] = '\0';
        return;
    }
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    strbuf_append_n(sb, digits, static_cast<size_t>(r.ptr - digits));
}

}  // namespace

void strbuf_append_int(strbuf *sb, int64_t value) { append_integer(sb, value); }

void strbuf_append_uint(strbuf *sb, uint64_t value) { append_integer(sb, value); }

void strbuf_append_fixed(strbuf *sb, double value, int decimals) {
    if (!present(sb)) return;
    if (decimals < 0) decimals = 0;
    if (decimals > 9) decimals = 9;
    if (!std::isfinite(value)) value = 0.0;
    if (decimals <= 2) {
        // At most 21 characters ("-", 16 digits, ".", 2 decimals).
        if (sb->capacity - sb->len > kNumberRoom) {
            const size_t n = format_fixed_small(value, decimals, sb->data + sb->len);
            if (n > 0) {
                sb->len += n;
                sb->data[sb->len] = '\0';
                return;
            }
        } else {
            char text[kNumberRoom];
            const size_t n = format_fixed_small(value, decimals, text);
            if (n > 0) {
                strbuf_append_n(sb, text, n);
                return;
            }
        }
    }
    // The largest double has 309 integer digits; sign, point and decimals
    // fit in the rest.
    char digits[330];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value,
                                                 std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return;
    append_bytes(sb, digits, static_cast<size_t>(r.ptr - digits));
}

void strbuf_printf(strbuf *sb, const char *fmt, ...) {
    if (!present(sb) || fmt == nullptr) return;
    char staging[kStagingSize];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int r = std::vsnprintf(staging, sizeof staging, fmt, args);
    va_end(args);
    if (r >= 0 && static_cast<size_t>(r) < kStagingSize) {
        append_bytes(sb, staging, static_cast<size_t>(r));
    } else if (r >= 0 && strbuf_grow(sb, static_cast<size_t>(r))) {
        // Too long for the staging area: format again straight into the
        // buffer, which now has room for the text and its NUL.
        const size_t n = static_cast<size_t>(r);
        const int again_len = std::vsnprintf(sb->data + sb->len, n + 1, fmt, again);
        if (again_len == r) sb->len += n;
        else sb->incomplete = true;
        sb->data[sb->len] = '\0';
    } else {
        sb->incomplete = true;
    }
    va_end(again);
}

void strbuf_append_escaped_json(strbuf *sb, const char *text) {
    if (!present(sb) || text == nullptr) return;
    append_escaped<false>(sb, text, SIZE_MAX);
}

void strbuf_append_escaped_json_bounded(strbuf *sb, const char *text, size_t max_bytes) {
    if (!present(sb) || text == nullptr) return;
    append_escaped<true>(sb, text, max_bytes);
}
