#include "fuzz_checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void fuzz_fail(const char *file, int line, const char *what, const std::string &detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    if (!detail.empty()) std::fprintf(stderr, "  %.4000s\n", detail.c_str());
    std::abort();
}

namespace {

// Length of the well-formed sequence that starts at bytes[0], or 0.
size_t sequence_length(const unsigned char *b, size_t n) {
    if (n == 0) return 0;
    const unsigned char c = b[0];
    if (c < 0x80) return 1;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        need = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong form
        if (c == 0xED) hi = 0x9F;  // no surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 4;
        if (c == 0xF0) lo = 0x90;  // no overlong form
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < need || b[1] < lo || b[1] > hi) return 0;
    for (size_t k = 2; k < need; ++k)
        if ((b[k] & 0xC0) != 0x80) return 0;
    return need;
}

}  // namespace

bool utf8_well_formed(const char *bytes, size_t n) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < n;) {
        const size_t len = sequence_length(b + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

void utf8_make_well_formed(char *bytes, size_t n) {
    auto *b = reinterpret_cast<unsigned char *>(bytes);
    for (size_t i = 0; i < n;) {
        const size_t len = sequence_length(b + i, n - i);
        if (len == 0) {
            b[i++] = '?';
        } else {
            i += len;
        }
    }
}

void check_text_field(const char *field, size_t size, const char *what) {
    const void *nul = std::memchr(field, '\0', size);
    FUZZ_CHECK(nul != nullptr, std::string(what) + ": no NUL within the field");
    const size_t len = static_cast<size_t>(static_cast<const char *>(nul) - field);
    FUZZ_CHECK(utf8_well_formed(field, len), std::string(what) + ": ill-formed UTF-8: " + std::string(field, len));
}

nlohmann::json parse_strict_json(const std::string &text, const char *what) {
    nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    FUZZ_CHECK(!doc.is_discarded(), std::string(what) + " is not strict JSON: " + text);
    return doc;
}

std::string with_ascii_only(const char *text) {
    std::string s(text);
    for (char &c : s)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return s;
}
