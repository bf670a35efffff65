// Plain parsers for the GPU adapters of /sys/class/drm: which entries are
// cards, what a card's PCI device says about itself (its uevent), and its
// name from the PCI id database (pci.ids).
#ifndef VANTOREL_LINUX_DRM_PARSE_H
#define VANTOREL_LINUX_DRM_PARSE_H

#include <cstddef>
#include <cstdint>

// N for an entry named "cardN"; -1 for anything else (connectors such as
// "card1-HDMI-A-1", render nodes, "version").
int32_t drm_card_number(const char *name);

// What the uevent file of a card's PCI device holds.
struct drm_device_facts {
    char driver[32];    // DRIVER=
    uint32_t vendor;    // PCI_ID=VVVV:DDDD
    uint32_t device;
    int32_t has_pci_id;
    char bus_id[32];    // PCI_SLOT_NAME=, lower case; "" when absent or malformed
};
void drm_parse_uevent(const char *text, size_t size, drm_device_facts *facts);

// The source name for a DRM driver whose figures the collector reads
// ("amdgpu", "i915", "xe"); null for any other driver.
const char *drm_source_of(const char *driver);

// A search of pci.ids for one vendor and device, fed with the file's text in
// chunks of any size. Lines longer than the line buffer are cut.
struct pci_ids_search {
    uint32_t vendor, device;
    int32_t in_vendor;  // inside the wanted vendor's section
    int32_t done;       // found, or the vendor's section ended
    char device_name[128];
    char line[256];
    size_t line_len;
    int32_t line_cut;
};
void pci_ids_begin(pci_ids_search *search, uint32_t vendor, uint32_t device);
// Returns true once nothing more needs to be fed.
bool pci_ids_feed(pci_ids_search *search, const char *text, size_t size);
// Ends the search (a last line without its newline counts).
void pci_ids_end(pci_ids_search *search);

// The adapter name: `product_name` when not empty, else "<vendor> <device
// name from pci.ids>", else "<vendor> GPU [vvvv:dddd]". Vendors: AMD, Intel,
// NVIDIA; others by id.
void drm_adapter_name(char *out, size_t size, const char *product_name, const char *pci_ids_name,
                      uint32_t vendor, uint32_t device);

#endif  // VANTOREL_LINUX_DRM_PARSE_H
