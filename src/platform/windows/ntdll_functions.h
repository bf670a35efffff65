// The native system calls the collectors use, found in ntdll.dll at run
// time (the library imports nothing beyond the documented system DLLs): the
// processor, process and system collectors share the lookup.
#ifndef VANTOREL_NTDLL_FUNCTIONS_H
#define VANTOREL_NTDLL_FUNCTIONS_H

#include "windows_api.h"

// NTSTATUS values the collectors tell apart.
#define SYSMON_STATUS_SUCCESS 0x00000000L
#define SYSMON_STATUS_INFO_LENGTH_MISMATCH static_cast<LONG>(0xC0000004L)
#define SYSMON_STATUS_BUFFER_TOO_SMALL static_cast<LONG>(0xC0000023L)
#define SYSMON_STATUS_BUFFER_OVERFLOW static_cast<LONG>(0x80000005L)

// The information classes each collector asks for are defined beside it.

typedef LONG(WINAPI *nt_query_system_information_fn)(ULONG info_class, void *buffer,
                                                     ULONG size, ULONG *returned);
typedef LONG(WINAPI *nt_query_information_process_fn)(HANDLE process, ULONG info_class,
                                                      void *buffer, ULONG size,
                                                      ULONG *returned);
typedef LONG(WINAPI *rtl_get_version_fn)(RTL_OSVERSIONINFOEXW *);

// Each is null when ntdll does not have the function.
nt_query_system_information_fn sysmon_nt_query_system_information();
nt_query_information_process_fn sysmon_nt_query_information_process();
rtl_get_version_fn sysmon_rtl_get_version();

#endif  // VANTOREL_NTDLL_FUNCTIONS_H
