#include "installer/deploy/install.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/process_launch.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/core/uri.h"
#include "installer/deploy/certificate.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {

// Busy and certificate retries draw on the same budget, so a site whose certificate never
// makes the package trusted cannot keep the user waiting forever.
constexpr int32_t max_install_attempts = 5;
constexpr uint32_t busy_retry_pause_ms = 1000;

// ERROR_INSTALL_PACKAGE_DOWNGRADE, whatever facility the service wraps it in.
constexpr uint32_t downgrade_low_bits = 0x3D06;
constexpr const char* untrusted_root_text_prefix = "error 0x800B0109";

constexpr const char* range_request_message =
    "The web server doesn't support HTTP range requests. Please see "
    "https://docs.trevalon.dev/redir/http-range-requests to learn more.";
constexpr const char* no_permission_message =
    "You do not have permission to install this package. Talk to your system administrator.";

// Cleared before each attempt; the first Processing report of that attempt switches the bar.
std::atomic<bool> progress_switched{false};

// Runs on a thread of the deployment service's choosing.
void on_install_progress(const platform::DeploymentProgress& progress) {
  if (progress.state == platform::DeploymentProgressState::processing &&
      !progress_switched.exchange(true)) {
    // Only now can the deployment be cancelled meaningfully.
    progress_determinate();
    enable_cancel(true);
    set_status("Downloading, please wait");
  }
  set_progress(progress.percentage);
}

std::string result_line(platform::AsyncStatus status, uint32_t error_code,
                        const platform::DeploymentResult& result) {
  return "Result: op.status: " + std::to_string(static_cast<int32_t>(status)) +
         " op.error: " + std::to_string(static_cast<int32_t>(error_code)) +
         " code=" + std::to_string(result.extended_error_code) +
         ", IsRegistered=" + (result.is_registered ? "1" : "0") + "\n";
}

}  // namespace

InstallOutcome do_install() {
  const std::string uri_text =
      burned_in_settings.site_base_url + burned_in_settings.appinstaller_file_name;
  log_line("URI: " + uri_text + "\n");
  platform::PackageManager& packages = *platform::services().packages;
  const Uri uri(uri_text);
  int32_t install_attempts = max_install_attempts;

  for (;;) {
    // Cancel pressed while nothing could be cancelled (the busy pause, the certificate step).
    if (cancel_requested) throw platform::cancelled_error();
    log_line(std::to_string(install_attempts) + " attempts remaining.\n\n");

    const std::string volume = packages.get_default_package_volume();
    const std::shared_ptr<platform::DeploymentOperation> operation =
        packages.add_package_by_app_installer_file(
            uri.to_string(), platform::add_option_force_target_app_shutdown, volume);
    enable_cancel(false);
    progress_marquee();
    progress_switched = false;
    operation->set_progress_handler(on_install_progress);

    platform::AsyncStatus status;
    platform::DeploymentResult result;
    {
      const CurrentOperationRegistration registration(operation);
      log_line("Waiting ...\n");
      set_status("Installing, please wait");
      status = operation->wait();
      if (status == platform::AsyncStatus::canceled) throw platform::cancelled_error();
      result = operation->get_results();
    }
    const uint32_t error_code = operation->error_code();
    log_line(result_line(status, error_code, result));

    const uint32_t extended_code = static_cast<uint32_t>(result.extended_error_code);
    if (status == platform::AsyncStatus::completed && extended_code == 0 && result.is_registered) {
      return InstallOutcome::installed;
    }
    if (error_code == platform::hresult::access_denied) {
      hide_progress_window();
      request_install_permission();
      return InstallOutcome::handed_to_elevated_copy;
    }
    if ((extended_code & 0xFFFF) == downgrade_low_bits) {
      log_line("Ignoring version downgrade, launching the app.\n");
      return InstallOutcome::installed;
    }
    if (extended_code == platform::hresult::busy_snapshot && install_attempts > 1) {
      log_line("SQLITE busy, retrying.\n");
      set_status("System is busy, retrying");
      enable_cancel(true);
      platform::services().system->sleep_ms(busy_retry_pause_ms);
      --install_attempts;
      continue;
    }
    if (extended_code == platform::hresult::untrusted_root ||
        result.error_text.starts_with(untrusted_root_text_prefix)) {
      if (install_attempts > 1 && !burned_in_settings.certificate_file_name.empty()) {
        set_status("Installing certificate, please wait");
        // A failed certificate step has already been reported.
        if (!install_certificate()) return InstallOutcome::not_installed;
        --install_attempts;
        continue;
      }
    }
    if (extended_code == platform::hresult::insufficient_range_support) {
      report_error(range_request_message);
    }
    report_error("Failed to install " + uri.to_string() + " due to error: " + result.error_text);
  }
}

void request_install_permission() {
  // Elevating a user who is no administrator would only show a prompt they cannot answer.
  if (!platform::services().system->current_user_is_admin()) {
    report_error(no_permission_message);
  }
  const std::string own_path = platform::services().system->module_file_name();
  if (own_path.empty()) {
    report_error("GetModuleFileName failed with error: " + last_error_text());
  }
  // The elevated instance repeats this run mode with the same arguments.
  launch_process(own_path, with_update_mode_argument(update_mode, forwarded_args), true);
}

}  // namespace pellora
