// The Windows interface walk: which rows of the interface table become
// network entries, their description and first IPv4 address, and their rates
// against the previous counters of the same interface LUID.
//
// Called with the global lock held, like the collector that uses it.
// Capacities below 0 behave as 0.
#ifndef VANTOREL_WINDOWS_NET_WALK_H
#define VANTOREL_WINDOWS_NET_WALK_H

#include <cstddef>
#include <cstdint>

#include "counter_table.h"
#include "sysmon_internal.h"
#include "used_records.h"

#define SYSMON_NET_TYPE_SOFTWARE_LOOPBACK 24
#define SYSMON_NET_OPER_STATUS_UP 1
// Size of the buffer an interface description is converted into (UTF-8 of
// 257 units at most).
#define SYSMON_NET_NAME_BUFFER_SIZE (3 * 257 + 1)

// Counters of the interfaces listed by a collection, by interface LUID.
// Values: bytes sent, bytes received.
#define SYSMON_NET_TABLE_SLOTS 128
typedef counter_table<SYSMON_NET_TABLE_SLOTS> net_table;

// The first IPv4 unicast address of each interface, by interface LUID.
// Value 0: the four bytes of the address, first byte lowest.
#define SYSMON_NET_ADDRESS_SLOTS 512
typedef counter_table<SYSMON_NET_ADDRESS_SLOTS> net_address_table;

// One row of the platform's interface table.
struct net_row {
    uint64_t luid;
    uint32_t type;
    uint32_t oper_status;
    uint64_t in_octets;
    uint64_t out_octets;
    const char *name;  // description, UTF-8, not necessarily terminated
    size_t name_size;  // size of the array that holds it
};

struct net_walk {
    sysmon_net_info *nets;
    int32_t capacity;
    int32_t filled;
    const net_table *prev;              // counters the rates derive against
    net_table *next;                    // receives the new counters
    const net_address_table *addresses; // null: no addresses known
    double elapsed_sec;
    used_records *used;                 // null: none kept
    record_list<sysmon_net_info> *list; // grown when full; null: a fixed array
    int32_t stopped;                    // 1 once the list could not grow
};

// Sets the count to 0 and clears the array up to the capacity; with `used`,
// only the entries the previous collection filled (the rest is zero).
void derive_net_clear(sysmon_net_info *nets, int32_t *count, int32_t capacity,
                      used_records *used = nullptr);
// Starts a walk; `next` is emptied (it must not be `prev`). `used`, when
// given, follows the entries filled.
void derive_net_walk_begin(net_walk *walk, sysmon_net_info *nets,
                           int32_t capacity, const net_table *prev,
                           net_table *next, const net_address_table *addresses,
                           double elapsed_sec, used_records *used = nullptr);
// The same over a list that grows when more interfaces are accepted than it
// holds; the count is the list's (derive_net_walk_end sets it).
void derive_net_walk_begin(net_walk *walk, record_list<sysmon_net_info> *list,
                           const net_table *prev, net_table *next,
                           const net_address_table *addresses, double elapsed_sec,
                           used_records *used = nullptr);
// Whether no further row is to be examined: the capacity of a fixed array is
// reached, or a list could not grow (the entries listed stay, complete).
int32_t derive_net_walk_full(const net_walk *walk);
// Whether a row is listed: never a loopback; an interface that is up, or
// one that has counted traffic either way.
int32_t derive_net_row_accepted(const net_row *row);
// Examines one row: lists it as the next entry when it is accepted and the
// capacity allows, with its address, counters, and rates against the
// previous counters of the same LUID; its counters go into the new table.
void derive_net_walk_row(net_walk *walk, const net_row *row);
// Stores the count.
void derive_net_walk_end(const net_walk *walk, int32_t *count);
// Remembers the first IPv4 address seen for an interface; the table grows
// as needed (an address it cannot hold reads as unknown).
void derive_net_add_address(net_address_table *addresses, uint64_t luid,
                            const uint8_t address[4]);
// Dotted-quad text of four address bytes.
void derive_ipv4_text(char *out, size_t size, const uint8_t address[4]);

#endif  // VANTOREL_WINDOWS_NET_WALK_H
