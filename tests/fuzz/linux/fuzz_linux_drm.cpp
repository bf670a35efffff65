// Fuzz target: the DRM card files from the input: entry names, a card's
// uevent, the PCI id database fed in input-sized chunks, and the adapter name
// made from what they gave. Every text stays terminated, well-formed UTF-8
// within its field; a bus id is empty or "dddd:bb:dd.f".
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "drm_parse.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string entry = in.ConsumeRandomLengthString(40);
    const int32_t card = drm_card_number(entry.c_str());
    FUZZ_CHECK(card >= -1, "card number");

    const std::string uevent = in.ConsumeRandomLengthString(600);
    drm_device_facts facts;
    drm_parse_uevent(uevent.data(), uevent.size(), &facts);
    check_text_field(facts.driver, "driver");
    check_text_field(facts.bus_id, "bus_id");
    FUZZ_CHECK(facts.bus_id[0] == '\0' || std::strlen(facts.bus_id) == 12, "bus id shape");
    drm_source_of(facts.driver);

    pci_ids_search search;
    pci_ids_begin(&search, in.ConsumeBool() ? 0x1002 : in.ConsumeIntegral<uint16_t>(),
                  in.ConsumeIntegral<uint16_t>());
    while (in.remaining_bytes() > 0) {
        const std::string chunk = in.ConsumeRandomLengthString(700);
        if (pci_ids_feed(&search, chunk.data(), chunk.size())) break;
    }
    pci_ids_end(&search);
    check_text_field(search.device_name, "pci.ids name");

    char name[128];
    drm_adapter_name(name, sizeof name, in.ConsumeBool() ? search.device_name : "", search.device_name,
                     facts.vendor, facts.device);
    check_text_field(name, "adapter name");
    return 0;
}
