// Fuzz target: the text buffer's JSON string escaping and number writers.
//  - Escaping arbitrary bytes (NUL-terminated, or a field of exactly the
//    given size without its NUL) gives a JSON string body whose syntax is
//    valid and which decodes back to exactly the bytes read. Bytes from 0x80
//    up pass unchanged, so a strict parser must accept the string whenever
//    the input was well-formed UTF-8, and yield the same text.
//  - The number writers give, for any bit pattern, what snprintf gives in
//    the C locale ("%lld", "%llu", "%.<d>f" with d cut to 0..9; zero for NaN
//    and infinities), and every result is a valid JSON number.
//  - Any sequence of appends (with growth from a tiny capacity) leaves the
//    buffer holding exactly the text appended, NUL-terminated.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "strbuf.h"

namespace {

void check_buffer(const strbuf &sb, const std::string &expected) {
    FUZZ_CHECK(sb.data != nullptr, "buffer absent");
    FUZZ_CHECK(sb.len < sb.capacity, "length " + std::to_string(sb.len) + " capacity " + std::to_string(sb.capacity));
    FUZZ_CHECK(sb.data[sb.len] == '\0', "text not terminated");
    FUZZ_CHECK(std::string(sb.data, sb.len) == expected, "buffer holds \"" + std::string(sb.data, sb.len) + "\", expected \"" + expected + "\"");
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Checks the syntax of a JSON string body (between the quotes) byte by byte,
// without judging UTF-8, and decodes it; \u escapes must stay below 0x80
// because the writer only escapes single bytes.
std::string decode_string_body(const std::string &body) {
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        const auto c = static_cast<unsigned char>(body[i]);
        FUZZ_CHECK(c >= 0x20, "raw control byte in a string: " + body);
        FUZZ_CHECK(c != '"', "unescaped quotation mark: " + body);
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        FUZZ_CHECK(i + 1 < body.size(), "backslash at the end: " + body);
        const char e = body[++i];
        switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                FUZZ_CHECK(i + 4 < body.size(), "short \\u escape: " + body);
                int v = 0;
                for (int k = 1; k <= 4; ++k) {
                    const int h = hex_value(body[i + k]);
                    FUZZ_CHECK(h >= 0, "bad \\u escape: " + body);
                    v = v * 16 + h;
                }
                FUZZ_CHECK(v < 0x80, "escape of a multi-byte character: " + body);
                out += static_cast<char>(v);
                i += 4;
                break;
            }
            default: FUZZ_CHECK(false, "unknown escape: " + body);
        }
    }
    return out;
}

// Escapes `bytes` (read within `max_bytes`, or to the NUL) after a prefix
// already in the buffer, and checks the result.
void check_escaping(const std::vector<char> &bytes, size_t max_bytes, bool bounded) {
    strbuf sb{};
    strbuf_init(&sb, 8);
    strbuf_append_lit(&sb, "{\"s\":\"");
    if (bounded)
        strbuf_append_escaped_json_bounded(&sb, bytes.data(), max_bytes);
    else
        strbuf_append_escaped_json(&sb, bytes.data());
    FUZZ_CHECK(sb.data[sb.len] == '\0' && std::strlen(sb.data) == sb.len, "escaped text holds a NUL");
    const std::string body(sb.data + 6, sb.len - 6);
    strbuf_append_lit(&sb, "\"}");

    size_t read = 0;
    while (read < max_bytes && read < bytes.size() && bytes[read] != '\0') ++read;
    const std::string source(bytes.data(), read);
    FUZZ_CHECK(decode_string_body(body) == source, "escaping does not round-trip: " + body);
    if (utf8_well_formed(source.data(), source.size())) {
        const nlohmann::json doc = parse_strict_json(std::string(sb.data, sb.len), "escaped string");
        FUZZ_CHECK(doc.is_object() && doc.size() == 1 && doc["s"].is_string() && doc["s"].get<std::string>() == source,
                   "strict parse differs: " + std::string(sb.data, sb.len));
    }
    strbuf_free(&sb);
}

void check_number_text(const std::string &text) {
    FUZZ_CHECK(nlohmann::json::accept(text), "not a JSON number: " + text);
    const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    FUZZ_CHECK(value.is_number(), "not a JSON number: " + text);
}

void check_numbers(FuzzedDataProvider &in) {
    for (int round = 0; round < 64 && in.remaining_bytes() > 0; ++round) {
        char expected[400];
        strbuf sb{};
        strbuf_init(&sb, 1);
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
            case 0: {
                const int64_t v = in.ConsumeIntegral<int64_t>();
                strbuf_append_int(&sb, v);
                std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(v));
                break;
            }
            case 1: {
                const uint64_t v = in.ConsumeIntegral<uint64_t>();
                strbuf_append_uint(&sb, v);
                std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(v));
                break;
            }
            default: {
                const int decimals = in.ConsumeIntegralInRange<int>(-3, 12);
                const uint64_t bits = in.ConsumeIntegral<uint64_t>();
                double v;
                std::memcpy(&v, &bits, sizeof v);
                strbuf_append_fixed(&sb, v, decimals);
                const int d = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
                std::snprintf(expected, sizeof expected, "%.*f", d, std::isfinite(v) ? v : 0.0);
                break;
            }
        }
        const std::string text(sb.data, sb.len);
        strbuf_free(&sb);
        FUZZ_CHECK(text == expected, "wrote " + text + ", snprintf gives " + expected);
        check_number_text(text);
    }
}

// A sequence of appends against a model string.
void check_appends(FuzzedDataProvider &in) {
    strbuf sb{};
    strbuf_init(&sb, in.ConsumeIntegralInRange<size_t>(0, 64));
    std::string model;
    while (in.remaining_bytes() > 0) {
        const int op = in.ConsumeIntegralInRange<int>(0, 6);
        const std::string piece = in.ConsumeRandomLengthString(600);
        switch (op) {
            case 0:
                strbuf_append(&sb, piece.c_str());
                model += piece.c_str();
                break;
            case 1:
                strbuf_append_n(&sb, piece.data(), piece.size());
                model += piece;
                break;
            case 2:
                strbuf_printf(&sb, "<%s|%d>", piece.c_str(), static_cast<int>(piece.size()));
                model += "<" + std::string(piece.c_str()) + "|" + std::to_string(piece.size()) + ">";
                break;
            case 3: {
                strbuf scratch{};
                strbuf_init(&scratch, 1);
                strbuf_append_escaped_json(&scratch, piece.c_str());
                strbuf_append_escaped_json(&sb, piece.c_str());
                model.append(scratch.data, scratch.len);
                strbuf_free(&scratch);
                break;
            }
            case 4:
                strbuf_append_int(&sb, static_cast<int64_t>(piece.size()) - 300);
                model += std::to_string(static_cast<int64_t>(piece.size()) - 300);
                break;
            case 5:
                strbuf_append_lit(&sb, "lit");
                model += "lit";
                break;
            default:
                strbuf_reset(&sb);
                model.clear();
                break;
        }
        check_buffer(sb, model);
    }
    strbuf_free(&sb);
    FUZZ_CHECK(sb.data == nullptr && sb.len == 0 && sb.capacity == 0, "freed buffer not absent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            // NUL-terminated text (the NUL may come early).
            std::vector<char> bytes = in.ConsumeRemainingBytes<char>();
            bytes.push_back('\0');
            check_escaping(bytes, SIZE_MAX, false);
            break;
        }
        case 1: {
            // A field of exactly its size, maybe without a NUL: reading past
            // it is a heap overflow for AddressSanitizer.
            const size_t max_bytes = in.ConsumeIntegral<uint16_t>();
            std::vector<char> bytes = in.ConsumeRemainingBytes<char>();
            check_escaping(bytes, max_bytes < bytes.size() ? max_bytes : bytes.size(), true);
            break;
        }
        case 2:
            check_numbers(in);
            break;
        default:
            check_appends(in);
            break;
    }
    return 0;
}
