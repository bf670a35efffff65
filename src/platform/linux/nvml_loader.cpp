#include "nvml_loader.h"

#include <dlfcn.h>

#include <cstring>

#include "linux_sources.h"

namespace {

void *s_library = nullptr;
char s_library_name[LINUX_PATH_SIZE];
nvml_table s_table;
bool s_complete = false;

}  // namespace

bool nvml_load(const char *library, nvml_table *table) {
    if (library == nullptr || table == nullptr) return false;
    if (s_library == nullptr || std::strncmp(s_library_name, library, sizeof s_library_name) != 0) {
        if (s_library != nullptr) dlclose(s_library);
        std::memset(&s_table, 0, sizeof s_table);
        s_complete = false;
        std::strncpy(s_library_name, library, sizeof s_library_name - 1);
        s_library_name[sizeof s_library_name - 1] = '\0';
        // A library that cannot be opened is tried again at the next
        // initialisation (the driver may have been installed since).
        s_library = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (s_library != nullptr) {
            for (int32_t i = 0; i < nvml_symbol_count(); ++i)
                nvml_table_set(&s_table, i, dlsym(s_library, nvml_symbol_name(i)));
            s_complete = nvml_table_complete(&s_table);
        }
    }
    if (!s_complete) {
        std::memset(table, 0, sizeof *table);
        return false;
    }
    *table = s_table;
    return true;
}
