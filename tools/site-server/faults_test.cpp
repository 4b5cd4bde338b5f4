#include "tools/site-server/faults.h"

#include <gtest/gtest.h>

namespace site_server {
namespace {

TEST(SiteServerFaults, KindsAndParameters) {
  EXPECT_EQ(parse_fault("404")->status, 404);
  EXPECT_EQ(parse_fault("404")->kind, Fault::Kind::status);
  EXPECT_EQ(parse_fault("no-ranges")->kind, Fault::Kind::no_ranges);
  const auto drip = parse_fault("drip:100:5");
  ASSERT_TRUE(drip);
  EXPECT_EQ(drip->drip_bytes, 100u);
  EXPECT_EQ(drip->drip_ms, 5);
  EXPECT_EQ(parse_fault("redirect:/a?b=c")->target, "/a?b=c");
  EXPECT_FALSE(parse_fault("drip:0"));
  EXPECT_FALSE(parse_fault("drip:x:1"));
  EXPECT_FALSE(parse_fault("Truncate"));
  EXPECT_FALSE(parse_fault("4044"));
}

TEST(SiteServerFaults, RulesFromFlagsAndFile) {
  std::map<std::string, Fault> faults;
  EXPECT_TRUE(add_fault_rule("/a.bin=reset", faults));
  EXPECT_FALSE(add_fault_rule("a.bin=reset", faults));  // paths start with "/"
  EXPECT_FALSE(add_fault_rule("/a.bin=", faults));
  EXPECT_EQ(faults.at("/a.bin").kind, Fault::Kind::reset);

  std::vector<std::string> problems;
  const auto from_file =
      parse_fault_file("# comment\n\n/x stall\r\n/y=redirect:/z=1\n/bad nonsense\n", problems);
  EXPECT_EQ(from_file.at("/x").kind, Fault::Kind::stall);
  EXPECT_EQ(from_file.at("/y").target, "/z=1");
  EXPECT_EQ(problems, std::vector<std::string>{"/bad nonsense"});
}

}  // namespace
}  // namespace site_server
