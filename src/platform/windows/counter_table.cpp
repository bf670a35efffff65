#include "counter_table.h"

#include <cstring>

#include "runtime_hooks.h"

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

bool counter_storage_grow(counter_storage *grown, const counter_row *rows, uint32_t slots,
                          counter_table_state *state, uint32_t wanted) {
    if (wanted <= slots / 2) return true;
    // The index stays at most half full: twice the rows, rounded up to a
    // power of two, and at least twice the slots it had.
    uint64_t new_slots = static_cast<uint64_t>(slots) * 2;
    while (new_slots < static_cast<uint64_t>(wanted) * 2) new_slots *= 2;
    if (new_slots > (uint64_t{1} << 31)) return false;
    const size_t row_bytes = sizeof(counter_row) * static_cast<size_t>(new_slots / 2);
    const size_t index_bytes = sizeof(counter_slot) * static_cast<size_t>(new_slots);
    auto *new_rows = static_cast<counter_row *>(s_hooks.mem_alloc(row_bytes));
    auto *new_index = static_cast<counter_slot *>(s_hooks.mem_alloc(index_bytes));
    if (new_rows == nullptr || new_index == nullptr) {
        if (new_rows != nullptr) s_hooks.mem_free(new_rows);
        if (new_index != nullptr) s_hooks.mem_free(new_index);
        return false;
    }
    const auto slot_count = static_cast<uint32_t>(new_slots);
    if (state->count > 0)
        std::memcpy(new_rows, rows, sizeof(counter_row) * static_cast<size_t>(state->count));
    // Every row the old index held is indexed anew; appended rows stay
    // appended.
    counter_table_state moved = {state->count, 0};
    std::memset(new_index, 0, index_bytes);
    const int32_t indexed = state->indexed;
    moved.count = indexed;
    counter_rows_index_appended(new_rows, new_index, slot_count, &moved);
    moved.count = state->count;
    counter_storage_release(grown);
    grown->rows = new_rows;
    grown->index = new_index;
    grown->slots = slot_count;
    *state = moved;
    return true;
}

void counter_storage_release(counter_storage *grown) {
    if (grown->rows != nullptr) s_hooks.mem_free(grown->rows);
    if (grown->index != nullptr) s_hooks.mem_free(grown->index);
    grown->rows = nullptr;
    grown->index = nullptr;
    grown->slots = 0;
}

uint64_t counter_key_of_text(const char *text) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char *p = text; p != nullptr && *p != '\0'; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 0x100000001B3ull;
    }
    return hash;
}
