// The command's tree view with a root limit: the whole tree is read, and the
// N roots whose subtrees are busiest are kept, each with its whole subtree.
// (The library's own limit picks roots among the busiest single processes,
// which can make a busy child a root while its parent is listed.)
#pragma once

#include <string>
#include <string_view>

namespace sysmon_cli {

// From a process tree document (an array of root nodes, each with its
// `children`), the `limit` roots whose subtrees have the largest sum of
// `cpu_percent`, busiest first (ties keep the document's order), written
// exactly as the document wrote them. `limit` < 1 keeps every root in the
// document's order. Throws std::runtime_error on text that is not such an
// array.
std::string busiest_roots(std::string_view forest, int limit);

}  // namespace sysmon_cli
