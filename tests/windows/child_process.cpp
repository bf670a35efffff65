#include "child_process.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "host_library.h"

std::string utf8_of(const std::wstring &text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring wide_of(const std::string &text) {
    if (text.empty()) return std::wstring();
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::wstring own_command_line(const std::wstring &arguments) {
    return L"\"" + wide_of(own_exe_path()) + L"\" " + arguments;
}

static uint64_t own_processor_time() {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
    auto value = [](const FILETIME &ft) {
        return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    return value(kernel) + value(user);
}

int run_busy_child() {
    std::atomic<bool> done{false};
    std::thread spinner([&done] {
        volatile uint64_t sink = 0;
        while (!done.load(std::memory_order_relaxed)) sink = sink + 1;
    });
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char request;
    DWORD moved = 0;
    while (ReadFile(in, &request, 1, &moved, nullptr) && moved == 1) {
        const uint64_t time = own_processor_time();
        if (!WriteFile(out, &time, sizeof time, &moved, nullptr)) break;
    }
    done = true;
    spinner.join();
    return 0;
}

// The job the process belongs to (a null job handle), as Windows answers
// this program directly; -1 for a question it did not answer.
int run_limits_child() {
    sysmon_api loaded{};
    sysmon_load_facts facts{};
    std::string error;
    if (!sysmon_load(&loaded, &facts, &error) || !facts.missing.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    const bool has_limits = QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                                      &limits, sizeof limits, nullptr) != 0;
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    const bool has_rate = QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation,
                                                    &rate, sizeof rate, nullptr) != 0;
    BOOL in_job = FALSE;
    const bool has_in_job = IsProcessInJob(GetCurrentProcess(), nullptr, &in_job) != 0;
    std::printf("{\"in_job\":%d,\"limit_flags\":%lld,\"process_memory_limit\":%llu,"
                "\"job_memory_limit\":%llu,\"rate_flags\":%lld,\"cpu_rate\":%lu,"
                "\"processors\":%lu,",
                has_in_job ? (in_job ? 1 : 0) : -1,
                has_limits ? static_cast<long long>(limits.BasicLimitInformation.LimitFlags) : -1LL,
                static_cast<unsigned long long>(limits.ProcessMemoryLimit),
                static_cast<unsigned long long>(limits.JobMemoryLimit),
                has_rate ? static_cast<long long>(rate.ControlFlags) : -1LL,
                static_cast<unsigned long>(rate.CpuRate),
                static_cast<unsigned long>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
    std::printf("\"memory\":%s,", loaded.memory());
    std::printf("\"cpu\":%s}\n", loaded.cpu());
    std::fflush(stdout);
    return 0;
}

child_process::child_process(const std::wstring &command_line, DWORD creation_flags,
                             bool with_pipes) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE child_in = nullptr, child_out = nullptr;
    if (with_pipes) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&child_in, &to_child_, &inherit, 0) ||
            !CreatePipe(&from_child_, &child_out, &inherit, 0))
            return;
        SetHandleInformation(to_child_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(from_child_, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = child_in;
        startup.hStdOutput = child_out;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::vector<wchar_t> command(command_line.begin(), command_line.end());
    command.push_back(L'\0');
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, with_pipes ? TRUE : FALSE,
                              creation_flags, nullptr, nullptr, &startup, &info_) != 0;
    if (child_in != nullptr) CloseHandle(child_in);
    if (child_out != nullptr) CloseHandle(child_out);
}

child_process::~child_process() {
    if (to_child_ != nullptr) CloseHandle(to_child_);  // the busy child ends on its own
    if (started_) {
        if (WaitForSingleObject(info_.hProcess, to_child_ != nullptr ? 5000 : 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, INFINITE);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    if (from_child_ != nullptr) CloseHandle(from_child_);
}

std::string child_process::read_output() {
    std::string out;
    char chunk[4096];
    DWORD moved = 0;
    while (from_child_ != nullptr && ReadFile(from_child_, chunk, sizeof chunk, &moved, nullptr) &&
           moved > 0)
        out.append(chunk, moved);
    return out;
}

bool child_process::ask_processor_time(uint64_t *time) {
    DWORD moved = 0;
    const char request = 't';
    if (!WriteFile(to_child_, &request, 1, &moved, nullptr) || moved != 1) return false;
    uint64_t value = 0;
    if (!ReadFile(from_child_, &value, sizeof value, &moved, nullptr) || moved != sizeof value)
        return false;
    *time = value;
    return true;
}
