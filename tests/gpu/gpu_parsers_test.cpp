// The GPU parsers and rules on made-up input: DRM entry names, uevent text,
// the PCI id database, NVML text and bus ids, figure ranges, energy power and
// the primary adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "drm_parse.h"
#include "gpu_figures.h"
#include "nvml_reader.h"

namespace {

const char kIds[] =
    "# comment\n"
    "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
    "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n"
    "\t\t1002 0e3a  Radeon RX 6900 XT\n"
    "10de  NVIDIA Corporation\n"
    "\t2204  GA102 [GeForce RTX 3090]\n"
    "8086  Intel Corporation\n"
    "\t46a6  Alder Lake-P GT2 [Iris Xe Graphics]";  // no newline at the end

std::string find_name(uint32_t vendor, uint32_t device, size_t chunk) {
    pci_ids_search s;
    pci_ids_begin(&s, vendor, device);
    const size_t n = std::strlen(kIds);
    for (size_t at = 0; at < n; at += chunk)
        if (pci_ids_feed(&s, kIds + at, std::min(chunk, n - at))) break;
    pci_ids_end(&s);
    return s.device_name;
}

}  // namespace

TEST(DrmParse, OnlyCardsAreAdapters) {
    EXPECT_EQ(drm_card_number("card0"), 0);
    EXPECT_EQ(drm_card_number("card12"), 12);
    EXPECT_EQ(drm_card_number("card1-HDMI-A-1"), -1);
    EXPECT_EQ(drm_card_number("renderD128"), -1);
    EXPECT_EQ(drm_card_number("card"), -1);
    EXPECT_EQ(drm_card_number("version"), -1);
    EXPECT_EQ(drm_card_number("card99999999999"), -1);
}

TEST(DrmParse, Uevent) {
    const char text[] = "DRIVER=amdgpu\nPCI_CLASS=30000\nPCI_ID=1002:73BF\nPCI_SLOT_NAME=0000:0A:00.0\n";
    drm_device_facts f;
    drm_parse_uevent(text, sizeof text - 1, &f);
    EXPECT_STREQ(f.driver, "amdgpu");
    EXPECT_EQ(f.has_pci_id, 1);
    EXPECT_EQ(f.vendor, 0x1002u);
    EXPECT_EQ(f.device, 0x73bfu);
    EXPECT_STREQ(f.bus_id, "0000:0a:00.0");
    EXPECT_STREQ(drm_source_of(f.driver), "amdgpu");
    EXPECT_STREQ(drm_source_of("xe"), "xe");
    EXPECT_EQ(drm_source_of("nvidia"), nullptr);

    const char bad[] = "DRIVER=i915\nPCI_ID=8086:46A6FF\nPCI_SLOT_NAME=0000:zz:00.0\nPCI_SLOT_NAME=0000:00:02";
    drm_parse_uevent(bad, sizeof bad - 1, &f);
    EXPECT_STREQ(f.driver, "i915");
    EXPECT_EQ(f.has_pci_id, 0);
    EXPECT_STREQ(f.bus_id, "");
    drm_parse_uevent("DRIV", 4, &f);
    EXPECT_STREQ(f.driver, "");
}

TEST(DrmParse, PciIdsInAnyChunks) {
    for (size_t chunk : {size_t{1}, size_t{7}, sizeof kIds}) {
        EXPECT_EQ(find_name(0x1002, 0x73bf, chunk), "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]");
        EXPECT_EQ(find_name(0x8086, 0x46a6, chunk), "Alder Lake-P GT2 [Iris Xe Graphics]");
        EXPECT_EQ(find_name(0x1002, 0x0e3a, chunk), "");  // a subsystem, not a device
        EXPECT_EQ(find_name(0x1002, 0x2204, chunk), "");  // another vendor's device
        EXPECT_EQ(find_name(0x1234, 0x1111, chunk), "");
    }
    // A line longer than the buffer is cut, the name still valid text.
    std::string long_ids = "1002  AMD\n\t73bf  " + std::string(1000, 'x') + "\n";
    pci_ids_search s;
    pci_ids_begin(&s, 0x1002, 0x73bf);
    pci_ids_feed(&s, long_ids.data(), long_ids.size());
    pci_ids_end(&s);
    EXPECT_GT(std::strlen(s.device_name), 100u);
    EXPECT_LT(std::strlen(s.device_name), sizeof s.device_name);
}

TEST(DrmParse, AdapterName) {
    char out[128];
    drm_adapter_name(out, sizeof out, "AMD Radeon PRO W7900", "Navi 31", 0x1002, 0x7448);
    EXPECT_STREQ(out, "AMD Radeon PRO W7900");
    drm_adapter_name(out, sizeof out, "", "DG2 [Arc A770]", 0x8086, 0x56a0);
    EXPECT_STREQ(out, "Intel DG2 [Arc A770]");
    drm_adapter_name(out, sizeof out, "", "", 0x1002, 0x73bf);
    EXPECT_STREQ(out, "AMD GPU [1002:73bf]");
    drm_adapter_name(out, sizeof out, nullptr, nullptr, 0x1af4, 0x1050);
    EXPECT_STREQ(out, "PCI 1af4 GPU [1af4:1050]");
    drm_adapter_name(out, 8, "", "", 0x10de, 0x2204);
    EXPECT_STREQ(out, "NVIDIA ");
}

TEST(NvmlText, BusIdAndText) {
    char out[32];
    nvml_bus_id("00000000:65:00.0", 32, out, sizeof out);
    EXPECT_STREQ(out, "0000:65:00.0");
    nvml_bus_id("0001:0A:1F.7", 32, out, sizeof out);
    EXPECT_STREQ(out, "0001:0a:1f.7");
    for (const char *bad : {"", "65:00.0", "0000:65:00", "0000:65:00.0x", "123456789:00:00.0", "0000:65:20.0"}) {
        nvml_bus_id(bad, std::strlen(bad) + 1, out, sizeof out);
        EXPECT_STREQ(out, "") << bad;
    }
    const char unterminated[4] = {'0', '0', '0', '0'};
    nvml_bus_id(unterminated, sizeof unterminated, out, sizeof out);
    EXPECT_STREQ(out, "");

    const char name[6] = {'R', 'T', 'X', '\xff', '\n', 'A'};  // no NUL
    nvml_copy_text(out, sizeof out, name, sizeof name);
    EXPECT_STREQ(out, "RTX??A");
    nvml_copy_text(out, 3, name, sizeof name);
    EXPECT_STREQ(out, "RT");
}

TEST(GpuFigures, RangesAndEnergy) {
    EXPECT_EQ(gpu_percent(-1), 0);
    EXPECT_EQ(gpu_percent(250), 100);
    EXPECT_EQ(gpu_percent(std::nan("")), 0);
    EXPECT_EQ(gpu_temperature(54.5), 54.5);
    EXPECT_EQ(gpu_temperature(-40), -40);
    EXPECT_EQ(gpu_temperature(999999999), 0);
    EXPECT_EQ(gpu_watts(-5), 0);
    EXPECT_EQ(gpu_watts(1e9), 0);
    EXPECT_DOUBLE_EQ(gpu_watts_from_energy(13000000, 5000000, 2.0), 4.0);
    EXPECT_EQ(gpu_watts_from_energy(5000000, 13000000, 2.0), 0);  // went down
    EXPECT_EQ(gpu_watts_from_energy(13000000, 5000000, 0.0005), 0);
}

TEST(GpuFigures, PrimaryAdapter) {
    const gpu_candidate nvml_later[] = {{0, 1, 8}, {1, 1, 4}, {1, 1, 16}};
    EXPECT_EQ(gpu_pick_primary(nvml_later, 3), 1);
    const gpu_candidate discrete[] = {{0, 0, 0}, {0, 1, 4}, {0, 1, 16}, {0, 1, 16}};
    EXPECT_EQ(gpu_pick_primary(discrete, 4), 2);
    int32_t order[4];
    gpu_primary_first(discrete, 4, order);
    EXPECT_EQ(std::vector<int32_t>(order, order + 4), (std::vector<int32_t>{2, 0, 1, 3}));
    const gpu_candidate integrated[] = {{0, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(gpu_pick_primary(integrated, 2), 0);
    EXPECT_EQ(gpu_pick_primary(integrated, 0), -1);

    // NVML devices come first and the first of them leads; the platform's
    // own adapters follow in their order, the capacity cuts.
    gpu_entry entries[4];
    ASSERT_EQ(gpu_collection_order(2, discrete, 4, entries, 4), 4);
    EXPECT_EQ(entries[0].nvml_index, 0);
    EXPECT_EQ(entries[1].nvml_index, 1);
    EXPECT_EQ(entries[2].own_index, 0);
    EXPECT_EQ(entries[3].own_index, 1);
    ASSERT_EQ(gpu_collection_order(0, discrete, 4, entries, 4), 4);
    EXPECT_EQ(entries[0].own_index, 2);  // the most memory
    EXPECT_EQ(entries[1].own_index, 0);
}
