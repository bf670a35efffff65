#include "process_sweep.h"

#include <cstring>

namespace {

uint64_t u64_at(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t u32_at(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint16_t u16_at(const unsigned char *p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

int32_t counted_text_in_block(const void *block, size_t size, size_t at,
                              const void **units, size_t *length) {
    *units = nullptr;
    *length = 0;
    if (block == nullptr || at > size || size - at < COUNTED_TEXT_SIZE) return 0;
    const auto *base = static_cast<const unsigned char *>(block);
    const size_t bytes = u16_at(base + at + COUNTED_TEXT_OFFSET_LENGTH) & ~static_cast<size_t>(1);
    if (bytes == 0) return 1;
    // The address is compared as a number: it may point anywhere.
    const uint64_t address = u64_at(base + at + COUNTED_TEXT_OFFSET_ADDRESS);
    const uint64_t start = reinterpret_cast<uintptr_t>(base);
    if (address < start || address - start > size) return 0;
    const size_t offset = static_cast<size_t>(address - start);
    if (bytes > size - offset) return 0;
    *units = base + offset;
    *length = bytes / 2;
    return 1;
}

int32_t sweep_thread_suspended(uint32_t state, uint32_t wait_reason) {
    return state == SWEEP_THREAD_STATE_WAITING && wait_reason == SWEEP_WAIT_REASON_SUSPENDED;
}

void sweep_begin(sweep_cursor *cursor, const void *block, size_t size) {
    cursor->block = static_cast<const unsigned char *>(block);
    cursor->size = block != nullptr ? size : 0;
    cursor->offset = 0;
    cursor->done = 0;
}

int32_t sweep_next(sweep_cursor *cursor, sweep_process *out) {
    std::memset(out, 0, sizeof *out);
    if (cursor->done) return 0;
    const size_t at = cursor->offset;
    if (at > cursor->size || cursor->size - at < SWEEP_PROCESS_ENTRY_SIZE) {
        cursor->done = 1;
        return 0;
    }
    const unsigned char *entry = cursor->block + at;

    // Where this entry's room ends: at the next entry, or at the block's end
    // for the last one. Offsets only ever move forward, by at least one
    // entry, so no chain can loop.
    const size_t next = u32_at(entry + SWEEP_OFFSET_NEXT_ENTRY);
    size_t room_end = cursor->size;
    if (next == 0 || next < SWEEP_PROCESS_ENTRY_SIZE || next > cursor->size - at) {
        cursor->done = 1;
    } else {
        room_end = at + next;
        cursor->offset = at + next;
    }

    out->pid = u64_at(entry + SWEEP_OFFSET_PID);
    out->ppid = u64_at(entry + SWEEP_OFFSET_PARENT_PID);
    out->create_time = u64_at(entry + SWEEP_OFFSET_CREATE_TIME);
    out->kernel_time = u64_at(entry + SWEEP_OFFSET_KERNEL_TIME);
    out->user_time = u64_at(entry + SWEEP_OFFSET_USER_TIME);
    out->working_set = u64_at(entry + SWEEP_OFFSET_WORKING_SET);
    out->read_transfer = u64_at(entry + SWEEP_OFFSET_READ_TRANSFER);
    out->write_transfer = u64_at(entry + SWEEP_OFFSET_WRITE_TRANSFER);
    counted_text_in_block(cursor->block, cursor->size, at + SWEEP_OFFSET_IMAGE_NAME,
                          &out->name_units, &out->name_length);

    const uint32_t claimed = u32_at(entry + SWEEP_OFFSET_THREAD_COUNT);
    out->threads = claimed;
    const size_t room = (room_end - at - SWEEP_PROCESS_ENTRY_SIZE) / SWEEP_THREAD_ENTRY_SIZE;
    const size_t listed = claimed < room ? claimed : room;
    int32_t suspended = claimed > 0 && listed == claimed;
    for (size_t i = 0; suspended && i < listed; ++i) {
        const unsigned char *thread =
            entry + SWEEP_PROCESS_ENTRY_SIZE + i * SWEEP_THREAD_ENTRY_SIZE;
        suspended = sweep_thread_suspended(u32_at(thread + SWEEP_OFFSET_THREAD_STATE),
                                           u32_at(thread + SWEEP_OFFSET_WAIT_REASON));
    }
    out->all_threads_suspended = suspended;
    return 1;
}
