#include "installer/deploy/uninstall.h"

#include <memory>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/platform/services.h"

namespace pellora {

bool uninstall() {
  const std::shared_ptr<platform::DeploymentOperation> operation =
      platform::services().packages->remove_package(burned_in_settings.package_full_name);
  // Cancel stays disabled throughout; only closing the window cancels a removal.
  enable_cancel(false);
  set_status("Removing old package, please wait");
  progress_determinate();
  show_progress_window();  // without waiting for the show timer
  operation->set_progress_handler(
      [](const platform::DeploymentProgress& progress) { set_progress(progress.percentage); });

  platform::AsyncStatus status;
  platform::DeploymentResult result;
  {
    const CurrentOperationRegistration registration(operation);
    status = operation->wait();
    if (status == platform::AsyncStatus::canceled) throw platform::cancelled_error();
    result = operation->get_results();
  }
  if (status == platform::AsyncStatus::error) {
    report_error("Failed to uninstall due to error: " + result.error_text);
  }
  return status == platform::AsyncStatus::completed;
}

}  // namespace pellora
