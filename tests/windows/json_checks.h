// Checks on the raw text of the library's documents: what a JSON parser
// forgives (member order, number spelling, whitespace) is checked here.
#ifndef SYSMON_JSON_CHECKS_H
#define SYSMON_JSON_CHECKS_H

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using ordered_json = nlohmann::ordered_json;

// Member names of every document, in the order the library writes them.
extern const std::vector<std::string> CPU_KEYS;
extern const std::vector<std::string> MEMORY_KEYS;
extern const std::vector<std::string> DISK_KEYS;
extern const std::vector<std::string> NET_KEYS;
extern const std::vector<std::string> GPU_KEYS;
extern const std::vector<std::string> SYSTEM_KEYS;
extern const std::vector<std::string> BATTERY_KEYS;
extern const std::vector<std::string> PROCESS_KEYS;
extern const std::vector<std::string> TREE_NODE_KEYS;
extern const std::vector<std::string> SNAPSHOT_KEYS;

// Parses a document; a parse failure is a test failure that shows the text.
ordered_json parse_document(const char *text);

// The member names of an object, in document order.
std::vector<std::string> keys_of(const ordered_json &object);

// No whitespace outside string values.
testing::AssertionResult has_no_whitespace(const std::string &raw);

// Every number member in the raw text is spelled as the library's format for
// that member says: "%d"/"%llu" without a point, "%.2f" with exactly two
// decimals, "%.1f" with one. Members are found by name ("key":) in the raw
// text and counted against the parsed document, so none escapes the check.
testing::AssertionResult numbers_well_formed(const std::string &raw);

// An array of numbers written with "%.2f" each, e.g. [12.50,0.00] or [].
testing::AssertionResult is_fixed2_array(const std::string &raw_array);

// All of the above for one document: parses, no whitespace, well-formed numbers.
testing::AssertionResult well_formed_document(const char *text);

// The raw spelling of the first value of member `key` at or after `from`.
std::string raw_member(const std::string &raw, const std::string &key, size_t from = 0);

// printf-style formatting for expected texts.
std::string format_fixed2(double value);

#endif  // SYSMON_JSON_CHECKS_H
