// Fuzz target: the files of one process under /proc/PID (stat, status, io,
// schedstat, cmdline) from arbitrary bytes, and the command and name derived from
// them. The task name lands NUL-terminated with its length; the command and
// the name are NUL-terminated well-formed UTF-8 within any field size and
// nothing is written beyond it; the state word is one of the known words.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "pid_files_parse.h"

namespace {

void check_within(const std::vector<char> &out, size_t size, const char *what) {
    FUZZ_CHECK(out[size] == 'G', std::string(what) + " written beyond its size");
    if (size == 0) return;
    const void *nul = std::memchr(out.data(), '\0', size);
    FUZZ_CHECK(nul != nullptr, std::string(what) + " not terminated");
    const size_t len = static_cast<size_t>(static_cast<const char *>(nul) - out.data());
    FUZZ_CHECK(utf8_well_formed(out.data(), len), std::string(what) + " ill-formed: " + std::string(out.data(), len));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange<int>(0, 4);
    const size_t command_size = in.ConsumeBool() ? 1024 : in.ConsumeIntegralInRange<size_t>(0, 40);
    const size_t name_size = in.ConsumeBool() ? 128 : in.ConsumeIntegralInRange<size_t>(0, 20);
    const std::vector<char> rest = in.ConsumeRemainingBytes<char>();
    const exact_bytes text(rest.data(), rest.size());
    switch (which) {
        case 0: {
            pid_stat s;
            if (parse_pid_stat(text.data(), text.size(), &s)) {
                FUZZ_CHECK(s.comm_len < sizeof s.comm && s.comm[s.comm_len] == '\0', "task name");
                FUZZ_CHECK(s.pid >= 0 && s.ppid >= 0 && s.num_threads >= 0, "negative identity");
                const std::string word = pid_state_word(s.state);
                FUZZ_CHECK(!word.empty(), "no state word");
                // The derived texts, with the file's bytes as the command line.
                std::vector<char> command(command_size + 1, 'G'), name(name_size + 1, 'G');
                pid_command_and_name(s.comm, s.comm_len, text.data(), text.size(), command.data(), command_size,
                                     name.data(), name_size);
                check_within(command, command_size, "command");
                check_within(name, name_size, "name");
            }
            break;
        }
        case 1: {
            uint32_t uid = 0;
            parse_status_real_uid(text.data(), text.size(), &uid);
            break;
        }
        case 2: {
            uint64_t r = 0, w = 0;
            parse_pid_io(text.data(), text.size(), &r, &w);
            break;
        }
        case 3: {
            pid_schedstat s;
            if (!parse_pid_schedstat(text.data(), text.size(), &s))
                FUZZ_CHECK(s.run_ns == 0 && s.timeslices == 0, "schedstat values left after a rejection");
            break;
        }
        default: {
            // cmdline and a task name cut from its front.
            const size_t comm_len = text.size() < 16 ? text.size() : 15;
            std::vector<char> command(command_size + 1, 'G'), name(name_size + 1, 'G');
            pid_command_and_name(text.data(), comm_len, text.data(), text.size(), command.data(), command_size,
                                 name.data(), name_size);
            check_within(command, command_size, "command");
            check_within(name, name_size, "name");
            break;
        }
    }
    return 0;
}
