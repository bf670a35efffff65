#include "counter_table.h"

#include <cstring>

namespace {

// Mixes the key so that pids (multiples of 4) and LUIDs (index in the
// upper bits) spread over the slots.
uint64_t hash_of(uint64_t key) {
    key ^= key >> 30;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 27;
    key *= 0x94D049BB133111EBull;
    key ^= key >> 31;
    return key;
}

}  // namespace

void counter_rows_clear(counter_slot *index, uint32_t slots, counter_table_state *state) {
    std::memset(index, 0, sizeof *index * slots);
    state->count = 0;
    state->indexed = 0;
}

// The index slot of `key`: the one that holds it, or the free slot where a
// probe for it ends (at most half the slots are in use, so one always does).
template <typename Slot>
static Slot *probe(const counter_row *rows, Slot *index, uint32_t slots, uint64_t key) {
    const uint64_t hash = hash_of(key);
    const auto tag = static_cast<uint32_t>(hash >> 32);
    for (uint32_t i = static_cast<uint32_t>(hash) & (slots - 1);; i = (i + 1) & (slots - 1)) {
        Slot &slot = index[i];
        if (slot.row == 0 || (slot.tag == tag && rows[slot.row - 1].key == key)) return &slot;
    }
}

// Enters row `at` in the index unless its key is there already; returns
// whether it was entered.
static bool index_row(const counter_row *rows, counter_slot *index, uint32_t slots,
                      uint32_t at) {
    const uint64_t key = rows[at].key;
    counter_slot *slot = probe(rows, index, slots, key);
    if (slot->row != 0) return false;
    slot->tag = static_cast<uint32_t>(hash_of(key) >> 32);
    slot->row = at + 1;
    return true;
}

int32_t counter_rows_append(counter_row *rows, uint32_t slots, counter_table_state *state,
                            uint64_t key, const uint64_t values[3], uint32_t flags) {
    if (static_cast<uint32_t>(state->count) >= slots / 2) return 0;
    counter_row &row = rows[state->count];
    row.key = key;
    row.values[0] = values[0];
    row.values[1] = values[1];
    row.values[2] = values[2];
    row.flags = flags;
    ++state->count;
    return 1;
}

void counter_rows_index_appended(counter_row *rows, counter_slot *index, uint32_t slots,
                                 counter_table_state *state) {
    auto kept = static_cast<uint32_t>(state->indexed);
    for (auto at = kept; at < static_cast<uint32_t>(state->count); ++at) {
        if (at != kept) rows[kept] = rows[at];
        if (index_row(rows, index, slots, kept)) ++kept;
    }
    state->count = static_cast<int32_t>(kept);
    state->indexed = state->count;
}

int32_t counter_rows_put(counter_row *rows, counter_slot *index, uint32_t slots,
                         counter_table_state *state, uint64_t key, const uint64_t values[3],
                         uint32_t flags) {
    counter_rows_index_appended(rows, index, slots, state);
    const int32_t before = state->count;
    if (!counter_rows_append(rows, slots, state, key, values, flags)) return 0;
    counter_rows_index_appended(rows, index, slots, state);  // drops a repeated key
    return state->count != before;
}

const counter_row *counter_rows_find(const counter_row *rows, const counter_slot *index,
                                     uint32_t slots, const counter_table_state *state,
                                     uint64_t key) {
    if (state->indexed == 0) return nullptr;
    const counter_slot *slot = probe(rows, index, slots, key);
    return slot->row != 0 ? &rows[slot->row - 1] : nullptr;
}

const counter_row *counter_rows_find_near(const counter_row *rows, const counter_slot *index,
                                          uint32_t slots, const counter_table_state *state,
                                          uint64_t key, uint32_t *cursor) {
    const uint32_t at = *cursor;
    if (at < static_cast<uint32_t>(state->indexed) && rows[at].key == key) {
        *cursor = at + 1;
        return &rows[at];
    }
    const counter_row *row = counter_rows_find(rows, index, slots, state, key);
    if (row != nullptr) *cursor = static_cast<uint32_t>(row - rows) + 1;
    return row;
}

uint64_t counter_key_of_text(const char *text) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char *p = text; p != nullptr && *p != '\0'; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 0x100000001B3ull;
    }
    return hash;
}
