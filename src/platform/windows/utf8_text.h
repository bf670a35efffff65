// The system's UTF-16 texts converted into UTF-8 for the records, never
// split within a character. (Cuts of UTF-8 text into the records' fields
// are in the shared text_fields.)
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

#endif  // VANTOREL_UTF8_TEXT_H
