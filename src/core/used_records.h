// How far a collector's record array holds figures, so that a collection
// clears only the entries the previous one filled instead of the whole
// capacity (2048 process records are 2.7 MB). The arrays live as long as the
// library and only their collector writes them: every entry past the mark is
// already zero. An array the mark has not seen yet is cleared whole once.
#ifndef VANTOREL_USED_RECORDS_H
#define VANTOREL_USED_RECORDS_H

#include <cstdint>
#include <cstring>

#include "record_list.h"

struct used_records {
    const void *array;  // the array the count is about; null before the first collection
    int32_t count;      // entries [0, count) may hold figures; every later one is zero
};

// Ends a collection that filled [0, filled) of [0, capacity) and cleared the
// rest of it: the count becomes `filled`, unless entries past the capacity
// may still hold figures of an earlier, larger collection.
inline void used_records_end(used_records *used, int32_t filled, int32_t capacity) {
    if (used != nullptr && (used->count <= capacity || used->count <= filled)) used->count = filled;
}

// Notes that entries [0, filled) may now hold figures.
inline void used_records_note(used_records *used, int32_t filled) {
    if (used != nullptr && filled > used->count) used->count = filled;
}

// The number of leading entries of [0, capacity) that may hold figures,
// when the mark knows the array (the rest of the capacity is zero; entries
// past the capacity stay in the mark's count). Otherwise the whole capacity
// is cleared, the mark takes the array, and 0 is returned.
template <typename Record>
int32_t used_records_dirty(used_records *used, Record *records, int32_t capacity) {
    const int32_t usable = capacity > 0 ? capacity : 0;
    if (used != nullptr && used->array == records)
        return used->count < usable ? used->count : usable;
    // An empty list may have no storage at all.
    if (usable > 0) std::memset(records, 0, sizeof *records * static_cast<size_t>(usable));
    if (used != nullptr) {
        used->array = records;
        used->count = 0;
    }
    return 0;
}

// Zeroes every entry of [0, capacity) that may hold figures, so that the
// whole of it reads zero, and resets the count to what lies past the
// capacity, if anything.
template <typename Record>
void used_records_clear(used_records *used, Record *records, int32_t capacity) {
    const int32_t dirty = used_records_dirty(used, records, capacity);
    if (dirty > 0) std::memset(records, 0, sizeof *records * static_cast<size_t>(dirty));
    used_records_end(used, 0, capacity);
}

// Grows `list` to hold at least `needed` records for a walk that fills it
// through `*items` (of `*capacity` entries): the walk's view and the mark of
// the entries in use follow the list to its new storage. False, with nothing
// changed, when there is no list or it cannot grow.
template <typename Record>
bool used_records_grow(used_records *used, record_list<Record> *list, Record **items, int32_t *capacity,
                       int32_t needed) {
    if (list == nullptr || !record_list_reserve(list, needed)) return false;
    if (used != nullptr && used->array == *items) used->array = list->items;
    *items = list->items;
    *capacity = list->capacity;
    return true;
}

#endif  // VANTOREL_USED_RECORDS_H
