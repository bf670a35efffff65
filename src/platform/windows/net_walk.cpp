#include "net_walk.h"

#include <cstdio>
#include <cstring>

#include "counter_rates.h"
#include "text_fields.h"

static int32_t usable_capacity(int32_t capacity) {
    return capacity > 0 ? capacity : 0;
}

void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity,
                      used_records *used) {
    *count = 0;
    used_records_clear(used, nets, usable_capacity(capacity));
}

void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const net_table *prev,
                           net_table *next, const net_address_table *addresses,
                           double elapsed_sec, used_records *used) {
    walk->nets = nets;
    walk->capacity = usable_capacity(capacity);
    walk->filled = 0;
    walk->prev = prev;
    walk->next = next;
    walk->addresses = addresses;
    walk->elapsed_sec = elapsed_sec;
    walk->used = used;
    walk->list = nullptr;
    walk->stopped = 0;
    next->clear();
}

void derive_net_walk_begin(net_walk *walk, record_list<sysmon_net_info> *list,
                           const net_table *prev, net_table *next,
                           const net_address_table *addresses, double elapsed_sec,
                           used_records *used) {
    derive_net_walk_begin(walk, list->items, list->capacity, prev, next, addresses, elapsed_sec,
                          used);
    walk->list = list;
}

int32_t derive_net_walk_full(const net_walk *walk) {
    return walk->stopped || (walk->list == nullptr && walk->filled >= walk->capacity);
}

// Room for one more entry and its counters: the list and the new table grow
// when full; the note of the entries in use moves with the list's storage.
static bool make_room(net_walk *walk) {
    if (derive_net_walk_full(walk)) return false;
    if (walk->filled >= walk->capacity &&
        !used_records_grow(walk->used, walk->list, &walk->nets, &walk->capacity, walk->filled + 1)) {
        walk->stopped = 1;
        return false;
    }
    if (!walk->next->reserve(walk->filled + 1)) walk->stopped = 1;
    return !walk->stopped;
}

int32_t derive_net_row_accepted(const net_row *row) {
    if (row->type == SYSMON_NET_TYPE_SOFTWARE_LOOPBACK) return 0;
    return row->oper_status == SYSMON_NET_OPER_STATUS_UP ||
           row->in_octets != 0 || row->out_octets != 0;
}

void derive_ipv4_text(char *out, size_t size, const uint8_t address[4]) {
    if (size == 0) return;
    std::snprintf(out, size, "%u.%u.%u.%u", static_cast<unsigned>(address[0]),
                  static_cast<unsigned>(address[1]), static_cast<unsigned>(address[2]),
                  static_cast<unsigned>(address[3]));
}

void derive_net_add_address(net_address_table *addresses, uint64_t luid,
                            const uint8_t address[4]) {
    const uint64_t packed = static_cast<uint64_t>(address[0]) |
                            static_cast<uint64_t>(address[1]) << 8 |
                            static_cast<uint64_t>(address[2]) << 16 |
                            static_cast<uint64_t>(address[3]) << 24;
    const uint64_t values[3] = {packed, 0, 0};
    if (!addresses->reserve(addresses->count() + 1)) return;
    addresses->put(luid, values, 0);  // the first address stays
}

void derive_net_walk_row(net_walk *walk, const net_row *row) {
    if (!derive_net_row_accepted(row) || !make_room(walk)) return;
    sysmon_net_info *entry = &walk->nets[walk->filled];
    std::memset(entry, 0, sizeof *entry);
    text_field_copy(entry->name, sizeof entry->name, row->name, row->name_size);
    text_field_set(entry->ip, "0.0.0.0");
    const counter_row *address =
        walk->addresses != nullptr ? walk->addresses->find(row->luid) : nullptr;
    if (address != nullptr) {
        const uint64_t packed = address->values[0];
        const uint8_t bytes[4] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                                  static_cast<uint8_t>(packed >> 16),
                                  static_cast<uint8_t>(packed >> 24)};
        derive_ipv4_text(entry->ip, sizeof entry->ip, bytes);
    }
    entry->total_sent = row->out_octets;
    entry->total_recv = row->in_octets;

    const counter_row *before = walk->prev->find(row->luid);
    if (before != nullptr) {
        entry->up_bytes_sec = counter_rate(entry->total_sent, before->values[0], walk->elapsed_sec);
        entry->down_bytes_sec = counter_rate(entry->total_recv, before->values[1], walk->elapsed_sec);
    }
    const uint64_t values[3] = {entry->total_sent, entry->total_recv, 0};
    walk->next->put(row->luid, values, 0);
    ++walk->filled;
    used_records_note(walk->used, walk->filled);
}

void derive_net_walk_end(const net_walk *walk, int32_t *count) {
    *count = walk->filled;
}
