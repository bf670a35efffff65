// Pieces of the library's JSON text taken as they are written, so that a
// member or an array element can be served again without re-serialising it
// (re-serialising would change the documents' fixed number formats).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace sysmon_cli {

// The text of the value of top-level member `key` of an object, or nothing
// when the text is not an object or has no such member.
std::optional<std::string_view> raw_member(std::string_view object, std::string_view key);

// The texts of the elements of an array; empty when the text is not an array.
std::vector<std::string_view> raw_elements(std::string_view array);

}  // namespace sysmon_cli
