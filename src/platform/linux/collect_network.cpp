// Network collector: byte counters of /proc/net/dev, flags and the first
// IPv4 address of each interface from the system, rates from counter growth.
#include <net/if.h>

#include <algorithm>
#include <cstring>

#include "counter_rates.h"
#include "file_read.h"
#include "linux_sources.h"
#include "net_dev_parse.h"
#include "sysmon_internal.h"
#include "text_scan.h"
#include "text_utf8.h"
#include "used_records.h"

namespace {

#define MAX_INTERFACE_FACTS 256

struct net_counters_entry {
    char name[64];
    uint64_t sent;
    uint64_t recv;
};

// Counters of the interfaces listed, ascending by name.
struct net_counters {
    record_list<net_counters_entry> entries;
};

baseline_pair<net_counters> s_baselines;
linux_if_facts s_facts[MAX_INTERFACE_FACTS];
char s_text[64 * 1024];

bool facts_less(const linux_if_facts &a, const linux_if_facts &b) {
    return std::strcmp(a.name, b.name) < 0;
}

const linux_if_facts *find_facts(int32_t count, const char *name) {
    linux_if_facts probe{};
    std::memcpy(probe.name, name, sizeof probe.name);
    const linux_if_facts *end = s_facts + count;
    const linux_if_facts *at =
        std::lower_bound(static_cast<const linux_if_facts *>(s_facts), end, probe, facts_less);
    return at != end && std::strcmp(at->name, name) == 0 ? at : nullptr;
}

bool entry_less(const net_counters_entry &a, const net_counters_entry &b) {
    return std::strcmp(a.name, b.name) < 0;
}

const net_counters_entry *find_counters(const net_counters &c, const char *name) {
    net_counters_entry probe{};
    std::memcpy(probe.name, name, sizeof probe.name);
    const net_counters_entry *end = c.entries.items + c.entries.count;
    const net_counters_entry *at = std::lower_bound(static_cast<const net_counters_entry *>(c.entries.items), end, probe, entry_less);
    return at != end && std::strcmp(at->name, name) == 0 ? at : nullptr;
}

}  // namespace

int32_t sysmon_collect_network(record_list<sysmon_net_info> *nets, const sysmon_window *window) {
    if (nets == nullptr) return -1;
    nets->count = 0;
    static used_records used;  // the entries the previous collection filled
    used_records_clear(&used, nets->items, nets->capacity);
    const linux_sources &src = linux_sources_current();
    const bool advance = window == nullptr || window->advance != 0;
    const double elapsed = window != nullptr ? window->elapsed_sec : 0.0;
    const net_counters &base = s_baselines.against(window);
    static net_counters discard;
    net_counters &store = advance ? s_baselines.next() : discard;
    store.entries.count = 0;

    int32_t fact_count = src.interfaces(s_facts, MAX_INTERFACE_FACTS);
    if (fact_count < 0) fact_count = 0;
    if (fact_count > MAX_INTERFACE_FACTS) fact_count = MAX_INTERFACE_FACTS;
    for (int32_t i = 0; i < fact_count; ++i) s_facts[i].name[sizeof s_facts[i].name - 1] = '\0';
    std::sort(s_facts, s_facts + fact_count, facts_less);

    char path[LINUX_PATH_SIZE];
    const int64_t n = join_path(path, sizeof path, src.proc_root, "net/dev")
                          ? read_file(path, s_text, sizeof s_text) : -1;
    const char *p = s_text;
    const char *end = s_text + (n > 0 ? n : 0);
    text_span line;
    net_dev_row row;
    int32_t filled = 0;
    while (scan_line(&p, end, &line)) {
        if (!parse_net_dev_line(line.begin, line.size(), &row)) continue;
        const linux_if_facts *facts = find_facts(fact_count, row.name);
        const uint32_t flags = facts != nullptr ? facts->flags : 0;
        if (flags & IFF_LOOPBACK) continue;
        if (facts == nullptr && std::strcmp(row.name, "lo") == 0) continue;
        const bool up_and_running = (flags & IFF_UP) && (flags & IFF_RUNNING);
        if (!up_and_running && row.recv_bytes == 0 && row.sent_bytes == 0) continue;

        // Room for one more entry, or the list ends with those that fit.
        if (!record_list_reserve(nets, filled + 1) || !record_list_reserve(&store.entries, filled + 1)) break;
        sysmon_net_info &e = nets->items[filled];
        utf8_set(e.name, row.name);
        if (facts != nullptr && facts->has_ipv4) utf8_set(e.ip, facts->ipv4, sizeof facts->ipv4);
        else utf8_set(e.ip, "0.0.0.0");
        e.total_sent = row.sent_bytes;
        e.total_recv = row.recv_bytes;
        if (const net_counters_entry *prev = find_counters(base, e.name)) {
            e.up_bytes_sec = counter_rate(e.total_sent, prev->sent, elapsed);
            e.down_bytes_sec = counter_rate(e.total_recv, prev->recv, elapsed);
        }
        net_counters_entry &stored = store.entries.items[store.entries.count++];
        std::memcpy(stored.name, e.name, sizeof stored.name);
        stored.sent = e.total_sent;
        stored.recv = e.total_recv;
        ++filled;
    }
    nets->count = filled;
    used_records_note(&used, filled);
    std::sort(store.entries.items, store.entries.items + store.entries.count, entry_less);
    if (advance) s_baselines.commit(window);
    return 0;
}
