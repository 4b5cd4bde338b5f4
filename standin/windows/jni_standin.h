#pragma once
// A JNI environment for the jvm.dll stand-ins (the launcher's Windows tests, the Windows demo):
// only the calls the launcher makes, every reference an object that lives until the process
// ends. What the launcher hands the application goes to the callbacks.

#include <functional>
#include <string>
#include <vector>

#include "jni.h"

namespace standin::jni {

struct Application {
  std::function<void(const char* name)> registered;                     // each native method
  std::function<void(const std::string& main_class)> prepared;          // the launcher class's
  std::function<void(const std::vector<std::string>& arguments)> main;  // the main method's
  std::function<void()> destroyed;                                      // DestroyJavaVM
};

// The JavaVM and JNIEnv for JNI_CreateJavaVM to hand back; their calls reach `application`.
void create_vm(Application application, JavaVM** vm, void** env);

// A variable of the process's environment; `present` tells an empty one from a missing one.
std::wstring variable(const wchar_t* name, bool* present = nullptr);

}  // namespace standin::jni
