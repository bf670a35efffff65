// Child processes the host tests start from copies of this program: a
// sleeper, or a busy child that keeps one processor busy and tells the host
// its own processor time on request.
#ifndef SYSMON_CHILD_PROCESS_H
#define SYSMON_CHILD_PROCESS_H

#include <windows.h>

#include <cstdint>
#include <string>

// Argument that makes this executable spin on one thread and answer every
// byte read from its standard input with its own processor time (kernel +
// user, 100-nanosecond units, 8 bytes) on its standard output.
#define SYSMON_BUSY_CHILD_ARG "--busy-child"

// Argument that makes this executable load the library, read the memory
// and processor documents and the limits of its own job object as Windows
// reports them, print them on its standard output and end.
#define SYSMON_LIMITS_CHILD_ARG "--limits-child"

// Runs the busy child; returns when its standard input closes.
int run_busy_child();
// Runs the limits child; the exit status is 0 when the library loaded.
int run_limits_child();

// UTF-8 of a UTF-16 text, and back.
std::string utf8_of(const std::wstring &text);
std::wstring wide_of(const std::string &text);

// A child started with CreateProcessW and `command_line`; ended (if still
// running) and waited for when the object goes. `with_pipes` connects its
// standard input and output to the host.
class child_process {
public:
    child_process(const std::wstring &command_line, DWORD creation_flags, bool with_pipes);
    ~child_process();
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;

    bool started() const { return started_; }
    int32_t pid() const { return static_cast<int32_t>(info_.dwProcessId); }
    HANDLE handle() const { return info_.hProcess; }
    HANDLE thread() const { return info_.hThread; }
    // Everything the child writes on its standard output until it closes it.
    std::string read_output();
    // The child's own processor time, asked through the pipes; false when
    // it did not answer.
    bool ask_processor_time(uint64_t *time);

private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
    HANDLE to_child_ = nullptr;
    HANDLE from_child_ = nullptr;
};

// The command line that starts this program with `arguments`.
std::wstring own_command_line(const std::wstring &arguments);

#endif  // SYSMON_CHILD_PROCESS_H
