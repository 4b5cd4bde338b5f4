// jvm.dll for the launcher's tests under Wine. JNI_CreateJavaVM records what the launcher hands
// the JVM, and a small JNI environment plays the application's launcher class: it records the
// main class, the main method's arguments, the Java thread's stack size and the environment the
// application would see. The record goes to the file that TREVALON_FAKE_JVM_RECORD names, one
// "key=value" line each, in UTF-8.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/windows/wide_text.h"
#include "jni.h"
#include "standin/windows/jni_standin.h"

namespace {

using pellora::platform::windows::to_utf8;
using standin::jni::variable;

void record(const std::string& key, const std::string& value) {
  FILE* file = _wfopen(variable(L"TREVALON_FAKE_JVM_RECORD").c_str(), L"ab");
  if (file == nullptr) return;
  std::fprintf(file, "%s=%s\n", key.c_str(), value.c_str());
  std::fclose(file);
}

// Both ways a JVM reads its environment: the process's (Java's System.getenv) and its own C
// runtime's (the JVM's reads of JAVA_TOOL_OPTIONS and the like).
void record_variable(const wchar_t* name) {
  bool present = false;
  const std::wstring value = variable(name, &present);
  record("env:" + to_utf8(name), present ? to_utf8(value) : "(unset)");
  const wchar_t* runtime_value = _wgetenv(name);
  record("crt:" + to_utf8(name), runtime_value != nullptr ? to_utf8(runtime_value) : "(unset)");
}

// What the main method sees: its arguments, the Java thread's stack and the environment.
void record_main(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) record("argument", argument);
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  record("stack_size", std::to_string(high - low));
  for (const wchar_t* name :
       {L"PACKAGE_LOCALAPPDATA", L"PACKAGE_APPDATA", L"USER_LOCALAPPDATA", L"USER_APPDATA",
        L"LOCALAPPDATA", L"APPDATA", L"HOME", L"USERPROFILE", L"_JAVA_OPTIONS", L"JDK_JAVA_OPTIONS",
        L"JAVA_TOOL_OPTIONS", L"_ALT_JAVA_HOME_DIR"}) {
    record_variable(name);
  }
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** result_vm, void** result_env,
                                                   void* arguments) {
  const auto* init = static_cast<const JavaVMInitArgs*>(arguments);
  record("version", std::to_string(init->version));
  for (jint i = 0; i < init->nOptions; ++i) record("option", init->options[i].optionString);
  record("alt_java_home", to_utf8(variable(L"_ALT_JAVA_HOME_DIR")));
  standin::jni::create_vm({[](const char* name) { record("native", name); },
                           [](const std::string& main_class) { record("main_class", main_class); },
                           record_main, [] { record("destroyed", "yes"); }},
                          result_vm, result_env);
  return JNI_OK;
}
