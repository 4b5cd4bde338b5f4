#include "launcher/config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace launcher {
namespace {

struct RecordBuilder {
  std::vector<uint8_t> bytes;

  RecordBuilder& byte(uint8_t value) {
    bytes.push_back(value);
    return *this;
  }
  RecordBuilder& text(const std::string& value) {
    bytes.insert(bytes.end(), value.begin(), value.end());
    bytes.push_back(0);
    return *this;
  }
  RecordBuilder& header(uint8_t flags, std::vector<uint8_t> stack, const std::string& main) {
    byte(flags);
    for (uint8_t b : stack) byte(b);
    return text(main);
  }
  // The bytes placed into a full record area, the rest still holding filler.
  std::vector<uint8_t> in_region(uint8_t filler = '_') const {
    std::vector<uint8_t> region(record_capacity, filler);
    std::copy(bytes.begin(), bytes.end(), region.begin());
    return region;
  }
};

LauncherConfig parse_ok(const std::vector<uint8_t>& record) {
  const auto result = parse_launcher_record(record);
  EXPECT_TRUE(result.ok) << result.error;
  return result.config;
}

TEST(LauncherRecord, MinimalRecordGivesDefaults) {
  const auto config =
      parse_ok(RecordBuilder().header(0x00, {0, 0, 0, 0}, "a.B").byte(0).byte(0).in_region());
  EXPECT_FALSE(config.run_on_main_thread);
  EXPECT_FALSE(config.console_app);
  EXPECT_FALSE(config.utf8_console);
  EXPECT_FALSE(config.reserved_flag);
  EXPECT_FALSE(config.override_appdata_vars);
  EXPECT_EQ(config.thread_stack_size, 0u);
  EXPECT_EQ(config.main_class, "a.B");
  EXPECT_TRUE(config.jvm_options.empty());
  EXPECT_TRUE(config.default_args.empty());
}

TEST(LauncherRecord, EachFlagBitSetsItsOwnField) {
  struct Case {
    uint8_t flags;
    bool main_thread, console, utf8, reserved, override_vars;
  };
  const Case cases[] = {
      {0x01, true, false, false, false, false}, {0x02, false, true, false, false, false},
      {0x04, false, false, true, false, false}, {0x08, false, false, false, true, false},
      {0x10, false, false, false, false, true}, {0xE0, false, false, false, false, false},
      {0xFF, true, true, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << int{c.flags});
    const auto config =
        parse_ok(RecordBuilder().header(c.flags, {0, 0, 0, 0}, "m").byte(0).byte(0).bytes);
    EXPECT_EQ(config.run_on_main_thread, c.main_thread);
    EXPECT_EQ(config.console_app, c.console);
    EXPECT_EQ(config.utf8_console, c.utf8);
    EXPECT_EQ(config.reserved_flag, c.reserved);
    EXPECT_EQ(config.override_appdata_vars, c.override_vars);
  }
}

TEST(LauncherRecord, StackSizeIsBigEndianWithUnsignedBytes) {
  const std::pair<std::vector<uint8_t>, uint32_t> cases[] = {
      {{0x00, 0x00, 0x80, 0x00}, 0x8000u},
      {{0x00, 0x10, 0x00, 0x80}, 0x00100080u},
      {{0xFF, 0xFE, 0x80, 0x81}, 0xFFFE8081u},
  };
  for (const auto& [bytes, expected] : cases) {
    const auto config = parse_ok(RecordBuilder().header(0, bytes, "m").byte(0).byte(0).bytes);
    EXPECT_EQ(config.thread_stack_size, expected);
  }
}

TEST(LauncherRecord, StringsKeepRecordOrderAndBytes) {
  const auto config = parse_ok(RecordBuilder()
                                   .header(0, {0, 0, 0, 0}, "")
                                   .byte(3)
                                   .text("-Xmx1g")
                                   .text("")
                                   .text("-Dname=caf\xc3\xa9 &&")
                                   .byte(2)
                                   .text("--first")
                                   .text("two words")
                                   .in_region());
  EXPECT_EQ(config.main_class, "");
  EXPECT_EQ(config.jvm_options, (std::vector<std::string>{"-Xmx1g", "", "-Dname=caf\xc3\xa9 &&"}));
  EXPECT_EQ(config.default_args, (std::vector<std::string>{"--first", "two words"}));
}

TEST(LauncherRecord, ZeroArgumentCountEndsTheParse) {
  // Whatever follows the count is never read, not even when it holds no terminator.
  auto record = RecordBuilder().header(0, {0, 0, 0, 0}, "m").byte(1).text("-Da=b").byte(0).bytes;
  record.push_back('x');
  const auto config = parse_ok(record);
  EXPECT_EQ(config.jvm_options, std::vector<std::string>{"-Da=b"});
  EXPECT_TRUE(config.default_args.empty());
}

TEST(LauncherRecord, RecordMayFillTheWholeArea) {
  RecordBuilder builder;
  builder.header(0, {0, 0, 0, 0}, "m").byte(0).byte(1);
  const size_t room = record_capacity - builder.bytes.size() - 1;
  builder.text(std::string(room, 'a'));
  ASSERT_EQ(builder.bytes.size(), record_capacity);
  EXPECT_EQ(parse_ok(builder.bytes).default_args.at(0).size(), room);
}

TEST(LauncherRecord, RecordRunningPastTheEndIsRejected) {
  const std::vector<std::vector<uint8_t>> records = {
      {0x00, 0x00},
      RecordBuilder().header(0, {0, 0, 0, 0}, "m").bytes,  // no option count
      RecordBuilder().header(0, {0, 0, 0, 0}, "m").byte(2).text("-Da").bytes,
      RecordBuilder().header(0, {0, 0, 0, 0}, "m").byte(0).bytes,  // no argument count
      RecordBuilder().header(0, {0, 0, 0, 0}, "m").byte(0).byte(255).text("a").text("b").bytes,
  };
  for (const auto& record : records) {
    SCOPED_TRACE(testing::Message() << "record of " << record.size() << " bytes");
    const auto result = parse_launcher_record(record);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("runs past the end"), std::string::npos) << result.error;
  }
  // A count that runs into filler without a terminator is caught at the area's end.
  auto region = RecordBuilder().header(0, {0, 0, 0, 0}, "m").byte(0).byte(1).in_region();
  EXPECT_FALSE(parse_launcher_record(region).ok);
}

TEST(LauncherRegion, TemplateHasTheBuiltLayout) {
  static constexpr Region region = make_region_template();
  const std::string bytes(region.bytes, sizeof region.bytes);
  ASSERT_EQ(bytes.size(), 16464u);
  EXPECT_EQ(bytes.substr(0, 79),
            "BURNED_IN_DATA af64800a3aa1f27ec27ffae50c69f51e59488dcc5e9ff7cf52e345ff9e64418b");
  EXPECT_EQ(bytes.substr(79, 16384), std::string(16384, '_'));
  EXPECT_EQ(bytes.back(), '\0');
}

TEST(LauncherRegion, UnburnedTemplateIsReportedAsSuch) {
  static constexpr Region region = make_region_template();
  const auto result =
      parse_launcher_record({reinterpret_cast<const uint8_t*>(region.bytes), record_capacity});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("template"), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("burn launcher"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace launcher
