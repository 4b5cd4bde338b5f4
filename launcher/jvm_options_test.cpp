#include "launcher/jvm_options.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

LauncherConfig config_with(std::string main_class, std::vector<std::string> options,
                           std::vector<std::string> default_args) {
  LauncherConfig config;
  config.main_class = std::move(main_class);
  config.jvm_options = std::move(options);
  config.default_args = std::move(default_args);
  return config;
}

TEST(AppDir, IsTheFolderAboveTheExecutablesFolderPlusApp) {
  EXPECT_EQ(app_root_dir_of("C:\\P\\bin\\launcher.exe", '\\'), "C:\\P");
  EXPECT_EQ(app_dir_of("C:\\P", '\\'), "C:\\P\\app\\");
  EXPECT_EQ(app_root_dir_of("/opt/demo/bin/launcher", '/'), "/opt/demo");
  EXPECT_EQ(app_dir_of("/opt/demo", '/'), "/opt/demo/app/");
  // At the top of the tree there is nothing left to cut.
  EXPECT_EQ(app_root_dir_of("/bin/launcher", '/'), "");
  EXPECT_EQ(app_root_dir_of("launcher", '/'), "");
}

TEST(AppDirSubstitution, ReplacesEveryTokenLeftToRightWithoutOverlapOrRescanning) {
  EXPECT_EQ(substitute_app_dir("-Djava.class.path=&&a.jar;&&lib\\b.jar", "C:\\P\\app\\"),
            "-Djava.class.path=C:\\P\\app\\a.jar;C:\\P\\app\\lib\\b.jar");
  EXPECT_EQ(substitute_app_dir("&&&", "/d/"), "/d/&");
  EXPECT_EQ(substitute_app_dir("&&&&", "/d/"), "/d//d/");
  EXPECT_EQ(substitute_app_dir("no token & here", "/d/"), "no token & here");
  EXPECT_EQ(substitute_app_dir("", "/d/"), "");
  // The inserted text is not searched again.
  EXPECT_EQ(substitute_app_dir("-Dp=&&x:&&y", "/a&&b/app/"), "-Dp=/a&&b/app/x:/a&&b/app/y");
  EXPECT_EQ(substitute_app_dir("&&&", "&&"), "&&&");
}

TEST(JvmOptions, CommandOptionIsLastAndSubstitutedButMainArgumentsAreNot) {
  const auto config = config_with("m.Main", {"-Djava.class.path=&&x.jar", "-Xss1m"}, {"--d&&"});
  const std::vector<std::string> command_line = {"a&&b", "c d"};
  EXPECT_EQ(build_jvm_options(config, command_line, "/r/app/"),
            (std::vector<std::string>{"-Djava.class.path=/r/app/x.jar", "-Xss1m",
                                      "-Dsun.java.command=m.Main --d/r/app/ a/r/app/b c d"}));
  EXPECT_EQ(java_main_arguments(config, command_line),
            (std::vector<std::string>{"--d&&", "a&&b", "c d"}));
  EXPECT_EQ(build_jvm_options(config_with("a.B", {}, {}), {}, "/r/app/"),
            std::vector<std::string>{"-Dsun.java.command=a.B"});
}

TEST(Utf8ToUtf16, KeepsEveryScalarValueAndReplacesEachBadByte) {
  EXPECT_EQ(utf8_to_utf16("plain"), u"plain");
  EXPECT_EQ(utf8_to_utf16("caf\xc3\xa9 \xe2\x82\xac"), u"caf\u00e9 \u20ac");
  EXPECT_EQ(utf8_to_utf16("\xf0\x9f\x98\x80!"), std::u16string({0xD83D, 0xDE00, u'!'}));
  EXPECT_EQ(utf8_to_utf16("\xf4\x8f\xbf\xbf"), std::u16string({0xDBFF, 0xDFFF}));
  // Each bad byte becomes a replacement character.
  EXPECT_EQ(utf8_to_utf16("a\xff"), u"a\uFFFD");
  EXPECT_EQ(utf8_to_utf16("\xc0\x80"), u"\uFFFD\uFFFD");                      // overlong NUL
  EXPECT_EQ(utf8_to_utf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
  EXPECT_EQ(utf8_to_utf16("\xf0\x9f\x98"), u"\uFFFD\uFFFD\uFFFD");            // cut short
  EXPECT_EQ(utf8_to_utf16("\xf4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
}

TEST(Utf16ToUtf8, KeepsSurrogatePairsAndReplacesLoneOnes) {
  EXPECT_EQ(utf16_to_utf8(std::u16string({0xD83D, 0xDE00, u'!'})), "\xf0\x9f\x98\x80!");
  EXPECT_EQ(utf16_to_utf8(u"caf\u00e9 \u20ac"), "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(utf16_to_utf8(std::u16string({0xDE00, u'a', 0xD83D})),
            "\xef\xbf\xbd"
            "a\xef\xbf\xbd");
}

}  // namespace
}  // namespace launcher
