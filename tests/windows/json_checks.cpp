#include "json_checks.h"

#include <cstdio>
#include <map>
#include <regex>

const std::vector<std::string> CPU_KEYS = {"name", "cores", "threads", "total_usage",
                                           "frequency_mhz", "per_core", "temperature_c",
                                           "busy_seconds", "idle_seconds",
                                           "per_core_busy_seconds", "per_core_idle_seconds",
                                           "limit_cpus"};
const std::vector<std::string> MEMORY_KEYS = {"total", "used", "available", "cached",
                                              "swap_total", "swap_used", "limit", "limit_used"};
const std::vector<std::string> DISK_KEYS = {"name", "mount", "fs", "total", "used",
                                            "free", "read_bytes_sec", "write_bytes_sec",
                                            "total_read", "total_written", "available"};
const std::vector<std::string> NET_KEYS = {"name", "ip", "up_bytes_sec",
                                           "down_bytes_sec", "total_sent", "total_recv"};
const std::vector<std::string> GPU_KEYS = {"name", "usage_percent", "vram_total", "vram_used",
                                           "temperature_c", "driver", "power_watts", "source",
                                           "adapters"};
const std::vector<std::string> SYSTEM_KEYS = {"hostname", "os", "kernel",
                                              "uptime_seconds", "boot_time", "cpu_arch"};
const std::vector<std::string> BATTERY_KEYS = {"present", "percent", "status",
                                               "time_remaining_min", "power_draw_watts",
                                               "health_percent"};
const std::vector<std::string> PROCESS_KEYS = {
    "pid", "name", "cpu_percent", "memory_bytes", "memory_percent", "status",
    "command", "ppid", "user", "threads", "read_bytes_sec", "write_bytes_sec"};
const std::vector<std::string> TREE_NODE_KEYS = [] {
    std::vector<std::string> keys = PROCESS_KEYS;
    keys.push_back("children");
    return keys;
}();
const std::vector<std::string> SNAPSHOT_KEYS = {"cpu",       "memory", "disks",   "network",
                                                "processes", "gpu",    "battery", "system"};

namespace {

enum number_kind { KIND_INT, KIND_UINT, KIND_FIXED2, KIND_FIXED1 };

// How each number member is written, whichever document holds it.
const std::map<std::string, number_kind> &number_members() {
    static const std::map<std::string, number_kind> table = {
        {"cores", KIND_INT},           {"threads", KIND_INT},
        {"percent", KIND_INT},         {"time_remaining_min", KIND_INT},
        {"health_percent", KIND_INT},  {"pid", KIND_INT},
        {"ppid", KIND_INT},            {"total", KIND_UINT},
        {"used", KIND_UINT},           {"available", KIND_UINT},
        {"cached", KIND_UINT},         {"swap_total", KIND_UINT},
        {"swap_used", KIND_UINT},      {"free", KIND_UINT},
        {"limit", KIND_UINT},          {"limit_used", KIND_UINT},
        {"limit_cpus", KIND_FIXED2},
        {"read_bytes_sec", KIND_UINT}, {"write_bytes_sec", KIND_UINT},
        {"up_bytes_sec", KIND_UINT},   {"down_bytes_sec", KIND_UINT},
        {"total_sent", KIND_UINT},     {"total_recv", KIND_UINT},
        {"vram_total", KIND_UINT},     {"vram_used", KIND_UINT},
        {"uptime_seconds", KIND_UINT}, {"memory_bytes", KIND_UINT},
        {"total_usage", KIND_FIXED2},  {"usage_percent", KIND_FIXED2},
        {"power_draw_watts", KIND_FIXED2}, {"cpu_percent", KIND_FIXED2},
        {"memory_percent", KIND_FIXED2},   {"frequency_mhz", KIND_FIXED1},
        {"temperature_c", KIND_FIXED1},    {"power_watts", KIND_FIXED1},
        {"busy_seconds", KIND_FIXED2},     {"idle_seconds", KIND_FIXED2},
        {"total_read", KIND_UINT},         {"total_written", KIND_UINT},
    };
    return table;
}

const std::regex &pattern_of(number_kind kind) {
    static const std::regex int_re("-?(0|[1-9][0-9]*)");
    static const std::regex uint_re("0|[1-9][0-9]*");
    static const std::regex fixed2_re("-?[0-9]+\\.[0-9]{2}");
    static const std::regex fixed1_re("-?[0-9]+\\.[0-9]");
    switch (kind) {
        case KIND_INT: return int_re;
        case KIND_UINT: return uint_re;
        case KIND_FIXED2: return fixed2_re;
        case KIND_FIXED1: return fixed1_re;
    }
    return int_re;
}

const char *kind_name(number_kind kind) {
    switch (kind) {
        case KIND_INT: return "%d";
        case KIND_UINT: return "%llu";
        case KIND_FIXED2: return "%.2f";
        case KIND_FIXED1: return "%.1f";
    }
    return "?";
}

bool is_per_core_array(const std::string &key) {
    return key == "per_core" || key == "per_core_busy_seconds" || key == "per_core_idle_seconds";
}

// Counts the number members of a parsed document by name; anything the
// table does not know is reported as unexpected.
void count_numbers(const ordered_json &value, std::map<std::string, size_t> *counts,
                   std::string *unexpected) {
    if (value.is_array()) {
        for (const auto &element : value) count_numbers(element, counts, unexpected);
        return;
    }
    if (!value.is_object()) return;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it.value().is_number()) {
            if (number_members().count(it.key()) == 0) *unexpected += " " + it.key();
            ++(*counts)[it.key()];
        } else if (it.value().is_boolean() && it.key() != "present") {
            *unexpected += " " + it.key() + "(boolean)";
        } else if (!is_per_core_array(it.key())) {
            count_numbers(it.value(), counts, unexpected);
        }
    }
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace

ordered_json parse_document(const char *text) {
    if (text == nullptr) {
        ADD_FAILURE() << "document is a null pointer";
        return ordered_json();
    }
    try {
        return ordered_json::parse(text);
    } catch (const std::exception &e) {
        ADD_FAILURE() << "not JSON (" << e.what() << "): " << text;
        return ordered_json();
    }
}

std::vector<std::string> keys_of(const ordered_json &object) {
    std::vector<std::string> keys;
    if (!object.is_object()) return keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

testing::AssertionResult has_no_whitespace(const std::string &raw) {
    bool in_string = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            return testing::AssertionFailure()
                   << "whitespace at offset " << i << " in: " << raw;
        }
    }
    return testing::AssertionSuccess();
}

std::string raw_member(const std::string &raw, const std::string &key, size_t from) {
    std::string needle = "\"" + key + "\":";
    size_t at = raw.find(needle, from);
    if (at == std::string::npos) return std::string();
    size_t start = at + needle.size();
    size_t end = raw.find_first_of(",}]", start);
    if (raw.compare(start, 1, "[") == 0) end = raw.find(']', start) + 1;
    return raw.substr(start, end - start);
}

testing::AssertionResult is_fixed2_array(const std::string &raw_array) {
    if (raw_array.size() < 2 || raw_array.front() != '[' || raw_array.back() != ']') {
        return testing::AssertionFailure() << "not an array: " << raw_array;
    }
    std::string inner = raw_array.substr(1, raw_array.size() - 2);
    if (inner.empty()) return testing::AssertionSuccess();
    for (const std::string &element : split(inner, ',')) {
        if (!std::regex_match(element, pattern_of(KIND_FIXED2))) {
            return testing::AssertionFailure()
                   << "element " << element << " is not \"%.2f\" in " << raw_array;
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult numbers_well_formed(const std::string &raw) {
    ordered_json parsed;
    try {
        parsed = ordered_json::parse(raw);
    } catch (const std::exception &e) {
        return testing::AssertionFailure() << "not JSON (" << e.what() << "): " << raw;
    }
    std::map<std::string, size_t> counts;
    std::string unexpected;
    count_numbers(parsed, &counts, &unexpected);
    if (!unexpected.empty()) {
        return testing::AssertionFailure() << "unexpected number members:" << unexpected;
    }
    for (const auto &[key, expected_count] : counts) {
        number_kind kind = number_members().at(key);
        std::string needle = "\"" + key + "\":";
        size_t found = 0;
        for (size_t at = raw.find(needle); at != std::string::npos;
             at = raw.find(needle, at + 1)) {
            std::string token = raw_member(raw, key, at);
            if (!std::regex_match(token, pattern_of(kind))) {
                return testing::AssertionFailure()
                       << key << " is " << token << ", not written with " << kind_name(kind)
                       << " (offset " << at << ")";
            }
            ++found;
        }
        if (found != expected_count) {
            return testing::AssertionFailure() << key << ": " << found << " in the text, "
                                               << expected_count << " in the document";
        }
    }
    // per_core arrays: every element "%.2f".
    for (const char *key : {"per_core", "per_core_busy_seconds", "per_core_idle_seconds"}) {
        const std::string needle = std::string("\"") + key + "\":";
        for (size_t at = raw.find(needle); at != std::string::npos;
             at = raw.find(needle, at + 1)) {
            testing::AssertionResult ok = is_fixed2_array(raw_member(raw, key, at));
            if (!ok) return ok;
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult well_formed_document(const char *text) {
    if (text == nullptr) return testing::AssertionFailure() << "null document";
    std::string raw = text;
    testing::AssertionResult spaces = has_no_whitespace(raw);
    if (!spaces) return spaces;
    return numbers_well_formed(raw);
}

std::string format_fixed2(double value) {
    char text[512];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}
