#include "installer/core/temp_directory.h"

#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

const char* refusal_reason(platform::FolderRefusal refusal) {
  switch (refusal) {
    case platform::FolderRefusal::symbolic_link:
      return "it is a symbolic link";
    case platform::FolderRefusal::not_a_folder:
      return "it is not a folder";
    case platform::FolderRefusal::other_owner:
      return "it belongs to another user";
    case platform::FolderRefusal::writable_by_others:
      return "other users can write to it";
    case platform::FolderRefusal::none:
      break;
  }
  return "";
}

}  // namespace

std::string with_escaped_controls(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      const char* digits = "0123456789abcdef";
      shown += "\\x";
      shown += digits[byte >> 4];
      shown += digits[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string temp_path_refusal(const std::string& temp_path) {
  for (const char c : temp_path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      return "its path holds a control character (a line break, a tab or the like)";
    }
  }
  return {};
}

std::string usable_private_temp_folder(const std::string& name) {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty() || !temp_path_refusal(temp_path).empty()) return {};
  const std::string folder = temp_path + name;
  platform::FolderRefusal refusal = platform::FolderRefusal::none;
  if (!services.files->create_private_directory(folder, refusal)) return {};
  return folder + platform::path_separator();
}

std::string private_temp_folder(const std::string& name) {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty()) report_error("GetTempPathW failed with error: " + last_error_text());
  if (const std::string refusal = temp_path_refusal(temp_path); !refusal.empty()) {
    report_error("The temporary folder " + with_escaped_controls(temp_path) +
                 " cannot be used, because " + refusal +
                 ". Choose a temporary folder without one, then try again.");
  }

  const std::string folder = temp_path + name;
  // An existing folder is the normal case from the second call on, and concurrent callers
  // race for the creation; both are fine. It holds programs that are started and the user's
  // data backup, so one that someone else could change is not used.
  platform::FolderRefusal refusal = platform::FolderRefusal::none;
  if (!services.files->create_private_directory(folder, refusal)) {
    if (refusal != platform::FolderRefusal::none) {
      report_error("The program's temporary folder " + folder + " cannot be used, because " +
                   refusal_reason(refusal) +
                   ". Remove it or let only your own account use it, then try again.");
    }
    report_error("CreateDirectoryW failed with error: " + last_error_text());
  }
  return folder + platform::path_separator();
}

std::string usable_temp_directory() {
  return usable_private_temp_folder(burned_in_settings.package_full_name);
}

std::string temp_directory() { return private_temp_folder(burned_in_settings.package_full_name); }

}  // namespace pellora
