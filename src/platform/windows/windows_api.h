// <windows.h> as every Windows file of the library includes it (the lean
// set of declarations, no min and max macros), and the conversion of the
// FILETIME counters the collectors read.
#ifndef VANTOREL_WINDOWS_API_H
#define VANTOREL_WINDOWS_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

// The 64-bit count of 100-nanosecond units a FILETIME holds.
inline uint64_t filetime_value(const FILETIME &ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

#endif  // VANTOREL_WINDOWS_API_H
