// Process views cut from one process list, and the raw JSON pieces they and
// the sampler take from the library's text.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

#include "process_table.h"
#include "raw_json.h"

namespace sysmon_cli {
namespace {

std::string entry(int pid, int ppid, const char *name, const char *cpu, int memory,
                  const char *command = "") {
  return "{\"pid\":" + std::to_string(pid) + ",\"name\":\"" + name + "\",\"cpu_percent\":" + cpu +
         ",\"memory_bytes\":" + std::to_string(memory) + ",\"command\":\"" + command +
         "\",\"ppid\":" + std::to_string(ppid) + "}";
}

std::string pids(const std::string &document) {
  std::string out;
  for (const auto &p : nlohmann::json::parse(document)) out += std::to_string(p["pid"].get<int>()) + ' ';
  return out;
}

// A JSON array of the given elements. Appended one by one: GCC 12 warns
// falsely (-Wrestrict) on long chains of string temporaries.
std::string array_of(std::initializer_list<std::string> elements) {
  std::string out = "[";
  for (const std::string &e : elements) {
    if (out.size() > 1) out += ',';
    out += e;
  }
  out += ']';
  return out;
}

TEST(RawJson, MembersAndElementsAsWritten) {
  const std::string doc = R"({"cpu":{"a":[1,{"b":"}"}],"t":12.50},"s":"x\"}","n":-1.0e2, "e":[] })";
  EXPECT_EQ(raw_member(doc, "cpu").value(), R"({"a":[1,{"b":"}"}],"t":12.50})");
  EXPECT_EQ(raw_member(doc, "s").value(), R"("x\"}")");
  EXPECT_EQ(raw_member(doc, "n").value(), "-1.0e2");
  EXPECT_EQ(raw_member(doc, "e").value(), "[]");
  EXPECT_FALSE(raw_member(doc, "t"));  // not top-level
  EXPECT_FALSE(raw_member("[1]", "cpu"));
  EXPECT_FALSE(raw_member(R"({"cpu":)", "cpu"));
  const auto elements = raw_elements(R"([ {"x":[1,2]}, 3.50 ,"a,b"])");
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[0], R"({"x":[1,2]})");
  EXPECT_EQ(elements[1], "3.50");
  EXPECT_EQ(elements[2], R"("a,b")");
  EXPECT_TRUE(raw_elements("[]").empty());
  EXPECT_TRUE(raw_elements("[1,").empty());
  EXPECT_TRUE(raw_elements("{}").empty());
}

TEST(ProcessTable, ListsSortedFilteredAndLimitedKeepingTheLibrarysText) {
  const std::string list = array_of({entry(30, 1, "Web", "50.00", 100, "/usr/bin/web --PORT 80"),
                                     entry(10, 1, "db", "20.00", 900), entry(20, 1, "web", "20.00", 900),
                                     entry(5, 0, "init", "0.00", 50)});
  const ProcessTable table(list);
  EXPECT_EQ(table.list({}), list);  // the library's order and text
  EXPECT_EQ(pids(table.list({SYSMON_SORT_MEMORY, 0, ""})), "10 20 30 5 ");  // ties: lower pid
  EXPECT_EQ(pids(table.list({SYSMON_SORT_PID, 2, ""})), "5 10 ");
  EXPECT_EQ(pids(table.list({SYSMON_SORT_NAME, 0, ""})), "10 5 20 30 ");   // case ignored
  EXPECT_EQ(pids(table.list({SYSMON_SORT_CPU, 0, "WEB"})), "30 20 ");
  EXPECT_EQ(pids(table.list({SYSMON_SORT_CPU, 0, "port 8"})), "30 ");     // the command too
  EXPECT_EQ(table.largest_first().front(), 1u);
  EXPECT_NE(table.list({}).find("\"cpu_percent\":50.00"), std::string::npos);
  EXPECT_EQ(ProcessTable("{}").list({}), "[]");
}

TEST(ProcessTable, TreeOfTheListedProcesses) {
  // 1 -> {3 -> 4, 2}; 7 and 8 are each other's parent; 9 has a parent not listed.
  const std::string list = array_of({entry(3, 1, "c", "9.00", 1), entry(2, 1, "b", "5.00", 1),
                                     entry(1, 0, "init", "1.00", 1), entry(4, 3, "d", "0.50", 1),
                                     entry(7, 8, "x", "0.00", 1), entry(8, 7, "y", "0.00", 1),
                                     entry(9, 99, "z", "0.00", 1)});
  const ProcessTable table(list);
  const auto tree = nlohmann::json::parse(table.tree({}));
  ASSERT_EQ(tree.size(), 4u);  // 1, 7, 8, 9
  EXPECT_EQ(tree[0]["pid"], 1);
  ASSERT_EQ(tree[0]["children"].size(), 2u);
  EXPECT_EQ(tree[0]["children"][0]["pid"], 3);  // busiest first
  EXPECT_EQ(tree[0]["children"][0]["children"][0]["pid"], 4);
  EXPECT_EQ(tree[1]["pid"], 7);
  EXPECT_EQ(tree[2]["pid"], 8);
  EXPECT_EQ(tree[3]["pid"], 9);
  EXPECT_EQ(nlohmann::json::parse(table.tree({0, 1, ""})).size(), 1u);
  // Filtered: a process whose parent is filtered out is a root.
  EXPECT_EQ(pids(table.tree({0, 0, "d"})), "4 ");
  EXPECT_NE(table.tree({}).find("\"cpu_percent\":0.50,"), std::string::npos);

  // A chain of 100: nesting stops at depth 64.
  std::string chain = "[";
  for (int pid = 1; pid <= 100; ++pid) {
    if (pid > 1) chain += ',';
    chain += entry(pid, pid - 1, "p", "0.00", 1);
  }
  const auto deep = nlohmann::json::parse(ProcessTable(chain + "]").tree({}), nullptr, true, true);
  ASSERT_EQ(deep.size(), 2u);
  EXPECT_EQ(deep[1]["pid"], 65);
}

}  // namespace
}  // namespace sysmon_cli
