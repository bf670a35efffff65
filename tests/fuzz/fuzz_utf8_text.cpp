// Fuzz target: the UTF-16 to UTF-8 conversions and the character-boundary
// cuts the Windows collectors put every text through.
//  - Arbitrary UTF-16 units (unaligned, any surrogates) convert to
//    well-formed UTF-8, NUL-terminated within the output, holding the
//    longest run of whole characters that fits, as a reference conversion
//    gives it.
//  - The list form keeps NUL units as NUL bytes and ends with one more NUL.
//  - Cutting well-formed UTF-8 at any length keeps exactly the characters
//    that end within it; copying into a field of any size does the same and
//    never reads the source beyond its size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "text_fields.h"
#include "utf8_text.h"

namespace {

std::string encode(uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | cp >> 6);
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | cp >> 12);
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | cp >> 18);
        s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// The characters of the units, each as its UTF-8 bytes (unpaired
// surrogates as U+FFFD), up to the first NUL unit when `stop_at_nul`.
std::vector<std::string> reference_characters(const unsigned char *b, size_t units, bool stop_at_nul) {
    std::vector<std::string> chars;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = b[2 * i] | static_cast<uint32_t>(b[2 * i + 1]) << 8;
        if (u == 0 && stop_at_nul) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = b[2 * i + 2] | static_cast<uint32_t>(b[2 * i + 3]) << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                chars.push_back(encode(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        chars.push_back(encode(u));
    }
    return chars;
}

// The longest run of whole characters within `room` bytes.
std::string fitting(const std::vector<std::string> &chars, size_t room) {
    std::string s;
    for (const std::string &c : chars) {
        if (c.size() > room - s.size()) break;
        s += c;
    }
    return s;
}

void check_conversion(FuzzedDataProvider &in, bool list) {
    const size_t out_size = in.ConsumeIntegralInRange<size_t>(0, 3000);
    std::vector<unsigned char> bytes = in.ConsumeRemainingBytes<unsigned char>();
    const size_t units = bytes.size() / 2;
    // One spare byte in front: the units start at an odd address.
    std::vector<unsigned char> shifted(bytes.size() + 1);
    if (!bytes.empty()) std::memcpy(shifted.data() + 1, bytes.data(), bytes.size());
    std::vector<char> out(out_size + 1, 'X');  // one guard byte behind
    const size_t written = list ? utf8_list_from_utf16(out.data(), out_size, shifted.data() + 1, units)
                                : utf8_from_utf16(out.data(), out_size, shifted.data() + 1, units);
    FUZZ_CHECK(out[out_size] == 'X', "wrote beyond the output size");
    if (out_size == 0) {
        FUZZ_CHECK(written == 0, "wrote into no room");
        return;
    }
    const size_t room = list ? (out_size < 2 ? 0 : out_size - 2) : out_size - 1;
    FUZZ_CHECK(written <= room, "written " + std::to_string(written) + " room " + std::to_string(room));
    FUZZ_CHECK(out[written] == '\0', "conversion not terminated");
    if (list && out_size >= 2) FUZZ_CHECK(out[written + 1] == '\0', "list without its final NUL");
    const std::string got(out.data(), written);
    const std::string expected = fitting(reference_characters(bytes.data(), units, !list), room);
    FUZZ_CHECK(got == expected, "conversion differs from the reference");
    FUZZ_CHECK(utf8_well_formed(got.data(), got.size()), "conversion is ill-formed UTF-8");
}

void check_cuts(FuzzedDataProvider &in) {
    const size_t dst_size = in.ConsumeIntegralInRange<size_t>(0, 300);
    const size_t cut = in.ConsumeIntegralInRange<size_t>(0, 400);
    const bool clean = in.ConsumeBool();
    std::vector<char> src = in.ConsumeRemainingBytes<char>();
    if (clean) utf8_make_well_formed(src.data(), src.size());

    // Copy into a field: the source is read within its size only (exact
    // heap block), the copy is a terminated prefix of whole characters.
    std::vector<char> dst(dst_size + 1, 'X');
    utf8_copy_cut(dst.data(), dst_size, src.empty() ? nullptr : src.data(), src.size());
    FUZZ_CHECK(dst[dst_size] == 'X', "copy wrote beyond the field");
    if (dst_size == 0) return;
    const void *nul = std::memchr(dst.data(), '\0', dst_size);
    FUZZ_CHECK(nul != nullptr, "copy not terminated");
    const size_t copied = static_cast<size_t>(static_cast<const char *>(nul) - dst.data());
    FUZZ_CHECK(copied <= src.size() && (copied == 0 || std::memcmp(dst.data(), src.data(), copied) == 0),
               "copy is not a prefix");

    size_t text_len = 0;
    while (text_len < src.size() && src[text_len] != '\0') ++text_len;
    if (!utf8_well_formed(src.data(), text_len)) return;
    // For well-formed text: exactly the characters that end within the
    // limit, for the copy and for a cut at any length.
    const auto boundary_below = [&](size_t limit) {
        size_t best = 0;
        for (size_t i = 1; i <= limit && i <= text_len; ++i)
            if (i == text_len || (static_cast<unsigned char>(src[i]) & 0xC0) != 0x80) best = i;
        return best;
    };
    FUZZ_CHECK(copied == boundary_below(dst_size - 1), "copy cut at " + std::to_string(copied));
    FUZZ_CHECK(utf8_well_formed(dst.data(), copied), "copy is ill-formed UTF-8");
    const size_t length = cut < text_len ? cut : text_len;
    const size_t kept = utf8_boundary(src.data(), length);
    FUZZ_CHECK(kept == boundary_below(length), "cut at " + std::to_string(length) + " keeps " + std::to_string(kept));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: check_conversion(in, false); break;
        case 1: check_conversion(in, true); break;
        default: check_cuts(in); break;
    }
    return 0;
}
