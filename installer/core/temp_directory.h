#pragma once
#include <string>

namespace pellora {

// The installer's own folder under the user's temporary folder, named after the package, ending
// in the path separator; created when missing. A failure ends in report_error.
std::string temp_directory();
// The same folder, or empty when it cannot be had (no box: for what may do without it).
std::string usable_temp_directory();

// A private folder `name` directly under the user's temporary folder, ending in the separator,
// created when missing; a failure ends in report_error. temp_directory is the one named after
// the package.
std::string private_temp_folder(const std::string& name);
// The same, or empty when it cannot be had (no box).
std::string usable_private_temp_folder(const std::string& name);

// Why the user's temporary folder cannot be used, or empty. Paths travel on command lines and
// through files, where line breaks, tabs and other control characters do not survive whole, so
// such a path is refused before anything is written under it.
std::string temp_path_refusal(const std::string& temp_path);
// `text` with each control character shown as an escape ("\n", "\t", "\x1b"...).
std::string with_escaped_controls(const std::string& text);

}  // namespace pellora
