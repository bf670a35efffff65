#include "process_checks.h"

#include <set>
#include <string.h>

const ordered_json *find_process(const ordered_json &list, int32_t pid) {
    if (!list.is_array()) return nullptr;
    for (const auto &proc : list) {
        if (proc["pid"].get<int32_t>() == pid) return &proc;
    }
    return nullptr;
}

bool in_order(const ordered_json &a, const ordered_json &b, int32_t sort_by) {
    int32_t pid_a = a["pid"].get<int32_t>();
    int32_t pid_b = b["pid"].get<int32_t>();
    switch (sort_by) {
        case 1: {
            uint64_t mem_a = a["memory_bytes"].get<uint64_t>();
            uint64_t mem_b = b["memory_bytes"].get<uint64_t>();
            return mem_a > mem_b || (mem_a == mem_b && pid_a < pid_b);
        }
        case 2:
            return pid_a < pid_b;
        case 3:
            // Equal names (ignoring case) may come in either order.
            return _stricmp(a["name"].get<std::string>().c_str(),
                            b["name"].get<std::string>().c_str()) <= 0;
        default: {
            // The text shows shares rounded to two decimals: two shares that
            // print alike may still differ, so only a printed 0.00 (no
            // processor time at all) is known to be a tie broken by pid.
            double cpu_a = a["cpu_percent"].get<double>();
            double cpu_b = b["cpu_percent"].get<double>();
            if (cpu_a != cpu_b) return cpu_a > cpu_b;
            return cpu_a != 0.0 || pid_a < pid_b;
        }
    }
}

namespace {

bool walk(const ordered_json &node, int32_t parent_pid, int depth,
          std::vector<tree_node> *nodes, std::string *problem) {
    if (keys_of(node) != TREE_NODE_KEYS) {
        *problem = "node members out of order: " + node.dump();
        return false;
    }
    tree_node flat{node["pid"].get<int32_t>(), node["ppid"].get<int32_t>(), parent_pid, depth,
                   node["name"].get<std::string>(), node["command"].get<std::string>()};
    nodes->push_back(flat);
    const ordered_json &children = node["children"];
    if (!children.is_array()) {
        *problem = "children is not an array: " + node.dump();
        return false;
    }
    if (depth >= 64 && !children.empty()) {
        *problem = "node at depth 64 has children: pid " + std::to_string(flat.pid);
        return false;
    }
    for (const auto &child : children) {
        if (!walk(child, flat.pid, depth + 1, nodes, problem)) return false;
    }
    return true;
}

}  // namespace

bool flatten_tree(const ordered_json &tree, std::vector<tree_node> *nodes,
                  std::string *problem) {
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    nodes->clear();
    if (!tree.is_array()) {
        *problem = "tree is not an array";
        return false;
    }
    for (const auto &root : tree) {
        if (!walk(root, -1, 0, nodes, problem)) return false;
    }
    return true;
}

bool chain_loops_or_runs_deep(const std::map<int32_t, int32_t> &parent_of, int32_t pid) {
    std::set<int32_t> seen{pid};
    int32_t current = pid;
    for (int steps = 0; steps <= 64; ++steps) {
        auto it = parent_of.find(current);
        if (it == parent_of.end()) return false;  // the chain ends at an unlisted parent
        current = it->second;
        if (!seen.insert(current).second) return true;
    }
    return true;
}

const tree_node *find_node(const std::vector<tree_node> &nodes, int32_t pid) {
    for (const tree_node &node : nodes) {
        if (node.pid == pid) return &node;
    }
    return nullptr;
}
