// Helpers over parsed process lists and trees.
#ifndef SYSMON_PROCESS_CHECKS_H
#define SYSMON_PROCESS_CHECKS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "json_checks.h"

// The entry of `pid` in a process list, or null.
const ordered_json *find_process(const ordered_json &list, int32_t pid);

// Whether a may stand before b in a list sorted with `sort_by`
// (1 memory, 2 pid, 3 name, anything else processor share).
bool in_order(const ordered_json &a, const ordered_json &b, int32_t sort_by);

// One node of a process tree, flattened.
struct tree_node {
    int32_t pid;
    int32_t ppid;
    int32_t parent_pid;  // pid of the enclosing node, -1 for a root
    int depth;
    std::string name;
    std::string command;
};

// Walks a tree document depth first. Fails (with `problem` set) when a node
// has the wrong members or a node at depth 64 has children.
bool flatten_tree(const ordered_json &tree, std::vector<tree_node> *nodes,
                  std::string *problem = nullptr);

// Whether following parents from `pid` through `parent_of` comes back to a
// process already seen, or goes on for more than 64 steps.
bool chain_loops_or_runs_deep(const std::map<int32_t, int32_t> &parent_of, int32_t pid);

// The node of `pid` in a flattened tree, or null.
const tree_node *find_node(const std::vector<tree_node> &nodes, int32_t pid);

#endif  // SYSMON_PROCESS_CHECKS_H
