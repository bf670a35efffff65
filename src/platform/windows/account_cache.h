// Account names of process owners, remembered per security identifier, so
// that the system's name lookup runs once per owner rather than once per
// process and collection. Found by hash of the identifier's bytes.
#ifndef VANTOREL_ACCOUNT_CACHE_H
#define VANTOREL_ACCOUNT_CACHE_H

#include <cstddef>
#include <cstdint>

#define ACCOUNT_CACHE_SLOTS 256
#define ACCOUNT_SID_MAX_SIZE 68  // the largest identifier the system defines
#define ACCOUNT_NAME_SIZE 64     // the size of the records' user field

struct account_entry {
    uint8_t sid[ACCOUNT_SID_MAX_SIZE];
    uint32_t sid_size;  // 0: slot free
    char name[ACCOUNT_NAME_SIZE];
};

struct account_cache {
    account_entry slots[ACCOUNT_CACHE_SLOTS];
    int32_t count;
};

// The name remembered for an identifier of `sid_size` bytes, or null.
const char *account_cache_find(const account_cache *cache, const void *sid, size_t sid_size);
// Remembers `name` (UTF-8, cut at a character boundary to the field) for
// the identifier. Identifiers larger than ACCOUNT_SID_MAX_SIZE, or beyond
// half the slots, are not remembered. Returns 1 when stored.
int32_t account_cache_put(account_cache *cache, const void *sid, size_t sid_size,
                          const char *name);

#endif  // VANTOREL_ACCOUNT_CACHE_H
