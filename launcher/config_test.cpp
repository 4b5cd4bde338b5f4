#include "launcher/config.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace launcher {
namespace {

// A record: the flag byte, the stack size's four bytes, the main class, then the counted option
// and argument strings (a count of -1 leaves the count out).
std::vector<uint8_t> record(uint8_t flags, std::array<uint8_t, 4> stack, const std::string& main,
                            const std::vector<std::string>& options = {},
                            const std::vector<std::string>& arguments = {},
                            int argument_count = 0) {
  std::vector<uint8_t> bytes = {flags, stack[0], stack[1], stack[2], stack[3]};
  auto text = [&](const std::string& value) {
    bytes.insert(bytes.end(), value.begin(), value.end());
    bytes.push_back(0);
  };
  text(main);
  bytes.push_back(static_cast<uint8_t>(options.size()));
  for (const auto& option : options) text(option);
  if (argument_count >= 0) bytes.push_back(static_cast<uint8_t>(arguments.size()));
  for (const auto& argument : arguments) text(argument);
  return bytes;
}

// The bytes placed into a full record area, the rest still holding filler.
std::vector<uint8_t> in_region(std::vector<uint8_t> bytes) {
  bytes.resize(record_capacity, '_');
  return bytes;
}

LauncherConfig parse_ok(const std::vector<uint8_t>& bytes) {
  const auto result = parse_launcher_record(bytes);
  EXPECT_TRUE(result.ok) << result.error;
  return result.config;
}

TEST(LauncherRecord, EachLowFlagBitSetsItsOwnFieldAndTheStackSizeIsBigEndian) {
  for (int bit = 0; bit < 8; ++bit) {
    SCOPED_TRACE(bit);
    const auto c = parse_ok(record(static_cast<uint8_t>(1 << bit), {0, 0, 0, 0}, "m"));
    const std::array<bool, 5> fields = {c.run_on_main_thread, c.console_app, c.utf8_console,
                                        c.reserved_flag, c.override_appdata_vars};
    for (int field = 0; field < 5; ++field) EXPECT_EQ(fields[field], field == bit) << field;
  }
  EXPECT_EQ(parse_ok(record(0, {0x00, 0x10, 0x00, 0x80}, "m")).thread_stack_size, 0x00100080u);
  EXPECT_EQ(parse_ok(record(0, {0xFF, 0xFE, 0x80, 0x81}, "m")).thread_stack_size, 0xFFFE8081u);
}

TEST(LauncherRecord, StringsKeepRecordOrderAndBytes) {
  const auto config = parse_ok(in_region(record(
      0, {0, 0, 0, 0}, "a.B", {"-Xmx1g", "", "-Dname=caf\xc3\xa9 &&"}, {"--first", "two words"})));
  EXPECT_EQ(config.main_class, "a.B");
  EXPECT_EQ(config.jvm_options, (std::vector<std::string>{"-Xmx1g", "", "-Dname=caf\xc3\xa9 &&"}));
  EXPECT_EQ(config.default_args, (std::vector<std::string>{"--first", "two words"}));
  EXPECT_EQ(config.thread_stack_size, 0u);
}

TEST(LauncherRecord, TheParseEndsAtTheArgumentsOrTheAreasEnd) {
  // Whatever follows a zero argument count is never read, not even when it has no terminator.
  auto bytes = record(0, {0, 0, 0, 0}, "m", {"-Da=b"});
  bytes.push_back('x');
  EXPECT_EQ(parse_ok(bytes).jvm_options, std::vector<std::string>{"-Da=b"});

  // The record may fill the whole area.
  const size_t room = record_capacity - record(0, {0, 0, 0, 0}, "m").size() - 1;
  const auto full = record(0, {0, 0, 0, 0}, "m", {}, {std::string(room, 'a')});
  ASSERT_EQ(full.size(), record_capacity);
  EXPECT_EQ(parse_ok(full).default_args.at(0).size(), room);
}

TEST(LauncherRecord, RecordRunningPastTheEndIsRejected) {
  auto no_option_count = record(0, {0, 0, 0, 0}, "m");
  no_option_count.resize(no_option_count.size() - 2);
  auto one_option_of_two = record(0, {0, 0, 0, 0}, "m", {"-Da"}, {}, -1);
  one_option_of_two[7] = 2;
  auto two_arguments_of_255 = record(0, {0, 0, 0, 0}, "m", {}, {"a", "b"});
  two_arguments_of_255[8] = 255;
  const std::vector<std::vector<uint8_t>> records = {
      {0x00, 0x00},         no_option_count,
      one_option_of_two,    record(0, {0, 0, 0, 0}, "m", {}, {}, -1),  // no argument count
      two_arguments_of_255,
  };
  for (const auto& bytes : records) {
    SCOPED_TRACE(testing::Message() << "record of " << bytes.size() << " bytes");
    const auto result = parse_launcher_record(bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("runs past the end"), std::string::npos) << result.error;
  }
  // A count that runs into filler without a terminator is caught at the area's end.
  auto counted = record(0, {0, 0, 0, 0}, "m");
  counted.back() = 1;
  EXPECT_FALSE(parse_launcher_record(in_region(counted)).ok);
}

TEST(LauncherRegion, TheTemplateHasTheBuiltLayoutAndIsReportedUnburned) {
  static constexpr Region region = make_region_template();
  const std::string bytes(region.bytes, sizeof region.bytes);
  ASSERT_EQ(bytes.size(), 16464u);
  EXPECT_EQ(bytes.substr(0, 79),
            "BURNED_IN_DATA af64800a3aa1f27ec27ffae50c69f51e59488dcc5e9ff7cf52e345ff9e64418b");
  EXPECT_EQ(bytes.substr(79, 16384), std::string(16384, '_'));
  EXPECT_EQ(bytes.back(), '\0');
  const auto result =
      parse_launcher_record({reinterpret_cast<const uint8_t*>(region.bytes), record_capacity});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("template"), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("burn launcher"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace launcher
