// Walk over the answer of the system's process sweep: a block of process
// entries chained by their offset to the next entry, each followed by the
// entries of its threads (the 64-bit layout of SystemProcessInformation).
// The walk reads nothing outside the block, whatever the block holds: an
// offset past its end or too short to hold an entry ends the walk, a name
// that lies outside the block reads as empty, a thread count larger than the
// room behind its entry is cut to that room.
#ifndef VANTOREL_PROCESS_SWEEP_H
#define VANTOREL_PROCESS_SWEEP_H

#include <cstddef>
#include <cstdint>

// Layout of one process entry.
#define SWEEP_PROCESS_ENTRY_SIZE 0x100
#define SWEEP_OFFSET_NEXT_ENTRY 0x00
#define SWEEP_OFFSET_THREAD_COUNT 0x04
#define SWEEP_OFFSET_CREATE_TIME 0x20
#define SWEEP_OFFSET_USER_TIME 0x28
#define SWEEP_OFFSET_KERNEL_TIME 0x30
#define SWEEP_OFFSET_IMAGE_NAME 0x38  // counted UTF-16 text: length, size, address
#define SWEEP_OFFSET_PID 0x50
#define SWEEP_OFFSET_PARENT_PID 0x58
#define SWEEP_OFFSET_WORKING_SET 0x90
#define SWEEP_OFFSET_READ_TRANSFER 0xE8
#define SWEEP_OFFSET_WRITE_TRANSFER 0xF0
// Layout of one thread entry.
#define SWEEP_THREAD_ENTRY_SIZE 0x50
#define SWEEP_OFFSET_THREAD_STATE 0x44
#define SWEEP_OFFSET_WAIT_REASON 0x48
// A thread waiting (state 5) for the reason Suspended (5).
#define SWEEP_THREAD_STATE_WAITING 5
#define SWEEP_WAIT_REASON_SUSPENDED 5

// Layout of a counted UTF-16 text (UNICODE_STRING): byte length at 0, the
// address of the units at 8.
#define COUNTED_TEXT_SIZE 16
#define COUNTED_TEXT_OFFSET_LENGTH 0
#define COUNTED_TEXT_OFFSET_ADDRESS 8

// One process as the sweep reports it.
struct sweep_process {
    uint64_t pid;
    uint64_t ppid;
    const void *name_units;  // UTF-16 units inside the block, or null
    size_t name_length;      // in units; 0 for no name
    uint32_t threads;        // thread count as claimed by the entry
    int32_t all_threads_suspended;  // 1 when every claimed thread is listed and suspended
    uint64_t create_time;
    uint64_t kernel_time;    // 100-nanosecond units
    uint64_t user_time;
    uint64_t working_set;    // bytes
    uint64_t read_transfer;  // bytes read since the process started
    uint64_t write_transfer;
};

struct sweep_cursor {
    const unsigned char *block;
    size_t size;
    size_t offset;  // of the entry at hand
    int32_t done;
};

// Starts a walk over `size` bytes at `block` (the length the system
// returned, not the buffer's capacity).
void sweep_begin(sweep_cursor *cursor, const void *block, size_t size);
// Fills `out` with the next process; 0 when the walk has ended.
int32_t sweep_next(sweep_cursor *cursor, sweep_process *out);

// Whether a thread state and wait reason mean a suspended thread.
int32_t sweep_thread_suspended(uint32_t state, uint32_t wait_reason);

// The units of the counted UTF-16 text at byte `at` of a block, when the
// text and its units lie wholly inside the block (an odd byte length loses
// its last byte). Returns 1 and sets `units`/`length` (length 0 for an empty
// text); 0, with length 0, when the text is not inside the block.
int32_t counted_text_in_block(const void *block, size_t size, size_t at,
                              const void **units, size_t *length);

#endif  // VANTOREL_PROCESS_SWEEP_H
