#include "counter_table.h"

#include <cstring>

namespace {

// Mixes the key so that pids (multiples of 4) and LUIDs (index in the
// upper bits) spread over the slots.
uint32_t slot_of(uint64_t key, uint32_t slots) {
    key ^= key >> 30;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 27;
    key *= 0x94D049BB133111EBull;
    key ^= key >> 31;
    return static_cast<uint32_t>(key) & (slots - 1);
}

bool in_use(const counter_row &row, const counter_table_state *state) {
    return state->generation != 0 && row.generation == state->generation;
}

}  // namespace

void counter_rows_clear(counter_row *rows, uint32_t slots, counter_table_state *state) {
    ++state->generation;
    if (state->generation == 0) {
        // The generation wrapped: rows of an old generation could read as
        // current, so wipe them once.
        std::memset(rows, 0, sizeof *rows * slots);
        state->generation = 1;
    }
    state->count = 0;
}

int32_t counter_rows_put(counter_row *rows, uint32_t slots, counter_table_state *state,
                         uint64_t key, const uint64_t values[3], uint32_t flags) {
    if (state->generation == 0) counter_rows_clear(rows, slots, state);
    if (static_cast<uint32_t>(state->count) >= slots / 2) return 0;
    for (uint32_t i = slot_of(key, slots);; i = (i + 1) & (slots - 1)) {
        counter_row &row = rows[i];
        if (!in_use(row, state)) {
            row.key = key;
            row.values[0] = values[0];
            row.values[1] = values[1];
            row.values[2] = values[2];
            row.flags = flags;
            row.generation = state->generation;
            ++state->count;
            return 1;
        }
        if (row.key == key) return 0;
    }
}

const counter_row *counter_rows_find(const counter_row *rows, uint32_t slots,
                                     const counter_table_state *state, uint64_t key) {
    if (state->generation == 0) return nullptr;
    // At most half the slots are in use, so a free slot ends every probe.
    for (uint32_t i = slot_of(key, slots);; i = (i + 1) & (slots - 1)) {
        const counter_row &row = rows[i];
        if (!in_use(row, state)) return nullptr;
        if (row.key == key) return &row;
    }
}

uint64_t counter_key_of_text(const char *text) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char *p = text; p != nullptr && *p != '\0'; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 0x100000001B3ull;
    }
    return hash;
}
