// Fuzz target: the network derivations as the Windows network collector
// runs them. Interface rows come from the input: LUIDs from a small range
// (so duplicates happen), any type and state, any counters, descriptions as
// arbitrary UTF-16 units (converted like the collector converts them) or as
// raw bytes that fill the whole name array without a NUL; addresses for
// some LUIDs; two collections over hostile windows.
// Checks: no more entries than the capacity, every text NUL-terminated and
// well-formed UTF-8, the address a dotted quad, loopback rows never listed,
// totals equal to the row's counters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net_walk.h"
#include "fuzz_checks.h"
#include "utf8_text.h"

namespace {

net_table s_tables[2];
net_address_table s_addresses;
sysmon_net_info s_nets[72];

struct row_input {
    net_row row;
    std::vector<char> name;
};

void check_entry(const sysmon_net_info &e) {
    check_text_field(e.name, "name");
    check_text_field(e.ip, "ip");
    unsigned a, b, c, d;
    char tail;
    FUZZ_CHECK(std::sscanf(e.ip, "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) == 4 && a < 256 && b < 256 &&
                   c < 256 && d < 256,
               e.ip);
}

void collect(const std::vector<row_input> &rows, int32_t capacity, double elapsed, bool with_addresses,
             const net_table *prev, net_table *next) {
    int32_t count = -3;
    derive_net_clear(s_nets, &count, capacity);
    FUZZ_CHECK(count == 0, "count not cleared");
    net_walk walk;
    derive_net_walk_begin(&walk, s_nets, capacity, prev, next, with_addresses ? &s_addresses : nullptr, elapsed);
    std::vector<const net_row *> listed;
    for (const row_input &r : rows) {
        if (derive_net_walk_full(&walk)) break;
        const int32_t before = walk.filled;
        derive_net_walk_row(&walk, &r.row);
        if (walk.filled != before) listed.push_back(&r.row);
    }
    derive_net_walk_end(&walk, &count);
    const int32_t usable = capacity > 0 ? capacity : 0;
    FUZZ_CHECK(count >= 0 && count <= usable && static_cast<size_t>(count) == listed.size(),
               "count " + std::to_string(count));
    for (int32_t i = 0; i < count; ++i) {
        check_entry(s_nets[i]);
        FUZZ_CHECK(listed[i]->type != SYSMON_NET_TYPE_SOFTWARE_LOOPBACK, "loopback listed");
        FUZZ_CHECK(s_nets[i].total_sent == listed[i]->out_octets && s_nets[i].total_recv == listed[i]->in_octets,
                   "totals differ from the row");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t capacity = in.ConsumeIntegralInRange<int32_t>(-4, 72);
    const double elapsed = in.ConsumeFloatingPoint<double>();
    const bool with_addresses = in.ConsumeBool();

    s_addresses.clear();
    const int address_count = in.ConsumeIntegralInRange<int>(0, 300);
    for (int i = 0; i < address_count && in.remaining_bytes() > 0; ++i) {
        const uint64_t luid = in.ConsumeIntegralInRange<uint64_t>(0, 40);
        uint8_t address[4];
        const uint32_t bits = in.ConsumeIntegral<uint32_t>();
        std::memcpy(address, &bits, sizeof address);
        derive_net_add_address(&s_addresses, luid, address);
    }

    std::vector<row_input> rows;
    while (in.remaining_bytes() > 0 && rows.size() < 200) {
        row_input r{};
        r.row.luid = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(0, 40) : in.ConsumeIntegral<uint64_t>();
        r.row.type = in.ConsumeBool() ? SYSMON_NET_TYPE_SOFTWARE_LOOPBACK : in.ConsumeIntegral<uint32_t>();
        r.row.oper_status = in.ConsumeIntegralInRange<uint32_t>(0, 7);
        r.row.in_octets = in.ConsumeIntegral<uint64_t>();
        r.row.out_octets = in.ConsumeIntegral<uint64_t>();
        const std::string raw = in.ConsumeRandomLengthString(700);
        if (in.ConsumeBool()) {
            // UTF-16 units of a description, converted as the collector does.
            r.name.assign(SYSMON_NET_NAME_BUFFER_SIZE, '\0');
            utf8_from_utf16(r.name.data(), r.name.size(), raw.data(), raw.size() / 2);
        } else {
            // UTF-8 bytes filling the whole array, maybe without any NUL.
            r.name.assign(raw.begin(), raw.end());
            if (r.name.empty()) r.name.push_back('\0');
            utf8_make_well_formed(r.name.data(), r.name.size());
        }
        rows.push_back(std::move(r));
    }
    for (row_input &r : rows) {
        r.row.name = r.name.data();
        r.row.name_size = r.name.size();
    }
    collect(rows, capacity, 1.0, with_addresses, &s_tables[1], &s_tables[0]);
    // The second collection sees every counter moved one way or the other.
    for (row_input &r : rows) {
        r.row.in_octets += r.row.luid * 977;
        r.row.out_octets -= r.row.luid * 131;
    }
    collect(rows, capacity, elapsed, with_addresses, &s_tables[0], &s_tables[1]);
    return 0;
}
