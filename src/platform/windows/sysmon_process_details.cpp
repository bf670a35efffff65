#include "sysmon_process_details.h"

#include <cstdint>
#include <cstring>

#include "account_cache.h"
#include "process_sweep.h"
#include "sysmon_ntdll.h"
#include "utf8_text.h"

static_assert(sizeof(void *) == 8, "the environment block offsets are those of 64-bit Windows");

// Where the command line sits in a 64-bit process: the process parameters'
// address in its environment block (PEB), the counted command-line text in
// the parameters.
#define SYSMON_PEB_OFFSET_PARAMETERS 0x20
#define SYSMON_PARAMETERS_OFFSET_COMMAND_LINE 0x70
// PROCESS_BASIC_INFORMATION: the environment block's address at byte 8.
#define SYSMON_BASIC_INFORMATION_SIZE 48
#define SYSMON_BASIC_OFFSET_PEB 8
// The most units of a command line worth reading: the command field holds
// 1023 bytes, and every unit gives at least one.
#define SYSMON_COMMAND_UNITS_READ 1024

// The block the system's command-line answer goes to: a counted text and
// the longest command line Windows allows behind it.
alignas(8) static unsigned char s_win_command_block[COUNTED_TEXT_SIZE + 65536];
static account_cache s_win_accounts;

HANDLE sysmon_open_process(DWORD pid) {
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    return process;
}

static bool command_line_answer(HANDLE process, char *out, size_t size) {
    const nt_query_information_process_fn query = sysmon_nt_query_information_process();
    if (query == nullptr) return false;
    ULONG returned = 0;
    if (query(process, SYSMON_PROCESS_COMMAND_LINE_INFORMATION, s_win_command_block,
              sizeof s_win_command_block, &returned) != SYSMON_STATUS_SUCCESS)
        return false;
    const size_t answered = returned < sizeof s_win_command_block ? returned
                                                                  : sizeof s_win_command_block;
    const void *units = nullptr;
    size_t length = 0;
    if (!counted_text_in_block(s_win_command_block, answered, 0, &units, &length)) return false;
    if (length > SYSMON_COMMAND_UNITS_READ) length = SYSMON_COMMAND_UNITS_READ;
    return utf8_from_utf16(out, size, units, length) > 0;
}

static bool read_remote(HANDLE process, uint64_t address, void *buffer, size_t size) {
    SIZE_T read = 0;
    return address != 0 &&
           ReadProcessMemory(process, reinterpret_cast<const void *>(address), buffer, size,
                             &read) &&
           read == size;
}

static bool command_line_in_parameters(HANDLE process, char *out, size_t size) {
    const nt_query_information_process_fn query = sysmon_nt_query_information_process();
    if (query == nullptr) return false;
    alignas(8) unsigned char basic[SYSMON_BASIC_INFORMATION_SIZE] = {};
    if (query(process, SYSMON_PROCESS_BASIC_INFORMATION, basic, sizeof basic, nullptr) !=
        SYSMON_STATUS_SUCCESS)
        return false;
    uint64_t peb = 0;
    std::memcpy(&peb, basic + SYSMON_BASIC_OFFSET_PEB, sizeof peb);
    uint64_t parameters = 0;
    if (!read_remote(process, peb + SYSMON_PEB_OFFSET_PARAMETERS, &parameters, sizeof parameters))
        return false;
    unsigned char counted[COUNTED_TEXT_SIZE] = {};
    if (!read_remote(process, parameters + SYSMON_PARAMETERS_OFFSET_COMMAND_LINE, counted,
                     sizeof counted))
        return false;
    uint16_t bytes = 0;
    uint64_t address = 0;
    std::memcpy(&bytes, counted + COUNTED_TEXT_OFFSET_LENGTH, sizeof bytes);
    std::memcpy(&address, counted + COUNTED_TEXT_OFFSET_ADDRESS, sizeof address);
    size_t length = bytes / 2;
    if (length > SYSMON_COMMAND_UNITS_READ) length = SYSMON_COMMAND_UNITS_READ;
    if (length == 0) return false;
    uint16_t units[SYSMON_COMMAND_UNITS_READ];
    if (!read_remote(process, address, units, length * 2)) return false;
    return utf8_from_utf16(out, size, units, length) > 0;
}

bool sysmon_read_command_line(HANDLE process, char *out, size_t size) {
    if (size > 0) out[0] = '\0';
    return command_line_answer(process, out, size) ||
           command_line_in_parameters(process, out, size);
}

const char *sysmon_read_user(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return nullptr;
    alignas(8) unsigned char owner[256];
    DWORD returned = 0;
    const BOOL read = GetTokenInformation(token, TokenUser, owner, sizeof owner, &returned);
    CloseHandle(token);
    if (!read) return nullptr;
    PSID sid = reinterpret_cast<TOKEN_USER *>(owner)->User.Sid;
    if (sid == nullptr || !IsValidSid(sid)) return nullptr;
    const DWORD sid_size = GetLengthSid(sid);

    const char *known = account_cache_find(&s_win_accounts, sid, sid_size);
    if (known != nullptr) return known;

    // An identifier without a name (a deleted account, an unreachable
    // domain) is remembered as "": asking again would not help.
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    static char name_utf8[ACCOUNT_NAME_SIZE * 4];
    name_utf8[0] = '\0';
    if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use))
        utf8_from_utf16(name_utf8, sizeof name_utf8, name, 256);
    account_cache_put(&s_win_accounts, sid, sid_size, name_utf8);
    const char *stored = account_cache_find(&s_win_accounts, sid, sid_size);
    return stored != nullptr ? stored : name_utf8;
}
