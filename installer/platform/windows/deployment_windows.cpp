// Package deployment through the Windows Runtime's PackageManager, called through the ABI
// declared in runtime/. The core waits on a worker thread; the operation's completion handler
// signals an event that the wait blocks on, so no thread of the Runtime's is ever held.

#include <functional>
#include <memory>
#include <mutex>

#include "common/windows_runtime/deployment.h"
#include "installer/platform/windows/runtime_windows.h"
#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

using runtime::ComPtr;

// Runs on a thread of the Runtime's choosing, as the core's handler allows.
class ProgressHandler final : public runtime::Implements<runtime::IDeploymentProgressHandler> {
 public:
  explicit ProgressHandler(std::function<void(const DeploymentProgress&)> handler)
      : handler_(std::move(handler)) {}

  HRESULT STDMETHODCALLTYPE Invoke(runtime::IDeploymentOperation*,
                                   runtime::DeploymentProgress progress) override {
    try {
      handler_(DeploymentProgress{static_cast<DeploymentProgressState>(progress.state),
                                  progress.percentage});
    } catch (...) {
      // Nothing may cross the ABI; a progress report is not worth failing the deployment for.
    }
    return S_OK;
  }

 private:
  const std::function<void(const DeploymentProgress&)> handler_;
};

// The event outlives the operation's owner: the Runtime may release the handler later.
class CompletedHandler final : public runtime::Implements<runtime::IDeploymentCompletedHandler> {
 public:
  explicit CompletedHandler(std::shared_ptr<Handle> completed) : completed_(std::move(completed)) {}

  HRESULT STDMETHODCALLTYPE Invoke(runtime::IDeploymentOperation*, runtime::AsyncStatus) override {
    SetEvent(completed_->get());
    return S_OK;
  }

 private:
  const std::shared_ptr<Handle> completed_;
};

class RuntimeDeploymentOperation final : public DeploymentOperation {
 public:
  explicit RuntimeDeploymentOperation(ComPtr<runtime::IDeploymentOperation> operation)
      : operation_(std::move(operation)),
        info_(query<runtime::IAsyncInfo>(operation_)),
        completed_(std::make_shared<Handle>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (!*completed_) raise_last_error();
    // An operation that has already completed calls the handler at once.
    check(operation_->put_Completed(runtime::make<CompletedHandler>(completed_).get()));
  }

  void set_progress_handler(std::function<void(const DeploymentProgress&)> handler) override {
    check(operation_->put_Progress(runtime::make<ProgressHandler>(std::move(handler)).get()));
  }

  AsyncStatus wait() override {
    if (WaitForSingleObject(completed_->get(), INFINITE) != WAIT_OBJECT_0) raise_last_error();
    return status();
  }

  AsyncStatus status() override {
    runtime::AsyncStatus status = runtime::AsyncStatus::started;
    check(info_->get_Status(&status));
    return static_cast<AsyncStatus>(status);
  }

  uint32_t error_code() override {
    HRESULT code = S_OK;
    check(info_->get_ErrorCode(&code));
    return static_cast<uint32_t>(code);
  }

  DeploymentResult get_results() override {
    ComPtr<runtime::IDeploymentResult> result;
    check(operation_->GetResults(result.put()));
    DeploymentResult out;
    runtime::HString text;
    check(result->get_ErrorText(text.put()));
    out.error_text = to_utf8(text);
    HRESULT extended = S_OK;
    check(result->get_ExtendedErrorCode(&extended));
    out.extended_error_code = static_cast<int32_t>(extended);
    boolean registered = 0;
    check(query<runtime::IDeploymentResult2>(result)->get_IsRegistered(&registered));
    out.is_registered = registered != 0;
    return out;
  }

  // From the window's thread. An operation that has completed meanwhile refuses the cancel;
  // that is no failure of the cancel.
  void cancel() override { info_->Cancel(); }

 private:
  const ComPtr<runtime::IDeploymentOperation> operation_;
  const ComPtr<runtime::IAsyncInfo> info_;
  const std::shared_ptr<Handle> completed_;
};

// One Runtime PackageManager for the process, activated at first use: it is agile and keeps no
// state between calls. The core names volumes by text; the last default volume fetched is kept
// so that the volume itself, not a lookup by name, goes back to the deployment.
class RuntimePackageManager final : public PackageManager {
 public:
  std::string get_default_package_volume() override {
    std::lock_guard lock(mutex_);
    ComPtr<runtime::IPackageVolume> volume;
    check(query<runtime::IPackageManager3>(manager())->GetDefaultPackageVolume(volume.put()));
    runtime::HString name;
    check(volume->get_Name(name.put()));
    default_volume_ = volume;
    default_volume_name_ = to_utf8(name);
    return default_volume_name_;
  }

  std::shared_ptr<DeploymentOperation> add_package_by_app_installer_file(
      const std::string& uri, uint32_t options, const std::string& volume) override {
    std::lock_guard lock(mutex_);
    if (!default_volume_ || volume != default_volume_name_) {
      throw PlatformError(hresult::invalid_arg,
                          "The package volume \"" + volume + "\" is not the default volume.");
    }
    ComPtr<runtime::IUriRuntimeClass> uri_object;
    check(activation_factory<runtime::IUriRuntimeClassFactory>(runtime::uri_class)
              ->CreateUri(to_hstring(uri).get(), uri_object.put()));
    ComPtr<runtime::IDeploymentOperation> operation;
    check(query<runtime::IPackageManager6>(manager())->AddPackageByAppInstallerFileAsync(
        uri_object.get(), options, default_volume_.get(), operation.put()));
    return std::make_shared<RuntimeDeploymentOperation>(std::move(operation));
  }

  std::shared_ptr<DeploymentOperation> remove_package(const std::string& full_name) override {
    std::lock_guard lock(mutex_);
    ComPtr<runtime::IDeploymentOperation> operation;
    check(manager()->RemovePackageAsync(to_hstring(full_name).get(), operation.put()));
    return std::make_shared<RuntimeDeploymentOperation>(std::move(operation));
  }

 private:
  const ComPtr<runtime::IPackageManager>& manager() {
    if (!manager_) {
      ComPtr<IInspectable> instance;
      check(activation_factory<runtime::IActivationFactory>(runtime::package_manager_class)
                ->ActivateInstance(instance.put()));
      manager_ = query<runtime::IPackageManager>(instance);
    }
    return manager_;
  }

  std::mutex mutex_;
  ComPtr<runtime::IPackageManager> manager_;
  ComPtr<runtime::IPackageVolume> default_volume_;
  std::string default_volume_name_;
};

}  // namespace

PackageManager* package_manager() {
  static RuntimePackageManager instance;
  return &instance;
}

}  // namespace pellora::platform::windows
