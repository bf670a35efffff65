// A host that switches to a decimal-comma locale (any desktop program that
// calls setlocale(LC_ALL, "") on a German system does) still gets documents
// whose numbers use '.' and parse as JSON.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "host_library.h"
#include "json_checks.h"

namespace {

class HostLocale : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::setlocale(LC_ALL, "German"), nullptr);
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(HostLocale, NumbersKeepTheDecimalPoint) {
    api().snapshot();
    api().snapshot();
    const std::string cpu = api().cpu();
    EXPECT_TRUE(well_formed_document(cpu.c_str()));
    EXPECT_TRUE(numbers_well_formed(cpu));
    const std::string snapshot = api().snapshot();
    EXPECT_TRUE(well_formed_document(snapshot.c_str()));
    EXPECT_TRUE(numbers_well_formed(snapshot));
    // Two samples of the processor load: two numbers, never four pieces.
    const ordered_json history = parse_document(api().history(0, 2));
    ASSERT_TRUE(history.is_array());
    EXPECT_EQ(history.size(), 2u);
    EXPECT_TRUE(is_fixed2_array(api().history(1, 3)));
}

}  // namespace
