// Record arrays that grow with what the machine has. A list starts on static
// storage of its initial size, so a library that never meets a big machine
// allocates nothing; when a collection finds more entries than the list
// holds, the list grows geometrically through the allocator hooks and keeps
// that size, so that a steady state allocates nothing. When memory runs out
// the list keeps the size it has and the collection lists what fits.
#ifndef VANTOREL_RECORD_LIST_H
#define VANTOREL_RECORD_LIST_H

#include <cstddef>
#include <cstdint>

template <typename Record>
struct record_list {
    Record *items;     // capacity entries; those past count read zero
    int32_t count;     // entries in use
    int32_t capacity;  // entries held
    int32_t on_heap;   // 1 once the items come from the allocator
};

// Grows raw storage of `*capacity` records of `record_size` bytes to hold at
// least `needed` (at least double the size it had), keeping the records held
// and zeroing the new ones. False, with nothing changed, when the size cannot
// be represented or memory runs out.
bool record_storage_grow(void **items, int32_t *capacity, int32_t *on_heap, size_t record_size,
                         int32_t needed);

// Makes room for at least `needed` records; true when the list holds that many.
template <typename Record>
bool record_list_reserve(record_list<Record> *list, int32_t needed) {
    if (needed <= list->capacity) return true;
    void *items = list->items;
    if (!record_storage_grow(&items, &list->capacity, &list->on_heap, sizeof(Record), needed))
        return false;
    list->items = static_cast<Record *>(items);
    return true;
}

// Gives heap storage back to the allocator and returns the list, empty, to
// its initial storage of `initial_capacity` records, zeroed.
void record_storage_release(void **items, int32_t *capacity, int32_t *on_heap, size_t record_size,
                            void *initial, int32_t initial_capacity);

template <typename Record>
void record_list_release(record_list<Record> *list, Record *initial, int32_t initial_capacity) {
    void *items = list->items;
    record_storage_release(&items, &list->capacity, &list->on_heap, sizeof(Record), initial,
                           initial_capacity);
    list->items = static_cast<Record *>(items);
    list->count = 0;
}

#endif  // VANTOREL_RECORD_LIST_H
