// Disk collector: the local volumes by their root paths, their space, file
// system and byte counters. Every volume query runs with critical-error
// dialogs off for this thread, so an empty removable drive never makes
// Windows show a dialog inside the host program.
#include "windows_api.h"
#include <winioctl.h>

#include <cstdint>
#include <cwchar>

#include "disk_walk.h"
#include "sysmon_internal.h"
#include "utf8_text.h"

// Byte counters of the two latest baselines, by volume.
static baseline_pair<disk_table> s_win_disk_baselines;
static disk_table s_win_disk_discard;

// The byte counters of the volume at `root` ("C:\"), through the volume
// device ("\\.\C:").
static disk_io read_volume_io(const wchar_t *root) {
    disk_io io = {};
    wchar_t device[MAX_PATH] = L"\\\\.\\";
    size_t length = std::wcslen(root);
    if (length > 0 && root[length - 1] == L'\\') --length;
    if (length == 0 || length + 5 > MAX_PATH) return io;
    wmemcpy(device + 4, root, length);
    device[4 + length] = L'\0';

    HANDLE volume = CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return io;
    DISK_PERFORMANCE performance = {};
    DWORD returned = 0;
    if (DeviceIoControl(volume, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance,
                        sizeof performance, &returned, nullptr) &&
        returned >= offsetof(DISK_PERFORMANCE, ReadTime)) {
        io.has_counters = 1;
        io.bytes_read = static_cast<uint64_t>(performance.BytesRead.QuadPart);
        io.bytes_written = static_cast<uint64_t>(performance.BytesWritten.QuadPart);
    }
    CloseHandle(volume);
    return io;
}

int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *list, const sysmon_window *window) {
    if (list == nullptr) return -1;

    DWORD previous_mode = 0;
    const BOOL mode_set = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode);

    wchar_t roots_w[SYSMON_DISK_ROOT_LIST_UNITS] = {};
    GetLogicalDriveStringsW(SYSMON_DISK_ROOT_LIST_QUERY_LENGTH, roots_w);
    static char roots[SYSMON_DISK_ROOT_LIST_SIZE];
    utf8_list_from_utf16(roots, sizeof roots, roots_w, SYSMON_DISK_ROOT_LIST_UNITS);

    const bool advance = window == nullptr || window->advance != 0;
    disk_table &store = advance ? s_win_disk_baselines.next() : s_win_disk_discard;
    static used_records used;  // the entries the previous collection filled
    disk_walk walk;
    // The list and the new table grow when more volumes are listed.
    derive_disk_walk_begin(&walk, list, roots, sizeof roots,
                           &s_win_disk_baselines.against(window), &store,
                           window != nullptr ? window->elapsed_sec : 0.0, &used);

    const char *root;
    while ((root = derive_disk_walk_next(&walk)) != nullptr) {
        wchar_t root_w[MAX_PATH] = {};
        if (MultiByteToWideChar(CP_UTF8, 0, root, -1, root_w, MAX_PATH) == 0) continue;
        if (!derive_disk_type_accepted(GetDriveTypeW(root_w))) continue;
        ULARGE_INTEGER available, total, total_free;
        if (!GetDiskFreeSpaceExW(root_w, &available, &total, &total_free)) continue;
        wchar_t fs_w[SYSMON_DISK_FS_NAME_UNITS] = {};
        char fs_name[SYSMON_DISK_FS_NAME_SIZE] = {};
        const BOOL has_fs = GetVolumeInformationW(root_w, nullptr, 0, nullptr, nullptr,
                                                  nullptr, fs_w, SYSMON_DISK_FS_NAME_UNITS);
        if (has_fs) utf8_from_utf16(fs_name, sizeof fs_name, fs_w, SYSMON_DISK_FS_NAME_UNITS);
        const disk_io io = read_volume_io(root_w);
        derive_disk_walk_add(&walk, root, total.QuadPart, total_free.QuadPart, available.QuadPart,
                             has_fs ? fs_name : nullptr, &io);
    }
    derive_disk_walk_end(&walk, &list->count);
    if (advance) s_win_disk_baselines.commit(window);

    if (mode_set) SetThreadErrorMode(previous_mode, nullptr);
    return 0;
}
