#include "allocation_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {
std::atomic<uint64_t> s_allocations{0};
void count() { s_allocations.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

uint64_t allocations_made() { return s_allocations.load(std::memory_order_relaxed); }

extern "C" {

__attribute__((visibility("default"))) void *malloc(size_t size) {
    count();
    return __libc_malloc(size);
}

__attribute__((visibility("default"))) void *calloc(size_t count_, size_t size) {
    count();
    return __libc_calloc(count_, size);
}

__attribute__((visibility("default"))) void *realloc(void *block, size_t size) {
    count();
    return __libc_realloc(block, size);
}

__attribute__((visibility("default"))) void *memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

__attribute__((visibility("default"))) void *aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

__attribute__((visibility("default"))) int posix_memalign(void **out, size_t alignment, size_t size) {
    count();
    void *block = __libc_memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

__attribute__((visibility("default"))) void free(void *block) { __libc_free(block); }

}  // extern "C"
