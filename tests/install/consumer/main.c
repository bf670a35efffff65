/* A tiny host built against an installed vantorel-sysmon: it links the
 * library, uses the header's constants and prints the system document. */
#include <stdio.h>
#include <string.h>

#include <vantorel/sysmon.h>

int main(void) {
    const char *system = sysmon_system();
    const char *history = sysmon_history(SYSMON_METRIC_CPU, 10);
    int32_t platform = sysmon_platform();
    if (platform != SYSMON_PLATFORM_WINDOWS && platform != SYSMON_PLATFORM_LINUX) return 1;
    if (strncmp(system, "{\"hostname\":", 12) != 0 || strcmp(history, "[]") != 0) return 1;
    printf("vantorel-sysmon %s on platform %d: %s\n", SYSMON_VERSION_STRING, (int)platform, system);
    sysmon_cleanup();
    return 0;
}
