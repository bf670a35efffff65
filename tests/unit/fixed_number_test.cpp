// The fixed-point writer's short path (up to two decimals, magnitudes below
// 2^52) against std::to_chars and printf: every exponent, exact halves,
// negative zero and the edges of the path.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "strbuf.h"

namespace {

std::string written(double value, int decimals) {
    strbuf sb{};
    strbuf_init(&sb, 4);
    strbuf_append_fixed(&sb, value, decimals);
    std::string out(sb.data, sb.len);
    strbuf_free(&sb);
    return out;
}

std::string reference(double value, int decimals) {
    char text[400];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, r.ptr);
}

double from_bits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::vector<double> edge_values() {
    std::vector<double> values = {0.0, -0.0, 0.005, -0.005, 0.015, 0.025, 0.125, 0.375, 2.675, 1.005,
                                  0.05, 0.25, 0.45, 0.95, 99.995, 100.0, -0.004, -0.05,
                                  std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min()};
    for (double edge : {std::ldexp(1.0, 52), std::ldexp(1.0, 53), 4503599627370495.5, 1e15, 1e16}) {
        values.push_back(edge);
        values.push_back(std::nextafter(edge, 0.0));
        values.push_back(std::nextafter(edge, 1e300));
    }
    // Exact halves at the last written digit: k/2, k/20, k/200 (those that
    // binary can hold exactly are true ties, rounded to even).
    for (int k = 0; k < 4000; ++k) {
        values.push_back(k / 2.0);
        values.push_back(k / 8.0);
        values.push_back(k / 20.0);
        values.push_back(k / 200.0);
        values.push_back(-k / 200.0);
    }
    return values;
}

TEST(FixedNumber, ShortPathMatchesToChars) {
    std::vector<double> values = edge_values();
    std::mt19937_64 random(52);
    for (int i = 0; i < 100000; ++i) {
        const double v = from_bits(random());
        if (std::isfinite(v)) values.push_back(v);
        values.push_back(static_cast<double>(random() % 100000000) / 1000.0);
    }
    for (double v : values)
        for (int decimals = 0; decimals <= 2; ++decimals)
            ASSERT_EQ(written(v, decimals), reference(v, decimals)) << v << " with " << decimals << " decimals";
}

TEST(FixedNumber, ShortPathMatchesCLocalePrintf) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char text[400];
    for (double v : edge_values()) {
        std::snprintf(text, sizeof text, "%.2f", v);
        ASSERT_EQ(written(v, 2), text) << v;
        std::snprintf(text, sizeof text, "%.1f", v);
        ASSERT_EQ(written(v, 1), text) << v;
    }
}

}  // namespace
