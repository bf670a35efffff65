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
    if (n == 0 || !strbuf_grow(sb, n)) return;
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

bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

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
    if (sb->data != nullptr) sb->data[0] = '\0';
}

void strbuf_free(strbuf *sb) {
    if (sb == nullptr) return;
    if (sb->data != nullptr) s_hooks.mem_free(sb->data);
    sb->data = nullptr;
    sb->len = 0;
    sb->capacity = 0;
}

void strbuf_append(strbuf *sb, const char *text) {
    if (!present(sb) || text == nullptr) return;
    append_bytes(sb, text, std::strlen(text));
}

void strbuf_append_n(strbuf *sb, const char *bytes, size_t n) {
    if (!present(sb) || bytes == nullptr) return;
    append_bytes(sb, bytes, n);
}

void strbuf_append_int(strbuf *sb, int64_t value) {
    if (!present(sb)) return;
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    append_bytes(sb, digits, static_cast<size_t>(r.ptr - digits));
}

void strbuf_append_uint(strbuf *sb, uint64_t value) {
    if (!present(sb)) return;
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    append_bytes(sb, digits, static_cast<size_t>(r.ptr - digits));
}

void strbuf_append_fixed(strbuf *sb, double value, int decimals) {
    if (!present(sb)) return;
    if (decimals < 0) decimals = 0;
    if (decimals > 9) decimals = 9;
    if (!std::isfinite(value)) value = 0.0;
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
        sb->data[sb->len] = '\0';
    }
    va_end(again);
}

void strbuf_append_escaped_json(strbuf *sb, const char *text) {
    strbuf_append_escaped_json_bounded(sb, text, SIZE_MAX);
}

void strbuf_append_escaped_json_bounded(strbuf *sb, const char *text, size_t max_bytes) {
    if (!present(sb) || text == nullptr) return;
    const char *run = text;  // start of the bytes that pass unchanged
    const char *p = text;
    for (; static_cast<size_t>(p - text) < max_bytes && *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!needs_escape(c)) continue;
        append_bytes(sb, run, static_cast<size_t>(p - run));
        char escape[7];
        append_bytes(sb, escape, escape_byte(c, escape));
        run = p + 1;
    }
    append_bytes(sb, run, static_cast<size_t>(p - run));
}
