// The launcher on the real JVM: burned with `burn launcher` into a folder laid out as an
// installed application (<dir>/bin/launcher, jars under <dir>/app/), then run as a process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path bin_dir = TREVALON_BIN_DIR;
const fs::path jar_dir = bin_dir.parent_path() / "jars";
constexpr const char* marker =
    "BURNED_IN_DATA af64800a3aa1f27ec27ffae50c69f51e59488dcc5e9ff7cf52e345ff9e64418b";
constexpr const char* box_caption =
    "The application has experienced an internal error and must quit.";

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs `argv` with the given environment changes (nullopt removes a variable), standard input
// from /dev/null, and collects both output streams.
RunResult run(const std::vector<std::string>& argv,
              const std::map<std::string, std::optional<std::string>>& changes) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const size_t equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      environment[name] = *value;
    } else {
      environment.erase(name);
    }
  }
  std::vector<std::string> environment_texts;
  for (const auto& [name, value] : environment) environment_texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : environment_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  std::vector<char*> args;
  for (auto& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);

  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_input = ::open("/dev/null", O_RDONLY);
    ::dup2(null_input, STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  RunResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  while (open_streams > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class LauncherEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "launcher-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    temp_ = fs::canonical(pattern);
    app_root_ = temp_ / "application";
    fs::create_directories(temp_ / "platform");
    environment_ = {
        {"TREVALON_PLATFORM_ROOT", (temp_ / "platform").string()},
        {"XDG_DATA_HOME", (temp_ / "user-data").string()},
        {"XDG_CONFIG_HOME", (temp_ / "user-config").string()},
        {"USERPROFILE", std::nullopt},
        {"_JAVA_OPTIONS", std::nullopt},
        {"JDK_JAVA_OPTIONS", std::nullopt},
        {"JAVA_TOOL_OPTIONS", std::nullopt},
        {"_ALT_JAVA_HOME_DIR", std::nullopt},
        // In a sanitizer build: the JVM owns SIGSEGV, and what it still holds when the
        // process exits is not a leak of the launcher's.
        {"ASAN_OPTIONS", "detect_leaks=0:handle_segv=0"},
    };
  }
  void TearDown() override { fs::remove_all(temp_); }

  // Lays out `root` as an installed application with the given jars and burns its launcher.
  // The class path lists the jars through the app-folder token.
  RunResult install(const fs::path& root, const std::vector<std::string>& jars,
                    std::vector<std::string> burn_options) {
    fs::create_directories(root / "bin");
    fs::create_directories(root / "app");
    std::string class_path = "-Djava.class.path=";
    for (const auto& jar : jars) {
      fs::copy_file(jar_dir / jar, root / "app" / jar, fs::copy_options::overwrite_existing);
      class_path += (class_path.back() == '=' ? "&&" : ":&&") + jar;
    }
    std::vector<std::string> command = {
        (bin_dir / "burn").string(),          "launcher",     (bin_dir / "launcher").string(),
        (root / "bin" / "launcher").string(), "--jvm-option", class_path};
    command.insert(command.end(), burn_options.begin(), burn_options.end());
    return run(command, {});
  }

  RunResult install_test_app(const std::string& main_class, std::vector<std::string> extra = {},
                             std::vector<std::string> jars = {"trevalon-launcher-test.jar",
                                                              "trevalon-launcher.jar",
                                                              "trevalon-updater.jar"}) {
    extra.insert(extra.begin(), {"--main-class", "quelmarin.trevalon.launchertest." + main_class});
    return install(app_root_, jars, extra);
  }

  RunResult start(const std::vector<std::string>& arguments = {}) {
    return start_at(app_root_, arguments);
  }
  RunResult start_at(const fs::path& root, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {(root / "bin" / "launcher").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv, environment_);
  }

  fs::path temp_;
  fs::path app_root_;
  std::map<std::string, std::optional<std::string>> environment_;
};

TEST(LauncherBinary, CarriesTheTemplateRegionExactlyOnceAndExportsTheUpdaterNative) {
  const std::string bytes = read_file(bin_dir / "launcher");
  const size_t first = bytes.find(marker);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(bytes.find(marker, first + 1), std::string::npos);
  ASSERT_GE(bytes.size(), first + 16464);
  EXPECT_EQ(bytes.substr(first + 79, 16384), std::string(16384, '_'));
  EXPECT_EQ(bytes[first + 16463], '\0');

  const std::string command =
      "nm -D --defined-only '" + (bin_dir / "launcher").string() + "' 2>/dev/null";
  std::string symbols;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) symbols.append(buffer, got);
    ::pclose(pipe);
  }
  EXPECT_TRUE(contains(symbols, "Java_quelmarin_trevalon_updater_OnlineUpdater_nCheckForUpdates"));
}

TEST(LauncherBinary, UnburnedLauncherStopsBeforeStartingAnything) {
  const auto result = run({(bin_dir / "launcher").string()}, {});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.err, "template")) << result.err;
  EXPECT_TRUE(result.err.ends_with("\r\n")) << result.err;
  EXPECT_EQ(result.out, "");
}

TEST_F(LauncherEndToEnd, CleanRunPassesArgumentsIntactAndLeavesNoOptionVariables) {
  ASSERT_EQ(install_test_app("Report", {"--default-arg", "--first"}).exit_code, 0);
  environment_["_JAVA_OPTIONS"] = "-Dfrom.user=1";
  environment_["JDK_JAVA_OPTIONS"] = "-Dfrom.user=2";
  environment_["JAVA_TOOL_OPTIONS"] = "-Dfrom.user=3";
  environment_["_ALT_JAVA_HOME_DIR"] = "/nowhere";
  const std::string emoji = "\xf0\x9f\x98\x80";  // U+1F600, outside the BMP
  const auto result = start({"two words", "a&&b", "x" + emoji + "y"});

  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(contains(result.out, "argc=4\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "arg=[--first] units=7"));
  EXPECT_TRUE(contains(result.out, "arg=[two words] units=9 codepoints=9\n"));
  EXPECT_TRUE(contains(result.out, "arg=[a&&b] units=4 codepoints=4\n"));
  EXPECT_TRUE(contains(result.out, "arg=[x" + emoji + "y] units=4 codepoints=3\n")) << result.out;
  for (const char* name :
       {"_ALT_JAVA_HOME_DIR", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS"}) {
    EXPECT_TRUE(contains(result.out, std::string("env ") + name + " absent\n")) << name;
  }
  EXPECT_FALSE(contains(result.err, "Picked up")) << result.err;
  const std::string app_dir = (app_root_ / "app").string() + "/";
  EXPECT_TRUE(contains(result.out, "classpath=" + app_dir + "trevalon-launcher-test.jar:"));
  // The command property carries the arguments unquoted, with "&&" replaced there only.
  EXPECT_TRUE(contains(result.out,
                       "command=quelmarin.trevalon.launchertest.Report --first two "
                       "words a" +
                           app_dir + "b x"))
      << result.out;
  EXPECT_TRUE(contains(result.out, "updater=called\n"));
  // Without package identity only the user folders are published.
  EXPECT_TRUE(contains(result.out, "env PACKAGE_LOCALAPPDATA absent\n"));
  EXPECT_TRUE(contains(result.out, "env USER_LOCALAPPDATA=" + (temp_ / "user-data").string()));
  EXPECT_TRUE(contains(result.out, "env USER_APPDATA=" + (temp_ / "user-config").string()));
  EXPECT_TRUE(contains(result.err,
                       "Could not find redirected PACKAGE_LOCALAPPDATA. "
                       "Virtualization might be off for that folder, ignoring.\n"));
}

TEST_F(LauncherEndToEnd, RunsOnTheInitialThreadOrOnAThreadOfTheGivenStackSize) {
  for (const auto& options :
       std::vector<std::vector<std::string>>{{"--run-on-main-thread", "--stack-size", "65536"},
                                             {"--stack-size", "33554432"},
                                             {"--stack-size", "100"}}) {
    SCOPED_TRACE(options.front() + " " + options.back());
    ASSERT_EQ(install_test_app("Report", options).exit_code, 0);
    const auto result = start({"x"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "arg=[x]"));
  }
}

TEST_F(LauncherEndToEnd, ExitCodeOfSystemExitIsKept) {
  ASSERT_EQ(install_test_app("ExitSeven").exit_code, 0);
  EXPECT_EQ(start().exit_code, 7);
}

TEST_F(LauncherEndToEnd, FailedProtocolStepsAreDescribedByTheJvm) {
  struct Case {
    std::string main_class;
    std::vector<std::string> jars;
    std::string described;
  };
  const std::vector<std::string> all = {"trevalon-launcher-test.jar", "trevalon-launcher.jar"};
  const Case cases[] = {
      {"Report", {"trevalon-launcher-test.jar"}, "quelmarin/trevalon/launcher/Launcher"},
      {"DoesNotExist", all,
       "java.lang.ClassNotFoundException: quelmarin.trevalon.launchertest.DoesNotExist"},
      {"NoMain", all, "java.lang.NoSuchMethodException: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.main_class);
    ASSERT_EQ(install_test_app(c.main_class, {}, c.jars).exit_code, 0);
    const auto result = start();
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.err, "Exception in thread")) << result.err;
    EXPECT_TRUE(contains(result.err, c.described)) << result.err;
    EXPECT_FALSE(contains(result.err, box_caption));
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(LauncherEndToEnd, UncaughtExceptionIsPrintedAndReportedUnlessConsoleApp) {
  ASSERT_EQ(install_test_app("Throwing").exit_code, 0);
  auto result = start();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.err, "java.lang.IllegalStateException: thrown by the test "))
      << result.err;
  EXPECT_TRUE(contains(result.err, "\tat quelmarin.trevalon.launchertest.Throwing.main"));
  const size_t box = result.err.find(box_caption);
  ASSERT_NE(box, std::string::npos) << result.err;
  EXPECT_TRUE(contains(result.err.substr(box),
                       "The application stopped because of an error it did not handle"));
  EXPECT_TRUE(contains(result.err.substr(box), "test application \xf0\x9f\x98\x80"))
      << "the report is UTF-8, not modified UTF-8";

  ASSERT_EQ(install_test_app("Throwing", {"--console-app"}).exit_code, 0);
  result = start();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.err, "java.lang.IllegalStateException"));
  EXPECT_FALSE(contains(result.err, box_caption)) << result.err;
}

TEST_F(LauncherEndToEnd, AnUpdaterWithoutItsNativeStopsBeforeAnyOtherJniCall) {
  ASSERT_EQ(install_test_app("Report", {"--jvm-option", "-Xcheck:jni"},
                             {"trevalon-launcher-test.jar", "trevalon-launcher.jar",
                              "trevalon-broken-updater.jar"})
                .exit_code,
            0);
  const auto result = start();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.err, "java.lang.NoSuchMethodError")) << result.err;
  EXPECT_FALSE(contains(result.err, "JNI call made with exception pending")) << result.err;
  EXPECT_EQ(result.out, "") << "the application never ran";
}

TEST_F(LauncherEndToEnd, MissingUpdaterClassChangesNothing) {
  ASSERT_EQ(install_test_app("Report", {}, {"trevalon-launcher-test.jar", "trevalon-launcher.jar"})
                .exit_code,
            0);
  const auto result = start({"a"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(contains(result.out, "updater=absent\n"));
  EXPECT_TRUE(contains(result.out, "arg=[a]"));
}

TEST_F(LauncherEndToEnd, UnknownJvmOptionFailsTheJvmCreation) {
  ASSERT_EQ(install_test_app("Report", {"--jvm-option", "--no-such-trevalon-option"}).exit_code, 0);
  const auto result = start();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(contains(result.err, "Failed to create JVM: Error 0xffffffff\r\n")) << result.err;
}

TEST_F(LauncherEndToEnd, PackagedDemoCountsItsStartsInThePackageDataFolder) {
  const std::string full_name = "Trevalon.Demo_1.0.0.0_arm64__qm7d1x0v2a";
  const fs::path root = temp_ / "platform";
  const fs::path package = root / "packages" / full_name;
  ASSERT_EQ(install(package, {"trevalon-demo.jar", "trevalon-launcher.jar"},
                    {"--main-class", "quelmarin.trevalon.demo.DemoApp", "--jvm-option",
                     "-Dtrevalon.demo.version=1.0.0.0", "--override-appdata-vars"})
                .exit_code,
            0);
  fs::create_directories(root / "registrations");
  // The record the store writes: identity comes from it, as for the installer.
  std::ofstream(root / "registrations" / full_name)
      << "FullName=" << full_name << "\nFamilyName=Trevalon.Demo_qm7d1x0v2a\n";

  const fs::path data = root / "data" / "Trevalon.Demo_qm7d1x0v2a" / "LocalCache" / "Local";
  auto result = start_at(package, {"hello"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(contains(result.out, "Trevalon demo 1.0.0.0\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "  hello\n"));
  EXPECT_TRUE(contains(result.out, "Data folder: " + (data / "TrevalonDemo").string() + "\n"));
  EXPECT_TRUE(contains(result.out, "Start number: 1\n")) << result.out;
  EXPECT_FALSE(contains(result.err, "Could not find redirected")) << result.err;

  result = start_at(package, {});
  EXPECT_TRUE(contains(result.out, "Start number: 2\n")) << result.out;
  EXPECT_EQ(read_file(data / "TrevalonDemo" / "start-count.txt"), "2\n");
}

TEST_F(LauncherEndToEnd, BurnKeepsItsGuarantees) {
  const fs::path source = temp_ / "source-launcher";
  fs::copy_file(bin_dir / "launcher", source);
  fs::permissions(source, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  const std::string burn = (bin_dir / "burn").string();
  const fs::path out = temp_ / "burned";

  ASSERT_EQ(
      run({burn, "launcher", source.string(), out.string(), "--main-class", "a.B"}, {}).exit_code,
      0);
  struct stat info {};
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  const std::string burned = read_file(out);
  const size_t start = read_file(source).find(marker);
  EXPECT_EQ(burned.substr(start, 12), std::string("\0\0\0\0\0a.B\0\0\0\0\0", 12));
  EXPECT_EQ(burned[start + 16463], '\0');

  // A burned launcher has no marker left to find.
  auto again =
      run({burn, "launcher", out.string(), (temp_ / "again").string(), "--main-class", "a.B"}, {});
  EXPECT_NE(again.exit_code, 0);
  EXPECT_TRUE(contains(again.err, "marker was not found")) << again.err;

  std::vector<std::string> too_many = {
      burn, "launcher", source.string(), (temp_ / "x").string(), "--main-class", "a.B"};
  for (int i = 0; i < 256; ++i) too_many.insert(too_many.end(), {"--jvm-option", "-Da"});
  EXPECT_NE(run(too_many, {}).exit_code, 0);
  too_many.resize(too_many.size() - 2);  // 255 options fit
  EXPECT_EQ(run(too_many, {}).exit_code, 0);

  const std::string big(16463 - 11, 'a');  // one byte more than the room left
  auto oversized = run({burn, "launcher", source.string(), (temp_ / "y").string(), "--main-class",
                        "a.B", "--default-arg", big},
                       {});
  EXPECT_NE(oversized.exit_code, 0);
  EXPECT_FALSE(fs::exists(temp_ / "y"));
  EXPECT_EQ(run({burn, "launcher", source.string(), (temp_ / "y").string(), "--main-class", "a.B",
                 "--default-arg", big.substr(1)},
                {})
                .exit_code,
            0);
  EXPECT_NE(run({burn, "launcher", source.string(), (temp_ / "z").string()}, {}).exit_code, 0);
}

}  // namespace
