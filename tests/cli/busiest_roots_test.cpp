// The command's root limit on made-up tree documents.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "busiest_roots.h"

namespace sysmon_cli {
namespace {

std::string node(int pid, const char *cpu, const std::string &children = "") {
  return "{\"pid\":" + std::to_string(pid) + ",\"name\":\"p{\\\"]\",\"cpu_percent\":" + cpu +
         ",\"children\":[" + children + "]}";
}

TEST(BusiestRoots, RanksRootsByTheirWholeSubtreeAndKeepsTheText) {
  // Root 1 is idle itself but has the busiest child; root 2 is busier alone.
  const std::string one = node(1, "0.00", node(10, "0.50") + "," + node(11, "40.00", node(12, "1.25")));
  const std::string two = node(2, "30.00");
  const std::string three = node(3, "0.00");
  const std::string forest = "[" + two + "," + three + "," + one + "]";
  EXPECT_EQ(busiest_roots(forest, 1), "[" + one + "]");
  EXPECT_EQ(busiest_roots(forest, 2), "[" + one + "," + two + "]");
  // Ties keep the document's order; a limit past the end keeps everything.
  EXPECT_EQ(busiest_roots(forest, 9), "[" + one + "," + two + "," + three + "]");
  EXPECT_EQ(busiest_roots(forest, 0), forest);
  EXPECT_EQ(busiest_roots("[]", 3), "[]");
}

TEST(BusiestRoots, RejectsWhatIsNotAForest) {
  EXPECT_THROW(busiest_roots("{}", 1), std::runtime_error);
  EXPECT_THROW(busiest_roots("[1,2]", 1), std::runtime_error);
  EXPECT_THROW(busiest_roots("[{\"pid\":1}", 1), std::runtime_error);
}

}  // namespace
}  // namespace sysmon_cli
