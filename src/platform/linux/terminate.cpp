// Process termination (SIGKILL, the forceful ending) and the platform code.
#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sysmon_internal.h"

namespace {

// strerror_r comes in two flavours; both end up as text in `out`.
[[maybe_unused]] const char *error_text(int result, const char *buffer) {
    return result == 0 ? buffer : "";
}
[[maybe_unused]] const char *error_text(const char *result, const char *) { return result; }

}  // namespace

sysmon_terminate_result sysmon_platform_terminate(int32_t pid, unsigned long *error_code) {
    if (kill(static_cast<pid_t>(pid), SIGKILL) == 0) return SYSMON_TERMINATE_OK;
    if (error_code != nullptr) *error_code = static_cast<unsigned long>(errno);
    return SYSMON_TERMINATE_SIGNAL_FAILED;
}

void sysmon_platform_error_text(unsigned long error_code, char *out, size_t size) {
    if (out == nullptr || size == 0) return;
    char buffer[256];
    buffer[0] = '\0';
    const char *text = error_text(strerror_r(static_cast<int>(error_code), buffer, sizeof buffer), buffer);
    std::snprintf(out, size, "%s", text != nullptr ? text : "");
}

int32_t sysmon_platform_code() { return 2; }
