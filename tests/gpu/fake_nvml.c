/* A stand-in for NVIDIA's management library, built as libnvidia-ml.so.1
 * (Linux) and nvml.dll (Windows). Its devices, figures and return codes come
 * from the file named by the environment variable FAKE_NVML_CONFIG, read at
 * each nvmlInit_v2; without one, initialisation fails as it does when no
 * driver is loaded. One "key value" per line:
 *
 *   init RC                 what nvmlInit_v2 returns (0 success)
 *   log PATH                append "init" / "shutdown" to PATH at each call
 *   driver TEXT             nvmlSystemGetDriverVersion
 *   hollow 1                every query succeeds and fills nothing
 *   device                  starts a device; the keys below describe it
 *   name TEXT | unterminated 1 (a name filling the whole buffer, no NUL)
 *   bus TEXT                nvmlDeviceGetPciInfo_v3's busId
 *   handle RC               nvmlDeviceGetHandleByIndex_v2's result
 *   util PERCENT RC         mem TOTAL USED RC       mem2 TOTAL RESERVED USED RC
 *   temp DEGREES RC         power MILLIWATTS RC     (RC: the query's result)
 *
 * Built with FAKE_NVML_NO_MEMORY_V2 it lacks nvmlDeviceGetMemoryInfo_v2, with
 * FAKE_NVML_NO_POWER it lacks nvmlDeviceGetPowerUsage. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

#define MAX_DEVICES 20

struct device {
    char name[200];
    int unterminated;
    char bus[40];
    int handle_rc;
    unsigned util;
    int util_rc;
    unsigned long long total, reserved, used, total2, used2;
    int mem_rc, mem2_rc;
    unsigned temp;
    int temp_rc;
    unsigned power;
    int power_rc;
};

static struct device devices[MAX_DEVICES];
static int device_count;
static int init_rc = 9; /* NVML_ERROR_DRIVER_NOT_LOADED */
static int hollow;
static char driver[100];
static char log_path[512];

static void log_event(const char *event) {
    if (log_path[0] == '\0') return;
    FILE *f = fopen(log_path, "a");
    if (f == NULL) return;
    fprintf(f, "%s\n", event);
    fclose(f);
}

static int config_path(char *out, size_t size) {
#ifdef _WIN32
    DWORD n = GetEnvironmentVariableA("FAKE_NVML_CONFIG", out, (DWORD)size);
    return n > 0 && n < size;
#else
    const char *p = getenv("FAKE_NVML_CONFIG");
    if (p == NULL || strlen(p) >= size) return 0;
    strcpy(out, p);
    return 1;
#endif
}

static void load_config(void) {
    char path[512], line[512];
    memset(devices, 0, sizeof devices);
    device_count = 0;
    init_rc = 9;
    hollow = 0;
    driver[0] = '\0';
    log_path[0] = '\0';
    if (!config_path(path, sizeof path)) return;
    FILE *f = fopen(path, "r");
    if (f == NULL) return;
    init_rc = 0;
    while (fgets(line, sizeof line, f) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        char *value = strchr(line, ' ');
        if (value != NULL) *value++ = '\0';
        else value = line + strlen(line);
        struct device *d = device_count > 0 ? &devices[device_count - 1] : NULL;
        if (strcmp(line, "init") == 0) init_rc = atoi(value);
        else if (strcmp(line, "log") == 0) snprintf(log_path, sizeof log_path, "%s", value);
        else if (strcmp(line, "driver") == 0) snprintf(driver, sizeof driver, "%s", value);
        else if (strcmp(line, "hollow") == 0) hollow = atoi(value);
        else if (strcmp(line, "device") == 0 && device_count < MAX_DEVICES) ++device_count;
        else if (d == NULL) continue;
        else if (strcmp(line, "name") == 0) snprintf(d->name, sizeof d->name, "%s", value);
        else if (strcmp(line, "unterminated") == 0) d->unterminated = atoi(value);
        else if (strcmp(line, "bus") == 0) snprintf(d->bus, sizeof d->bus, "%s", value);
        else if (strcmp(line, "handle") == 0) d->handle_rc = atoi(value);
        else if (strcmp(line, "util") == 0) sscanf(value, "%u %d", &d->util, &d->util_rc);
        else if (strcmp(line, "mem") == 0) sscanf(value, "%llu %llu %d", &d->total, &d->used, &d->mem_rc);
        else if (strcmp(line, "mem2") == 0)
            sscanf(value, "%llu %llu %llu %d", &d->total2, &d->reserved, &d->used2, &d->mem2_rc);
        else if (strcmp(line, "temp") == 0) sscanf(value, "%u %d", &d->temp, &d->temp_rc);
        else if (strcmp(line, "power") == 0) sscanf(value, "%u %d", &d->power, &d->power_rc);
    }
    fclose(f);
}

/* Handles are the device's index plus one. */
static struct device *from_handle(void *handle) {
    size_t i = (size_t)handle;
    return i >= 1 && i <= (size_t)device_count ? &devices[i - 1] : NULL;
}

typedef struct {
    unsigned gpu, memory;
} utilization;
typedef struct {
    unsigned long long total, free, used;
} memory_v1;
typedef struct {
    unsigned version;
    unsigned long long total, reserved, free, used;
} memory_v2;
typedef struct {
    char bus_id_legacy[16];
    unsigned domain, bus, device, pci_device_id, pci_subsystem_id;
    char bus_id[32];
} pci_info;

EXPORT int nvmlInit_v2(void) {
    load_config();
    log_event("init");
    return init_rc;
}

EXPORT int nvmlShutdown(void) {
    log_event("shutdown");
    return 0;
}

EXPORT int nvmlSystemGetDriverVersion(char *out, unsigned length) {
    if (!hollow && length > 0) snprintf(out, length, "%s", driver);
    return 0;
}

EXPORT int nvmlDeviceGetCount_v2(unsigned *count) {
    if (!hollow) *count = (unsigned)device_count;
    return 0;
}

EXPORT int nvmlDeviceGetHandleByIndex_v2(unsigned index, void **handle) {
    if (index >= (unsigned)device_count) return 2; /* invalid argument */
    if (devices[index].handle_rc != 0) return devices[index].handle_rc;
    if (!hollow) *handle = (void *)(size_t)(index + 1);
    return 0;
}

EXPORT int nvmlDeviceGetName(void *handle, char *out, unsigned length) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (hollow || length == 0) return 0;
    if (d->unterminated) memset(out, 'N', length);
    else snprintf(out, length, "%s", d->name);
    return 0;
}

EXPORT int nvmlDeviceGetPciInfo_v3(void *handle, pci_info *pci) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (!hollow) {
        /* A bus id of 32 characters or more arrives without its NUL. */
        size_t n = strlen(d->bus);
        memset(pci->bus_id, 0, sizeof pci->bus_id);
        memcpy(pci->bus_id, d->bus, n < sizeof pci->bus_id ? n : sizeof pci->bus_id);
    }
    return 0;
}

EXPORT int nvmlDeviceGetUtilizationRates(void *handle, utilization *u) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (d->util_rc == 0 && !hollow) u->gpu = d->util;
    return d->util_rc;
}

EXPORT int nvmlDeviceGetMemoryInfo(void *handle, memory_v1 *m) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (d->mem_rc == 0 && !hollow) {
        m->total = d->total;
        m->used = d->used;
        m->free = d->total - d->used;
    }
    return d->mem_rc;
}

#ifndef FAKE_NVML_NO_MEMORY_V2
EXPORT int nvmlDeviceGetMemoryInfo_v2(void *handle, memory_v2 *m) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (m->version != ((unsigned)sizeof(memory_v2) | (2u << 24))) return 25; /* version mismatch */
    if (d->mem2_rc == 0 && !hollow) {
        m->total = d->total2;
        m->reserved = d->reserved;
        m->used = d->used2;
        m->free = d->total2 - d->used2 - d->reserved;
    }
    return d->mem2_rc;
}
#endif

EXPORT int nvmlDeviceGetTemperature(void *handle, int sensor, unsigned *t) {
    struct device *d = from_handle(handle);
    if (d == NULL || sensor != 0) return 2;
    if (d->temp_rc == 0 && !hollow) *t = d->temp;
    return d->temp_rc;
}

#ifndef FAKE_NVML_NO_POWER
EXPORT int nvmlDeviceGetPowerUsage(void *handle, unsigned *milliwatts) {
    struct device *d = from_handle(handle);
    if (d == NULL) return 2;
    if (d->power_rc == 0 && !hollow) *milliwatts = d->power;
    return d->power_rc;
}
#endif
