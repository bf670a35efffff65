// Small scanning primitives shared by the parsers of /proc and /sys text.
// Every function reads only within [p, end) and never past it, so a
// truncated or garbled file can only make a value absent, never an overread.
#ifndef VANTOREL_LINUX_TEXT_SCAN_H
#define VANTOREL_LINUX_TEXT_SCAN_H

#include <cstddef>
#include <cstdint>

// A view of a piece of text: [begin, end).
struct text_span {
    const char *begin;
    const char *end;
    size_t size() const { return static_cast<size_t>(end - begin); }
    bool empty() const { return begin >= end; }
};

// Skips blanks (space and tab).
const char *scan_blanks(const char *p, const char *end);
// Skips any white space (blanks, newlines, carriage returns, ...).
const char *scan_space(const char *p, const char *end);
// Reads a decimal unsigned number at p (after optional blanks). Returns false
// when no digit is there. Values beyond 2^64-1 saturate at 2^64-1.
bool scan_u64(const char **p, const char *end, uint64_t *value);
// Reads a signed decimal number (a leading '-' allowed), saturating at the
// int64 limits.
bool scan_i64(const char **p, const char *end, int64_t *value);
// Skips one blank-separated token (after optional blanks).
bool scan_skip_token(const char **p, const char *end);
// The next line at p (without its newline); p moves past the newline.
// Returns false at the end of the text.
bool scan_line(const char **p, const char *end, text_span *line);
// Whether `line` starts with `prefix`.
bool span_starts_with(const text_span &line, const char *prefix);
// For "Key<sep>value" lines: the value after `key` and the separator `sep`,
// with surrounding blanks removed. False when the line has another key.
bool span_key_value(const text_span &line, const char *key, char sep, text_span *value);
// The span without leading and trailing white space.
text_span span_trim(text_span s);

// a * b, saturating at 2^64-1.
uint64_t saturating_mul(uint64_t a, uint64_t b);
// a + b, saturating at 2^64-1.
uint64_t saturating_add(uint64_t a, uint64_t b);

#endif  // VANTOREL_LINUX_TEXT_SCAN_H
