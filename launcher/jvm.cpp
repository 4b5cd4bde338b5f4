#include "launcher/jvm.h"

#include <jni.h>

#include "launcher/fatal_error.h"
#include "launcher/jvm_options.h"

// The application's updater calls this; the launcher has nothing to check, so it returns.
extern "C" JNIEXPORT void JNICALL
Java_quelmarin_trevalon_updater_OnlineUpdater_nCheckForUpdates(JNIEnv*, jclass) {}

namespace launcher {
namespace {

constexpr const char* launcher_class_name = "quelmarin/trevalon/launcher/Launcher";
constexpr const char* updater_class_name = "quelmarin/trevalon/updater/OnlineUpdater";

// After every step of the protocol with the application's launcher class: a pending
// throwable is described by the JVM on standard error and ends the process.
void check_exception(JNIEnv* env) {
  if (env->ExceptionOccurred() != nullptr) {
    env->ExceptionDescribe();
    platform::exit_process(1);
  }
}

// NewStringUTF reads modified UTF-8 and would split characters outside the BMP; building
// the string from UTF-16 keeps every character intact.
jstring new_java_string(JNIEnv* env, const std::string& text) {
  const std::u16string utf16 = utf8_to_utf16(text);
  return env->NewString(reinterpret_cast<const jchar*>(utf16.data()),
                        static_cast<jsize>(utf16.size()));
}

void register_updater_natives(JNIEnv* env) {
  jclass updater = env->FindClass(updater_class_name);
  if (updater == nullptr) {
    env->ExceptionClear();  // an application without an updater is fine
    return;
  }
  JNINativeMethod method{
      const_cast<char*>("nCheckForUpdates"), const_cast<char*>("()V"),
      reinterpret_cast<void*>(&Java_quelmarin_trevalon_updater_OnlineUpdater_nCheckForUpdates)};
  // An updater class without the method leaves a NoSuchMethodError: no JNI call may follow it.
  env->RegisterNatives(updater, &method, 1);
  check_exception(env);
}

jobjectArray build_argument_array(JNIEnv* env, const std::vector<std::string>& arguments) {
  jclass string_class = env->FindClass("java/lang/String");
  check_exception(env);
  jobjectArray array =
      env->NewObjectArray(static_cast<jsize>(arguments.size()), string_class, nullptr);
  check_exception(env);
  for (size_t i = 0; i < arguments.size(); ++i) {
    jstring element = new_java_string(env, arguments[i]);
    check_exception(env);
    env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
    check_exception(env);
    env->DeleteLocalRef(element);
  }
  return array;
}

// Reports an uncaught throwable of the main method and ends the process with 1.
[[noreturn]] void report_uncaught(JNIEnv* env, jthrowable throwable, const LauncherConfig& config,
                                  platform::Platform& platform) {
  jclass launcher_class = env->FindClass(launcher_class_name);
  check_exception(env);
  jmethodID from_exception = env->GetStaticMethodID(launcher_class, "fromException",
                                                    "(Ljava/lang/Throwable;)Ljava/lang/String;");
  check_exception(env);
  auto report =
      static_cast<jstring>(env->CallStaticObjectMethod(launcher_class, from_exception, throwable));
  check_exception(env);
  std::string text;
  if (report != nullptr) {
    // Through UTF-16: the modified UTF-8 of GetStringUTFChars writes a character outside the
    // BMP as two encoded surrogates, which is not UTF-8.
    const jchar* characters = env->GetStringChars(report, nullptr);
    check_exception(env);
    if (characters != nullptr) {
      text = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(characters),
                                               static_cast<size_t>(env->GetStringLength(report))));
      env->ReleaseStringChars(report, characters);
    }
  }

  jclass throwable_class = env->FindClass("java/lang/Throwable");
  check_exception(env);
  jmethodID print_stack_trace = env->GetMethodID(throwable_class, "printStackTrace", "()V");
  check_exception(env);
  env->CallVoidMethod(throwable, print_stack_trace);
  check_exception(env);

  if (!config.console_app) {
    platform.message_box(text, "The application has experienced an internal error and must quit.");
  }
  // The JVM is left running: its shutdown could block on the application's own threads.
  platform::exit_process(1);
}

}  // namespace

void run_jvm(const LauncherConfig& config, const std::vector<std::string>& command_line_args,
             platform::Platform& platform) {
  // The JVM may keep pointers to its options, so they live until the process ends.
  static std::vector<std::string> options;
  static std::vector<JavaVMOption> vm_options;

  const char separator = platform::path_separator();
  platform.set_variable("_ALT_JAVA_HOME_DIR",
                        app_root_dir_of(platform::executable_path(), separator));
  // Options from the user's environment would change the application's JVM behind its back.
  platform.remove_variable("_JAVA_OPTIONS");
  platform.remove_variable("JDK_JAVA_OPTIONS");
  platform.remove_variable("JAVA_TOOL_OPTIONS");

  const std::string app_dir =
      app_dir_of(app_root_dir_of(platform::executable_path(), separator), separator);
  options = build_jvm_options(config, command_line_args, app_dir);

  vm_options.clear();
  for (auto& option : options) vm_options.push_back(JavaVMOption{option.data(), nullptr});
  JavaVMInitArgs init_args{};
  init_args.version = JNI_VERSION_1_8;
  init_args.nOptions = static_cast<jint>(vm_options.size());
  init_args.options = vm_options.data();
  init_args.ignoreUnrecognized = JNI_FALSE;

  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  const jint created = JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &init_args);
  if (created != JNI_OK) {
    fatal_error("Failed to create JVM: Error 0x%x", static_cast<unsigned>(created));
  }
  platform.remove_variable("_ALT_JAVA_HOME_DIR");

  register_updater_natives(env);
  jobjectArray arguments =
      build_argument_array(env, java_main_arguments(config, command_line_args));

  jclass launcher_class = env->FindClass(launcher_class_name);
  check_exception(env);
  jmethodID prepare = env->GetStaticMethodID(launcher_class, "prepare", "(Ljava/lang/String;)V");
  check_exception(env);
  jstring main_class_name = new_java_string(env, config.main_class);
  check_exception(env);
  env->CallStaticVoidMethod(launcher_class, prepare, main_class_name);
  check_exception(env);
  jfieldID main_method_field =
      env->GetStaticFieldID(launcher_class, "mainMethod", "Ljava/lang/reflect/Method;");
  check_exception(env);
  jfieldID class_field = env->GetStaticFieldID(launcher_class, "clazz", "Ljava/lang/Class;");
  check_exception(env);
  jobject main_method = env->GetStaticObjectField(launcher_class, main_method_field);
  check_exception(env);
  jobject main_class = env->GetStaticObjectField(launcher_class, class_field);
  check_exception(env);
  // A launcher class that returns without choosing would crash the JVM below.
  if (main_method == nullptr || main_class == nullptr) {
    fatal_error("The application's launcher class selected no main method for %s.",
                config.main_class.c_str());
  }
  jmethodID main_id = env->FromReflectedMethod(main_method);
  check_exception(env);

  env->CallStaticVoidMethod(static_cast<jclass>(main_class), main_id, arguments);
  jthrowable throwable = env->ExceptionOccurred();
  env->ExceptionClear();
  if (throwable != nullptr) report_uncaught(env, throwable, config, platform);

  vm->DetachCurrentThread();
  vm->DestroyJavaVM();
  platform::exit_process(0);
}

}  // namespace launcher
