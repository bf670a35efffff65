// System collector: host name, the true version of Windows, uptime and boot
// instant, processor architecture. Texts come from the wide-character
// functions and are handed on as UTF-8; derive_system fills the record.
#include "windows_api.h"

#include <cstdint>
#include <cstring>
#include <ctime>

#include "ntdll_functions.h"
#include "sysmon_internal.h"
#include "system_derive.h"
#include "utf8_text.h"

static_assert(sizeof(RTL_OSVERSIONINFOEXW) == 284, "RTL_OSVERSIONINFOEXW layout");

int32_t sysmon_collect_system(sysmon_system_info *sys) {
    if (sys == nullptr) return -1;
    system_readings readings = {};

    wchar_t hostname[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(hostname, &size)) {
        readings.has_hostname = 1;
        utf8_from_utf16(readings.hostname, sizeof readings.hostname, hostname,
                        MAX_COMPUTERNAME_LENGTH + 1);
    }

    // RtlGetVersion reports the true version, not a compatibility layer's.
    const rtl_get_version_fn rtl_get_version = sysmon_rtl_get_version();
    if (rtl_get_version != nullptr) {
        RTL_OSVERSIONINFOEXW info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (rtl_get_version(&info) == 0) {
            readings.has_version = 1;
            readings.major = info.dwMajorVersion;
            readings.minor = info.dwMinorVersion;
            readings.build = info.dwBuildNumber;
        }
    }

    readings.uptime_ms = GetTickCount64();
    const __time64_t boot = derive_boot_instant(
        _time64(nullptr), derive_uptime_seconds(readings.uptime_ms));
    readings.boot_utc = _gmtime64(&boot);

    SYSTEM_INFO si = {};
    GetNativeSystemInfo(&si);
    readings.arch_code = si.wProcessorArchitecture;

    derive_system(sys, &readings);
    return 0;
}
