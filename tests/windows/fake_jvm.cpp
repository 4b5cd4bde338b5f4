// jvm.dll for the launcher's tests under Wine. JNI_CreateJavaVM records what the launcher hands
// the JVM, and a small JNI environment plays the application's launcher class: it records the
// main class, the main method's arguments, the Java thread's stack size and the environment the
// application would see. The record goes to the file that TREVALON_FAKE_JVM_RECORD names, one
// "key=value" line each, in UTF-8.

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "common/windows/wide_text.h"
#include "jni.h"

namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

std::wstring variable(const wchar_t* name, bool* present = nullptr) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  if (present != nullptr) *present = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return std::wstring(value, length);
}

void record(const std::string& key, const std::string& value) {
  FILE* file = _wfopen(variable(L"TREVALON_FAKE_JVM_RECORD").c_str(), L"ab");
  if (file == nullptr) return;
  std::fprintf(file, "%s=%s\n", key.c_str(), value.c_str());
  std::fclose(file);
}

void record_variable(const wchar_t* name) {
  bool present = false;
  const std::wstring value = variable(name, &present);
  record("env:" + to_utf8(name), present ? to_utf8(value) : "(unset)");
}

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

jclass JNICALL find_class(JNIEnv*, const char* name) {
  return reinterpret_cast<jclass>(make(name));
}
jthrowable JNICALL exception_occurred(JNIEnv*) { return nullptr; }
void JNICALL exception_nothing(JNIEnv*) {}
jint JNICALL register_natives(JNIEnv*, jclass, const JNINativeMethod* methods, jint count) {
  for (jint i = 0; i < count; ++i) record("native", methods[i].name);
  return 0;
}
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

// What jni.h's C++ CallStaticVoidMethod calls.
void JNICALL call_static_void_method(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  Thing* argument = reinterpret_cast<Thing*>(va_arg(arguments, jobject));
  const std::string& name = reinterpret_cast<Thing*>(method)->name;
  if (name == "prepare") {
    record("main_class", utf8_of(argument->text));
    return;
  }
  for (const Thing* element : argument->elements) record("argument", utf8_of(element->text));
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

jint JNICALL detach_current_thread(JavaVM*) { return 0; }
jint JNICALL destroy_java_vm(JavaVM*) {
  record("destroyed", "yes");
  return 0;
}

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
  record("version", std::to_string(init->version));
  for (jint i = 0; i < init->nOptions; ++i) record("option", init->options[i].optionString);
  record("alt_java_home", to_utf8(variable(L"_ALT_JAVA_HOME_DIR")));
  *result_vm = &vm;
  *result_env = &environment;
  return JNI_OK;
}
