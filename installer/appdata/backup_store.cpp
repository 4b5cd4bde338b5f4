#include "installer/appdata/backup_store.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

constexpr uint32_t lock_retry_ms = 250;

// The number of a backup folder's name, or 0 for a name that is not one.
uint64_t backup_number(const std::string& name) {
  const std::string prefix = backup_name_prefix;
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 18 ||
      name.compare(0, prefix.size(), prefix) != 0) {
    return 0;
  }
  uint64_t number = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return number;
}

// The backup folders in `family_folder` with their numbers, oldest first.
std::vector<std::pair<uint64_t, std::string>> numbered_backups(const std::string& family_folder) {
  std::vector<std::string> names;
  std::vector<std::pair<uint64_t, std::string>> backups;
  if (!platform::services().files->list_folder(family_folder, names)) return backups;
  for (const std::string& name : names) {
    if (const uint64_t number = backup_number(name); number != 0) {
      backups.emplace_back(number, family_folder + name);
    }
  }
  std::sort(backups.begin(), backups.end());
  return backups;
}

bool is_complete(const std::string& backup) {
  std::vector<std::string> names;
  if (!platform::services().files->list_folder(backup, names)) return false;
  return std::find(names.begin(), names.end(), backup_complete_marker) != names.end();
}

int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A lock file reads "held <pid>" while a process holds it, "handed <backup name> <seconds since
// the epoch>" once handed on, and nothing once released. Whether a process holds it is the file
// system's to say, not the text's: the text only reserves a handed-on lock for its heir.
bool kept_for_another(const std::string& content, const std::string& heir_of) {
  const std::string handed = "handed ";
  if (content.compare(0, handed.size(), handed) != 0) return false;
  const size_t space = content.rfind(' ');
  if (space <= handed.size()) return false;
  const std::string backup = content.substr(handed.size(), space - handed.size());
  if (!heir_of.empty() && backup == heir_of) return false;
  char* end = nullptr;
  const long long handed_at = std::strtoll(content.c_str() + space + 1, &end, 10);
  // A clock set back counts as much as one gone forward.
  return std::llabs(now_seconds() - handed_at) < ReinstallLock::handover_grace_seconds;
}

}  // namespace

std::string package_family_name(const std::string& full_name) {
  const size_t first = full_name.find('_');
  const size_t last = full_name.rfind('_');
  if (first == std::string::npos || first == last) return full_name;
  return full_name.substr(0, first) + full_name.substr(last);
}

std::string family_backup_folder() {
  return private_temp_folder(package_family_name(burned_in_settings.package_full_name));
}

std::string usable_family_backup_folder() {
  return usable_private_temp_folder(package_family_name(burned_in_settings.package_full_name));
}

std::vector<std::string> complete_backups(const std::string& family_folder) {
  std::vector<std::string> complete;
  for (auto& [number, path] : numbered_backups(family_folder)) {
    if (is_complete(path)) complete.push_back(std::move(path));
  }
  return complete;
}

std::string next_backup_path(const std::string& family_folder) {
  const auto backups = numbered_backups(family_folder);
  const uint64_t number = backups.empty() ? 1 : backups.back().first + 1;
  return family_folder + backup_name_prefix + std::to_string(number);
}

std::string backup_name_in(const std::string& family_folder, const std::string& path) {
  if (path.size() <= family_folder.size() || path.compare(0, family_folder.size(), family_folder))
    return {};
  const std::string name = path.substr(family_folder.size());
  return backup_number(name) != 0 ? name : std::string();
}

void mark_backup_complete(const std::string& backup) {
  std::unique_ptr<platform::PendingFile> mark =
      platform::services().files->create_pending_file(backup, backup_complete_marker);
  mark->commit();
}

void remove_incomplete_backups(const std::string& family_folder) {
  for (const auto& [number, path] : numbered_backups(family_folder)) {
    if (!is_complete(path)) remove_backup(path);
  }
}

bool remove_backup(const std::string& backup) {
  platform::Files& files = *platform::services().files;
  const std::string mark = backup + platform::path_separator() + backup_complete_marker;
  if (is_complete(backup) && files.shell_delete(mark).result != 0) {
    log_line("The backup " + backup + " could not be removed: its mark stays.\n");
    return false;
  }
  const platform::ShellFileOperationResult removal = files.shell_delete(backup);
  if (removal.result != 0 || removal.any_aborted) {
    log_line("The backup " + backup + " could not be removed whole; what is left of it is " +
             "removed by the next reinstall.\n");
    return false;
  }
  return true;
}

std::unique_ptr<ReinstallLock> ReinstallLock::take(const std::string& family_folder,
                                                   const std::string& heir_of, uint32_t patience_ms,
                                                   bool& busy) {
  platform::Services& services = platform::services();
  const std::string path = family_folder + reinstall_lock_name;
  for (uint32_t waited = 0;; waited += lock_retry_ms) {
    std::unique_ptr<platform::HeldFile> file = services.files->hold_file(path);
    if (file == nullptr) {
      const uint32_t error = platform::get_last_error();
      busy =
          error == platform::win32::sharing_violation || error == platform::win32::lock_violation;
      if (!busy) return nullptr;
    } else if (kept_for_another(file->read(), heir_of)) {
      busy = true;
    } else {
      file->replace("held " + std::to_string(services.system->process_id()));
      busy = false;
      return std::unique_ptr<ReinstallLock>(new ReinstallLock(std::move(file)));
    }
    // Let go of a lock kept for another before waiting, so that its heir can take it.
    file.reset();
    if (waited >= patience_ms) return nullptr;
    services.system->sleep_ms(lock_retry_ms);
  }
}

ReinstallLock::~ReinstallLock() {
  if (!handed_over_) file_->replace("");
}

void ReinstallLock::hand_over(const std::string& backup_name) {
  handed_over_ = file_->replace("handed " + backup_name + " " + std::to_string(now_seconds()));
}

}  // namespace pellora
