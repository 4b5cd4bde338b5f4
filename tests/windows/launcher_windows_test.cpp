// The launcher.exe of this build, burned by the Linux packaging tool, against the test jvm.dll
// (fake_jvm.cpp): what reaches the JVM and the application's main method.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/windows/wide_text.h"
#include "tests/support/probe_report.h"
#include "tests/support/scratch_folder.h"

namespace {

using pellora::platform::windows::to_utf16;

namespace fs = std::filesystem;

// One argument quoted so that the C runtime's rules give it back unchanged.
std::wstring quoted(const std::wstring& argument) {
  std::wstring result = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, L'\\');
  return result + L"\"";
}

// Closes the launcher's error boxes as they appear and keeps their texts.
class BoxCloser {
 public:
  BoxCloser()
      : thread_([this] {
          while (!stop_) {
            HWND box = FindWindowW(L"#32770", box_caption);
            if (box == nullptr) {
              Sleep(20);
              continue;
            }
            wchar_t text[256] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 256);
            texts_.push_back(text);
            SendMessageW(box, WM_COMMAND, IDOK, 0);
            while (IsWindow(box)) Sleep(10);
          }
        }) {}
  ~BoxCloser() {
    stop_ = true;
    thread_.join();
  }
  // The texts of the boxes closed so far; call after the launcher has ended.
  const std::vector<std::wstring>& texts() const { return texts_; }

  static constexpr const wchar_t* box_caption =
      L"Error converting known folder path to environment variable";

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::wstring> texts_;
  std::thread thread_;
};

struct LauncherRun {
  DWORD exit_code = 0;
  std::vector<std::wstring> boxes;
  pellora::testing::ProbeReport record;  // what the test jvm.dll recorded
};

class LauncherOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "bin");
    fs::copy_file(TREVALON_TEST_PROGRAMS_DIR "/launcher-burned.exe",
                  root_ / "bin" / "launcher.exe");
  }

  LauncherRun launch(const std::vector<std::string>& arguments) {
    const fs::path record = scratch_.path("record.txt");
    SetEnvironmentVariableW(L"TREVALON_FAKE_JVM_RECORD", record.wstring().c_str());
    const std::wstring program = (root_ / "bin" / "launcher.exe").wstring();
    std::wstring command_line = quoted(program);
    for (const std::string& argument : arguments) command_line += L" " + quoted(to_utf16(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LauncherRun result;
    BoxCloser closer;
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return result;
    }
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Sleep(100);
    result.boxes = closer.texts();
    result.record = pellora::testing::ProbeReport::parse(pellora::testing::read_file(record));
    return result;
  }

  pellora::testing::ScratchFolder scratch_;
  const fs::path root_ = scratch_.path("P");
};

TEST_F(LauncherOnWindows, HandsTheJvmItsOptionsArgumentsStackAndEnvironment) {
  fs::copy_file(TREVALON_TEST_PROGRAMS_DIR "/jvm.dll", root_ / "bin" / "jvm.dll");
  SetEnvironmentVariableW(L"_JAVA_OPTIONS", L"-Xint");
  SetEnvironmentVariableW(L"JDK_JAVA_OPTIONS", L"-Xint");
  SetEnvironmentVariableW(L"JAVA_TOOL_OPTIONS", L"-Xint");
  const std::vector<std::string> arguments = {"two words", "say \"hi\"", "C:\\trailing\\", "a && b",
                                              "clef \xF0\x9D\x84\x9E"};

  const LauncherRun run = launch(arguments);

  ASSERT_EQ(run.exit_code, 0u);
  const std::string root = root_.string();
  std::string command_option = "-Dsun.java.command=m.Main --x";
  for (const std::string& argument : arguments) command_option += " " + argument;
  // "&&" is replaced in every option, the command option included, and in nothing else.
  std::string substituted = command_option;
  substituted.replace(substituted.find("&&"), 2, root + "\\app\\");
  EXPECT_EQ(run.record.values("option"),
            (std::vector<std::string>{
                "-Djava.class.path=" + root + "\\app\\a.jar;" + root + "\\app\\lib\\b.jar",
                substituted}));
  EXPECT_EQ(run.record.value("alt_java_home"), root);
  EXPECT_EQ(run.record.value("env:_ALT_JAVA_HOME_DIR"), "(unset)");
  EXPECT_EQ(run.record.value("main_class"), "m.Main");
  std::vector<std::string> main_arguments = {"--x"};
  main_arguments.insert(main_arguments.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(run.record.values("argument"), main_arguments);
  EXPECT_EQ(run.record.value("stack_size"), "2097152");
  EXPECT_EQ(run.record.value("destroyed"), "yes");

  for (const char* removed :
       {"env:_JAVA_OPTIONS", "env:JDK_JAVA_OPTIONS", "env:JAVA_TOOL_OPTIONS"}) {
    EXPECT_EQ(run.record.value(removed), "(unset)") << removed;
  }
  EXPECT_EQ(run.record.value("env:HOME"), run.record.value("env:USERPROFILE"));
  // Wine knows neither lookup flag of the known folders and refuses both with E_INVALIDARG: the
  // launcher shows its error box for each of the four lookups, leaves the variables alone and
  // starts all the same (real Windows answers them).
  EXPECT_EQ(run.boxes, std::vector<std::wstring>(4, L"Error 0x80070057"));
  for (const char* name : {"env:PACKAGE_LOCALAPPDATA", "env:PACKAGE_APPDATA",
                           "env:USER_LOCALAPPDATA", "env:USER_APPDATA"}) {
    EXPECT_EQ(run.record.value(name), "(unset)") << name;
  }
}

TEST_F(LauncherOnWindows, DoesNotStartWithoutTheJvmLibrary) {
  const LauncherRun run = launch({"anything"});
  EXPECT_NE(run.exit_code, 0u);
  EXPECT_TRUE(run.record.entries.empty());
}

}  // namespace
