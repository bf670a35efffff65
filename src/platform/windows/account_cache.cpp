#include "account_cache.h"

#include <cstring>

#include "text_fields.h"

namespace {

uint32_t slot_of(const void *sid, size_t sid_size) {
    uint32_t hash = 2166136261u;
    const auto *bytes = static_cast<const unsigned char *>(sid);
    for (size_t i = 0; i < sid_size; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash & (ACCOUNT_CACHE_SLOTS - 1);
}

bool usable(const void *sid, size_t sid_size) {
    return sid != nullptr && sid_size > 0 && sid_size <= ACCOUNT_SID_MAX_SIZE;
}

bool same(const account_entry &entry, const void *sid, size_t sid_size) {
    return entry.sid_size == sid_size && std::memcmp(entry.sid, sid, sid_size) == 0;
}

}  // namespace

static_assert((ACCOUNT_CACHE_SLOTS & (ACCOUNT_CACHE_SLOTS - 1)) == 0, "power of two");

const char *account_cache_find(const account_cache *cache, const void *sid, size_t sid_size) {
    if (!usable(sid, sid_size)) return nullptr;
    // At most half the slots are taken, so a free slot ends every probe.
    for (uint32_t i = slot_of(sid, sid_size);; i = (i + 1) & (ACCOUNT_CACHE_SLOTS - 1)) {
        const account_entry &entry = cache->slots[i];
        if (entry.sid_size == 0) return nullptr;
        if (same(entry, sid, sid_size)) return entry.name;
    }
}

int32_t account_cache_put(account_cache *cache, const void *sid, size_t sid_size,
                          const char *name) {
    if (!usable(sid, sid_size) || cache->count >= ACCOUNT_CACHE_SLOTS / 2) return 0;
    for (uint32_t i = slot_of(sid, sid_size);; i = (i + 1) & (ACCOUNT_CACHE_SLOTS - 1)) {
        account_entry &entry = cache->slots[i];
        if (same(entry, sid, sid_size)) return 0;
        if (entry.sid_size != 0) continue;
        std::memcpy(entry.sid, sid, sid_size);
        entry.sid_size = static_cast<uint32_t>(sid_size);
        utf8_copy_cut(entry.name, sizeof entry.name, name, ACCOUNT_NAME_SIZE * 4);
        ++cache->count;
        return 1;
    }
}
