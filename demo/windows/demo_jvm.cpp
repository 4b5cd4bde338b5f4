// jvm.dll of the Windows demo package: stands for the JVM behind the launcher. It tells what a
// real JVM would be given (main class, options, the Java home, the arguments and the data-folder
// variables) and then plays the demo application: its version (the trevalon.demo.version
// property), its arguments and a start counter kept in its data folder. The report goes to
// standard output and, when TREVALON_DEMO_OUTPUT names a file, is appended to that file too (a
// launcher started from a windowed program has no console to print on).

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "common/windows/wide_text.h"
#include "jni.h"

namespace {

using pellora::platform::windows::to_utf8;

std::wstring variable(const wchar_t* name, bool* present = nullptr) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), 32768);
  if (present != nullptr) *present = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  value.resize(length);
  return value;
}

// What JNI_CreateJavaVM was given; the Java home variable is gone once the JVM exists.
std::vector<std::string> jvm_options;
std::string java_home;
std::string main_class;

// Every JNI reference and id points at one of these; they live until the process ends.
struct Thing {
  std::string name;  // class, method or field name
  std::u16string text;
  std::vector<Thing*> elements;
};
std::deque<Thing> things;

Thing* make(std::string name = {}) {
  things.emplace_back();
  things.back().name = std::move(name);
  return &things.back();
}

std::string utf8_of(const std::u16string& text) {
  return to_utf8(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

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

jclass JNICALL find_class(JNIEnv*, const char* name) {
  return reinterpret_cast<jclass>(make(name));
}
jthrowable JNICALL exception_occurred(JNIEnv*) { return nullptr; }
void JNICALL exception_nothing(JNIEnv*) {}
jint JNICALL register_natives(JNIEnv*, jclass, const JNINativeMethod*, jint) { return 0; }
jobjectArray JNICALL new_object_array(JNIEnv*, jsize length, jclass, jobject) {
  Thing* array = make("array");
  array->elements.resize(static_cast<size_t>(length));
  return reinterpret_cast<jobjectArray>(array);
}
jstring JNICALL new_string(JNIEnv*, const jchar* characters, jsize length) {
  Thing* string = make("string");
  string->text.assign(reinterpret_cast<const char16_t*>(characters), static_cast<size_t>(length));
  return reinterpret_cast<jstring>(string);
}
void JNICALL set_object_array_element(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  reinterpret_cast<Thing*>(array)->elements[static_cast<size_t>(index)] =
      reinterpret_cast<Thing*>(value);
}
void JNICALL delete_local_ref(JNIEnv*, jobject) {}
jmethodID JNICALL get_static_method_id(JNIEnv*, jclass, const char* name, const char*) {
  return reinterpret_cast<jmethodID>(make(name));
}
jfieldID JNICALL get_static_field_id(JNIEnv*, jclass, const char* name, const char*) {
  return reinterpret_cast<jfieldID>(make(name));
}
jobject JNICALL get_static_object_field(JNIEnv*, jclass, jfieldID field) {
  return reinterpret_cast<jobject>(make(reinterpret_cast<Thing*>(field)->name + "-value"));
}
jmethodID JNICALL from_reflected_method(JNIEnv*, jobject) {
  return reinterpret_cast<jmethodID>(make("main"));
}

// The launcher class's prepare receives the main class; the main method, its arguments.
void JNICALL call_static_void_method(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  const Thing* argument = reinterpret_cast<Thing*>(va_arg(arguments, jobject));
  if (reinterpret_cast<Thing*>(method)->name == "prepare") {
    main_class = utf8_of(argument->text);
    return;
  }
  std::vector<std::string> texts;
  for (const Thing* element : argument->elements) texts.push_back(utf8_of(element->text));
  report(texts);
}

jint JNICALL detach_current_thread(JavaVM*) { return 0; }
jint JNICALL destroy_java_vm(JavaVM*) { return 0; }

JNINativeInterface_ make_functions() {
  JNINativeInterface_ functions{};
  functions.FindClass = find_class;
  functions.ExceptionOccurred = exception_occurred;
  functions.ExceptionDescribe = exception_nothing;
  functions.ExceptionClear = exception_nothing;
  functions.RegisterNatives = register_natives;
  functions.NewObjectArray = new_object_array;
  functions.NewString = new_string;
  functions.SetObjectArrayElement = set_object_array_element;
  functions.DeleteLocalRef = delete_local_ref;
  functions.GetStaticMethodID = get_static_method_id;
  functions.GetStaticFieldID = get_static_field_id;
  functions.GetStaticObjectField = get_static_object_field;
  functions.FromReflectedMethod = from_reflected_method;
  functions.CallStaticVoidMethodV = call_static_void_method;
  return functions;
}

JNIInvokeInterface_ make_invoke_functions() {
  JNIInvokeInterface_ functions{};
  functions.DetachCurrentThread = detach_current_thread;
  functions.DestroyJavaVM = destroy_java_vm;
  return functions;
}

const JNINativeInterface_ environment_functions = make_functions();
const JNIInvokeInterface_ invoke_functions = make_invoke_functions();
JNIEnv environment{&environment_functions};
JavaVM vm{&invoke_functions};

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** result_vm, void** result_env,
                                                   void* arguments) {
  const auto* init = static_cast<const JavaVMInitArgs*>(arguments);
  for (jint i = 0; i < init->nOptions; ++i) jvm_options.emplace_back(init->options[i].optionString);
  java_home = to_utf8(variable(L"_ALT_JAVA_HOME_DIR"));
  *result_vm = &vm;
  *result_env = &environment;
  return JNI_OK;
}
