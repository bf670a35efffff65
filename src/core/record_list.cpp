#include "record_list.h"

#include <cstring>

#include "runtime_hooks.h"

bool record_storage_grow(void **items, int32_t *capacity, int32_t *on_heap, size_t record_size,
                         int32_t needed) {
    const int64_t old_capacity = *capacity > 0 ? *capacity : 0;
    if (needed <= old_capacity) return true;
    int64_t grown = old_capacity * 2 > 16 ? old_capacity * 2 : 16;
    if (grown < needed) grown = needed;
    if (grown > INT32_MAX) grown = INT32_MAX;
    if (record_size == 0 || static_cast<uint64_t>(grown) > SIZE_MAX / record_size) return false;
    const size_t old_bytes = static_cast<size_t>(old_capacity) * record_size;
    const size_t new_bytes = static_cast<size_t>(grown) * record_size;
    void *block = nullptr;
    if (*on_heap != 0) {
        block = s_hooks.mem_realloc(*items, new_bytes);
    } else {
        block = s_hooks.mem_alloc(new_bytes);
        if (block != nullptr && old_bytes > 0) std::memcpy(block, *items, old_bytes);
    }
    if (block == nullptr) return false;
    std::memset(static_cast<char *>(block) + old_bytes, 0, new_bytes - old_bytes);
    *items = block;
    *capacity = static_cast<int32_t>(grown);
    *on_heap = 1;
    return true;
}

void record_storage_release(void **items, int32_t *capacity, int32_t *on_heap, size_t record_size,
                            void *initial, int32_t initial_capacity) {
    if (*on_heap != 0) s_hooks.mem_free(*items);
    *items = initial;
    *capacity = initial != nullptr && initial_capacity > 0 ? initial_capacity : 0;
    *on_heap = 0;
    if (initial != nullptr) std::memset(initial, 0, static_cast<size_t>(*capacity) * record_size);
}
