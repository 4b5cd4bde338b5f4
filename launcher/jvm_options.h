#pragma once
// The pure parts of starting the JVM: the options it receives, the paths they refer to and the
// arguments of the application's main method.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/config.h"

namespace launcher {

// "-Dsun.java.command=" + main class, then each default argument and each command-line
// argument after a blank, neither quoted nor escaped. `command_line_args` excludes the
// program path.
std::string build_command_option(const LauncherConfig& config,
                                 std::span<const std::string> command_line_args);

// The folder above the one holding the executable: `executable_path` cut before its last
// separator, twice. Cuts that find no separator leave an empty path.
std::string app_root_dir_of(std::string_view executable_path, char separator);

// `app_root_dir` + separator + "app" + separator.
std::string app_dir_of(std::string_view app_root_dir, char separator);

// Replaces each "&&" of `option`, left to right without overlap, by `app_dir`; inserted text
// is never searched again.
std::string substitute_app_dir(std::string_view option, std::string_view app_dir);

// The JVM's options: the configured ones, then the command option, each with "&&" replaced by
// `app_dir`.
std::vector<std::string> build_jvm_options(const LauncherConfig& config,
                                           std::span<const std::string> command_line_args,
                                           std::string_view app_dir);

// What main receives: the default arguments, then the command-line arguments.
std::vector<std::string> java_main_arguments(const LauncherConfig& config,
                                             std::span<const std::string> command_line_args);

// UTF-16 form of a UTF-8 text; each byte that does not begin a valid sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
// UTF-8 form of a UTF-16 text; each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace launcher
