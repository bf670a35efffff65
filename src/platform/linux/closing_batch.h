// Descriptors closed in batches. Closing costs a system call per file, and
// a process sweep opens two or more files per process; the descriptors of
// a batch are kept until it is full (or flushed) and then closed by runs
// of consecutive numbers, each run with one close_range call.
//
// Invariant: every descriptor in a batch was opened by its owner and is
// still open, so a run of consecutive numbers that are all in the batch
// holds no descriptor of anyone else, even while other threads open and
// close files: closing the run closes exactly the batch's descriptors.
#ifndef VANTOREL_LINUX_CLOSING_BATCH_H
#define VANTOREL_LINUX_CLOSING_BATCH_H

#include <cstddef>

struct closing_batch {
    static constexpr size_t kCapacity = 32;
    int fds[kCapacity];
    size_t count = 0;
};

// Hands `fd` (>= 0) to the batch, closing the batch first when it is full.
void closing_batch_add(closing_batch *batch, int fd);
// Closes every descriptor of the batch and empties it.
void closing_batch_flush(closing_batch *batch);

// Sorts `fds` ascending and splits them into runs of consecutive numbers,
// written as [first, last] pairs into `runs` (room for `count` pairs);
// returns the number of runs. A number given twice is in its run once.
size_t descriptor_runs(int *fds, size_t count, int (*runs)[2]);

#endif  // VANTOREL_LINUX_CLOSING_BATCH_H
