// Counters of the previous collection, found by key (a pid, an interface
// LUID, a volume's hash) in constant time: open addressing with linear
// probing over a fixed number of slots, never filled beyond half. Emptying
// the table only advances a generation number, so a collection costs no
// pass over all the slots.
#ifndef VANTOREL_COUNTER_TABLE_H
#define VANTOREL_COUNTER_TABLE_H

#include <cstdint>

struct counter_row {
    uint64_t key;
    uint64_t values[3];
    uint32_t flags;       // which values were read; the caller's meaning
    uint32_t generation;  // the row is in use when it equals the table's
};

struct counter_table_state {
    uint32_t generation;  // 0 only before the first clear: nothing in use
    int32_t count;
};

// `slots` is a power of two.
void counter_rows_clear(counter_row *rows, uint32_t slots, counter_table_state *state);
// Stores a row under `key`. Returns 1 when stored; 0 when the key is already
// present (the first row stays) or the table holds slots / 2 rows.
int32_t counter_rows_put(counter_row *rows, uint32_t slots, counter_table_state *state,
                         uint64_t key, const uint64_t values[3], uint32_t flags);
// The row of `key`, or null.
const counter_row *counter_rows_find(const counter_row *rows, uint32_t slots,
                                     const counter_table_state *state, uint64_t key);

template <uint32_t SLOTS>
struct counter_table {
    static_assert(SLOTS >= 2 && (SLOTS & (SLOTS - 1)) == 0, "power of two");
    counter_row rows[SLOTS];
    counter_table_state state;

    void clear() { counter_rows_clear(rows, SLOTS, &state); }
    int32_t put(uint64_t key, const uint64_t values[3], uint32_t flags) {
        return counter_rows_put(rows, SLOTS, &state, key, values, flags);
    }
    const counter_row *find(uint64_t key) const {
        return counter_rows_find(rows, SLOTS, &state, key);
    }
    int32_t count() const { return state.generation != 0 ? state.count : 0; }
};

// A 64-bit key for a text (FNV-1a), for tables keyed by a name.
uint64_t counter_key_of_text(const char *text);

#endif  // VANTOREL_COUNTER_TABLE_H
