// Process termination, the error texts that go with it (none on Windows:
// the messages carry the bare code), and the platform code.
#include "windows_api.h"

#include <cstddef>
#include <cstdint>

#include "sysmon_internal.h"

sysmon_terminate_result sysmon_platform_terminate(int32_t pid,
                                                  unsigned long *error_code) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        if (error_code != nullptr) *error_code = GetLastError();
        return SYSMON_TERMINATE_OPEN_FAILED;
    }
    const BOOL terminated = TerminateProcess(process, 1);
    CloseHandle(process);
    if (!terminated) {
        if (error_code != nullptr) *error_code = GetLastError();
        return SYSMON_TERMINATE_REFUSED;
    }
    return SYSMON_TERMINATE_OK;
}

void sysmon_platform_error_text(unsigned long error_code, char *out, size_t size) {
    // The Windows messages carry the bare code; no text is added.
    (void)error_code;
    if (out != nullptr && size > 0) out[0] = '\0';
}

int32_t sysmon_platform_code() { return 1; }
