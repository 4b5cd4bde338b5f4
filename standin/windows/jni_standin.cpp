#include "standin/windows/jni_standin.h"

#include <windows.h>

#include <cstdarg>
#include <deque>

#include "common/windows/wide_text.h"

namespace standin::jni {
namespace {

using pellora::platform::windows::to_utf8;

// Every JNI reference and id points at one of these.
struct Thing {
  std::string name;  // class, method or field name
  std::u16string text;
  std::vector<Thing*> elements;
};
std::deque<Thing> things;
Application application;

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
  for (jint i = 0; i < count; ++i) {
    if (application.registered) application.registered(methods[i].name);
  }
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

// What jni.h's C++ CallStaticVoidMethod calls: the launcher class's prepare receives the main
// class, the main method its arguments.
void JNICALL call_static_void_method(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  const Thing* argument = reinterpret_cast<Thing*>(va_arg(arguments, jobject));
  if (reinterpret_cast<Thing*>(method)->name == "prepare") {
    if (application.prepared) application.prepared(utf8_of(argument->text));
    return;
  }
  std::vector<std::string> texts;
  for (const Thing* element : argument->elements) texts.push_back(utf8_of(element->text));
  if (application.main) application.main(texts);
}

jint JNICALL detach_current_thread(JavaVM*) { return 0; }
jint JNICALL destroy_java_vm(JavaVM*) {
  if (application.destroyed) application.destroyed();
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

void create_vm(Application given, JavaVM** result_vm, void** result_env) {
  application = std::move(given);
  *result_vm = &vm;
  *result_env = &environment;
}

std::wstring variable(const wchar_t* name, bool* present) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), 32768);
  if (present != nullptr) *present = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  value.resize(length);
  return value;
}

}  // namespace standin::jni
