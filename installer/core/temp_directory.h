#pragma once
#include <string>

namespace pellora {

// The installer's own folder under the user's temporary folder, named after the package, ending
// in the path separator; created when missing. A failure ends in report_error.
std::string temp_directory();
// The same folder, or empty when it cannot be had (no box: for what may do without it).
std::string usable_temp_directory();

}  // namespace pellora
