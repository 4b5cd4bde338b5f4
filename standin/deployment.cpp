// The deployment service: adds a package from an .appinstaller URI and removes packages by
// full name, each operation on a thread of its own, failing with the HRESULTs Windows reports.

#include "standin/deployment.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "common/error.h"
#include "standin/certificates.h"
#include "standin/deployment_errors.h"
#include "standin/manifest.h"
#include "standin/package_store.h"
#include "standin/platform_root.h"
#include "standin/publisher_id.h"
#include "standin/range_download.h"
#include "standin/zip_extract.h"

namespace standin {
namespace {

namespace hresult = pellora::platform::hresult;
using pellora::platform::AsyncStatus;
using pellora::platform::DeploymentOperation;
using pellora::platform::DeploymentProgress;
using pellora::platform::DeploymentProgressState;
using pellora::platform::DeploymentResult;
using pellora::platform::PackageManager;

constexpr uint64_t max_app_installer_bytes = 1 << 20;

// The names and record the store gives a package with this manifest.
Registration registration_for(const AppxManifest& manifest) {
  Registration registration;
  registration.identity = manifest.identity;
  const PackageIdentity& id = manifest.identity;
  registration.full_name = package_full_name(id.name, id.version, id.processor_architecture,
                                             id.resource_id, id.publisher);
  registration.family_name = package_family_name(id.name, id.publisher);
  // Manifests written for Windows separate folders with backslashes.
  auto local_path = [](std::string path) {
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    return path;
  };
  registration.entry_executable = local_path(manifest.entry_executable);
  for (const ProtocolRegistration& protocol : manifest.protocols) {
    registration.protocols.push_back({protocol.scheme, local_path(protocol.executable)});
  }
  return registration;
}

// How a step of a deployment fails; the worker turns it into the operation's outcome.
struct DeploymentFailure {
  uint32_t hresult;
  std::string message;
};
struct DeploymentCancelled {};

std::string hex_code(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

class OperationState {
 public:
  void set_handler(std::function<void(const DeploymentProgress&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }

  void report(DeploymentProgressState state, uint32_t percentage) {
    std::function<void(const DeploymentProgress&)> handler;
    {
      std::lock_guard lock(mutex_);
      handler = handler_;
    }
    if (handler) handler(DeploymentProgress{state, percentage});
  }

  void finish(AsyncStatus status, uint32_t error_code, DeploymentResult result) {
    {
      std::lock_guard lock(mutex_);
      status_ = status;
      error_code_ = error_code;
      result_ = std::move(result);
    }
    done_.notify_all();
  }

  AsyncStatus wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return status_ != AsyncStatus::started; });
    return status_;
  }

  AsyncStatus status() {
    std::lock_guard lock(mutex_);
    return status_;
  }
  uint32_t error_code() {
    std::lock_guard lock(mutex_);
    return error_code_;
  }
  DeploymentResult results() {
    std::lock_guard lock(mutex_);
    return result_;
  }

  void cancel() {
    cancel_requested_ = true;
    downloader.cancel();
  }
  void check_cancel() const {
    if (cancel_requested_) throw DeploymentCancelled{};
  }

  RangeDownloader downloader;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  AsyncStatus status_ = AsyncStatus::started;
  uint32_t error_code_ = 0;
  DeploymentResult result_;
  std::function<void(const DeploymentProgress&)> handler_;
  std::atomic<bool> cancel_requested_{false};
};

// A folder under staging/ that is removed with everything in it unless committed.
class StagingArea {
 public:
  StagingArea() {
    std::random_device random;
    path_ = staging_folder() + "/" + std::to_string(::getpid()) + "-" + std::to_string(random()) +
            std::to_string(random());
    if (!make_directories(path_)) {
      throw DeploymentFailure{deployment_error::disk_error,
                              "The staging folder could not be created."};
    }
  }
  ~StagingArea() {
    remove_tree(path_);
    ::rmdir(staging_folder().c_str());  // only when no other deployment uses it
  }
  StagingArea(const StagingArea&) = delete;
  StagingArea& operator=(const StagingArea&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void check_policy() {
  if (!path_exists(require_admin_marker_path())) return;
  const char* elevated = std::getenv("TREVALON_PLATFORM_ELEVATED");
  if (elevated != nullptr && std::string(elevated) == "1") return;
  throw DeploymentFailure{hresult::access_denied, "Access is denied."};
}

void take_store(const StoreLock& lock) {
  if (!lock.opened()) {
    throw DeploymentFailure{deployment_error::disk_error,
                            "The package store " + platform_root() + " cannot be opened."};
  }
  if (!lock.acquired()) {
    throw DeploymentFailure{hresult::busy_snapshot,
                            "The package store is busy with another deployment."};
  }
}

int compare_versions(const std::string& left, const std::string& right) {
  const auto a = parse_package_version(left);
  const auto b = parse_package_version(right);
  if (!a || !b) return left.compare(right);
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

std::string resolve_uri(const std::string& base, const std::string& reference) {
  if (reference.find("://") != std::string::npos) return reference;
  const size_t slash = base.rfind('/');
  return (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + reference;
}

// A test's way to end the process in the middle of a deployment's commit, as a killed installer
// or a closed window would: TREVALON_STANDIN_END_AT names the step.
void end_here_if_asked(const char* step) {
  const char* asked = std::getenv("TREVALON_STANDIN_END_AT");
  if (asked != nullptr && std::strcmp(asked, step) == 0) ::kill(::getpid(), SIGKILL);
}

// A deployment that replaces or removes a package ends the processes running from it, as
// ForceTargetAppShutdown (and a removal) does on Windows: none of them goes on without the
// package it came from. They are asked to close first (an installer that has done its work
// then leaves with 0) and are made to after a second.
void end_processes_running_from(const std::string& folder) {
  std::vector<pid_t> running;
  if (DIR* processes = ::opendir("/proc")) {
    const std::string inside = folder + "/";
    while (const dirent* entry = ::readdir(processes)) {
      char* end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (*end != '\0' || pid <= 0 || pid == ::getpid()) continue;
      char target[4096];
      const std::string link = std::string("/proc/") + entry->d_name + "/exe";
      const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
      if (length > 0 && std::string_view(target, static_cast<size_t>(length)).starts_with(inside)) {
        running.push_back(static_cast<pid_t>(pid));
      }
    }
    ::closedir(processes);
  }
  for (const pid_t pid : running) ::kill(pid, SIGTERM);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const pid_t pid : running) {
    while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
  }
}

// Unregisters first, so no process gains the identity of a half-removed package.
void unregister_and_delete(const Registration& registration, const std::string& staging) {
  const ActivationLock no_starts_meanwhile(true);
  std::remove((registrations_folder() + "/" + registration.full_name).c_str());
  for (const ProtocolRegistration& protocol : registration.protocols) {
    remove_protocol_if_owned(protocol.scheme, registration.full_name);
  }
  end_here_if_asked("unregistered-old");
  const std::string folder = installed_folder(registration.full_name);
  const std::string doomed = staging + "/removed-" + registration.full_name;
  const bool moved = std::rename(folder.c_str(), doomed.c_str()) == 0;
  end_processes_running_from(moved ? doomed : folder);
  remove_tree(moved ? doomed : folder);
}

// Every operation on the store first puts right what an operation that ended half way left
// behind: no staging entry (the caller holds the store lock, so no deployment is under way), no
// registration without its folder, at most one registered version per family (the newest), no
// package folder without a registration, and every registered package's protocols its own.
void repair_store() {
  remove_tree(staging_folder());
  // A registration is written as "<full name>.tmp<pid>" and renamed into place: a writer killed
  // in between leaves that file behind.
  if (DIR* registrations = ::opendir(registrations_folder().c_str())) {
    std::vector<std::string> stray;
    while (const dirent* entry = ::readdir(registrations)) {
      const std::string name = entry->d_name;
      const size_t mark = name.rfind(".tmp");
      if (mark == std::string::npos || mark == 0 || mark + 4 == name.size()) continue;
      if (name.find_first_not_of("0123456789", mark + 4) == std::string::npos) {
        stray.push_back(name);
      }
    }
    ::closedir(registrations);
    for (const std::string& name : stray)
      std::remove((registrations_folder() + "/" + name).c_str());
  }
  std::map<std::string, std::vector<Registration>> families;
  for (Registration& registration : installed_packages()) {
    if (!is_directory(installed_folder(registration.full_name))) {
      std::remove((registrations_folder() + "/" + registration.full_name).c_str());
      continue;
    }
    families[registration.family_name].push_back(std::move(registration));
  }
  std::vector<Registration> kept;
  std::optional<StagingArea> staging;
  for (auto& [family, versions] : families) {
    std::sort(versions.begin(), versions.end(), [](const Registration& a, const Registration& b) {
      return compare_versions(a.identity.version, b.identity.version) > 0;
    });
    kept.push_back(versions.front());
    for (size_t older = 1; older < versions.size(); ++older) {
      if (!staging) staging.emplace();
      unregister_and_delete(versions[older], staging->path());
    }
  }
  if (DIR* folders = ::opendir(packages_folder().c_str())) {
    std::vector<std::string> orphans;
    while (const dirent* entry = ::readdir(folders)) {
      if (entry->d_name[0] != '.' && !read_registration(entry->d_name)) {
        orphans.push_back(entry->d_name);
      }
    }
    ::closedir(folders);
    for (const std::string& name : orphans) remove_tree(installed_folder(name));
  }
  if (DIR* schemes = ::opendir(protocols_folder().c_str())) {
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(schemes)) {
      if (entry->d_name[0] == '.') continue;
      const auto handler = protocol_handler(entry->d_name);
      if (!handler || !read_registration(handler->full_name)) stale.push_back(entry->d_name);
    }
    ::closedir(schemes);
    for (const std::string& scheme : stale)
      std::remove((protocols_folder() + "/" + scheme).c_str());
  }
  for (const Registration& registration : kept) {
    for (const ProtocolRegistration& protocol : registration.protocols) {
      if (!protocol_handler(protocol.scheme)) {
        write_protocol(protocol.scheme,
                       ProtocolHandler{registration.full_name, protocol.executable});
      }
    }
  }
}

bool family_still_installed(const std::string& family_name) {
  for (const Registration& other : installed_packages()) {
    if (other.family_name == family_name) return true;
  }
  return false;
}

void fail_on(const TransferOutcome& outcome) {
  if (outcome.hresult == hresult::cancelled) throw DeploymentCancelled{};
  if (!outcome.ok()) throw DeploymentFailure{outcome.hresult, outcome.message};
}

std::string identity_text(const PackageIdentity& id) {
  return id.name + ", " + id.publisher + ", " + id.version + ", " + id.processor_architecture;
}

DeploymentResult add_package(OperationState& state, const std::string& uri) {
  state.report(DeploymentProgressState::queued, 0);
  check_policy();
  const StoreLock lock;
  take_store(lock);
  repair_store();
  std::string xml;
  fail_on(state.downloader.get(uri, xml, max_app_installer_bytes));
  std::string parse_error;
  const auto app_installer = parse_app_installer(xml, parse_error);
  if (!app_installer) {
    throw DeploymentFailure{deployment_error::invalid_app_installer,
                            "The .appinstaller file " + uri + " is not valid: " + parse_error};
  }
  const PackageIdentity& wanted = app_installer->main_package;
  AppxManifest wanted_manifest;
  wanted_manifest.identity = wanted;
  const Registration target = registration_for(wanted_manifest);

  for (const Registration& installed : installed_packages()) {
    if (installed.family_name != target.family_name) continue;
    const int order = compare_versions(installed.identity.version, wanted.version);
    if (order > 0) {
      throw DeploymentFailure{
          hresult::install_downgrade,
          "The package could not be installed because a higher version of this package (" +
              installed.full_name + ") is already installed."};
    }
    if (order == 0 && installed.full_name == target.full_name &&
        is_directory(installed_folder(installed.full_name))) {
      state.report(DeploymentProgressState::completed, 100);
      return DeploymentResult{"", 0, true};
    }
  }

  state.report(DeploymentProgressState::processing, 0);
  StagingArea staging;
  const std::string package_file = staging.path() + "/package.msix";
  const std::string package_uri = resolve_uri(uri, app_installer->main_package_uri);
  uint32_t last_percentage = 0;
  fail_on(state.downloader.download(package_uri, package_file, [&](uint64_t done, uint64_t total) {
    const auto percentage = static_cast<uint32_t>(total == 0 ? 0 : done * 90 / total);
    if (percentage != last_percentage) {
      last_percentage = percentage;
      state.report(DeploymentProgressState::processing, percentage);
    }
  }));
  state.check_cancel();

  const std::string content = staging.path() + "/content";
  PackageArchive archive(package_file);
  if (!archive.opened()) {
    throw DeploymentFailure{deployment_error::corrupt_package,
                            "The package " + package_uri + " is not a valid package archive."};
  }
  const auto manifest_xml = archive.read("AppxManifest.xml");
  if (!manifest_xml) {
    throw DeploymentFailure{deployment_error::invalid_manifest,
                            "The package " + package_uri + " has no AppxManifest.xml."};
  }
  const auto manifest = parse_appx_manifest(*manifest_xml, parse_error);
  if (!manifest) {
    throw DeploymentFailure{deployment_error::invalid_manifest,
                            "The package's AppxManifest.xml is not valid: " + parse_error};
  }
  const PackageIdentity& found = manifest->identity;
  if (found.name != wanted.name || found.publisher != wanted.publisher ||
      compare_versions(found.version, wanted.version) != 0 ||
      found.processor_architecture != wanted.processor_architecture ||
      found.resource_id != wanted.resource_id) {
    throw DeploymentFailure{deployment_error::identity_mismatch,
                            "The package's identity (" + identity_text(found) +
                                ") does not match the .appinstaller file's MainPackage (" +
                                identity_text(wanted) + ")."};
  }
  if (!publisher_is_trusted(found.publisher)) {
    throw DeploymentFailure{hresult::untrusted_root,
                            "A certificate chain processed, but terminated in a root certificate "
                            "which is not trusted by the trust provider."};
  }
  std::string extract_error;
  if (!archive.extract_all(content, extract_error, [&](uint32_t done, uint32_t total) {
        state.report(DeploymentProgressState::processing, 90 + (total ? done * 9 / total : 9));
      })) {
    throw DeploymentFailure{deployment_error::corrupt_package, extract_error};
  }
  state.check_cancel();

  // From here on the deployment runs to its end: the package becomes visible in one rename.
  const Registration registration = registration_for(*manifest);
  const std::string folder = installed_folder(registration.full_name);
  if (!make_directories(packages_folder())) {
    throw DeploymentFailure{deployment_error::disk_error,
                            "The packages folder could not be created."};
  }
  if (path_exists(folder)) {
    std::remove((registrations_folder() + "/" + registration.full_name).c_str());
    remove_tree(folder);
  }
  if (std::rename(content.c_str(), folder.c_str()) != 0) {
    throw DeploymentFailure{deployment_error::disk_error,
                            "The package folder " + folder + " could not be created."};
  }
  end_here_if_asked("renamed");
  if (!write_registration(registration)) {
    remove_tree(folder);
    throw DeploymentFailure{deployment_error::disk_error, "The package could not be registered."};
  }
  end_here_if_asked("registered");
  const std::string data = family_data_folder(registration.family_name);
  for (const char* name : {"LocalState", "RoamingState", "LocalCache"}) {
    make_directories(data + "/" + name);
  }
  for (const ProtocolRegistration& protocol : registration.protocols) {
    write_protocol(protocol.scheme, ProtocolHandler{registration.full_name, protocol.executable});
  }
  end_here_if_asked("protocols");
  for (const Registration& installed : installed_packages()) {
    if (installed.family_name == registration.family_name &&
        installed.full_name != registration.full_name) {
      unregister_and_delete(installed, staging.path());
    }
  }
  state.report(DeploymentProgressState::completed, 100);
  return DeploymentResult{"", 0, true};
}

DeploymentResult remove_package(OperationState& state, const std::string& full_name) {
  state.report(DeploymentProgressState::queued, 0);
  const StoreLock lock;
  take_store(lock);
  repair_store();
  const auto registration = read_registration(full_name);
  if (!registration) {
    throw DeploymentFailure{
        hresult::package_not_found,
        "Remove operation on package " + full_name + " failed because the package was not found."};
  }
  state.check_cancel();
  state.report(DeploymentProgressState::processing, 10);
  StagingArea staging;
  unregister_and_delete(*registration, staging.path());
  state.report(DeploymentProgressState::processing, 80);
  // Windows keeps a family's data while any package of the family remains.
  if (!family_still_installed(registration->family_name)) {
    remove_tree(family_data_folder(registration->family_name));
  }
  state.report(DeploymentProgressState::completed, 100);
  return DeploymentResult{"", 0, false};
}

class StoreDeploymentOperation final : public DeploymentOperation {
 public:
  template <typename Work>
  explicit StoreDeploymentOperation(Work work) : state_(std::make_shared<OperationState>()) {
    worker_ = std::thread([state = state_, work = std::move(work)] {
      try {
        state->finish(AsyncStatus::completed, 0, work(*state));
      } catch (const DeploymentCancelled&) {
        state->finish(AsyncStatus::canceled, 0,
                      DeploymentResult{"error " + hex_code(hresult::cancelled) +
                                           ": The operation was canceled by the user.",
                                       static_cast<int32_t>(hresult::cancelled), false});
      } catch (const DeploymentFailure& failure) {
        state->finish(
            AsyncStatus::error, failure.hresult,
            DeploymentResult{"error " + hex_code(failure.hresult) + ": " + failure.message,
                             static_cast<int32_t>(failure.hresult), false});
      } catch (const std::exception& error) {
        state->finish(AsyncStatus::error, hresult::fail,
                      DeploymentResult{"error " + hex_code(hresult::fail) + ": " + error.what(),
                                       static_cast<int32_t>(hresult::fail), false});
      }
    });
  }

  ~StoreDeploymentOperation() override {
    if (!worker_.joinable()) return;
    // The last owner may be a progress handler running on the worker itself.
    if (worker_.get_id() == std::this_thread::get_id()) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  void set_progress_handler(std::function<void(const DeploymentProgress&)> handler) override {
    state_->set_handler(std::move(handler));
  }
  AsyncStatus wait() override { return state_->wait(); }
  AsyncStatus status() override { return state_->status(); }
  uint32_t error_code() override { return state_->error_code(); }
  DeploymentResult get_results() override { return state_->results(); }
  void cancel() override { state_->cancel(); }

 private:
  std::shared_ptr<OperationState> state_;
  std::thread worker_;
};

class StorePackageManager final : public PackageManager {
 public:
  std::string get_default_package_volume() override { return packages_folder(); }

  std::shared_ptr<DeploymentOperation> add_package_by_app_installer_file(
      const std::string& uri, uint32_t /*options*/, const std::string& /*volume*/) override {
    return std::make_shared<StoreDeploymentOperation>(
        [uri](OperationState& state) { return add_package(state, uri); });
  }

  std::shared_ptr<DeploymentOperation> remove_package(const std::string& full_name) override {
    return std::make_shared<StoreDeploymentOperation>(
        [full_name](OperationState& state) { return standin::remove_package(state, full_name); });
  }
};

}  // namespace

pellora::platform::PackageManager* package_manager() {
  static StorePackageManager instance;
  return &instance;
}

}  // namespace standin
