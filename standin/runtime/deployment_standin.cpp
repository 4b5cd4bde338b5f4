// PackageManager as a scripted test double or over the stand-in store. Each deployment call of
// a process (add or remove) takes the next line of deployments.txt, whose words say how it goes:
//   success | error=HRESULT | wait    the outcome; wait: until IAsyncInfo::Cancel
//   store                             done for real in the store (store_standin.cpp)
//   progress=Q0,P10,P55               the reports, state letter (Queued, Processing) and percent
//   step-ms=N                         the pause before each report (250)
//   fetch                             GET the URI with WinHTTP first, as the service would
//   text=...                          the result's ErrorText: the rest of the line
// Lines that are empty or start with "#" are skipped; a call without a line fails with E_FAIL.
// Without deployments.txt every call goes to the store.
// Every call is recorded in record.txt with the milliseconds since boot:
//   add MS uri=URI options=0xHEX volume=NAME | remove MS name=FULL-NAME | cancel MS |
//   fetched STATUS BYTES | fetch failed ERROR

#include "common/windows_runtime/deployment.h"
// This needs windows.h first.
#include <winhttp.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "common/windows/wide_text.h"
#include "standin/runtime/standin_runtime.h"

namespace standin::runtime {
namespace {

std::wstring now() { return std::to_wstring(GetTickCount64()); }

std::wstring hex(HRESULT code) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(code));
  return text;
}

struct Plan {
  enum class Outcome { success, error, wait, store } outcome = Outcome::success;
  HRESULT code = S_OK;
  std::vector<DeploymentProgress> steps;
  DWORD step_ms = 250;
  bool fetch = false;
  std::optional<std::wstring> text;
};

// Nullopt without deployments.txt.
std::optional<std::vector<std::wstring>> script_lines() {
  std::vector<std::wstring> lines;
  FILE* file = _wfopen((own_folder() + L"deployments.txt").c_str(), L"rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    bytes.append(buffer, read);
  }
  std::fclose(file);
  std::wistringstream stream(pellora::platform::windows::to_utf16(bytes));
  for (std::wstring line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty() && line[0] != L'#') lines.push_back(line);
  }
  return lines;
}

Plan parse(const std::wstring& line) {
  Plan plan;
  std::wistringstream words(line);
  for (std::wstring word; words >> word;) {
    if (word == L"success") {
      plan.outcome = Plan::Outcome::success;
    } else if (word == L"wait") {
      plan.outcome = Plan::Outcome::wait;
    } else if (word == L"store") {
      plan.outcome = Plan::Outcome::store;
    } else if (word.rfind(L"error=", 0) == 0) {
      plan.outcome = Plan::Outcome::error;
      plan.code = static_cast<HRESULT>(std::wcstoul(word.c_str() + 6, nullptr, 16));
    } else if (word.rfind(L"step-ms=", 0) == 0) {
      plan.step_ms = std::wcstoul(word.c_str() + 8, nullptr, 10);
    } else if (word == L"fetch") {
      plan.fetch = true;
    } else if (word.rfind(L"progress=", 0) == 0) {
      std::wistringstream steps(word.substr(9));
      for (std::wstring step; std::getline(steps, step, L',');) {
        const auto state =
            step[0] == L'P' ? DeploymentProgressState::processing : DeploymentProgressState::queued;
        plan.steps.push_back(
            {state, static_cast<UINT32>(std::wcstoul(step.c_str() + 1, nullptr, 10))});
      }
    } else if (word.rfind(L"text=", 0) == 0) {
      std::wstring rest;
      std::getline(words, rest);
      plan.text = word.substr(5) + rest;
    }
  }
  return plan;
}

// Calls of one process take the lines in order.
Plan next_plan() {
  static std::atomic<size_t> calls{0};
  const size_t call = calls++;
  const std::optional<std::vector<std::wstring>> lines = script_lines();
  Plan plan;
  if (!lines) {
    plan.outcome = Plan::Outcome::store;
    return plan;
  }
  if (call < lines->size()) return parse((*lines)[call]);
  plan.outcome = Plan::Outcome::error;
  plan.code = E_FAIL;
  plan.text = L"error 0x80004005: deployments.txt of the stand-in Runtime has no line for call " +
              std::to_wstring(call + 1);
  return plan;
}

using Internet = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;

void fetch(const std::wstring& uri) {
  wchar_t host[256] = L"";
  wchar_t path[2048] = L"";
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(uri.c_str(), 0, 0, &parts)) {
    record(L"fetch failed " + std::to_wstring(GetLastError()));
    return;
  }
  const Internet session(
      WinHttpOpen(L"standin-runtime", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0),
      WinHttpCloseHandle);
  const Internet connection(WinHttpConnect(session.get(), host, parts.nPort, 0),
                            WinHttpCloseHandle);
  const Internet request(
      WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, nullptr, nullptr,
                         parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0),
      WinHttpCloseHandle);
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!request || !WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr) ||
      !WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           nullptr, &status, &size, nullptr)) {
    record(L"fetch failed " + std::to_wstring(GetLastError()));
    return;
  }
  unsigned long long total = 0;
  char buffer[8192];
  for (DWORD read = 0; WinHttpReadData(request.get(), buffer, sizeof buffer, &read) && read > 0;) {
    total += read;
  }
  record(L"fetched " + std::to_wstring(status) + L" " + std::to_wstring(total));
}

class Result final : public ImplementsInspectable<IDeploymentResult, IDeploymentResult2> {
 public:
  Result(std::wstring text, HRESULT code, bool registered)
      : text_(std::move(text)), code_(code), registered_(registered) {}
  HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* value) override {
    return WindowsCreateString(text_.data(), static_cast<UINT32>(text_.size()), value);
  }
  HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* value) override {
    *value = GUID{};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* value) override {
    *value = code_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsRegistered(boolean* value) override {
    *value = registered_ ? 1 : 0;
    return S_OK;
  }

 private:
  const std::wstring text_;
  const HRESULT code_;
  const bool registered_;
};

constexpr HRESULT illegal_method_call = static_cast<HRESULT>(0x8000000E);
constexpr HRESULT illegal_delegate_assignment = static_cast<HRESULT>(0x80000018);

// Runs its plan on a thread of its own; handlers are called without the lock held, since they
// may wait on the window's thread, which may be calling Cancel.
class Operation final : public ImplementsInspectable<IDeploymentOperation, IAsyncInfo> {
 public:
  // `target`: the URI of an add, the full name of a removal.
  Operation(Plan plan, std::wstring target, bool adds)
      : plan_(std::move(plan)), target_(std::move(target)), adds_(adds) {}

  static ComPtr<Operation> start(Plan plan, std::wstring target, bool adds) {
    ComPtr<Operation> operation = make<Operation>(std::move(plan), std::move(target), adds);
    std::thread([operation] { operation->run(); }).detach();
    return operation;
  }

  HRESULT STDMETHODCALLTYPE put_Progress(IDeploymentProgressHandler* handler) override {
    const std::lock_guard lock(mutex_);
    progress_ = ComPtr<IDeploymentProgressHandler>::share(handler);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Progress(IDeploymentProgressHandler** handler) override {
    const std::lock_guard lock(mutex_);
    *handler = ComPtr<IDeploymentProgressHandler>(progress_).release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Completed(IDeploymentCompletedHandler* handler) override {
    AsyncStatus status;
    {
      const std::lock_guard lock(mutex_);
      if (completed_) return illegal_delegate_assignment;
      completed_ = ComPtr<IDeploymentCompletedHandler>::share(handler);
      status = status_;
    }
    // As the Runtime does: an operation that has already ended calls its handler at once.
    if (status != AsyncStatus::started) handler->Invoke(this, status);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IDeploymentCompletedHandler** handler) override {
    const std::lock_guard lock(mutex_);
    *handler = ComPtr<IDeploymentCompletedHandler>(completed_).release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(IDeploymentResult** results) override {
    const std::lock_guard lock(mutex_);
    *results = nullptr;
    if (status_ != AsyncStatus::completed && status_ != AsyncStatus::error) {
      return illegal_method_call;
    }
    *results = ComPtr<Result>(result_).release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Id(UINT32* value) override {
    *value = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
    const std::lock_guard lock(mutex_);
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
    const std::lock_guard lock(mutex_);
    *code = error_code_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    record(L"cancel " + now());
    {
      const std::lock_guard lock(mutex_);
      if (status_ != AsyncStatus::started) return illegal_method_call;
      cancel_requested_ = true;
    }
    cancelled_.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

 private:
  // False when a cancel came first.
  bool pause(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    return !cancelled_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return cancel_requested_; });
  }

  void report(const DeploymentProgress& step) {
    ComPtr<IDeploymentProgressHandler> handler;
    {
      const std::lock_guard lock(mutex_);
      handler = progress_;
    }
    if (handler) handler->Invoke(this, step);
  }

  void run() {
    if (plan_.outcome == Plan::Outcome::store) {
      const StoreOutcome outcome = store_deployment(
          adds_, target_, [this](const DeploymentProgress& step) { report(step); },
          [this] {
            const std::lock_guard lock(mutex_);
            return cancel_requested_;
          });
      // The store decides whether a cancel came in time.
      return finish(outcome.status, outcome.error,
                    outcome.status == AsyncStatus::canceled
                        ? ComPtr<Result>()
                        : make<Result>(outcome.text, outcome.code, outcome.registered),
                    false);
    }
    for (const DeploymentProgress& step : plan_.steps) {
      if (!pause(plan_.step_ms)) return finish(AsyncStatus::canceled, S_OK, {});
      report(step);
    }
    if (plan_.fetch) fetch(target_);
    switch (plan_.outcome) {
      case Plan::Outcome::success:
        return finish(AsyncStatus::completed, S_OK, make<Result>(L"", S_OK, adds_));
      case Plan::Outcome::error:
        return finish(AsyncStatus::error, plan_.code,
                      make<Result>(plan_.text.value_or(L"error " + hex(plan_.code) +
                                                       L": the stand-in Runtime's failure"),
                                   plan_.code, false));
      case Plan::Outcome::wait:
      case Plan::Outcome::store:
        pause(INFINITE);
        return finish(AsyncStatus::canceled, S_OK, {});
    }
  }

  void finish(AsyncStatus status, HRESULT code, ComPtr<Result> result, bool cancel_wins = true) {
    ComPtr<IDeploymentCompletedHandler> handler;
    {
      const std::lock_guard lock(mutex_);
      if (cancel_wins && cancel_requested_) status = AsyncStatus::canceled;
      status_ = status;
      error_code_ = code;
      result_ = std::move(result);
      handler = completed_;
    }
    if (handler) handler->Invoke(this, status);
  }

  const Plan plan_;
  const std::wstring target_;
  const bool adds_;
  std::mutex mutex_;
  std::condition_variable cancelled_;
  bool cancel_requested_ = false;
  AsyncStatus status_ = AsyncStatus::started;
  HRESULT error_code_ = S_OK;
  ComPtr<Result> result_;
  ComPtr<IDeploymentProgressHandler> progress_;
  ComPtr<IDeploymentCompletedHandler> completed_;
};

class Volume final : public ImplementsInspectable<IPackageVolume> {
 public:
  HRESULT STDMETHODCALLTYPE get_IsOffline() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsSystemVolume() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MountPoint() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) override {
    return WindowsCreateString(name, static_cast<UINT32>(wcslen(name)), value);
  }
  static constexpr const wchar_t* name = L"StandInDefaultVolume";
};

class PackageManager final
    : public ImplementsInspectable<IPackageManager, IPackageManager3, IPackageManager6> {
 public:
  HRESULT STDMETHODCALLTYPE AddPackageAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UpdatePackageAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING full_name,
                                               IDeploymentOperation** operation) override {
    UINT32 length = 0;
    const wchar_t* name = WindowsGetStringRawBuffer(full_name, &length);
    record(L"remove " + now() + L" name=" + std::wstring(name, length));
    *operation = Operation::start(next_plan(), std::wstring(name, length), false).release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddPackageVolumeAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddPackageToVolumeAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearPackageStatus() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterPackageWithAppDataVolumeAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPackageVolumeByName() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPackageVolumes() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDefaultPackageVolume(IPackageVolume** volume) override {
    *volume = make<Volume>().release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ProvisionPackageForAllUsersAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  AddPackageByAppInstallerFileAsync(IUriRuntimeClass* uri, UINT32 options, IPackageVolume* volume,
                                    IDeploymentOperation** operation) override {
    HString volume_name;
    if (volume == nullptr || FAILED(volume->get_Name(volume_name.put()))) volume_name.reset();
    wchar_t options_text[16];
    std::swprintf(options_text, 16, L"0x%X", options);
    const std::wstring text = uri_text(uri);
    record(L"add " + now() + L" uri=" + text + L" options=" + options_text + L" volume=" +
           (volume != nullptr ? std::wstring(volume_name.view()) : L"(none)"));
    *operation = Operation::start(next_plan(), text, true).release();
    return S_OK;
  }
};

class PackageManagerFactory final : public ImplementsInspectable<IActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = static_cast<IPackageManager*>(make<PackageManager>().release());
    return S_OK;
  }
};

}  // namespace

ComPtr<IActivationFactory> package_manager_factory() {
  return ComPtr<IActivationFactory>::attach(make<PackageManagerFactory>().release());
}

}  // namespace standin::runtime
