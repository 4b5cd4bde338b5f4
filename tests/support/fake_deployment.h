#pragma once
// A scripted package deployment service: each started deployment or removal plays the next
// scripted outcome and records what it was asked.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/deployment.h"

namespace pellora::testing {

// What one deployment operation does while it is awaited and how it ends.
struct ScriptedDeployment {
  platform::AsyncStatus status = platform::AsyncStatus::completed;
  uint32_t error_code = 0;  // IAsyncInfo::ErrorCode
  int32_t extended_error_code = 0;
  std::string error_text;
  bool is_registered = true;
  // Delivered in order to the progress handler, on the waiting thread, once the wait begins;
  // `after_report` runs after each, `while_waiting` after the last (e.g. to press Cancel).
  std::vector<platform::DeploymentProgress> progress;
  std::function<void(size_t)> after_report;
  std::function<void()> while_waiting;

  // Completed, registered, no error.
  static ScriptedDeployment success() { return {}; }
  // Status error with this extended code and text; not registered.
  static ScriptedDeployment failure(uint32_t extended_error_code, std::string error_text = {});
};

class FakeDeploymentOperation final : public platform::DeploymentOperation {
 public:
  explicit FakeDeploymentOperation(ScriptedDeployment script) : script_(std::move(script)) {}

  void set_progress_handler(
      std::function<void(const platform::DeploymentProgress&)> handler) override;
  // Plays the script; a cancel before or during the wait ends it as Canceled.
  platform::AsyncStatus wait() override;
  platform::AsyncStatus status() override;
  uint32_t error_code() override;
  platform::DeploymentResult get_results() override;
  void cancel() override;

  int cancel_calls() const { return cancel_calls_; }

 private:
  ScriptedDeployment script_;
  std::mutex mutex_;
  std::function<void(const platform::DeploymentProgress&)> handler_;
  std::atomic<bool> cancelled_{false};
  std::atomic<int> cancel_calls_{0};
  std::atomic<bool> finished_{false};
};

class FakePackageManager final : public platform::PackageManager {
 public:
  struct AddCall {
    std::string uri;
    uint32_t options;
    std::string volume;
  };

  std::string get_default_package_volume() override;
  // Play the next scripted outcome; with none left they raise PlatformError(E_FAIL).
  std::shared_ptr<platform::DeploymentOperation> add_package_by_app_installer_file(
      const std::string& uri, uint32_t options, const std::string& volume) override;
  std::shared_ptr<platform::DeploymentOperation> remove_package(
      const std::string& full_name) override;

  // Scripts, consumed front first, and what was asked, in order.
  std::deque<ScriptedDeployment> additions;
  std::deque<ScriptedDeployment> removals;
  std::vector<AddCall> add_calls;
  std::vector<std::string> remove_calls;
  std::vector<std::shared_ptr<FakeDeploymentOperation>> operations;
  int volume_lookups = 0;
  std::string volume = "C:\\";

 private:
  std::shared_ptr<platform::DeploymentOperation> start(std::deque<ScriptedDeployment>& script,
                                                       const char* what);
  std::mutex mutex_;
};

}  // namespace pellora::testing
