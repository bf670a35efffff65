// What a process reveals only when it is opened: its command line and the
// account that owns it.
#ifndef VANTOREL_SYSMON_PROCESS_DETAILS_H
#define VANTOREL_SYSMON_PROCESS_DETAILS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>

// Opens process `pid` for the queries below and for its memory, times and
// transfer counts (with memory reading where allowed); null when it cannot
// be opened.
HANDLE sysmon_open_process(DWORD pid);

// The command line of an opened process as UTF-8 into `out` (cut at a
// character boundary): the system's own answer where it gives one, else the
// command line in the process parameters of its environment block. Returns
// false when neither could be read.
bool sysmon_read_command_line(HANDLE process, char *out, size_t size);

// The account name of the owner of an opened process, looked up once per
// owner; null when the process token cannot be read.
const char *sysmon_read_user(HANDLE process);

#endif  // VANTOREL_SYSMON_PROCESS_DETAILS_H
