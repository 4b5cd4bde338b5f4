#include "installer/core/burned_in_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellora {
namespace {

const std::string marker = "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";

std::string filler() {
  std::string text;
  for (int i = 0; i < 2048; ++i) text += "+-------";
  return text;
}

// A block as the packaging step leaves it: the record over the start of the pristine block.
std::vector<uint8_t> burned_block(const std::string& record) {
  std::string block = marker + filler() + std::string(1, '\0');
  block.replace(0, record.size(), record);
  return std::vector<uint8_t>(block.begin(), block.end());
}

ParsedSettingsBlock parse(const std::vector<uint8_t>& block) {
  return parse_settings_block(block.data(), block.size());
}

TEST(BurnedInSettings, OnlyTheTwoLowFlagBitsCount) {
  const struct {
    char flag;
    bool aggressive;
    bool escape_hatch;
  } cases[] = {{'\xFC', false, false}, {'\x01', true, false}, {'\x02', false, true},
               {'\x03', true, true},   {'\xFF', true, true},  {'\x00', false, false}};
  for (const auto& c : cases) {
    const ParsedSettingsBlock parsed = parse(burned_block(std::string(8, '\0') + c.flag));
    EXPECT_EQ(parsed.problem, "");
    EXPECT_EQ(parsed.settings.aggressive_updates, c.aggressive) << int(c.flag);
    EXPECT_EQ(parsed.settings.escape_hatch_enabled, c.escape_hatch) << int(c.flag);
  }
}

TEST(BurnedInSettings, FillsTheWholeBlockExactly) {
  // The longest record that fits: the flag byte is the block's last byte.
  std::string record = std::string(settings_block_size - 9, 'u') + std::string(8, '\0') + "\x02";
  ASSERT_EQ(record.size(), settings_block_size);
  ParsedSettingsBlock parsed = parse(std::vector<uint8_t>(record.begin(), record.end()));
  EXPECT_EQ(parsed.problem, "");
  EXPECT_EQ(parsed.settings.site_base_url.size(), settings_block_size - 9);
  EXPECT_TRUE(parsed.settings.escape_hatch_enabled);

  // One byte more and the flag byte falls outside.
  record = std::string(settings_block_size - 8, 'u') + std::string(8, '\0');
  parsed = parse(std::vector<uint8_t>(record.begin(), record.end()));
  EXPECT_NE(parsed.problem, "");
  EXPECT_EQ(parsed.settings.site_base_url, "");
}

TEST(BurnedInSettings, UnconfiguredOrMalformedBlocksLeaveTheSettingsEmpty) {
  std::string pristine = marker + filler() + std::string(1, '\0');
  ParsedSettingsBlock parsed = parse(std::vector<uint8_t>(pristine.begin(), pristine.end()));
  EXPECT_NE(parsed.problem.find("has not been configured by the packaging step"),
            std::string::npos);
  EXPECT_EQ(parsed.settings.site_base_url, "");

  // Seven strings and then the end of the block.
  std::string seven = std::string(settings_block_size - 7, 'x') + std::string(7, '\0');
  parsed = parse(std::vector<uint8_t>(seven.begin(), seven.end()));
  EXPECT_NE(parsed.problem.find("damaged"), std::string::npos);
  EXPECT_EQ(parsed.settings.site_base_url, "");

  // No NUL at all; a block without one must not be read past (ASan would see it).
  const std::vector<uint8_t> no_nul(settings_block_size, 'x');
  EXPECT_NE(parse(no_nul).problem, "");

  // A marker that was only partly overwritten is no longer the marker.
  std::string partly = pristine;
  partly[0] = 'X';
  parsed = parse(std::vector<uint8_t>(partly.begin(), partly.end()));
  EXPECT_NE(parsed.problem.find("damaged"), std::string::npos);

  EXPECT_NE(parse_settings_block(nullptr, 0).problem, "");
  const std::vector<uint8_t> tiny(9, 0);
  EXPECT_EQ(parse(tiny).problem, "");
}

TEST(BurnedInSettings, AnUpdateKeyAfterTheFlagByteIsReadAndAMangledOneRefused) {
  const std::string record = std::string(8, '\0') + "\x01";
  EXPECT_EQ(parse(burned_block(record)).settings.update_key, "") << "the filler is no key";
  std::string hex;
  for (int i = 0; i < 32; ++i) hex += "09aF";
  const ParsedSettingsBlock parsed = parse(burned_block(record + update_key_tag + hex + '\0'));
  EXPECT_EQ(parsed.problem, "");
  EXPECT_EQ(parsed.settings.update_key.substr(62), "\x09\xaf");
  EXPECT_EQ(parsed.settings.update_key.size(), 64u);
  // Cut short, not hexadecimal, without its NUL, or the tag at the block's very end.
  for (const std::string& bad :
       {hex.substr(2) + '\0', "g" + hex.substr(1) + '\0', hex + "0", std::string()}) {
    std::string block = record + update_key_tag + bad;
    if (bad.empty()) block = std::string(settings_block_size - block.size(), 'u') + block;
    EXPECT_NE(parse(burned_block(block)).problem.find("update key"), std::string::npos);
  }
}

}  // namespace
}  // namespace pellora
