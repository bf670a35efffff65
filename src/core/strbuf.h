// strbuf: a small growable text buffer that always holds NUL-terminated text,
// plus JSON string escaping. Every operation accepts a null or absent buffer
// and then does nothing.
#ifndef VANTOREL_STRBUF_H
#define VANTOREL_STRBUF_H

#include <cstddef>
#include <cstdint>

// printf-style format checking. mingw's C++ runtime formats with the C99
// (gnu) printf family, so the checker must use that flavour there.
#if defined(__MINGW32__)
#define SYSMON_PRINTF(fmt_index, first_arg) \
    __attribute__((format(gnu_printf, fmt_index, first_arg)))
#else
#define SYSMON_PRINTF(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))
#endif

static_assert(sizeof(size_t) == 8, "the library is built for 64-bit targets");

// Invariants: data is null (absent; len and capacity 0) or holds capacity
// bytes with a NUL at data[len], len < capacity. A piece that cannot be
// appended whole (no room could be had, or it could not be formatted) is
// dropped and `incomplete` is set until the next reset: the text is then
// not everything that was appended, and a document built in it is not to
// be handed out.
struct strbuf {
    char *data;       // storage holding the text; null while absent
    size_t len;       // text bytes, not counting the NUL
    size_t capacity;  // bytes of storage
    bool incomplete;  // a piece was dropped since the last reset
};

// Allocates exactly `capacity` bytes (at least 1) holding empty text. On
// allocation failure the buffer stays absent.
void strbuf_init(strbuf *sb, size_t capacity);
// Empties the text and forgets dropped pieces; storage and capacity stay.
void strbuf_reset(strbuf *sb);
// Releases the storage; the buffer becomes absent with len and capacity 0.
void strbuf_free(strbuf *sb);

// Appends NUL-terminated text (null counts as empty).
void strbuf_append(strbuf *sb, const char *text);
// strbuf_append_n for the cases the inline version does not handle itself:
// an absent buffer, null bytes, or a piece that needs more room.
void strbuf_append_n_slow(strbuf *sb, const char *bytes, size_t n);
// Appends `n` bytes of `bytes` (which need no NUL). Inline, so that the
// writers' many short pieces are plain copies while the room lasts.
inline void strbuf_append_n(strbuf *sb, const char *bytes, size_t n) {
    if (sb != nullptr && sb->data != nullptr && bytes != nullptr && sb->capacity - sb->len > n) {
        __builtin_memcpy(sb->data + sb->len, bytes, n);
        sb->len += n;
        sb->data[sb->len] = '\0';
        return;
    }
    strbuf_append_n_slow(sb, bytes, n);
}
// Appends a string literal without measuring it at run time.
template <size_t N>
inline void strbuf_append_lit(strbuf *sb, const char (&literal)[N]) {
    strbuf_append_n(sb, literal, N - 1);
}

// Number writers for JSON. They never look at the C locale: the decimal
// separator is always '.', and there is no grouping, whatever setlocale the
// host (or another thread) made.
// The text of "%lld" / "%llu".
void strbuf_append_int(strbuf *sb, int64_t value);
void strbuf_append_uint(strbuf *sb, uint64_t value);
// The text of "%.<decimals>f" in the C locale (decimals 0 to 9; negative zero
// stays "-0.00"). NaN and infinities, which JSON cannot hold, are written as
// zero with the same number of decimals.
void strbuf_append_fixed(strbuf *sb, double value, int decimals);

// Appends formatted text. A formatting error drops the piece. Follows the C
// locale of the moment: never use it for JSON numbers.
void strbuf_printf(strbuf *sb, const char *fmt, ...) SYSMON_PRINTF(2, 3);
// Appends `text` as the content of a JSON string (without the quotes):
// quotation mark, backslash and control bytes are escaped; every other byte,
// 0x7F and 0x80-0xFF included, passes through unchanged.
void strbuf_append_escaped_json(strbuf *sb, const char *text);
// The same for text that may lack its NUL: at most `max_bytes` bytes are read.
// Used for the fixed-size text fields of the records.
void strbuf_append_escaped_json_bounded(strbuf *sb, const char *text, size_t max_bytes);

#endif  // VANTOREL_STRBUF_H
