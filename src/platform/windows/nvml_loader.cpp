#include "nvml_loader.h"

#include <cstring>
#include <cwchar>

#include "windows_api.h"

namespace {

HMODULE s_library = nullptr;
nvml_table s_table;
bool s_complete = false;

HMODULE open_library() {
    HMODULE m = LoadLibraryExW(L"nvml.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (m != nullptr) return m;
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ProgramW6432", path, MAX_PATH);
    const wchar_t tail[] = L"\\NVIDIA Corporation\\NVSMI\\nvml.dll";
    if (n == 0 || n + sizeof tail / sizeof tail[0] > MAX_PATH) return nullptr;
    std::wcscat(path, tail);
    // Its own folder first for the libraries it needs.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool nvml_load(nvml_table *table) {
    if (table == nullptr) return false;
    if (s_library == nullptr) {
        s_library = open_library();
        if (s_library != nullptr) {
            for (int32_t i = 0; i < nvml_symbol_count(); ++i) {
                FARPROC address = GetProcAddress(s_library, nvml_symbol_name(i));
                void *object = nullptr;
                std::memcpy(&object, &address, sizeof object);
                nvml_table_set(&s_table, i, object);
            }
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
