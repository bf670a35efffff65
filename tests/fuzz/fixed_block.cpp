#include "fixed_block.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <cstring>

unsigned char *fixed_block_load(const uint8_t *data, size_t size) {
    static unsigned char *block = [] {
        void *p = mmap(reinterpret_cast<void *>(FIXED_BLOCK_ADDRESS), FIXED_BLOCK_CAPACITY,
                       PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p == MAP_FAILED || p != reinterpret_cast<void *>(FIXED_BLOCK_ADDRESS)) return static_cast<unsigned char *>(nullptr);
        return static_cast<unsigned char *>(p);
    }();
    if (block == nullptr || size > FIXED_BLOCK_CAPACITY) return nullptr;
    ASAN_UNPOISON_MEMORY_REGION(block, FIXED_BLOCK_CAPACITY);
    if (size > 0) std::memcpy(block, data, size);
    ASAN_POISON_MEMORY_REGION(block + size, FIXED_BLOCK_CAPACITY - size);
    return block;
}
