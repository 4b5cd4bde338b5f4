#pragma once
// The package deployment service (PackageManager) and the operation shape it returns: the
// installer's service, which the Windows backend maps onto the Runtime and the stand-in
// implements.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/cancellable.h"

namespace pellora::platform {

enum class AsyncStatus : int32_t { started = 0, completed = 1, canceled = 2, error = 3 };
enum class DeploymentProgressState : int32_t { queued = 0, processing = 1, completed = 2 };

struct DeploymentProgress {
  DeploymentProgressState state = DeploymentProgressState::queued;
  uint32_t percentage = 0;
};

struct DeploymentResult {
  std::string error_text;
  int32_t extended_error_code = 0;
  bool is_registered = false;
};

// IAsyncOperationWithProgress<DeploymentResult, DeploymentProgress>.
class DeploymentOperation : public Cancellable {
 public:
  // Progress reports arrive on a thread of the service's choosing.
  virtual void set_progress_handler(std::function<void(const DeploymentProgress&)> handler) = 0;
  // Blocks until the operation has completed; returns its final status.
  virtual AsyncStatus wait() = 0;
  virtual AsyncStatus status() = 0;
  // IAsyncInfo::ErrorCode: 0 unless the status is error.
  virtual uint32_t error_code() = 0;
  // GetResults: also available when the status is error.
  virtual DeploymentResult get_results() = 0;
  void cancel() override = 0;
};

inline constexpr uint32_t add_option_force_target_app_shutdown = 64;

class PackageManager {
 public:
  virtual ~PackageManager() = default;
  virtual std::string get_default_package_volume() = 0;
  // AddPackageByAppInstallerFileAsync(uri, options, volume).
  virtual std::shared_ptr<DeploymentOperation> add_package_by_app_installer_file(
      const std::string& uri, uint32_t options, const std::string& volume) = 0;
  // RemovePackageAsync(full name).
  virtual std::shared_ptr<DeploymentOperation> remove_package(const std::string& full_name) = 0;
};

}  // namespace pellora::platform
