// Counters of the previous collection, found by key (a pid, an interface
// LUID, a volume's hash). Rows are stored one after the other in the order
// they were put; an open-addressing index (linear probing, never filled
// beyond half) finds a row by key in constant time. A reader that visits the
// keys in about the order they were stored (processes listed by successive
// sweeps) looks at the row after the last one it found first and touches
// the index only when that is not the key. A writer that stores many rows in
// one go appends them and indexes them together afterwards, so the index's
// cache misses overlap instead of stalling each store.
//
// Invariants: rows [0, indexed) hold distinct keys and each has exactly one
// index slot, whose tag is the key's hash; rows [indexed, count) are
// appended and not yet findable; free slots are all-zero. A zero-filled
// table is a valid empty one.
#ifndef VANTOREL_COUNTER_TABLE_H
#define VANTOREL_COUNTER_TABLE_H

#include <cstdint>

struct counter_row {
    uint64_t key;
    uint64_t values[3];
    uint32_t flags;  // which values were read; the caller's meaning
};

struct counter_slot {
    uint32_t tag;  // the key's hash, compared before the row is read
    uint32_t row;  // index of the row plus one; 0: a free slot
};

struct counter_table_state {
    int32_t count;    // rows stored
    int32_t indexed;  // rows findable
};

// `slots` is a power of two; `rows` has room for slots / 2 rows.
void counter_rows_clear(counter_slot *index, uint32_t slots, counter_table_state *state);
// Stores a row under `key` and makes it findable (appended rows first).
// Returns 1 when stored; 0 when the key is already present (the first row
// stays) or the table holds slots / 2 rows.
int32_t counter_rows_put(counter_row *rows, counter_slot *index, uint32_t slots,
                         counter_table_state *state, uint64_t key, const uint64_t values[3],
                         uint32_t flags);
// Stores a row at the end without looking for its key: it is found only
// once counter_rows_index_appended has run. Returns 0 when the table holds
// slots / 2 rows.
int32_t counter_rows_append(counter_row *rows, uint32_t slots, counter_table_state *state,
                            uint64_t key, const uint64_t values[3], uint32_t flags);
// Makes the appended rows findable. A row whose key an earlier row holds is
// dropped (the first stays) and the rows after it move up.
void counter_rows_index_appended(counter_row *rows, counter_slot *index, uint32_t slots,
                                 counter_table_state *state);
// The row of `key` among the findable ones, or null.
const counter_row *counter_rows_find(const counter_row *rows, const counter_slot *index,
                                     uint32_t slots, const counter_table_state *state,
                                     uint64_t key);
// Like counter_rows_find, trying the row at `*cursor` first; `*cursor`
// becomes the position after the row found (unchanged when none is).
const counter_row *counter_rows_find_near(const counter_row *rows, const counter_slot *index,
                                          uint32_t slots, const counter_table_state *state,
                                          uint64_t key, uint32_t *cursor);

// Heap storage of a table that outgrew its own arrays: rows for slots / 2
// rows and an index of `slots` slots. All zero: the table's own arrays.
struct counter_storage {
    counter_row *rows;
    counter_slot *index;
    uint32_t slots;
};

// Moves the table's rows into storage for at least `wanted` rows (at least
// twice the slots it had), through the allocator hooks, and indexes them
// there; the storage it had on the heap is released. False, with nothing
// changed, when memory runs out or `wanted` cannot be held.
bool counter_storage_grow(counter_storage *grown, const counter_row *rows, uint32_t slots,
                          counter_table_state *state, uint32_t wanted);
void counter_storage_release(counter_storage *grown);

// A table that starts on its own arrays of SLOTS slots and moves to the
// heap when reserve() asks for more rows than they hold; it keeps that size.
// It owns its heap storage: never copy one.
template <uint32_t SLOTS>
struct counter_table {
    static_assert(SLOTS >= 2 && (SLOTS & (SLOTS - 1)) == 0, "power of two");
    counter_row held_rows[SLOTS / 2];
    counter_slot held_index[SLOTS];
    counter_table_state state;
    counter_storage grown;

    ~counter_table() { counter_storage_release(&grown); }
    counter_row *rows() { return grown.rows != nullptr ? grown.rows : held_rows; }
    const counter_row *rows() const { return grown.rows != nullptr ? grown.rows : held_rows; }
    counter_slot *index() { return grown.index != nullptr ? grown.index : held_index; }
    const counter_slot *index() const {
        return grown.index != nullptr ? grown.index : held_index;
    }
    uint32_t slots() const { return grown.rows != nullptr ? grown.slots : SLOTS; }
    // Rows the table holds before it has to grow.
    int32_t room() const { return static_cast<int32_t>(slots() / 2); }

    void clear() { counter_rows_clear(index(), slots(), &state); }
    // Makes room for at least `wanted` rows; true when the table holds them.
    bool reserve(int32_t wanted) {
        if (wanted <= room()) return true;
        return counter_storage_grow(&grown, rows(), slots(), &state,
                                    static_cast<uint32_t>(wanted));
    }
    int32_t put(uint64_t key, const uint64_t values[3], uint32_t flags) {
        return counter_rows_put(rows(), index(), slots(), &state, key, values, flags);
    }
    int32_t append(uint64_t key, const uint64_t values[3], uint32_t flags) {
        return counter_rows_append(rows(), slots(), &state, key, values, flags);
    }
    void index_appended() { counter_rows_index_appended(rows(), index(), slots(), &state); }
    const counter_row *find(uint64_t key) const {
        return counter_rows_find(rows(), index(), slots(), &state, key);
    }
    const counter_row *find_near(uint64_t key, uint32_t *cursor) const {
        return counter_rows_find_near(rows(), index(), slots(), &state, key, cursor);
    }
    int32_t count() const { return state.indexed; }
};

// A 64-bit key for a text (FNV-1a), for tables keyed by a name.
uint64_t counter_key_of_text(const char *text);

#endif  // VANTOREL_COUNTER_TABLE_H
