#include "host_library.h"

namespace {

sysmon_api s_api{};
sysmon_load_facts s_facts{};
std::string s_required_os;

// FARPROC to a typed function pointer. The detour through void(*)(void)
// keeps -Wcast-function-type quiet: it is the generic function pointer type.
template <typename F>
void resolve(HMODULE module, const char *name, F *slot, std::string *missing) {
    FARPROC proc = GetProcAddress(module, name);
    if (proc == nullptr) {
        if (!missing->empty()) missing->append(",");
        missing->append(name);
        *slot = nullptr;
        return;
    }
    *slot = reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
}

}  // namespace

bool sysmon_load(sysmon_api *out, sysmon_load_facts *facts, std::string *error) {
    *out = sysmon_api{};
    *facts = sysmon_load_facts{};
    HMODULE module = LoadLibraryA(SYSMON_DLL_NAME);
    if (module == nullptr) {
        *error = "LoadLibraryA(" SYSMON_DLL_NAME ") failed: " + std::to_string(GetLastError());
        return false;
    }
    out->module = module;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    facts->dll_path = path;

    std::string *missing = &facts->missing;
    resolve(module, "sysmon_init", &out->init, missing);
    resolve(module, "sysmon_cleanup", &out->cleanup, missing);
    resolve(module, "sysmon_set_interval", &out->set_interval, missing);
    resolve(module, "sysmon_set_process_filter", &out->set_process_filter, missing);
    resolve(module, "sysmon_snapshot", &out->snapshot, missing);
    resolve(module, "sysmon_cpu", &out->cpu, missing);
    resolve(module, "sysmon_memory", &out->memory, missing);
    resolve(module, "sysmon_disks", &out->disks, missing);
    resolve(module, "sysmon_network", &out->network, missing);
    resolve(module, "sysmon_processes", &out->processes, missing);
    resolve(module, "sysmon_process_tree", &out->process_tree, missing);
    resolve(module, "sysmon_gpu", &out->gpu, missing);
    resolve(module, "sysmon_system", &out->system, missing);
    resolve(module, "sysmon_battery", &out->battery, missing);
    resolve(module, "sysmon_history", &out->history, missing);
    resolve(module, "sysmon_cpu_core_history", &out->cpu_core_history, missing);
    resolve(module, "sysmon_kill_process", &out->kill_process, missing);
    resolve(module, "sysmon_last_error", &out->last_error, missing);
    resolve(module, "sysmon_platform", &out->platform, missing);

    // The calls that need no initialisation, made before anything else.
    if (out->last_error != nullptr) {
        const char *text = out->last_error();
        facts->last_error_was_null = text == nullptr;
        if (text != nullptr) facts->first_last_error = text;
    }
    facts->first_platform = out->platform != nullptr ? out->platform() : -1;
    return true;
}

const sysmon_api &api() { return s_api; }
const sysmon_load_facts &load_facts() { return s_facts; }

void set_loaded_library(const sysmon_api &loaded, const sysmon_load_facts &facts) {
    s_api = loaded;
    s_facts = facts;
}

std::string own_exe_path() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string own_exe_dir() {
    std::string path = own_exe_path();
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string own_exe_name() {
    std::string path = own_exe_path();
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string expected_product_name(unsigned long major, unsigned long minor, unsigned long build) {
    if (build > 21999) return "Windows 11";
    if (major == 10) return "Windows 10";
    if (major == 6 && minor == 3) return "Windows 8.1";
    if (major == 6 && minor == 2) return "Windows 8";
    if (major == 6 && minor == 1) return "Windows 7";
    return "Windows";
}

const std::string &required_os() { return s_required_os; }
void set_required_os(const std::string &os) { s_required_os = os; }
