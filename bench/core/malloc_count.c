/* Counts every call of the C allocator in the benchmark program, whoever
 * makes it (the library, the C++ runtime, qsort), by standing in for
 * malloc, calloc and realloc and handing each call on to glibc. The
 * stand-ins are visible to the shared libraries (the build hides symbols by
 * default), so calls from inside the C and C++ runtimes come here too. */
#include <stddef.h>
#include <stdint.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *block, size_t size);

#define EXPORTED __attribute__((visibility("default")))

volatile uint64_t bench_malloc_calls = 0;

EXPORTED void *malloc(size_t size) {
    __atomic_fetch_add(&bench_malloc_calls, 1, __ATOMIC_RELAXED);
    return __libc_malloc(size);
}

EXPORTED void *calloc(size_t count, size_t size) {
    __atomic_fetch_add(&bench_malloc_calls, 1, __ATOMIC_RELAXED);
    return __libc_calloc(count, size);
}

EXPORTED void *realloc(void *block, size_t size) {
    __atomic_fetch_add(&bench_malloc_calls, 1, __ATOMIC_RELAXED);
    return __libc_realloc(block, size);
}
