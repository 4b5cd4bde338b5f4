#include "tests/support/fake_deployment.h"

#include "common/error.h"

namespace pellora::testing {

ScriptedDeployment ScriptedDeployment::failure(uint32_t extended_error_code,
                                               std::string error_text) {
  ScriptedDeployment script;
  script.status = platform::AsyncStatus::error;
  script.error_code = extended_error_code;
  script.extended_error_code = static_cast<int32_t>(extended_error_code);
  script.error_text = std::move(error_text);
  script.is_registered = false;
  return script;
}

void FakeDeploymentOperation::set_progress_handler(
    std::function<void(const platform::DeploymentProgress&)> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

platform::AsyncStatus FakeDeploymentOperation::wait() {
  std::function<void(const platform::DeploymentProgress&)> handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  for (size_t index = 0; index < script_.progress.size() && !cancelled_; ++index) {
    if (handler) handler(script_.progress[index]);
    if (script_.after_report) script_.after_report(index);
  }
  if (script_.while_waiting && !cancelled_) script_.while_waiting();
  finished_ = true;
  return status();
}

platform::AsyncStatus FakeDeploymentOperation::status() {
  if (cancelled_) return platform::AsyncStatus::canceled;
  if (!finished_) return platform::AsyncStatus::started;
  return script_.status;
}

uint32_t FakeDeploymentOperation::error_code() {
  if (cancelled_) return platform::hresult::cancelled;
  return script_.error_code;
}

platform::DeploymentResult FakeDeploymentOperation::get_results() {
  if (cancelled_) throw platform::cancelled_error();
  return platform::DeploymentResult{script_.error_text, script_.extended_error_code,
                                    script_.is_registered};
}

void FakeDeploymentOperation::cancel() {
  ++cancel_calls_;
  if (!finished_) cancelled_ = true;
}

std::string FakePackageManager::get_default_package_volume() {
  std::lock_guard lock(mutex_);
  ++volume_lookups;
  return volume;
}

std::shared_ptr<platform::DeploymentOperation> FakePackageManager::start(
    std::deque<ScriptedDeployment>& script, const char* what) {
  if (script.empty()) {
    throw platform::PlatformError(platform::hresult::fail,
                                  std::string("No scripted ") + what + " left.");
  }
  auto operation = std::make_shared<FakeDeploymentOperation>(std::move(script.front()));
  script.pop_front();
  operations.push_back(operation);
  return operation;
}

std::shared_ptr<platform::DeploymentOperation>
FakePackageManager::add_package_by_app_installer_file(const std::string& uri, uint32_t options,
                                                      const std::string& volume_name) {
  std::lock_guard lock(mutex_);
  add_calls.push_back({uri, options, volume_name});
  return start(additions, "deployment");
}

std::shared_ptr<platform::DeploymentOperation> FakePackageManager::remove_package(
    const std::string& full_name) {
  std::lock_guard lock(mutex_);
  remove_calls.push_back(full_name);
  return start(removals, "removal");
}

}  // namespace pellora::testing
