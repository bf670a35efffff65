// Checks shared by the fuzz targets: a failed check prints what was wrong and
// aborts, which libFuzzer reports as a crash with the input that caused it.
#ifndef VANTOREL_TESTS_FUZZ_CHECKS_H
#define VANTOREL_TESTS_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

[[noreturn]] void fuzz_fail(const char *file, int line, const char *what, const std::string &detail);

#define FUZZ_CHECK(condition, detail)                                        \
    do {                                                                     \
        if (!(condition)) fuzz_fail(__FILE__, __LINE__, #condition, detail); \
    } while (0)

// Whether `n` bytes are well-formed UTF-8: no stray continuation byte, no
// overlong form, no surrogate, nothing above U+10FFFF.
bool utf8_well_formed(const char *bytes, size_t n);

// Replaces every ill-formed sequence of `n` bytes with '?' bytes, in place;
// the length stays. The end of the bytes ends any sequence.
void utf8_make_well_formed(char *bytes, size_t n);

// A text field of a record: NUL-terminated within its `size` bytes and
// well-formed UTF-8.
void check_text_field(const char *field, size_t size, const char *what);
template <size_t N>
void check_text_field(const char (&field)[N], const char *what) {
    check_text_field(field, N, what);
}

// Parses text as strict JSON (nlohmann-json: strict syntax, strict UTF-8)
// and aborts when it is not.
nlohmann::json parse_strict_json(const std::string &text, const char *what);

// The text with every byte from 0x80 up replaced by '?': what remains is
// the document's syntax, for documents whose texts came from hostile bytes.
std::string with_ascii_only(const char *text);

// Bytes in a heap block of exactly their size, never null (also when
// empty), so that AddressSanitizer reports any read beyond them.
class exact_bytes {
public:
    exact_bytes(const void *bytes, size_t size) : block_(new char[size]), size_(size) {
        if (size > 0) std::memcpy(block_.get(), bytes, size);
    }
    const char *data() const { return block_.get(); }
    size_t size() const { return size_; }
    char operator[](size_t i) const { return block_[i]; }

private:
    std::unique_ptr<char[]> block_;
    size_t size_;
};

#endif  // VANTOREL_TESTS_FUZZ_CHECKS_H
