#include "closing_batch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

// Cleared when the kernel (or a seccomp filter) refuses close_range; the
// descriptors are then closed one by one.
std::atomic<bool> s_close_range_works{true};

void close_run(int first, int last) {
#ifdef SYS_close_range
    // Without flags close_range either closes the whole range or fails
    // before closing any (a kernel before 5.9, a seccomp filter): then it
    // is not asked again and the run is closed one by one.
    if (first < last && s_close_range_works.load(std::memory_order_relaxed)) {
        if (syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) == 0) return;
        s_close_range_works.store(false, std::memory_order_relaxed);
    }
#endif
    for (int fd = first; fd <= last; ++fd) close(fd);
}

}  // namespace

size_t descriptor_runs(int *fds, size_t count, int (*runs)[2]) {
    std::sort(fds, fds + count);
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        if (n > 0 && fds[i] == runs[n - 1][1]) continue;  // given twice: closed once
        if (n > 0 && fds[i] == runs[n - 1][1] + 1) {
            runs[n - 1][1] = fds[i];
        } else {
            runs[n][0] = runs[n][1] = fds[i];
            ++n;
        }
    }
    return n;
}

void closing_batch_flush(closing_batch *batch) {
    int runs[closing_batch::kCapacity][2];
    const size_t n = descriptor_runs(batch->fds, batch->count, runs);
    for (size_t i = 0; i < n; ++i) close_run(runs[i][0], runs[i][1]);
    batch->count = 0;
}

void closing_batch_add(closing_batch *batch, int fd) {
    if (batch->count == closing_batch::kCapacity) closing_batch_flush(batch);
    batch->fds[batch->count++] = fd;
}
