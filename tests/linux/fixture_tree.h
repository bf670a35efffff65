// Points the Linux collectors at a fixture tree: the proc and sys roots and
// the os-release files below it, and made-up answers for the system calls
// (file-system space, interfaces, uname, user names).
#ifndef SYSMON_TESTS_LINUX_FIXTURE_TREE_H
#define SYSMON_TESTS_LINUX_FIXTURE_TREE_H

#include <filesystem>
#include <string>

#include "linux_sources.h"
#include "sysmon_internal.h"

// The directory of a fixture tree under tests/fixtures/linux.
std::string fixture_dir(const std::string &tree);

// Sets the sources to the tree at `root` (fake calls included) and restores
// the live machine when it goes.
struct fixture_sources {
    explicit fixture_sources(const std::string &root);
    ~fixture_sources();
    fixture_sources(const fixture_sources &) = delete;
    fixture_sources &operator=(const fixture_sources &) = delete;
};

// A copy of a fixture tree in a fresh temporary directory, removed when it
// goes; tests change its files between collections.
struct tree_copy {
    std::filesystem::path root;
    explicit tree_copy(const std::string &tree);
    ~tree_copy();
    tree_copy(const tree_copy &) = delete;
    tree_copy &operator=(const tree_copy &) = delete;
    void write(const std::string &relative, const std::string &content) const;
    void remove(const std::string &relative) const;
};

// A window of `elapsed` seconds that advances.
inline sysmon_window advancing(double elapsed) {
    return sysmon_window{elapsed, SYSMON_BASELINE_NEWEST, 1};
}

#endif  // SYSMON_TESTS_LINUX_FIXTURE_TREE_H
