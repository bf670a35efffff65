// The account names remembered per identifier.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "account_cache.h"

TEST(AccountCache, RemembersNamesPerIdentifier) {
    static account_cache cache;  // zeroed, as the collector's is
    const unsigned char system_sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    const unsigned char user_sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
    EXPECT_EQ(account_cache_find(&cache, system_sid, sizeof system_sid), nullptr);
    EXPECT_EQ(account_cache_put(&cache, system_sid, sizeof system_sid, "SYSTEM"), 1);
    EXPECT_EQ(account_cache_put(&cache, user_sid, sizeof user_sid, "Jürgen"), 1);
    EXPECT_STREQ(account_cache_find(&cache, system_sid, sizeof system_sid), "SYSTEM");
    EXPECT_STREQ(account_cache_find(&cache, user_sid, sizeof user_sid), "Jürgen");
    // A prefix of an identifier is another identifier.
    EXPECT_EQ(account_cache_find(&cache, user_sid, sizeof user_sid - 1), nullptr);
    EXPECT_EQ(account_cache_put(&cache, user_sid, sizeof user_sid, "other"), 0);

    // Long names are cut at a character boundary to the field.
    const unsigned char long_sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0};
    const std::string name = std::string(62, 'n') + "\xC3\xA9";
    account_cache_put(&cache, long_sid, sizeof long_sid, name.c_str());
    EXPECT_EQ(std::string(account_cache_find(&cache, long_sid, sizeof long_sid)),
              std::string(62, 'n'));

    // Oversized identifiers are never stored; the cache stops at half its
    // slots, and every stored identifier stays found.
    unsigned char big[ACCOUNT_SID_MAX_SIZE + 1] = {};
    EXPECT_EQ(account_cache_put(&cache, big, sizeof big, "x"), 0);
    int stored = 3;
    for (uint32_t i = 0; i < ACCOUNT_CACHE_SLOTS; ++i) {
        unsigned char sid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
        std::memcpy(sid + 8, &i, sizeof i);
        sid[11] = 0x7F;
        stored += account_cache_put(&cache, sid, sizeof sid, "u");
    }
    EXPECT_EQ(stored, ACCOUNT_CACHE_SLOTS / 2);
    EXPECT_STREQ(account_cache_find(&cache, user_sid, sizeof user_sid), "Jürgen");
}
