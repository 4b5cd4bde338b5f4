#include "installer/core/progress_window.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/platform/services.h"

namespace pellora {

std::atomic<bool> cancel_requested{false};

namespace {

using Clock = std::chrono::steady_clock;

struct Window {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  // The thread that created the window: the only one that draws it or shows a box. None before
  // the window exists (unit tests of other parts), when requests run on the caller.
  std::optional<std::thread::id> window_thread;
  std::optional<ExitCode> quit_code;
  bool timer_armed = false;
  Clock::time_point timer_deadline;
  WindowClock now = Clock::now;
  platform::WindowView view;
  platform::Cursor cursor = platform::Cursor::busy;
  std::optional<platform::Cursor> cursor_to_set;
  bool dirty = false;
  bool flow_running = false;

  std::mutex operation_mutex;
  std::shared_ptr<platform::Cancellable> current_operation;
};

Window& window() {
  static Window instance;
  return instance;
}

platform::WindowSurface* surface() { return platform::services().window; }

// Ends the window thread's wait: the surface's, where the OS's messages are handled.
void wake_window_thread() {
  window().wake.notify_all();
  if (platform::WindowSurface* s = surface()) s->wake();
}

// Draws what changed. Window thread only.
void flush_view() {
  Window& w = window();
  platform::WindowView view;
  std::optional<platform::Cursor> cursor;
  {
    std::lock_guard lock(w.mutex);
    if (!w.dirty && !w.cursor_to_set) return;
    w.dirty = false;
    view = w.view;
    cursor = w.cursor_to_set;
    w.cursor_to_set.reset();
  }
  if (platform::WindowSurface* s = surface()) {
    if (cursor) s->set_cursor(*cursor);
    s->render(view);
  }
}

bool on_window_thread_locked(const Window& w) {
  return !w.window_thread || *w.window_thread == std::this_thread::get_id();
}

bool on_window_thread() {
  Window& w = window();
  std::lock_guard lock(w.mutex);
  return on_window_thread_locked(w);
}

// Changes the view under the lock and has it drawn on the window's thread: at once when called
// there, otherwise by its loop (which, before it starts, draws what changed meanwhile).
void update_view(const std::function<void(Window&)>& change) {
  Window& w = window();
  bool inline_draw;
  {
    std::lock_guard lock(w.mutex);
    change(w);
    w.dirty = true;
    inline_draw = on_window_thread_locked(w);
  }
  if (inline_draw) {
    flush_view();
  } else {
    wake_window_thread();
  }
}

// Runs `task` on the window's thread and waits for it, as SendMessageW does. A task sent before
// the loop runs waits for it. What the task throws is thrown here, on the sender's thread (where
// the process ends in tests, whose exit throws).
void send_to_window(std::function<void()> task) {
  if (on_window_thread()) {
    task();
    return;
  }
  Window& w = window();
  std::mutex done_mutex;
  std::condition_variable done_signal;
  bool done = false;
  std::exception_ptr failure;
  {
    std::lock_guard lock(w.mutex);
    w.tasks.emplace_back([&] {
      std::exception_ptr thrown;
      try {
        task();
      } catch (...) {
        thrown = std::current_exception();
      }
      // Handed over whole: the exception is then freed by the waiting thread alone.
      std::lock_guard done_lock(done_mutex);
      failure = std::move(thrown);
      done = true;
      done_signal.notify_all();
    });
  }
  wake_window_thread();
  std::unique_lock done_lock(done_mutex);
  done_signal.wait(done_lock, [&] { return done; });
  if (failure) std::rethrow_exception(failure);
}

// Queues `task` for the window's thread without waiting, as PostMessageW does.
void post_to_window(std::function<void()> task) {
  if (on_window_thread()) {
    task();
    return;
  }
  Window& w = window();
  {
    std::lock_guard lock(w.mutex);
    w.tasks.push_back(std::move(task));
  }
  wake_window_thread();
}

void kill_timer_locked(Window& w) { w.timer_armed = false; }

// The window thread's wait for something to do; the surface handles its OS's messages meanwhile.
void wait_for_work(std::optional<Clock::time_point> deadline) {
  if (platform::WindowSurface* s = surface()) {
    s->wait(deadline);
    return;
  }
  Window& w = window();
  std::unique_lock lock(w.mutex);
  auto ready = [&] { return w.quit_code || !w.tasks.empty() || w.dirty || w.cursor_to_set; };
  if (deadline) {
    w.wake.wait_until(lock, *deadline, ready);
  } else {
    w.wake.wait(lock, ready);
  }
}

void cancel_current_operation() {
  Window& w = window();
  std::shared_ptr<platform::Cancellable> operation;
  {
    std::lock_guard lock(w.operation_mutex);
    operation = w.current_operation;
  }
  if (!operation) return;
  try {
    operation->cancel();
  } catch (const std::exception& error) {
    log_line(std::string("Cancel failed: ") + error.what() + "\n");
  }
}

void quit(ExitCode code) {
  Window& w = window();
  {
    std::lock_guard lock(w.mutex);
    w.quit_code = code;
  }
  wake_window_thread();
}

void handle_event(platform::WindowEvent event) {
  if (event == platform::WindowEvent::dpi_changed) {
    if (platform::WindowSurface* s = surface())
      log_line("New DPI: " + std::to_string(s->dpi()) + "\n");
    return;
  }
  if (event == platform::WindowEvent::cancel) {
    // A disabled Cancel button ignores both the click and Esc.
    if (!progress_window_view().cancel_enabled) return;
    cancel_current_operation();
    cancel_requested = true;
    return;
  }
  cancel_current_operation();
  bool flow_running;
  {
    Window& w = window();
    std::lock_guard lock(w.mutex);
    kill_timer_locked(w);
    flow_running = w.flow_running;
  }
  if (flow_running) end_cancelled();
  quit(ExitCode::success);
}

}  // namespace

void create_progress_window(WindowClock clock) {
  Window& w = window();
  {
    std::lock_guard lock(w.mutex);
    w.view = platform::WindowView{};
    w.view.title = "Checking for updates, please wait";
    w.now = std::move(clock);
    w.timer_armed = true;
    w.timer_deadline = w.now() + std::chrono::milliseconds(show_timer_ms);
    w.cursor = platform::Cursor::busy;
    w.cursor_to_set = platform::Cursor::busy;
    w.dirty = true;
    w.window_thread = std::this_thread::get_id();
  }
  if (platform::WindowSurface* s = surface()) {
    platform::WindowCallbacks callbacks;
    callbacks.on_event = on_window_event;
    callbacks.banner_index_for_dpi = banner_index_for_dpi;
    callbacks.banner_x = banner_x;
    callbacks.banner_y = banner_y;
    callbacks.log = log_line;
    if (!s->start(std::move(callbacks))) {
      report_error("The progress window could not be created: " + last_error_text());
    }
  }
  flush_view();
}

ExitCode run_message_loop() {
  Window& w = window();
  for (;;) {
    std::deque<std::function<void()>> tasks;
    bool timer_fired = false;
    bool idle = false;
    std::optional<Clock::time_point> deadline;
    {
      std::lock_guard lock(w.mutex);
      if (w.quit_code) return *w.quit_code;
      if (w.timer_armed && w.now() >= w.timer_deadline) {
        kill_timer_locked(w);
        timer_fired = true;
        w.view.visible = true;
        w.cursor_to_set = platform::Cursor::arrow;
        w.dirty = true;
      }
      tasks.swap(w.tasks);
      idle = !timer_fired && tasks.empty() && !w.dirty && !w.cursor_to_set;
      if (w.timer_armed) deadline = w.timer_deadline;
    }
    if (idle) {
      // A request made after this check wakes the wait at once.
      wait_for_work(deadline);
      continue;
    }
    if (timer_fired) log_line("Timer expired, showing UI.");
    for (auto& task : tasks) task();
    flush_view();
  }
}

void set_flow_running(bool running) {
  Window& w = window();
  std::lock_guard lock(w.mutex);
  w.flow_running = running;
}

void set_status(const std::string& text) {
  update_view([&](Window& w) { w.view.title = text; });
}

void hide_progress_window() {
  update_view([](Window& w) {
    kill_timer_locked(w);
    w.cursor_to_set = platform::Cursor::arrow;
    w.view.visible = false;
  });
}

void show_progress_window() {
  update_view([](Window& w) { w.view.visible = true; });
}

void enable_cancel(bool enabled) {
  update_view([&](Window& w) { w.view.cancel_enabled = enabled; });
}

void progress_marquee() {
  update_view([](Window& w) { w.view.marquee = true; });
}

void progress_determinate() {
  update_view([](Window& w) { w.view.marquee = false; });
}

void set_progress(uint32_t percent) {
  update_view([&](Window& w) { w.view.position = percent; });
}

std::string error_box_text(const std::string& error_text, bool copied_to_clipboard,
                           const std::string& log_path) {
  std::string text = "A problem was encountered during installation.";
  if (copied_to_clipboard) text += " The following error message was copied to your clipboard:";
  text += "\n\n";
  text += error_text;
  if (!log_path.empty()) {
    // Support needs the whole story; the debugger output is gone when nobody was watching.
    text += text.back() == '\n' ? "\n" : "\n\n";
    text += "Log file: " + log_path;
  }
  return text;
}

bool copy_to_clipboard(const std::string& text) {
  try {
    platform::services().clipboard->set_text_and_flush(text);
    return true;
  } catch (const platform::PlatformError& error) {
    log_line("Failed to copy to clipboard due to error: [" + hex(error.code()) + "] " +
             error.message() + "\n");
    return false;
  }
}

namespace {
std::mutex postscript_mutex;
std::string postscript;
}  // namespace

void set_error_postscript(const std::string& text) {
  std::lock_guard lock(postscript_mutex);
  postscript = text;
}

void report_error(const std::string& error_text) {
  std::string text = error_text;
  {
    std::lock_guard lock(postscript_mutex);
    if (!postscript.empty()) {
      if (!text.empty() && text.back() != '\n' && text.back() != ' ') text += ' ';
      text += postscript;
    }
  }
  set_status("Installation failed");
  send_to_window([&] {
    update_view([](Window& w) {
      w.view.error_state = true;
      kill_timer_locked(w);
    });
    flush_view();
    log_line(text);
    const bool copied = copy_to_clipboard(text);
    if (platform::WindowSurface* s = surface())
      s->message_box(error_box_text(text, copied, log_file_path()), "Error");
    end_process(ExitCode::failed);
  });
  end_process(ExitCode::failed);
}

void end_cancelled() {
  log_line("User cancelled the install, exiting.\n");
  end_process(ExitCode::cancelled);
}

void on_window_event(platform::WindowEvent event) {
  post_to_window([event] { handle_event(event); });
}

platform::WindowView progress_window_view() {
  Window& w = window();
  std::lock_guard lock(w.mutex);
  return w.view;
}

int banner_index_for_dpi(int dpi) { return dpi < 97 ? 0 : 1; }

int banner_x(int client_left, int client_right, int image_width_px, float graphics_dpi,
             float image_dpi) {
  const float half_width = static_cast<float>(image_width_px) * graphics_dpi / image_dpi * 0.5f;
  return (client_right - client_left) / 2 - static_cast<int>(half_width);
}

void set_current_operation(std::shared_ptr<platform::Cancellable> operation) {
  Window& w = window();
  std::lock_guard lock(w.operation_mutex);
  w.current_operation = std::move(operation);
}

void clear_current_operation() { set_current_operation(nullptr); }

bool has_current_operation() {
  Window& w = window();
  std::lock_guard lock(w.operation_mutex);
  return w.current_operation != nullptr;
}

void reset_progress_window_for_tests() {
  set_error_postscript("");
  Window& w = window();
  {
    std::lock_guard lock(w.mutex);
    w.tasks.clear();
    w.window_thread.reset();
    w.quit_code.reset();
    w.timer_armed = false;
    w.view = platform::WindowView{};
    w.cursor_to_set.reset();
    w.dirty = false;
    w.flow_running = false;
  }
  clear_current_operation();
  cancel_requested = false;
}

}  // namespace pellora
