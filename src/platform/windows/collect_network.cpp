// Network collector: the interface table with 64-bit counters, matched to
// the previous collection by interface LUID, and the first IPv4 address of
// each interface.
#include "windows_api.h"  // first: it sets up what the others declare

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net_walk.h"
#include "sysmon_internal.h"
#include "utf8_text.h"

// Interface counters of the two latest baselines.
static baseline_pair<net_table> s_win_net_baselines;
static net_table s_win_net_discard;
static net_address_table s_win_net_addresses;
// The adapter address block, kept and grown as needed.
static unsigned char *s_win_adapter_block;
static ULONG s_win_adapter_block_size;

// Fills the address table from GetAdaptersAddresses; returns whether the
// system answered.
static bool read_addresses() {
    s_win_net_addresses.clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = s_win_adapter_block_size;
        result = GetAdaptersAddresses(
            AF_INET, flags, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES *>(s_win_adapter_block), &size);
        if (result != ERROR_BUFFER_OVERFLOW) break;
        unsigned char *grown = static_cast<unsigned char *>(std::malloc(size + 4096));
        if (grown == nullptr) return false;
        std::free(s_win_adapter_block);
        s_win_adapter_block = grown;
        s_win_adapter_block_size = size + 4096;
    }
    if (result != NO_ERROR || s_win_adapter_block == nullptr) return false;
    for (auto *adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(s_win_adapter_block);
         adapter != nullptr; adapter = adapter->Next) {
        for (auto *unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR *address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET ||
                unicast->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in)))
                continue;
            uint8_t bytes[4];
            std::memcpy(bytes, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, 4);
            derive_net_add_address(&s_win_net_addresses, adapter->Luid.Value, bytes);
            break;
        }
    }
    return true;
}

int32_t sysmon_collect_network(record_list<sysmon_net_info> *list, const sysmon_window *window) {
    if (list == nullptr) return -1;
    static used_records used;  // the entries the previous collection filled
    derive_net_clear(list->items, &list->count, list->capacity, &used);

    MIB_IF_TABLE2 *table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR || table == nullptr) return 0;
    const bool has_addresses = read_addresses();

    const bool advance = window == nullptr || window->advance != 0;
    net_table &store = advance ? s_win_net_baselines.next() : s_win_net_discard;
    net_walk walk;
    // The list and the new table grow when more interfaces are listed.
    derive_net_walk_begin(&walk, list, &s_win_net_baselines.against(window), &store,
                          has_addresses ? &s_win_net_addresses : nullptr,
                          window != nullptr ? window->elapsed_sec : 0.0, &used);
    static char name[SYSMON_NET_NAME_BUFFER_SIZE];
    for (ULONG i = 0; i < table->NumEntries && !derive_net_walk_full(&walk); ++i) {
        const MIB_IF_ROW2 &r = table->Table[i];
        utf8_from_utf16(name, sizeof name, r.Description,
                        sizeof r.Description / sizeof r.Description[0]);
        const net_row row = {r.InterfaceLuid.Value, r.Type, static_cast<uint32_t>(r.OperStatus),
                             r.InOctets, r.OutOctets, name, sizeof name};
        derive_net_walk_row(&walk, &row);
    }
    derive_net_walk_end(&walk, &list->count);
    if (advance) s_win_net_baselines.commit(window);

    FreeMibTable(table);
    return 0;
}
