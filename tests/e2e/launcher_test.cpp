// The launcher on the real JVM: burned with `burn launcher` into a folder laid out as an
// installed application (<dir>/bin/launcher, jars under <dir>/app/), then run as a process.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/platform_sandbox.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing::has;
using pellora::testing::ProgramOutcome;

const std::string bin_dir = TREVALON_BIN_DIR;
constexpr const char* box_caption =
    "The application has experienced an internal error and must quit.";
const std::vector<std::string> all_jars = {"trevalon-launcher-test.jar", "trevalon-launcher.jar",
                                           "trevalon-updater.jar"};

class LauncherEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"USERPROFILE", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS",
                             "JAVA_TOOL_OPTIONS", "_ALT_JAVA_HOME_DIR"}) {
      unsetenv(name);
    }
    fs::create_directories(sandbox_.root());
  }

  // Lays the application out with `jars` and burns its launcher for the test class `main`; the
  // class path lists the jars through the app-folder token.
  ProgramOutcome install(const std::string& main, std::vector<std::string> options = {},
                         const std::vector<std::string>& jars = all_jars) const {
    fs::create_directories(app_ / "bin");
    fs::remove_all(app_ / "app");
    fs::create_directories(app_ / "app");
    std::string class_path = "-Djava.class.path=";
    for (const auto& jar : jars) {
      fs::copy_file(bin_dir + "/../jars/" + jar, app_ / "app" / jar);
      class_path += (class_path.back() == '=' ? "&&" : ":&&") + jar;
    }
    options.insert(options.begin(),
                   {"launcher", bin_dir + "/launcher", launcher_.string(), "--main-class",
                    "quelmarin.trevalon.launchertest." + main, "--jvm-option", class_path});
    return sandbox_.run(bin_dir + "/burn", options);
  }

  ProgramOutcome start(const std::vector<std::string>& arguments = {},
                       std::map<std::string, std::string> environment = {}) const {
    environment["XDG_DATA_HOME"] = sandbox_.path("user-data").string();
    environment["XDG_CONFIG_HOME"] = sandbox_.path("user-config").string();
    // In a sanitizer build: the JVM owns SIGSEGV, and what it still holds when the process
    // exits is not a leak of the launcher's.
    environment["ASAN_OPTIONS"] = "detect_leaks=0:handle_segv=0";
    return sandbox_.run(launcher_.string(), arguments, std::chrono::seconds(60), environment);
  }

  pellora::testing::PlatformSandbox sandbox_;
  const fs::path app_ = sandbox_.path("application");
  const fs::path launcher_ = app_ / "bin" / "launcher";
};

TEST_F(LauncherEndToEnd, ArgumentsArriveIntactAndNoOptionVariableReachesTheJvm) {
  ASSERT_EQ(install("Report", {"--default-arg", "--first"}).code(), 0);
  const std::string emoji = "\xf0\x9f\x98\x80";  // U+1F600, outside the BMP
  const ProgramOutcome result =
      start({"two words", "a&&b", "x" + emoji + "y"}, {{"_JAVA_OPTIONS", "-Dfrom.user=1"},
                                                       {"JDK_JAVA_OPTIONS", "-Dfrom.user=2"},
                                                       {"JAVA_TOOL_OPTIONS", "-Dfrom.user=3"},
                                                       {"_ALT_JAVA_HOME_DIR", "/nowhere"}});

  EXPECT_EQ(result.code(), 0) << result.err;
  for (const std::string& line : std::vector<std::string>{
           "argc=4\n", "arg=[--first] units=7", "arg=[two words] units=9 codepoints=9\n",
           "arg=[a&&b] units=4 codepoints=4\n", "arg=[x" + emoji + "y] units=4 codepoints=3\n",
           "env _ALT_JAVA_HOME_DIR absent\n", "env _JAVA_OPTIONS absent\n",
           "env JDK_JAVA_OPTIONS absent\n", "env JAVA_TOOL_OPTIONS absent\n", "updater=called\n",
           // Without package identity only the user folders are published.
           "env PACKAGE_LOCALAPPDATA absent\n",
           "env USER_LOCALAPPDATA=" + sandbox_.path("user-data").string(),
           "env USER_APPDATA=" + sandbox_.path("user-config").string()}) {
    EXPECT_TRUE(has(result.out, line)) << line << " in:\n" << result.out;
  }
  EXPECT_FALSE(has(result.err, "Picked up")) << result.err;
  const std::string app_dir = (app_ / "app").string() + "/";
  EXPECT_TRUE(has(result.out, "classpath=" + app_dir + "trevalon-launcher-test.jar:"));
  // The command property carries the arguments unquoted, with "&&" replaced there only.
  EXPECT_TRUE(has(result.out, "command=quelmarin.trevalon.launchertest.Report --first two words a" +
                                  app_dir + "b x"))
      << result.out;
}

// How each application and configuration ends: its exit code, a text it prints (on standard
// output or error), and whether the error box shows.
struct Ending {
  std::string main;
  std::vector<std::string> options;
  std::vector<std::string> jars;
  int code;
  std::string text;
  bool box = false;
};

Ending ending(std::string main, std::vector<std::string> options, int code, std::string text,
              bool all = true, bool box = false) {
  std::vector<std::string> jars(all_jars.begin(), all_jars.end() - 1);  // no updater class
  if (all) jars = all_jars;
  return {std::move(main), std::move(options), jars, code, std::move(text), box};
}

TEST_F(LauncherEndToEnd, EachConfigurationEndsAsItsRowSays) {
  Ending no_launcher_class = ending("Report", {}, 1, "quelmarin/trevalon/launcher/Launcher");
  no_launcher_class.jars = {"trevalon-launcher-test.jar"};
  const Ending rows[] = {
      ending("Report", {"--run-on-main-thread", "--stack-size", "65536"}, 0, "arg=[x]"),
      ending("Report", {"--stack-size", "33554432"}, 0, "arg=[x]"),
      ending("Report", {"--stack-size", "100"}, 0, "arg=[x]"),
      ending("ExitSeven", {}, 7, ""),
      // Without the updater class there is nothing to register, and nothing changes.
      ending("Report", {}, 0, "updater=absent\n", false),
      // The protocol steps fail with the JVM's own description.
      no_launcher_class,
      ending("DoesNotExist", {}, 1,
             "java.lang.ClassNotFoundException: quelmarin.trevalon.launchertest.DoesNotExist"),
      ending("NoMain", {}, 1, "java.lang.NoSuchMethodException: "),
      // An uncaught exception is printed, and reported in a box unless it is a console app.
      ending("Throwing", {}, 1,
             "java.lang.IllegalStateException: thrown by the test application \xf0\x9f\x98\x80",
             true, true),
      ending("Throwing", {"--console-app"}, 1, "java.lang.IllegalStateException"),
      ending("Report", {"--jvm-option", "--no-such-trevalon-option"}, 1,
             "Failed to create JVM: Error 0xffffffff\r\n"),
  };
  for (const Ending& row : rows) {
    SCOPED_TRACE(row.main + " " + (row.options.empty() ? "" : row.options.back()));
    ASSERT_EQ(install(row.main, row.options, row.jars).code(), 0);
    const ProgramOutcome result = start({"x"});
    EXPECT_EQ(result.code(), row.code) << result.err;
    EXPECT_TRUE(has(result.out + result.err, row.text)) << result.out << result.err;
    const size_t box = result.err.find(box_caption);
    EXPECT_EQ(box != std::string::npos, row.box) << result.err;
    if (row.box) {
      EXPECT_TRUE(has(result.err.substr(box),
                      "The application stopped because of an error it did not handle"));
      // A character outside the BMP reaches the box as UTF-8, not modified UTF-8.
      EXPECT_TRUE(has(result.err.substr(box), "test application \xf0\x9f\x98\x80"));
    }
  }
}

TEST_F(LauncherEndToEnd, AnUpdaterWithoutItsNativeStopsBeforeAnyOtherJniCall) {
  ASSERT_EQ(install("Report", {"--jvm-option", "-Xcheck:jni"},
                    {"trevalon-launcher-test.jar", "trevalon-launcher.jar",
                     "trevalon-broken-updater.jar"})
                .code(),
            0);
  const ProgramOutcome result = start();
  EXPECT_EQ(result.code(), 1);
  EXPECT_TRUE(has(result.err, "java.lang.NoSuchMethodError")) << result.err;
  EXPECT_FALSE(has(result.err, "JNI call made with exception pending")) << result.err;
  EXPECT_EQ(result.out, "") << "the application never ran";
}

// What `burn launcher` adds to the guarantees both burns share (checked for the installer): the
// counts and the size the record may have. Where the record goes, every run above shows.
TEST_F(LauncherEndToEnd, BurnRefusesARecordThatDoesNotFit) {
  const std::string burn = bin_dir + "/burn";
  const std::string source = bin_dir + "/launcher";
  const auto run_burn = [&](const std::string& out, std::vector<std::string> extra) {
    extra.insert(extra.begin(), {"launcher", source, sandbox_.path(out).string()});
    return sandbox_.run(burn, extra).code();
  };
  std::vector<std::string> options = {"--main-class", "a.B"};
  for (int i = 0; i < 256; ++i) options.insert(options.end(), {"--jvm-option", "-Da"});
  EXPECT_NE(run_burn("x", options), 0);
  options.resize(options.size() - 2);  // 255 options fit
  EXPECT_EQ(run_burn("x", options), 0);

  const std::string big(16463 - 11, 'a');  // one byte more than the room left
  EXPECT_NE(run_burn("y", {"--main-class", "a.B", "--default-arg", big}), 0);
  EXPECT_FALSE(fs::exists(sandbox_.path("y")));
  EXPECT_EQ(run_burn("y", {"--main-class", "a.B", "--default-arg", big.substr(1)}), 0);
  EXPECT_NE(run_burn("z", {}), 0);  // no main class
}

}  // namespace
