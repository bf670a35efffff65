// The library as a host sees it: a DLL found by name, nineteen entry points
// looked up with GetProcAddress. Nothing here comes from the library's own
// headers; the function types are written from the documented interface.
#ifndef SYSMON_HOST_LIBRARY_H
#define SYSMON_HOST_LIBRARY_H

#include <windows.h>

#include <cstdint>
#include <string>

#define SYSMON_DLL_NAME "vantorel-sysmon.dll"

struct sysmon_api {
    HMODULE module;
    int32_t (*init)(void);
    void (*cleanup)(void);
    void (*set_interval)(int32_t interval_ms);
    void (*set_process_filter)(const char *filter);
    const char *(*snapshot)(void);
    const char *(*cpu)(void);
    const char *(*memory)(void);
    const char *(*disks)(void);
    const char *(*network)(void);
    const char *(*processes)(int32_t limit, int32_t sort_by);
    const char *(*process_tree)(int32_t limit);
    const char *(*gpu)(void);
    const char *(*system)(void);
    const char *(*battery)(void);
    const char *(*history)(int32_t metric, int32_t count);
    const char *(*cpu_core_history)(int32_t count);
    int32_t (*kill_process)(int32_t pid);
    const char *(*last_error)(void);
    int32_t (*platform)(void);
};

// What the program observed when it loaded the library, before any call
// that could initialise it or set an error.
struct sysmon_load_facts {
    std::string dll_path;          // where Windows found the DLL
    std::string missing;           // export names that did not resolve
    bool last_error_was_null;      // sysmon_last_error() before anything else
    std::string first_last_error;  // its text, if not null
    int32_t first_platform;        // sysmon_platform() before anything else
};

// Loads SYSMON_DLL_NAME through the normal search order and resolves every
// export. Returns false (with `error` set) when the DLL cannot be loaded;
// unresolved exports are listed in facts->missing and left null.
bool sysmon_load(sysmon_api *api, sysmon_load_facts *facts, std::string *error);

// The loaded library and the facts of its loading (valid after main's load).
const sysmon_api &api();
const sysmon_load_facts &load_facts();
void set_loaded_library(const sysmon_api &loaded, const sysmon_load_facts &facts);

// This program: full path of its executable, its directory and its file name.
std::string own_exe_path();
std::string own_exe_dir();
std::string own_exe_name();

// Product name (os) expected from the kernel version numbers, after the
// library's documented table. Set from --expect-os when a test run wants to
// prove that a configured version took effect.
std::string expected_product_name(unsigned long major, unsigned long minor, unsigned long build);
const std::string &required_os();
void set_required_os(const std::string &os);

// Argument that makes this executable sleep instead of running tests: the
// kill tests start a copy of themselves with it.
#define SYSMON_SLEEP_CHILD_ARG "--sleep-child"

#endif  // SYSMON_HOST_LIBRARY_H
