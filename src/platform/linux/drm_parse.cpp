#include "drm_parse.h"

#include <cstdio>
#include <cstring>

#include "text_scan.h"
#include "text_utf8.h"

int32_t drm_card_number(const char *name) {
    if (name == nullptr || std::strncmp(name, "card", 4) != 0) return -1;
    const char *p = name + 4;
    if (*p == '\0') return -1;
    int64_t n = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        n = n * 10 + (*p - '0');
        if (n > 1000000) return -1;
    }
    return static_cast<int32_t>(n);
}

namespace {

// Hex digits of [p, end) as a number; false when empty, too long or not hex.
bool parse_hex(const char *p, const char *end, uint32_t max_digits, uint32_t *value) {
    if (p >= end || static_cast<size_t>(end - p) > max_digits) return false;
    uint32_t v = 0;
    for (; p < end; ++p) {
        const char c = *p;
        uint32_t d;
        if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
        else return false;
        v = v * 16 + d;
    }
    *value = v;
    return true;
}

// "DDDD:BB:DD.F" in lower case, or false.
bool pci_slot(const text_span &v, char *out, size_t size) {
    const char *p = v.begin;
    const char *colon1 = static_cast<const char *>(std::memchr(p, ':', v.size()));
    if (colon1 == nullptr) return false;
    const char *colon2 = static_cast<const char *>(std::memchr(colon1 + 1, ':', static_cast<size_t>(v.end - colon1 - 1)));
    if (colon2 == nullptr) return false;
    const char *dot = static_cast<const char *>(std::memchr(colon2 + 1, '.', static_cast<size_t>(v.end - colon2 - 1)));
    if (dot == nullptr) return false;
    uint32_t domain, bus, device, function;
    if (!parse_hex(p, colon1, 8, &domain) || !parse_hex(colon1 + 1, colon2, 2, &bus) ||
        !parse_hex(colon2 + 1, dot, 2, &device) || !parse_hex(dot + 1, v.end, 1, &function) ||
        domain > 0xFFFF || device > 0x1F || function > 7)
        return false;
    std::snprintf(out, size, "%04x:%02x:%02x.%x", domain, bus, device, function);
    return true;
}

}  // namespace

void drm_parse_uevent(const char *text, size_t size, drm_device_facts *facts) {
    if (facts == nullptr) return;
    std::memset(facts, 0, sizeof *facts);
    if (text == nullptr) return;
    const char *p = text;
    const char *end = text + size;
    text_span line, v;
    while (scan_line(&p, end, &line)) {
        if (span_key_value(line, "DRIVER", '=', &v)) {
            utf8_copy_repaired(facts->driver, sizeof facts->driver, v.begin, v.size());
        } else if (span_key_value(line, "PCI_ID", '=', &v)) {
            const char *colon = static_cast<const char *>(std::memchr(v.begin, ':', v.size()));
            if (colon != nullptr && parse_hex(v.begin, colon, 4, &facts->vendor) &&
                parse_hex(colon + 1, v.end, 4, &facts->device))
                facts->has_pci_id = 1;
            else
                facts->vendor = facts->device = 0;
        } else if (span_key_value(line, "PCI_SLOT_NAME", '=', &v)) {
            if (!pci_slot(v, facts->bus_id, sizeof facts->bus_id)) facts->bus_id[0] = '\0';
        }
    }
}

const char *drm_source_of(const char *driver) {
    if (driver == nullptr) return nullptr;
    if (std::strcmp(driver, "amdgpu") == 0) return "amdgpu";
    if (std::strcmp(driver, "i915") == 0) return "i915";
    if (std::strcmp(driver, "xe") == 0) return "xe";
    return nullptr;
}

void pci_ids_begin(pci_ids_search *search, uint32_t vendor, uint32_t device) {
    if (search == nullptr) return;
    std::memset(search, 0, sizeof *search);
    search->vendor = vendor;
    search->device = device;
}

namespace {

// One whole line of pci.ids: "VVVV  Vendor", "\tDDDD  Device",
// "\t\tSSSS SSSS  Subsystem", comments and class lines.
void pci_ids_line(pci_ids_search *s, const char *line, size_t n) {
    if (n == 0 || line[0] == '#') return;
    uint32_t id;
    if (line[0] != '\t') {
        if (s->in_vendor) {
            s->done = 1;  // the next vendor: the device is not listed
            return;
        }
        if (n >= 6 && parse_hex(line, line + 4, 4, &id) && line[4] == ' ' && id == s->vendor)
            s->in_vendor = 1;
        return;
    }
    if (!s->in_vendor || n < 7 || line[1] == '\t') return;
    if (!parse_hex(line + 1, line + 5, 4, &id) || line[5] != ' ' || id != s->device) return;
    const text_span name = span_trim(text_span{line + 6, line + n});
    utf8_copy_repaired(s->device_name, sizeof s->device_name, name.begin, name.size());
    s->done = 1;
}

}  // namespace

bool pci_ids_feed(pci_ids_search *search, const char *text, size_t size) {
    if (search == nullptr) return true;
    for (size_t i = 0; i < size && search->done == 0; ++i) {
        const char c = text[i];
        if (c == '\n') {
            pci_ids_line(search, search->line, search->line_len);
            search->line_len = 0;
            search->line_cut = 0;
        } else if (search->line_len + 1 < sizeof search->line) {
            search->line[search->line_len++] = c;
        } else {
            search->line_cut = 1;
        }
    }
    return search->done != 0;
}

void pci_ids_end(pci_ids_search *search) {
    if (search == nullptr || search->done != 0) return;
    pci_ids_line(search, search->line, search->line_len);
    search->line_len = 0;
}

void drm_adapter_name(char *out, size_t size, const char *product_name, const char *pci_ids_name,
                      uint32_t vendor, uint32_t device) {
    if (out == nullptr || size == 0) return;
    if (product_name != nullptr && product_name[0] != '\0') {
        utf8_copy_repaired_cstr(out, size, product_name);
        return;
    }
    char vendor_text[16];
    switch (vendor) {
        case 0x1002: std::snprintf(vendor_text, sizeof vendor_text, "AMD"); break;
        case 0x8086: std::snprintf(vendor_text, sizeof vendor_text, "Intel"); break;
        case 0x10de: std::snprintf(vendor_text, sizeof vendor_text, "NVIDIA"); break;
        default: std::snprintf(vendor_text, sizeof vendor_text, "PCI %04x", vendor & 0xFFFFu); break;
    }
    char text[256];
    if (pci_ids_name != nullptr && pci_ids_name[0] != '\0')
        std::snprintf(text, sizeof text, "%s %s", vendor_text, pci_ids_name);
    else
        std::snprintf(text, sizeof text, "%s GPU [%04x:%04x]", vendor_text, vendor & 0xFFFFu,
                      device & 0xFFFFu);
    utf8_copy_repaired_cstr(out, size, text);
}
