// Writing the library's JSON documents to standard output.
#pragma once

#include <string>
#include <string_view>

namespace sysmon_cli {

// The document as the library wrote it (compact), or indented by two spaces
// when `pretty` is set. Text that does not parse is returned unchanged.
std::string format_document(std::string_view text, bool pretty);

// Writes format_document(text, pretty) and a newline to standard output.
void print_document(std::string_view text, bool pretty);

}  // namespace sysmon_cli
