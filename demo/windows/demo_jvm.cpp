// jvm.dll of the Windows demo package: stands for the JVM behind the launcher. It tells what a
// real JVM would be given (main class, options, the Java home, the arguments and the data-folder
// variables) and then plays the demo application: its version (the trevalon.demo.version
// property), its arguments and a start counter kept in its data folder. The report goes to
// standard output and, when TREVALON_DEMO_OUTPUT names a file, is appended to that file too (a
// launcher started from a windowed program has no console to print on).

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/windows/wide_text.h"
#include "jni.h"
#include "standin/windows/jni_standin.h"

namespace {

using pellora::platform::windows::to_utf8;
using standin::jni::variable;

// What JNI_CreateJavaVM was given; the Java home variable is gone once the JVM exists.
std::vector<std::string> jvm_options;
std::string java_home;
std::string main_class;

// The demo application's own start counter: read, add one, write beside and move over, so that a
// start cut short never leaves half a number.
long long count_start(const std::wstring& folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring counter = folder + L"\\start-count.txt";
  long long starts = 0;
  if (FILE* file = _wfopen(counter.c_str(), L"rb")) {
    if (std::fscanf(file, "%lld", &starts) != 1) starts = 0;
    std::fclose(file);
  }
  ++starts;
  const std::wstring next = counter + L".new";
  FILE* file = _wfopen(next.c_str(), L"wb");
  if (file == nullptr) return -1;
  std::fprintf(file, "%lld\n", starts);
  const bool written = std::fclose(file) == 0;
  if (!written || !MoveFileExW(next.c_str(), counter.c_str(), MOVEFILE_REPLACE_EXISTING)) return -1;
  return starts;
}

std::string demo_version() {
  const std::string property = "-Dtrevalon.demo.version=";
  for (const std::string& option : jvm_options) {
    if (option.rfind(property, 0) == 0) return option.substr(property.size());
  }
  return "unknown";
}

// One line of a table: the label, indented, in a column of its own.
std::string row(const std::string& label, const std::string& value) {
  std::string line = "    " + label + " ";
  if (line.size() < 26) line.resize(26, ' ');
  return line + value + "\n";
}

void report(const std::vector<std::string>& arguments) {
  std::string out = "Trevalon demo " + demo_version() + "\n";
  out += "  The JVM would be given:\n";
  out += row("main class", main_class);
  for (const std::string& option : jvm_options) out += row("option", option);
  out += row("Java home", java_home);
  out += "  Data-folder variables:\n";
  for (const wchar_t* name :
       {L"PACKAGE_LOCALAPPDATA", L"PACKAGE_APPDATA", L"USER_LOCALAPPDATA", L"USER_APPDATA"}) {
    bool present = false;
    const std::string value = to_utf8(variable(name, &present));
    out += row(to_utf8(name), present ? value : "(unset)");
  }
  out += "Arguments: " + std::to_string(arguments.size()) + "\n";
  for (const std::string& argument : arguments) out += "  " + argument + "\n";
  // The package's own data folder when it runs packaged, else the user's.
  std::wstring data;
  for (const wchar_t* name : {L"PACKAGE_LOCALAPPDATA", L"USER_LOCALAPPDATA"}) {
    data = variable(name);
    if (!data.empty()) break;
  }
  if (data.empty()) {
    out += "No data folder: the start is not counted.\n";
  } else {
    const std::wstring folder = data + L"\\TrevalonDemo";
    out += "Data folder: " + to_utf8(folder) + "\n";
    const long long starts = count_start(folder);
    out += starts < 0 ? std::string("The start could not be counted.\n")
                      : "Start number: " + std::to_string(starts) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  const std::wstring output = variable(L"TREVALON_DEMO_OUTPUT");
  if (output.empty()) return;
  if (FILE* file = _wfopen(output.c_str(), L"ab")) {
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
  }
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** result_vm, void** result_env,
                                                   void* arguments) {
  const auto* init = static_cast<const JavaVMInitArgs*>(arguments);
  for (jint i = 0; i < init->nOptions; ++i) jvm_options.emplace_back(init->options[i].optionString);
  java_home = to_utf8(variable(L"_ALT_JAVA_HOME_DIR"));
  standin::jni::create_vm({{}, [](const std::string& name) { main_class = name; }, report, {}},
                          result_vm, result_env);
  return JNI_OK;
}
