#include "ntdll_functions.h"

namespace {

FARPROC ntdll_function(const char *name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr ? GetProcAddress(ntdll, name) : nullptr;
}

template <typename Fn>
Fn as_function(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

}  // namespace

nt_query_system_information_fn sysmon_nt_query_system_information() {
    return as_function<nt_query_system_information_fn>(ntdll_function("NtQuerySystemInformation"));
}

nt_query_information_process_fn sysmon_nt_query_information_process() {
    return as_function<nt_query_information_process_fn>(
        ntdll_function("NtQueryInformationProcess"));
}

rtl_get_version_fn sysmon_rtl_get_version() {
    return as_function<rtl_get_version_fn>(ntdll_function("RtlGetVersion"));
}
